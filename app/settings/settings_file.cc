// The Init.vxi format: reading lines into the key table and writing the table
// back (AppSettings::ReadINIFile, WriteINIFile, FormatValue, SetValue).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/settings/settings.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "platform/posix/full_io.h"
#include "platform/posix/unique_fd.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::size_t kLineBufferBytes = 2047;
// A line (key, " = " and value) holds at most this many bytes: the line buffer
// less its terminator. Longer entries are not written, longer lines not read.
constexpr std::size_t kMaxLineBytes = kLineBufferBytes - 1;
constexpr std::size_t kFirstReadBytes = 2045;
constexpr std::size_t kMaxBinaryBytes = 640;
constexpr std::size_t kMessageChars = 1024;

constexpr const char* kReadCaption = "Error in ReadINIFile";
constexpr const char* kWriteCaption = "Error in WriteINIFile";
constexpr std::string_view kHeader =
    "***********************************\r\nInit Data File of Vexo\r\n"
    "***********************************\r\n\r\n";
constexpr mode_t kNewFileMode = 0644;

// The only binary key, the font, is far below the size the format allows.
static_assert(kLogFontBytes <= kMaxBinaryBytes, "binary settings hold at most 640 bytes");

// The keys whose empty value means something (serial-port modem, no logo): an
// empty value in the file reads as empty instead of keeping the default.
bool EmptyIsAValue(const SettingKey& key) {
  const std::string_view name = key.key;
  return name == "ModemName" || name == "ProfileLogo";
}

// The directory and file keys. When the code page cannot hold the home
// directory, such a path under the home is stored relative to it, and a
// relative path in the file is read relative to the home, so that a home of
// any characters starts every time.
bool IsPathKey(const SettingKey& key) {
  const std::string_view name = key.key;
  return name == "LogPath" || name == "TIFDataDir" || name == "CoverDir" || name == "ProfileLogo" ||
         name == "ReceivePdfDir";
}

// The text as the file keeps it: as it is, or relative to the home (above).
std::string_view StoredText(const AppSettings& s, const SettingKey& key, std::string_view value,
                            std::uint32_t codePage) {
  const std::string_view home = s.programDirectory;
  if (!IsPathKey(key) || home.empty() || Utf8ToCodePage(codePage, value)) return value;
  if (value.size() > home.size() && value.starts_with(home)) return value.substr(home.size());
  return value;
}

// A path read from the file: a relative one lies under the home. A path that
// begins with the home as an earlier version wrote it, with "?" for every
// character the code page lacks, is given its home back.
std::string ResolvedPath(const AppSettings& s, std::string text, std::uint32_t codePage) {
  const std::string& home = s.programDirectory;
  if (home.empty() || text.empty()) return text;
  if (text.front() != '/') return home + text;
  const std::string lossyHome =
      CodePageToUtf8(codePage, Utf8ToCodePage(codePage, home, true).value_or(""), true)
          .value_or("");
  if (lossyHome != home && text.starts_with(lossyHome)) return home + text.substr(lossyHome.size());
  return text;
}

void ShowBox(const char* caption, const std::string& text) {
  CurrentPresenter().MessageBox(text, std::string(caption), MB_OK | MB_ICONSTOP);
}

