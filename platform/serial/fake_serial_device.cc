#include "platform/serial/fake_serial_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace vexo {

void FakeLine::Fail(FakeCall call, int error, int times) {
  failures[static_cast<std::size_t>(call)] = Failure{error, times};
}

std::size_t FakeLine::CallCount(FakeCall call) const {
  return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

std::size_t FakeLine::QueuedBytes() const {
  std::size_t n = 0;
  for (const auto& piece : input) n += piece.size();
  return n;
}

std::shared_ptr<FakeLine> MakeFakeLine(std::uint32_t capabilities) {
  auto line = std::make_shared<FakeLine>();
  line->dcb.BaudRate = 19200;
  line->dcb.fOutxCtsFlow = 1;
  line->dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  line->dcb.fDtrControl = DTR_CONTROL_ENABLE;
  line->properties.dwProvCapabilities = capabilities;
  line->properties.dwCurrentRxQueue = 4096;
  line->properties.dwCurrentTxQueue = 2048;
  line->timeouts = COMMTIMEOUTS{10, 1, 100, 1, 200};
  line->mask = 0x1FF;
  return line;
}

FakeSerialDevice::FakeSerialDevice(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}

FakeSerialDevice::~FakeSerialDevice() { m_line->closed = true; }

bool FakeSerialDevice::Enter(FakeCall call) {
  m_line->calls.push_back(call);
  auto& failure = m_line->failures[static_cast<std::size_t>(call)];
  if (failure.times > 0) {
    --failure.times;
    m_error = failure.error;
    return false;
  }
  return true;
}

bool FakeSerialDevice::GetCommState(DCB& dcb) {
  if (!Enter(FakeCall::GetCommState)) return false;
  dcb = m_line->dcb;
  return true;
}

bool FakeSerialDevice::SetCommState(const DCB& dcb) {
  if (!Enter(FakeCall::SetCommState)) return false;
  m_line->dcb = dcb;
  m_line->statesSet.push_back(dcb);
  return true;
}

bool FakeSerialDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  if (!Enter(FakeCall::GetCommTimeouts)) return false;
  timeouts = m_line->timeouts;
  return true;
}

bool FakeSerialDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  if (!Enter(FakeCall::SetCommTimeouts)) return false;
  m_line->timeouts = timeouts;
  m_line->timeoutsSet.push_back(timeouts);
  return true;
}

bool FakeSerialDevice::GetCommProperties(COMMPROP& properties) {
  if (!Enter(FakeCall::GetCommProperties)) return false;
  const std::uint16_t packetLength = properties.wPacketLength;
  properties = m_line->properties;
  properties.wPacketLength = packetLength;
  return true;
}

bool FakeSerialDevice::GetCommMask(std::uint32_t& mask) {
  if (!Enter(FakeCall::GetCommMask)) return false;
  mask = m_line->mask;
  return true;
}

bool FakeSerialDevice::SetCommMask(std::uint32_t mask) {
  if (!Enter(FakeCall::SetCommMask)) return false;
  m_line->mask = mask;
  m_line->masksSet.push_back(mask);
  return true;
}

bool FakeSerialDevice::WaitCommEvent(std::uint32_t& events) {
  if (!Enter(FakeCall::WaitCommEvent)) return false;
  events = m_line->pendingEvents & m_line->mask;
  m_line->pendingEvents = 0;
  if (events == 0 && (m_line->mask & EV_TXEMPTY)) events = EV_TXEMPTY;
  return true;
}

bool FakeSerialDevice::ClearCommError(std::uint32_t& errors, COMSTAT* stat) {
  if (!Enter(FakeCall::ClearCommError)) return false;
  errors = m_line->pendingErrors;
  m_line->pendingErrors = 0;
  if (stat) {
    stat->cbInQue = static_cast<std::uint32_t>(m_line->QueuedBytes()) + m_line->inQueue;
    stat->cbOutQue = 0;
  }
  return true;
}

bool FakeSerialDevice::ClearCommBreak() { return Enter(FakeCall::ClearCommBreak); }

bool FakeSerialDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
  if (!Enter(FakeCall::SetupComm)) return false;
  m_line->queuesSet.push_back({inQueue, outQueue});
  return true;
}

bool FakeSerialDevice::EscapeCommFunction(std::uint32_t function) {
  if (!Enter(FakeCall::EscapeCommFunction)) return false;
  m_line->escapes.push_back(function);
  return true;
}

bool FakeSerialDevice::Read(void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (!Enter(FakeCall::Read)) return false;
  if (m_line->input.empty()) {
    const auto& t = m_line->timeouts;
    const bool timesItself = (m_line->properties.dwProvCapabilities & PCF_TOTALTIMEOUTS) != 0;
    const std::uint64_t total =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * length + t.ReadTotalTimeoutConstant;
    if (timesItself && m_line->sleepOnEmptyRead && t.ReadIntervalTimeout != MAXDWORD)
      std::this_thread::sleep_for(std::chrono::milliseconds(total));
    return true;
  }
  std::string& piece = m_line->input.front();
  count = static_cast<std::uint32_t>(std::min<std::size_t>(length, piece.size()));
  std::memcpy(buffer, piece.data(), count);
  piece.erase(0, count);
  if (piece.empty()) m_line->input.pop_front();
  return true;
}

bool FakeSerialDevice::Write(const void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (!Enter(FakeCall::Write)) return false;
  count = m_line->writeLimit ? std::min(*m_line->writeLimit, length) : length;
  const std::string_view bytes(static_cast<const char*>(buffer), count);
  m_line->written.append(bytes);
  if (m_line->onWrite && count > 0) m_line->onWrite(*m_line, bytes);
  return true;
}

}  // namespace vexo
