#include "app/jobs/pdf_copy.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/error_pool.h"
#include "base/string_ids.h"
#include "document/pdf_export.h"

namespace vexo {
namespace {

constexpr const char* kUnknownSender = "unknown";
constexpr std::string_view kUnsafeChars = "/\\:*?\"<>|";
// How many " (n)" names are tried before giving up.
constexpr int kMaxNameTries = 1000;

std::string SafeSender(std::string_view sender) {
  std::string safe;
  for (const char c : sender) {
    const bool unsafe = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
                        kUnsafeChars.find(c) != std::string_view::npos;
    safe += unsafe ? '_' : c;
  }
  const auto first = safe.find_first_not_of(' ');
  if (first == std::string::npos) return kUnknownSender;
  safe.erase(0, first);
  safe.erase(safe.find_last_not_of(' ') + 1);
  return safe;
}

std::string WithNumber(const std::string& name, int number) {
  if (number == 1) return name;
  const std::string stem = name.substr(0, name.size() - std::string_view(".pdf").size());
  return stem + " (" + std::to_string(number) + ").pdf";
}

}  // namespace

std::string PdfCopyName(const LocalTime& filed, std::string_view sender) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d-%02d-%02d ", filed.year, filed.month,
                filed.day, filed.hour, filed.minute, filed.second);
  return stamp + SafeSender(sender) + ".pdf";
}

std::string WritePdfCopy(const std::string& tiffFile, const std::string& dir,
                         const LocalTime& filed, std::string_view sender) {
  const std::filesystem::path folder(dir);
  const std::string name = PdfCopyName(filed, sender);
  const std::string side = (folder / ("." + name + ".tmp")).string();
  const auto fail = [&](int error) {
    if (error != 0)
      ReportErrorCode(0, kMsgDefault, "AppOper", "WritePdfCopy", error,
                      "%s, ErrMsg = ", (folder / name).c_str());
    ReportResString(0, kMsgDefault, "AppOper", "WritePdfCopy", str::kPdfCopyFailed, dir.c_str());
    return std::string();
  };
  if (ExportFaxToPdf(tiffFile, side, nullptr) != 1) return fail(0);
  // link() never replaces an existing name, unlike rename().
  for (int number = 1; number <= kMaxNameTries; ++number) {
    const std::string target = (folder / WithNumber(name, number)).string();
    if (::link(side.c_str(), target.c_str()) == 0) {
      ::unlink(side.c_str());
      return target;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  ::unlink(side.c_str());
  return fail(error);
}

}  // namespace vexo
