#include "base/error_pool.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/code_page.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "base/strings.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::size_t kBoxChars = 1023;

std::optional<std::string> OptionalText(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

int AddText(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
            std::string message, TextKind kind) {
  ErrorRecord record;
  record.MsgID = msgId;
  record.MessageType = type;
  record.kind = kind;
  record.module = OptionalText(module);
  record.function = OptionalText(function);
  record.message = std::move(message);
  return ErrorPool::Instance().Add(std::move(record));
}

void ConvertToWide(std::optional<std::string>& text) {
  if (text) text = MultiToWideLossy(*text);
}

// The record with 8-bit texts converted, so every record can be read and a
// bad one never blocks the pool.
ErrorRecord Widened(ErrorRecord record) {
  if (record.kind == TextKind::Multi) {
    ConvertToWide(record.module);
    ConvertToWide(record.function);
    record.message = MultiToWideLossy(record.message);
    record.kind = TextKind::Wide;
  }
  return record;
}

}  // namespace

ErrorPool& ErrorPool::Instance() {
  static ErrorPool pool;
  return pool;
}

int ErrorPool::Add(ErrorRecord record) {
  const std::size_t total = (record.module ? record.module->size() : 0) +
                            (record.function ? record.function->size() : 0) + record.message.size();
  if (total == 0) return 0;
  if ((record.MessageType & 7) == 0) record.MessageType = kMsgDefault;

  std::lock_guard lock(m_lock);
  m_slots[m_write] = std::move(record);
  m_write = (m_write + 1) % kErrorPoolSlots;
  ++m_added;
  if (m_count < kErrorPoolSlots)
    ++m_count;
  else
    m_read = m_write;  // the oldest record was replaced
  return static_cast<int>(m_count);
}

int ErrorPool::TakeOldest(ErrorRecord& out) {
  std::lock_guard lock(m_lock);
  if (m_count == 0) return 0;
  const int before = static_cast<int>(m_count);
  ErrorRecord record = std::move(*m_slots[m_read]);
  m_slots[m_read].reset();
  m_read = (m_read + 1) % kErrorPoolSlots;
  --m_count;
  out = Widened(std::move(record));
  return before;
}

std::uint64_t ErrorPool::Added() const {
  std::lock_guard lock(m_lock);
  return m_added;
}

std::vector<ErrorRecord> ErrorPool::Since(std::uint64_t mark) const {
  std::lock_guard lock(m_lock);
  const std::size_t newer =
      static_cast<std::size_t>(std::min<std::uint64_t>(m_added - std::min(mark, m_added), m_count));
  std::vector<ErrorRecord> records;
  for (std::size_t i = 0; i < newer; ++i)
    records.push_back(Widened(*m_slots[(m_write + kErrorPoolSlots - newer + i) % kErrorPoolSlots]));
  return records;
}

int ErrorPool::Count() const {
  std::lock_guard lock(m_lock);
  return static_cast<int>(m_count);
}

void ErrorPool::Clear() {
  std::lock_guard lock(m_lock);
  for (auto& slot : m_slots) slot.reset();
  m_read = m_write = m_count = 0;
}

int ReportError(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                const char* format, ...) {
  if (format == nullptr) return 0;
  va_list args;
  va_start(args, format);
  std::string message = FormatV(kMaxMessageChars, format, args);
  va_end(args);
  return AddText(msgId, type, module, function, std::move(message), TextKind::Wide);
}

int ReportErrorCode(std::uint32_t msgId, std::uint32_t type, const char* module,
                    const char* function, int errorCode, const char* format, ...) {
  if (format == nullptr) return 0;
  va_list args;
  va_start(args, format);
  std::string message = FormatV(kMaxMessageChars, format, args);
  va_end(args);
  if (auto text = SystemErrorText(errorCode)) message += *text;
  return AddText(msgId, type, module, function, std::move(message), TextKind::Wide);
}

int ReportText(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
               std::string_view message) {
  return AddText(msgId, type, module, function, std::string(message), TextKind::Wide);
}

