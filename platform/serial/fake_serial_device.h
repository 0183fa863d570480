// FakeSerialDevice: a scripted serial driver for unit tests of the modem code.
// The script (FakeLine, shared between the test and the device) queues input
// pieces (one read returns at most one piece), answers writes, limits how much
// a write takes, raises error bits and breaks, fails chosen calls, and can leave
// out any capability such as PCF_TOTALTIMEOUTS. Every call is recorded.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial/serial_device.h"

namespace vexo {

enum class FakeCall {
  GetCommState,
  SetCommState,
  GetCommTimeouts,
  SetCommTimeouts,
  GetCommProperties,
  GetCommMask,
  SetCommMask,
  WaitCommEvent,
  ClearCommError,
  ClearCommBreak,
  SetupComm,
  EscapeCommFunction,
  Read,
  Write,
  kCount
};

struct FakeLine {
  // Settings as the driver starts with them.
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  COMMPROP properties{};
  std::uint32_t mask = 0;

  // Script.
  std::deque<std::string> input;  // an empty piece is one read that brings nothing
  std::function<void(FakeLine&, std::string_view)> onWrite;  // called with each write's bytes
  std::optional<std::uint32_t> writeLimit;                   // most bytes one write takes
  std::uint32_t pendingErrors = 0;                           // taken by ClearCommError
  std::uint32_t pendingEvents = 0;                           // taken by WaitCommEvent
  std::uint32_t inQueue = 0;  // bytes ClearCommError reports waiting (beyond queued input)
  // When the driver times reads itself, a read without input sleeps for the
  // total timeout as a real driver would.
  bool sleepOnEmptyRead = true;

  // Observations.
  std::string written;
  std::vector<FakeCall> calls;
  std::vector<COMMTIMEOUTS> timeoutsSet;
  std::vector<DCB> statesSet;
  std::vector<std::uint32_t> masksSet;
  std::vector<std::uint32_t> escapes;
  std::vector<std::array<std::uint32_t, 2>> queuesSet;
  bool pageDataMode = false;
  bool closed = false;

  // Makes the next times calls of call fail with error.
  void Fail(FakeCall call, int error, int times = 1);
  std::size_t CallCount(FakeCall call) const;
  // Bytes queued for reading.
  std::size_t QueuedBytes() const;

  struct Failure {
    int error = 0;
    int times = 0;
  };
  std::array<Failure, static_cast<std::size_t>(FakeCall::kCount)> failures{};
};

// A line with the capabilities of a usual modem driver and 8N1 at 19200.
std::shared_ptr<FakeLine> MakeFakeLine(std::uint32_t capabilities);

class FakeSerialDevice : public SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeLine> line);
  ~FakeSerialDevice() override;

  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool GetCommProperties(COMMPROP& properties) override;
  bool GetCommMask(std::uint32_t& mask) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool WaitCommEvent(std::uint32_t& events) override;
  bool ClearCommError(std::uint32_t& errors, COMSTAT* stat) override;
  bool ClearCommBreak() override;
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool EscapeCommFunction(std::uint32_t function) override;
  bool Read(void* buffer, std::uint32_t length, std::uint32_t& count) override;
  bool Write(const void* buffer, std::uint32_t length, std::uint32_t& count) override;
  void SetPageDataMode(bool on) override { m_line->pageDataMode = on; }
  int LastError() const override { return m_error; }

 private:
  // Records the call; false (with the error set) when the script fails it.
  bool Enter(FakeCall call);

  std::shared_ptr<FakeLine> m_line;
  int m_error = 0;
};

}  // namespace vexo
