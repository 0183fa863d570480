#include "modem/comm_dump.h"

#include "platform/text.h"

namespace vexo {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kHeadChars = 127;
constexpr std::uint8_t kFirstShown = 32, kLastShown = 126;

bool IsWrite(DumpKind kind) { return kind == DumpKind::Write || kind == DumpKind::WriteFailed; }
bool IsClear(DumpKind kind) {
  return kind == DumpKind::ClearRead || kind == DumpKind::ClearReadFailed;
}
bool IsFailed(DumpKind kind) {
  return kind == DumpKind::ReadFailed || kind == DumpKind::WriteFailed ||
         kind == DumpKind::ClearReadFailed;
}

}  // namespace

std::string DumpHeadLine(const LocalTime& t, DumpKind kind) {
  std::string line = Format(kHeadChars, "[%04d/%02d/%02d - %02d:%02d:%02d:%03d] -- ", t.year,
                            t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  line += IsWrite(kind) ? "Write: " : "Read: ";
  if (IsClear(kind)) line += "(Clear Buffer) ";
  line += IsFailed(kind) ? "Fail.\r\n" : "Successful.\r\n";
  return line;
}

std::string DumpDataLines(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  std::string out;
  for (std::size_t start = 0; start < bytes.size(); start += kDumpBytesPerLine) {
    const auto line = bytes.subspan(start, std::min(kDumpBytesPerLine, bytes.size() - start));
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (i > 0) text += ' ';
      text += kHexDigits[line[i] >> 4];
      text += kHexDigits[line[i] & 0x0F];
    }
    text.append(kDumpCharColumn - text.size(), ' ');
    for (const std::uint8_t b : line)
      text += (b >= kFirstShown && b <= kLastShown) ? static_cast<char>(b) : '.';
    text += "\r\n";
    out += text;
  }
  out += "\r\n";
  return out;
}

}  // namespace vexo