int ReportSystemError(std::uint32_t msgId, std::uint32_t type, const char* module,
                      const char* function, int errorCode) {
  auto text = SystemErrorText(errorCode);
  if (!text) return 0;
  return AddText(msgId, type, module, function, std::move(*text), TextKind::Wide);
}

int ReportResString(std::uint32_t msgId, std::uint32_t type, const char* module,
                    const char* function, unsigned stringId, ...) {
  const std::string format = LoadResString(stringId);
  va_list args;
  va_start(args, stringId);
  std::string message = FormatV(kMaxMessageChars, format.c_str(), args);
  va_end(args);
  return AddText(msgId, type, module, function, std::move(message), TextKind::Wide);
}

int ReportTextA(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                std::string_view message) {
  return AddText(msgId, type, module, function, std::string(message), TextKind::Multi);
}

int ReportErrorA(std::uint32_t msgId, std::uint32_t type, const char* module, const char* function,
                 const char* format, ...) {
  if (format == nullptr) return 0;
  // 8-bit text: the limit is in bytes.
  char buffer[kMaxMessageChars + 1];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return 0;
  return AddText(msgId, type, module, function, std::string(buffer), TextKind::Multi);
}

int AddPreparedRecord(ErrorRecord record) { return ErrorPool::Instance().Add(std::move(record)); }

std::string ErrorDialogBlock(const ErrorRecord& record) {
  std::string block = "MsgID = " + std::to_string(record.MsgID);
  switch (record.MessageType & 7) {
    case MSG_ERROR:
      block += ", MessageType = Error\r\n";
      break;
    case MSG_WARNING:
      block += ", MessageType = Warning\r\n";
      break;
    case MSG_INFORMATION:
      block += ", MessageType = Information\r\n";
      break;
    default:
      break;
  }
  if (record.module && !record.module->empty()) block += "Module = " + *record.module + "\r\n";
  if (record.function && !record.function->empty())
    block += "Function = " + *record.function + "\r\n";
  block += "Message = ";
  block += record.message.empty() ? std::string("NA") : record.message;
  block += "\r\n-------------------\r\n\r\n";
  return block;
}

int FlushErrorPool(LogFile* systemLog, bool quiet) {
  ErrorPool& pool = ErrorPool::Instance();
  if (pool.Count() == 0) return 1;
  std::string dialogText;
  bool anyToUser = false;
  ErrorRecord record;
  while (pool.TakeOldest(record) > 0) {
    if ((record.MessageType & MSG_TO_LOG) && systemLog != nullptr) {
      const char* file = record.module ? record.module->c_str() : nullptr;
      if (record.function)
        systemLog->WriteLineF(file, 0, "Func = [%s], Message = [%s]", record.function->c_str(),
                              record.message.c_str());
      else
        systemLog->WriteLineF(file, 0, "Func = NA, Message = [%s]", record.message.c_str());
    }
    if ((record.MessageType & MSG_TO_USER) && !quiet) {
      if (!anyToUser) dialogText.clear();
      anyToUser = true;
      // The dialog holds a bounded text; further records are cut off, never overrun.
      const std::size_t used = Utf8Length(dialogText);
      if (used < kErrorDialogChars)
        dialogText += Utf8Prefix(ErrorDialogBlock(record), kErrorDialogChars - used);
    }
  }
  if (anyToUser) CurrentPresenter().ShowErrorDetails(dialogText);
  return 1;
}

void ShowErrorPoolBoxes(const char* caption) {
  ErrorPool& pool = ErrorPool::Instance();
  ErrorRecord record;
  while (pool.TakeOldest(record) > 0) {
    if (!(record.MessageType & MSG_TO_LOG)) continue;
    const char* module = record.module ? record.module->c_str() : "";
    const std::string text = record.function
                                 ? Format(kBoxChars, "Module=%s, Func = [%s], Message = [%s]",
                                          module, record.function->c_str(), record.message.c_str())
                                 : Format(kBoxChars, "Module=%s, Func = NA, Message = [%s]", module,
                                          record.message.c_str());
    CurrentPresenter().MessageBox(
        text, caption ? std::optional<std::string>(caption) : std::nullopt, MB_ICONSTOP | MB_OK);
  }
}

}  // namespace vexo
