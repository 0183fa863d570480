#include "base/log_file.h"

#include <fcntl.h>
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

int LogFile::Open(std::uintptr_t owner, std::string_view directory, std::string_view prefix,
                  std::string_view name) {
  std::lock_guard lock(m_lock);
  if (directory.empty() || owner == 0) return 0;
  if (m_fd >= 0) Close();
  m_owner = owner;
  m_directory = std::string(Utf8Prefix(directory, kLogPathChars));
  m_prefix = std::string(Utf8Prefix(prefix, kLogPathChars));
  m_name = std::string(Utf8Prefix(name, kLogPathChars));
  m_stem = std::string(Utf8Prefix(m_directory + m_prefix + m_name, kLogPathChars));
  m_path = std::string(Utf8Prefix(m_stem + ".log", kLogPathChars));
  DebugOutput(m_path);

  m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (m_fd < 0) {
    WriteLastError(nullptr, 0, "CreateFile failed, ErrMsg =");
    return 0;
  }
  m_used = 0;
  AppendLocked(Utf8ToUtf16LeBytes("\xEF\xBB\xBF"));  // U+FEFF, the byte-order mark
  return 1;
}

void LogFile::Close() {
  std::lock_guard lock(m_lock);
  if (m_fd < 0) return;
  FlushBufferLocked();
  const int fd = m_fd;
  m_fd = -1;
  m_used = 0;
  if (::close(fd) != 0) WriteLine(nullptr, 0, "Close File Error");
}

bool LogFile::IsOpen() const {
  std::lock_guard lock(m_lock);
  return m_fd >= 0;
}

std::string LogFile::Path() const {
  std::lock_guard lock(m_lock);
  return m_path;
}

std::size_t LogFile::FileWrites() const {
  std::lock_guard lock(m_lock);
  return m_fileWrites;
}

bool LogFile::FlushBufferLocked() {
  if (m_fd < 0 || m_used == 0) return true;
  const std::size_t size = m_used;
  // The buffer is given up before the write: whatever happens, a failure report
  // below starts from an empty buffer and never writes this block again.
  m_used = 0;
  ++m_fileWrites;
  const ssize_t n = RetryOnEintr([&] { return ::write(m_fd, m_buffer.data(), size); });
  if (n < 0) {
    ReportWriteFailure(false, errno);
    return false;
  }
  if (static_cast<std::size_t>(n) != size) {
    ReportWriteFailure(true, errno);
    return false;
  }
  return true;
}

void LogFile::ReportWriteFailure(bool partial, int error) {
  if (m_reportingFailure) return;  // a failure while reporting a failure is dropped
  m_reportingFailure = true;
  errno = error;
  WriteLastError(nullptr, 0,
                 partial ? "WriteFile didn't complete, ErrMsg =" : "WriteFile failed, ErrMsg =");
  m_reportingFailure = false;
}

bool LogFile::AppendLocked(std::string_view bytes) {
  if (m_fd < 0) return false;
  while (kLogBufferBytes - m_used <= bytes.size()) {
    const std::size_t room = kLogBufferBytes - m_used;
    std::memcpy(m_buffer.data() + m_used, bytes.data(), room);
    m_used += room;
    bytes.remove_prefix(room);
    if (!FlushBufferLocked()) return false;
    if (m_fd < 0) return false;
  }
  std::memcpy(m_buffer.data() + m_used, bytes.data(), bytes.size());
  m_used += bytes.size();
  return true;
}

void LogFile::WriteRaw(std::string_view text) {
  std::lock_guard lock(m_lock);
  if (m_fd < 0) {
    DebugOutput(text);
    return;
  }
  AppendLocked(Utf8ToUtf16LeBytes(text));
}

void LogFile::WriteRawN(std::string_view text) {
  std::lock_guard lock(m_lock);
  if (m_fd < 0) return;
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
  if (m_fd < 0) {
    DebugOutput(Utf8Prefix(whole, kLogBufferBytes / 2));
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

void WriteLogHeader(LogFile& log, std::string_view title) {
  log.WriteRaw("/" + std::string(58, '*') + "\r\n");
  log.WriteRaw("*\r\n*\t" + std::string(title) + "\r\n");
  log.WriteRaw("*\t\t\tCreate time : ");
  log.WriteRaw(FormatTimeStamp(LocalTimeNow()));
  log.WriteRaw("*\r\n" + std::string(57, '*') + "/\r\n\r\n");
}

int OpenSystemLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory) {
  if (!log.Open(owner, logDirectory, "VexoS", "ysLog")) return 0;
  WriteLogHeader(log, "Vexo System Log file ");
  return 1;
}

}  // namespace vexo
