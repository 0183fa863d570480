#include "app/jobs/fax_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "document/tiff_lib.h"
#include "platform/posix/unique_fd.h"

namespace vexo {
namespace {

constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kNameDigits = 6;
constexpr std::string_view kNamePrefix = "QX";
constexpr std::string_view kNameSuffix = ".tif";
// Lines per inch from which a page counts as fine (fine is 196, normal 98).
constexpr float kFineLinesPerInch = 150;
constexpr float kCentimetresPerInch = 2.54f;

std::string DataDir(const AppSettings& settings) {
  std::string dir = settings.TIFDataDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// 1 made (or free), 0 taken, -1 an error other than "exists" (errno kept).
int Claim(const std::string& path, bool create) {
  if (!create) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return 0;
    return errno == ENOENT ? 1 : -1;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    return 1;
  }
  return errno == EEXIST ? 0 : -1;
}

}  // namespace

std::string ReceivedFileName(std::uint32_t number) {
  number %= kFaxNameCount;
  std::string digits(kNameDigits, 'A');
  for (std::size_t i = kNameDigits; i-- > 0;) {
    digits[i] = kDigits[number % 36];
    number /= 36;
  }
  return std::string(kNamePrefix) + digits + std::string(kNameSuffix);
}

bool IsFaxFileName(std::string_view name) {
  if (name.size() != kNamePrefix.size() + kNameDigits + kNameSuffix.size() ||
      !name.starts_with(kNamePrefix) || !name.ends_with(kNameSuffix))
    return false;
  const std::string_view digits = name.substr(kNamePrefix.size(), kNameDigits);
  return digits.find_first_not_of(kDigits) == std::string_view::npos;
}

std::optional<FaxFileSummary> ReadFaxFileSummary(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  const auto tiff = TIFFOpenHandle(std::move(fd), path, "r");
  if (!tiff) return std::nullopt;
  FaxFileSummary summary;
  summary.pages = TIFFNumberOfDirectories(tiff->get());
  if (summary.pages == 0) return std::nullopt;
  float lines = 0;
  std::uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tiff->get(), TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tiff->get(), TIFFTAG_YRESOLUTION, &lines) == 1) {
    if (unit == RESUNIT_CENTIMETER) lines *= kCentimetresPerInch;
    summary.fine = lines >= kFineLinesPerInch;
  }
  return summary;
}

std::string NewFaxFile(AppSettings& settings, bool create) {
  const std::string dir = DataDir(settings);
  // Start at the larger of our number and the file's: another process may
  // have handed out names since we read the settings.
  std::uint32_t number =
      std::max(settings.TiffAutoNumber, settings.StoredTiffAutoNumber()) % kFaxNameCount;
  for (std::uint32_t tries = 0; tries < kFaxNameCount; ++tries) {
    const std::string path = dir + ReceivedFileName(number);
    number = (number + 1) % kFaxNameCount;
    const int claimed = Claim(path, create);
    if (claimed == 0) continue;
    if (claimed < 0) {
      ReportErrorCode(0, kMsgDefault, "AppOper", "NewFaxFile", errno,
                      "Create File Error FileName=[%s], ErrMsg = ", path.c_str());
      return {};
    }
    if (!settings.CommitTiffAutoNumber(number)) {
      // The name is ours for this run; the next start steps past it anyway.
      ReportError(0, kMsgLogOnly, "AppOper", "NewFaxFile",
                  "The running file number could not be saved.");
    }
    return path;
  }
  ReportError(0, kMsgDefault, "AppOper", "NewFaxFile", "Every fax file name in [%s] is in use.",
              dir.c_str());
  return {};
}

}  // namespace vexo
