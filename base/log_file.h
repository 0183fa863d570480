// LogFile: the buffered log writer behind the system log and the communication
// log. Text is UTF-16LE with a byte-order mark, collected in a 4,096-byte buffer
// that reaches the file when it fills and at Close. Lines carry a time stamp and
// optionally a "File=..., Line=..." part. Without an open file, lines go to the
// debug output. All writes are serialised by a recursive lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vexo {

constexpr std::size_t kLogBufferBytes = 4096;
constexpr std::size_t kLogPathChars = 259;
constexpr std::size_t kLogLineChars = 2047;

// "[YYYY/MM/DD - hh:mm:ss:mmm]\t"
std::string FormatTimeStamp(const LocalTime& time);

// The debug output: stderr when VEXO_DEBUG is set, otherwise dropped. Tests may
// install a sink to see what would be printed (nullptr restores the default).
void DebugOutput(std::string_view text);
void SetDebugOutputSink(std::function<void(std::string_view)> sink);

class LogFile {
 public:
  LogFile() = default;
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Creates directory + prefix + name + ".log" anew; returns 1 or 0.
  int Open(std::uintptr_t owner, std::string_view directory, std::string_view prefix,
           std::string_view name);
  void Close();
  bool IsOpen() const;
  std::string Path() const;

  // Appends text as it is; without a file it goes to the debug output.
  void WriteRaw(std::string_view text);
  // Appends text; without a file nothing happens.
  void WriteRawN(std::string_view text);
  // One stamped line: stamp, optional "File=%s, Line=%d\t", text, "\r\n".
  void WriteLine(const char* file, int line, std::string_view text,
                 const LocalTime* time = nullptr);
  void WriteLineF(const char* file, int line, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // The text and the system's text for errno.
  void WriteLastError(const char* file, int line, std::string_view text);
  void WriteErrorText(const char* file, int line, std::string_view text, int errorCode);

  // Number of write calls made to the file so far (for checking the buffering).
  std::size_t FileWrites() const;

 private:
  bool AppendLocked(std::string_view utf16le);
  bool FlushBufferLocked();
  void ReportWriteFailure(bool partial, int error);

  mutable std::recursive_mutex m_lock;
  int m_fd = -1;
  std::uintptr_t m_owner = 0;
  std::array<char, kLogBufferBytes> m_buffer{};
  std::size_t m_used = 0;
  std::size_t m_fileWrites = 0;
  bool m_reportingFailure = false;
  std::string m_directory, m_prefix, m_name, m_stem, m_path;
};

}  // namespace vexo

namespace vexo {

// Writes the banner that opens a log file, with its title line (for the system
// log "Vexo System Log file ") and the creation time.
void WriteLogHeader(LogFile& log, std::string_view title);

// Opens VexoSysLog.log in logDirectory (emptied) and writes its banner.
int OpenSystemLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory);

}  // namespace vexo
