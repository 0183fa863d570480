// The process-wide error pool: every module reports failures, warnings and
// notices as records naming its module, function and a message. The pool is a
// ring of 32 records; the code that started an operation flushes it into the
// system log and the error dialog (FlushErrorPool) or into message boxes
// (ShowErrorPoolBoxes). Reports never throw and are safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

class LogFile;

enum MessageTypeFlag : std::uint32_t {
  MSG_ERROR = 1,
  MSG_WARNING = 2,
  MSG_INFORMATION = 4,
  MSG_TO_LOG = 8,
  MSG_TO_USER = 16,
};

// The usual report: error, to the log, to the user.
constexpr std::uint32_t kMsgDefault = MSG_ERROR | MSG_TO_LOG | MSG_TO_USER;  // 25
// Error written to the log only (page-transfer reports of the service classes).
constexpr std::uint32_t kMsgLogOnly = MSG_ERROR | MSG_TO_LOG;  // 9

constexpr std::size_t kErrorPoolSlots = 32;
constexpr std::size_t kMaxMessageChars = 4095;

enum class TextKind : std::uint32_t { Multi = 1, Wide = 2 };

// One message. Wide texts are UTF-8 program text; Multi texts are 8-bit text in
// the ANSI code page, converted when the record is taken.
struct ErrorRecord {
  std::uint32_t MsgID = 0;
  std::uint32_t MessageType = kMsgDefault;
  TextKind kind = TextKind::Wide;
  std::optional<std::string> module;
  std::optional<std::string> function;
  std::string message;
};

class ErrorPool {
 public:
  static ErrorPool& Instance();

  // Appends a record; returns the new count, or 0 when nothing was added.
  int Add(ErrorRecord record);
  // Removes the oldest record into out; returns the count before removal, 0 when
  // empty. 8-bit texts are converted with replacement characters, so every record
  // can be taken and a bad one never blocks the pool.
  int TakeOldest(ErrorRecord& out);
  int Count() const;
  void Clear();
  // Records added in the pool's life so far: a mark for Since.
  std::uint64_t Added() const;
  // Copies of the records added after `mark` (a value of Added) that the
  // pool still holds, oldest first, converted as TakeOldest converts them;
  // the pool keeps them for whoever shows them.
  std::vector<ErrorRecord> Since(std::uint64_t mark) const;

 private:
  mutable std::mutex m_lock;
  std::array<std::optional<ErrorRecord>, kErrorPoolSlots> m_slots;
  std::size_t m_read = 0;
  std::size_t m_write = 0;
  std::size_t m_count = 0;
  std::uint64_t m_added = 0;
};

// Report forms. Module and function may be null. Return the new count or 0.
int ReportError(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                const char* format, ...) __attribute__((format(printf, 5, 6)));
int ReportErrorCode(std::uint32_t msgId, std::uint32_t type, const char* module,
                    const char* function, int errorCode, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
int ReportText(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
               std::string_view message);
int ReportSystemError(std::uint32_t msgId, std::uint32_t type, const char* module,
                      const char* function, int errorCode);
// The string-table entry for stringId is the printf format.
int ReportResString(std::uint32_t msgId, std::uint32_t type, const char* module,
                    const char* function, unsigned stringId, ...);
// 8-bit forms: texts are in the ANSI code page.
int ReportTextA(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                std::string_view message);
int ReportErrorA(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                 const char* format, ...) __attribute__((format(printf, 5, 6)));
// A record prepared by the caller (the TIFF library hooks).
int AddPreparedRecord(ErrorRecord record);

// Empties the pool into the system log and, unless quiet, into the error dialog.
int FlushErrorPool(LogFile* systemLog, bool quiet);
// Empties the pool into message boxes, one per record marked for the log.
void ShowErrorPoolBoxes(const char* caption);

// The text block the error dialog shows for one record.
std::string ErrorDialogBlock(const ErrorRecord& record);

constexpr std::size_t kErrorDialogChars = 8193;

}  // namespace vexo
