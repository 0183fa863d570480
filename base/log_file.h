// LogFile: the log writer behind the system log and the communication log.
// Text is UTF-16LE with a byte-order mark. The file is appended to, never
// emptied, so that several processes of one home (the desktop program and a
// command) can share it: it is opened with O_APPEND and every line or record
// goes to the file in one write(2), so records of two processes interleave
// whole. A file past kLogMaxBytes is renamed to "<name>.log.1" (replacing the
// older copy) and a new one begun; a process whose file was renamed away by
// another follows to the new file at its next write. Lines carry a time stamp
// and optionally a "File=..., Line=..." part. Without an open file, lines go to
// the debug output. All writes are serialised by a recursive lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/posix/unique_fd.h"

namespace vexo {

// A log file is rotated before a write would take it past this size.
constexpr std::uint64_t kLogMaxBytes = 1 << 20;
// The one older copy kept: the log's path with this appended.
constexpr std::string_view kRotatedSuffix = ".1";
constexpr std::size_t kDebugLineBytes = 2048;
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

  // Opens directory + prefix + name + ".log" for appending; returns 1 or 0. A
  // file that does not exist yet is created holding the byte-order mark and,
  // with a title, the banner of LogHeader (also after each rotation).
  int Open(std::uintptr_t owner, std::string_view directory, std::string_view prefix,
           std::string_view name, std::string_view title = {});
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

  // Where the older copy goes when the file is rotated.
  std::string RotatedPath() const;

 private:
  bool OpenFileLocked();
  // Follows a rotation done by another process, and rotates a file that
  // incoming more bytes would take past kLogMaxBytes.
  void KeepCurrentLocked(std::size_t incoming);
  bool AppendLocked(std::string_view utf16le);
  void ReportWriteFailure(bool partial, int error);

  mutable std::recursive_mutex m_lock;
  UniqueFd m_fd;
  std::uintptr_t m_owner = 0;
  bool m_reportingFailure = false;
  std::string m_directory, m_prefix, m_name, m_stem, m_path, m_title;
};

}  // namespace vexo

namespace vexo {

// The banner that opens a new log file, with its title line (for the system log
// "Vexo System Log file ") and the creation time.
std::string LogHeader(std::string_view title);

// The line each process writes when it opens a log: "<program> started, process <pid>".
void WriteStartLine(LogFile& log);

// Opens VexoSysLog.log in logDirectory for appending (with its banner when the
// file is new) and writes the start line.
int OpenSystemLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory);

}  // namespace vexo