std::string SystemText(int error) { return SystemErrorText(error).value_or(std::string()); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsQuote(char c) { return c == '"' || c == '\''; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hexadecimal digits in pairs, high digit first, every other character before a
// digit skipped, until out is full. False when the text ends first.
bool ParseHexBytes(std::string_view text, std::span<std::uint8_t> out) {
  std::size_t pos = 0;
  const auto next = [&]() -> int {
    while (pos < text.size()) {
      const int d = HexDigit(text[pos++]);
      if (d >= 0) return d;
    }
    return -1;
  };
  for (std::uint8_t& byte : out) {
    const int high = next();
    const int low = high < 0 ? -1 : next();
    if (low < 0) return false;
    byte = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

// The leading decimal digits of text (none give 0); a number past 32 bits stays
// at the largest value, which the range checks then treat as out of range.
std::uint32_t ParseLeadingNumber(std::string_view text) {
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - '0'), UINT32_MAX);
  }
  return static_cast<std::uint32_t>(value);
}

// The text of a text key's value part: quotes and blanks at the start skipped,
// then up to the next quote or the end of the line.
std::string_view TextValue(std::string_view value) {
  std::size_t start = 0;
  while (start < value.size() && (IsQuote(value[start]) || IsBlank(value[start]))) ++start;
  value.remove_prefix(start);
  const std::size_t end = value.find_first_of("\"'");
  return value.substr(0, end);
}

// The row whose key names this line: the first key in table order that occurs
// before the line's first "=" and is followed by a blank, a tab or the "=".
// Looking only before the "=" keeps a value that happens to contain a key name
// from taking the line over.
const SettingKey* KeyOfLine(std::string_view head) {
  for (const SettingKey& row : SettingKeys()) {
    const std::string_view key = row.key;
    for (std::size_t at = head.find(key); at != std::string_view::npos;
         at = head.find(key, at + 1)) {
      const std::size_t after = at + key.size();
      if (after == head.size() || IsBlank(head[after])) return &row;
    }
  }
  return nullptr;
}

// Splits the file's bytes into lines at CR LF, a lone CR or a lone LF, also when
// a line end falls across two reads. Lines longer than the line buffer are
// dropped whole, so a damaged file cannot make the reader grow without bound.
class LineSplitter {
 public:
  template <typename OnLine>
  void Feed(std::string_view data, OnLine&& onLine) {
    for (char c : data) {
      if (c == '\n' && m_afterCr) {
        m_afterCr = false;
        continue;
      }
      m_afterCr = c == '\r';
      if (c == '\r' || c == '\n') {
        EndLine(onLine);
      } else if (m_line.size() < kMaxLineBytes) {
        m_line += c;
      } else {
        m_tooLong = true;
      }
    }
  }
  template <typename OnLine>
  void Finish(OnLine&& onLine) {
    EndLine(onLine);
  }

 private:
  template <typename OnLine>
  void EndLine(OnLine& onLine) {
    if (!m_tooLong && !m_line.empty()) onLine(std::string_view(m_line));
    m_line.clear();
    m_tooLong = false;
  }

  std::string m_line;
  bool m_afterCr = false;
  bool m_tooLong = false;
};

// Stores one value read from the file by the reading rules.
void StoreFileValue(AppSettings& s, const SettingKey& key, std::string_view value,
                    std::uint32_t codePage) {
  switch (key.kind) {
    case SettingKind::Text: {
      const std::string_view bytes = TextValue(value);
      if (bytes.empty()) {
        if (EmptyIsAValue(key)) (s.*key.text).clear();
        return;
      }
      std::optional<std::string> text = CodePageToUtf8(codePage, bytes, true);
      if (text && IsPathKey(key)) text = ResolvedPath(s, std::move(*text), codePage);
      if (text && Utf8Length(*text) < key.capacity) s.*key.text = std::move(*text);
      return;
    }
    case SettingKind::Unsigned:
      s.*key.number = ParseLeadingNumber(value);
      return;
    case SettingKind::Binary: {
      std::array<std::uint8_t, kLogFontBytes> bytes{};
      if (ParseHexBytes(value, bytes)) {
        s.*key.font = *LogFontFromBytes(bytes);
      } else {
        s.*key.font = LOGFONTW{};
        ShowBox(
            kReadCaption,
            Format(kMessageChars,
                   "Format of Binary data field [%s] is incorrect, Vexo will skip it", key.key));
      }
      return;
    }
  }
}

void ReadLine(AppSettings& s, std::string_view line, std::uint32_t codePage) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const SettingKey* key = KeyOfLine(line.substr(0, equals));
  if (!key) return;
  std::string_view value = line.substr(equals + 1);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  StoreFileValue(s, *key, value, codePage);
}

std::string HexText(const LOGFONTW& font) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : LogFontToBytes(font)) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
    out += ',';
  }
  return out;
}

