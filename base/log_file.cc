#include "base/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/full_io.h"
#include "platform/text.h"

namespace vexo {
namespace {

std::mutex g_sinkLock;
std::function<void(std::string_view)> g_sink;

constexpr std::size_t kStampChars = 127;
constexpr std::size_t kFilePartChars = 255;

}  // namespace

std::string FormatTimeStamp(const LocalTime& t) {
  return Format(kStampChars, "[%04d/%02d/%02d - %02d:%02d:%02d:%03d]\t", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
}

void DebugOutput(std::string_view text) {
  std::lock_guard lock(g_sinkLock);
  if (g_sink) {
    g_sink(text);
    return;
  }
  if (std::getenv("VEXO_DEBUG") != nullptr) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  }
}

void SetDebugOutputSink(std::function<void(std::string_view)> sink) {
  std::lock_guard lock(g_sinkLock);
  g_sink = std::move(sink);
}

LogFile::~LogFile() { Close(); }

namespace {

constexpr mode_t kLogFileMode = 0644;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // U+FEFF
// A file that vanishes between its creation and its opening (rotated by another
// process) is created again this many times at most.
constexpr int kOpenAttempts = 3;

// Creates path holding first, unless it exists: the text goes into a temporary
// file that is then linked to path, so no other process ever sees the new file
// without its first bytes. False (errno set) when path cannot be created.
bool CreateHolding(const std::string& path, std::string_view first) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return true;
  std::string temp = path + ".XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) return false;
  ::fchmod(fd.get(), kLogFileMode);
  const IoResult written = FullWrite(fd.get(), first.data(), first.size());
  const bool linked = written.error == 0 && ::link(temp.c_str(), path.c_str()) == 0;
  const int error = written.error != 0 ? written.error : errno;
  ::unlink(temp.c_str());
  if (linked || error == EEXIST) return true;
  errno = error;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int LogFile::Open(std::uintptr_t owner, std::string_view directory, std::string_view prefix,
                  std::string_view name, std::string_view title) {
  std::lock_guard lock(m_lock);
  if (directory.empty() || owner == 0) return 0;
  if (m_fd.valid()) Close();
  m_owner = owner;
  m_directory = std::string(Utf8Prefix(directory, kLogPathChars));
  m_prefix = std::string(Utf8Prefix(prefix, kLogPathChars));
  m_name = std::string(Utf8Prefix(name, kLogPathChars));
  m_stem = std::string(Utf8Prefix(m_directory + m_prefix + m_name, kLogPathChars));
  m_path = std::string(Utf8Prefix(m_stem + ".log", kLogPathChars));
  m_title = std::string(title);
  DebugOutput(m_path);
  if (!OpenFileLocked()) {
    WriteLastError(nullptr, 0, "CreateFile failed, ErrMsg =");
    return 0;
  }
  return 1;
}

bool LogFile::OpenFileLocked() {
  m_fd.Reset();
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    std::string first = Utf8ToUtf16LeBytes(kByteOrderMark);
    if (!m_title.empty()) first += Utf8ToUtf16LeBytes(LogHeader(m_title));
    if (!CreateHolding(m_path, first)) return false;
    m_fd = UniqueFd(::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (m_fd.valid() || errno != ENOENT) break;
  }
  return m_fd.valid();
}

void LogFile::Close() {
  std::lock_guard lock(m_lock);
  if (!m_fd.valid()) return;
  if (m_fd.Close() != 0) WriteLine(nullptr, 0, "Close File Error");
}

bool LogFile::IsOpen() const {
  std::lock_guard lock(m_lock);
  return m_fd.valid();
}

std::string LogFile::Path() const {
  std::lock_guard lock(m_lock);
  return m_path;
}

std::string LogFile::RotatedPath() const {
  std::lock_guard lock(m_lock);
  return m_path + std::string(kRotatedSuffix);
}

void LogFile::KeepCurrentLocked(std::size_t incoming) {
  struct stat own {};
  struct stat named {};
  if (::fstat(m_fd.get(), &own) != 0) return;
  if (::stat(m_path.c_str(), &named) != 0 || !SameFile(own, named)) {
    OpenFileLocked();  // another process rotated the file away
    return;
  }
  if (static_cast<std::uint64_t>(own.st_size) + incoming <= kLogMaxBytes) return;
  // Whoever holds the lock first rotates; a process that waited finds the name
  // already taken by a new file and only follows it.
  if (RetryOnEintr([&] { return ::flock(m_fd.get(), LOCK_EX); }) != 0) return;
  if (::stat(m_path.c_str(), &named) == 0 && SameFile(own, named))
    ::rename(m_path.c_str(), RotatedPath().c_str());
  ::flock(m_fd.get(), LOCK_UN);
  OpenFileLocked();
}

void LogFile::ReportWriteFailure(bool partial, int error) {
  if (m_reportingFailure) return;  // a failure while reporting a failure is dropped
  m_reportingFailure = true;
  errno = error;
  WriteLastError(nullptr, 0,
                 partial ? "WriteFile didn't complete, ErrMsg =" : "WriteFile failed, ErrMsg =");
  m_reportingFailure = false;
}

// One record, one write(2): with O_APPEND the kernel places it whole at the
// end of the file, whatever other processes write.
bool LogFile::AppendLocked(std::string_view bytes) {
  if (!m_fd.valid() || bytes.empty()) return false;
  KeepCurrentLocked(bytes.size());
  if (!m_fd.valid()) return false;
  const ssize_t n = RetryOnEintr([&] { return ::write(m_fd.get(), bytes.data(), bytes.size()); });
  if (n < 0) {
    ReportWriteFailure(false, errno);
    return false;
  }
  if (static_cast<std::size_t>(n) != bytes.size()) {
    ReportWriteFailure(true, errno);
    return false;
  }
  return true;
}

void LogFile::WriteRaw(std::string_view text) {
  std::lock_guard lock(m_lock);
  if (!m_fd.valid()) {
    DebugOutput(text);
    return;
  }
  AppendLocked(Utf8ToUtf16LeBytes(text));
}

void LogFile::WriteRawN(std::string_view text) {
  std::lock_guard lock(m_lock);
  if (!m_fd.valid()) return;
  AppendLocked(Utf8ToUtf16LeBytes(text));
}

void LogFile::WriteLine(const char* file, int line, std::string_view text, const LocalTime* time) {
  const std::string stamp = FormatTimeStamp(time ? *time : LocalTimeNow());
  const std::string filePart =
      file ? Format(kFilePartChars, "File=%s, Line=%d\t", file, line) : std::string();
  std::string whole = stamp + filePart;
  whole += text;
  whole += "\r\n";
  std::lock_guard lock(m_lock);
  if (!m_fd.valid()) {
    DebugOutput(Utf8Prefix(whole, kDebugLineBytes));
    return;
  }
  AppendLocked(Utf8ToUtf16LeBytes(whole));
}

void LogFile::WriteLineF(const char* file, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(kLogLineChars, format, args);
  va_end(args);
  text += "\r\n";
  WriteLine(file, line, text);
}

void LogFile::WriteLastError(const char* file, int line, std::string_view text) {
  const int error = errno;
  const std::string owned(text);
  if (auto message = SystemErrorText(error))
    WriteLineF(file, line, "%s %s\r\n", owned.c_str(), message->c_str());
  else
    WriteLineF(file, line, "%s Format Error Message Fail\r\n", owned.c_str());
}

void LogFile::WriteErrorText(const char* file, int line, std::string_view text, int errorCode) {
  const std::string owned(text);
  if (auto message = SystemErrorText(errorCode))
    WriteLineF(file, line, "%s %s", owned.c_str(), message->c_str());
  else
    WriteLine(file, line, "Format Error Message Fail");
}

}  // namespace vexo

namespace vexo {

std::string LogHeader(std::string_view title) {
  return "/" + std::string(58, '*') + "\r\n" + "*\r\n*\t" + std::string(title) + "\r\n" +
         "*\t\t\tCreate time : " + FormatTimeStamp(LocalTimeNow()) + "*\r\n" +
         std::string(57, '*') + "/\r\n\r\n";
}

void WriteStartLine(LogFile& log) {
  log.WriteLineF(nullptr, 0, "%s started, process %d", program_invocation_short_name,
                 static_cast<int>(::getpid()));
}

int OpenSystemLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory) {
  if (!log.Open(owner, logDirectory, "VexoS", "ysLog", "Vexo System Log file ")) return 0;
  WriteStartLine(log);
  return 1;
}

}  // namespace vexo
