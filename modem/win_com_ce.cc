// The serial port object's construction, debug lines, dumps, line state and
// error texts; opening is in win_com_ce_open.cc, timeouts and transfers in
// win_com_ce_io.cc, AT commands in win_com_ce_commands.cc, result lines in
// win_com_ce_results.cc.
#include "modem/win_com_ce.h"

#include <cstdarg>
#include <string>

#include "base/error_pool.h"
#include "base/log_file.h"
#include "modem/win_com_ce_internal.h"
#include "platform/serial/termios_device.h"
#include "platform/text.h"

namespace vexo {
namespace {

using port_detail::kModule;

struct ErrorBitText {
  std::uint32_t bit;
  const char* text;
};

constexpr ErrorBitText kErrorBitTexts[] = {
    {CE_BREAK, "Break condition"},
    {CE_DNS, "Parallel device not selected"},
    {CE_FRAME, "Framing error"},
    {CE_IOE, "I/O error"},
    {CE_MODE, "Requested mode not supported"},
    {CE_OOP, "Parallel device out of paper."},
    {CE_OVERRUN, "Overrun error"},
    {CE_PTO, "Parallel device time out"},
    {CE_RXOVER, "Input buffer overflow"},
    {CE_RXPARITY, "Parity error"},
    {CE_TXFULL, "Output buffer full"},
};

}  // namespace

WinCOMCE::WinCOMCE(PortEnvironment environment) : m_env(std::move(environment)) {
  if (!m_env.openDevice) {
    m_env.openDevice = [](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      return TermiosDevice::Open(path, error);
    };
  }
  if (!m_env.radio) {
    m_ownRadio = std::make_unique<NullRadioControl>();
    m_env.radio = m_ownRadio.get();
  }
  if (!m_env.dataConnections) {
    m_ownConnections = std::make_unique<NoDataConnections>();
    m_env.dataConnections = m_ownConnections.get();
  }
  if (!m_env.sleep) m_env.sleep = [](std::uint32_t ms) { port_detail::SleepMs(ms); };
}

WinCOMCE::~WinCOMCE() {
  if (IsPortOpen() || m_data.device) CloseComPort(m_viaTelephony ? 1 : 0);
}

void WinCOMCE::WriteDebugLine(const char* format, ...) {
  if (m_log == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(kLogLineChars, format, args);
  va_end(args);
  m_log->WriteLineF(nullptr, 0, "%s", text.c_str());
}

void WinCOMCE::LogDeviceNotes(SerialDevice& device) {
  for (const auto& note : device.TakeNotes())
    if (m_notesLogged.insert(note).second) WriteDebugLine("Debug: %s", note.c_str());
}
int WinCOMCE::Delay(std::uint32_t ms) {
  m_env.sleep(ms == 0 ? kDefaultDelayMs : ms);
  return 1;
}

// ---- line state, dumps and error texts ----

int WinCOMCE::ClearCommError(std::uint32_t* errors) {
  std::uint32_t bits = 0;
  const bool ok = m_command.device && m_command.device->ClearCommError(bits, nullptr);
  if (errors) *errors = bits;
  return ok ? 1 : 0;
}

int WinCOMCE::ClearCommBreak() {
  return (m_command.device && m_command.device->ClearCommBreak()) ? 1 : 0;
}

void WinCOMCE::DumpComData(const void* bytes, std::uint32_t count, DumpKind kind) {
  if (m_log == nullptr) return;
  m_log->WriteRawN(DumpHeadLine(LocalTimeNow(), kind));
  if (count == 0 || bytes == nullptr) return;
  m_log->WriteRawN(DumpDataLines({static_cast<const std::uint8_t*>(bytes), count}));
}

void WinCOMCE::ReportComPortError(std::uint32_t errors) {
  std::string text;
  for (const auto& row : kErrorBitTexts) {
    if (!(errors & row.bit)) continue;
    if (!text.empty()) text += ", ";
    text += row.text;
  }
  if (text.empty()) {
    const std::string code = Format(31, "0x%08X", errors);
    text = Format(63, "Unexpected error code = %s", code.c_str());
  }
  text += ".";
  ReportError(0, kMsgDefault, kModule, "ReportComPortError", "Communication device error: %s",
              text.c_str());
}

}  // namespace vexo