// Writes all of data with one write call; reports a failure or a short write.
bool WritePiece(int fd, std::string_view data, const std::string& path) {
  const ssize_t n = RetryOnEintr([&] { return ::write(fd, data.data(), data.size()); });
  if (n < 0) {
    ShowBox(kWriteCaption,
            Format(kMessageChars, "Fail to write file [filename=%s], ErrMsg = ", path.c_str()) +
                SystemText(errno));
    return false;
  }
  if (static_cast<std::size_t>(n) != data.size()) {
    ShowBox(kWriteCaption,
            Format(kMessageChars,
                   "Write to file [filename=%s] not complete, please check there is enough "
                   "space on your PocketPC",
                   path.c_str()));
    return false;
  }
  return true;
}

// The bytes of one entry in the file (after its empty line), or nullopt when it
// is not written: a text that does not fit the line buffer once converted. A
// text that the code page cannot hold is written as the key's default, never
// with "?" in place of its characters; reading the file back and writing it
// again then gives the same file.
std::optional<std::string> EntryLine(const AppSettings& s, const SettingKey& key,
                                     std::uint32_t codePage) {
  std::string line = std::string(key.key) + " = ";
  switch (key.kind) {
    case SettingKind::Text: {
      const std::optional<std::string> bytes =
          Utf8ToCodePage(codePage, StoredText(s, key, s.*key.text, codePage));
      const std::optional<std::string> stored =
          bytes ? bytes : Utf8ToCodePage(codePage, AppSettings{}.*key.text);
      line += '"' + stored.value_or(std::string()) + '"';
      break;
    }
    case SettingKind::Unsigned:
      line += std::to_string(s.*key.number);
      break;
    case SettingKind::Binary:
      line += HexText(s.*key.font);
      break;
  }
  if (line.size() > kMaxLineBytes) return std::nullopt;
  return line;
}

}  // namespace

int AppSettings::ReadINIFile(const std::string& path) {
  return ReadINIFileIn(path, FileCodePage());
}

int AppSettings::ReadINIFileIn(const std::string& path, std::uint32_t codePage) {
  // Read-only is enough: the file is replaced, never written through this handle.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid() && errno == ENOENT) return WriteINIFile(path);
  struct stat st {};
  int error = fd.valid() ? 0 : errno;
  if (fd.valid() && ::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode))
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (error != 0) {
    ShowBox(kReadCaption, "CreateFile failed, ErrMsg =" + SystemText(error));
    return 0;
  }
  LineSplitter splitter;
  std::vector<char> buffer(kLineBufferBytes);
  std::size_t ask = kFirstReadBytes;
  for (;;) {
    const ssize_t n = RetryOnEintr([&] { return ::read(fd.get(), buffer.data(), ask); });
    if (n < 0) {
      ShowBox(kReadCaption,
              Format(kMessageChars, "Fail to read file [filename=%s], ErrMsg = ", path.c_str()) +
                  SystemText(errno));
      return 0;
    }
    const auto onLine = [&](std::string_view line) { ReadLine(*this, line, codePage); };
    if (n == 0) {
      splitter.Finish(onLine);
      return 1;
    }
    splitter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), onLine);
    ask = kLineBufferBytes;
  }
}

int AppSettings::WriteINIFile(const std::string& path) const {
  const std::uint32_t codePage = FileCodePage();
  // Everything goes into a new file beside the old one, which is replaced only
  // once the new one is complete on disk.
  std::string temp = path + ".XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) {
    ShowBox(kWriteCaption, "CreateFile failed, ErrMsg =" + SystemText(errno));
    return 0;
  }
  const auto fail = [&]() {
    fd.Close();
    ::unlink(temp.c_str());
    return 0;
  };
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : kNewFileMode;
  ::fchmod(fd.get(), mode);

  if (!WritePiece(fd.get(), kHeader, path)) return fail();
  for (const SettingKey& key : SettingKeys()) {
    const std::optional<std::string> line = EntryLine(*this, key, codePage);
    if (!line) continue;
    if (!WritePiece(fd.get(), "\r\n\r\n" + *line, path)) return fail();
  }
  if (::fsync(fd.get()) != 0 || fd.Close() != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    ShowBox(kWriteCaption,
            Format(kMessageChars, "Fail to write file [filename=%s], ErrMsg = ", path.c_str()) +
                SystemText(errno));
    return fail();
  }
  return 1;
}

std::string AppSettings::FormatValue(const SettingKey& key) const {
  switch (key.kind) {
    case SettingKind::Text:
      return '"' + this->*key.text + '"';
    case SettingKind::Unsigned:
      return std::to_string(this->*key.number);
    case SettingKind::Binary:
      return HexText(this->*key.font);
  }
  return {};
}

std::string AppSettings::UnstorableChars(const SettingKey& key, std::string_view value) const {
  std::string found;
  if (key.kind != SettingKind::Text) return found;
  const std::uint32_t codePage = FileCodePage();
  for (std::string_view rest = StoredText(*this, key, value, codePage); !rest.empty();) {
    const std::string_view c = Utf8Prefix(rest, 1);
    if (c.empty()) break;  // not UTF-8: the conversion below refuses the value
    rest.remove_prefix(c.size());
    if (!Utf8ToCodePage(codePage, c) && found.find(c) == std::string::npos) found += c;
  }
  return found;
}

namespace {

// The numbers refused where they are entered rather than replaced by their
// default after reading: a queued fax with no call at all, or a retry delay
// past a day, is a typing error.
struct EnteredRange {
  std::string_view key;
  std::uint32_t min, max;
  unsigned stringId;  // names the range, given min and max
};
constexpr EnteredRange kEnteredRanges[] = {
    {"RetryDelay", 0, kMaxRetryDelayMinutes, str::kRetryDelayRange},
    {"MaxTries", kMinMaxTries, kMaxMaxTries, str::kMaxTriesRange}};

std::optional<SettingRefusal> RangeRefusal(std::string_view key, std::string_view value) {
  for (const EnteredRange& range : kEnteredRanges) {
    if (key != range.key) continue;
    std::uint32_t number = 0;
    const char* end = value.data() + value.size();
    const auto [last, error] = std::from_chars(value.data(), end, number);
    if (error == std::errc{} && last == end && number >= range.min && number <= range.max)
      return std::nullopt;
    return SettingRefusal{range.stringId, std::to_string(range.min), std::to_string(range.max)};
  }
  return std::nullopt;
}

}  // namespace

std::optional<SettingRefusal> AppSettings::RefusalOf(const SettingKey& key,
                                                     std::string_view value) const {
  if (const std::string chars = UnstorableChars(key, value); !chars.empty())
    return SettingRefusal{str::kUnstorableChars, chars, std::string(value)};
  if (auto refusal = RangeRefusal(key.key, value)) return refusal;
  if (std::string_view(key.key) != "LogPath" || value.empty()) return std::nullopt;
  // A relative folder lies under the home, as the file reads it.
  const std::string dir =
      value.front() == '/' ? std::string(value) : programDirectory + std::string(value);
  if (const int error = CreateSettingsDirectory(dir); error != 0)
    return SettingRefusal{str::kLogFolderRefused, dir, SystemText(error)};
  return std::nullopt;
}

bool AppSettings::SetValue(const SettingKey& key, std::string_view value) {
  switch (key.kind) {
    case SettingKind::Text: {
      if (Utf8Length(value) >= key.capacity) return false;
      if (value.find_first_of("\"'\r\n") != std::string_view::npos) return false;
      if (!value.empty() && IsBlank(value.front())) return false;
      if (value.empty() && !EmptyIsAValue(key)) return false;
      if (!UnstorableChars(key, value).empty()) return false;
      const std::optional<std::string> bytes =
          Utf8ToCodePage(FileCodePage(), StoredText(*this, key, value, FileCodePage()));
      if (!bytes || bytes->size() + std::string_view(key.key).size() + 5 > kMaxLineBytes)
        return false;
      this->*key.text = std::string(value);
      return true;
    }
    case SettingKind::Unsigned: {
      if (value.empty() || value.size() > 10 ||
          value.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
      const std::uint64_t number = std::stoull(std::string(value));
      if (number > UINT32_MAX) return false;
      this->*key.number = static_cast<std::uint32_t>(number);
      return true;
    }
    case SettingKind::Binary: {
      std::array<std::uint8_t, kLogFontBytes> bytes{};
      if (!ParseHexBytes(value, bytes)) return false;
      this->*key.font = *LogFontFromBytes(bytes);
      return true;
    }
  }
  return false;
}

}  // namespace vexo
