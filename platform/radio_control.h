// RadioControl: the switches a phone modem's radio needs while a fax call holds
// it, namely text-message delivery off and on, and the command port's control
// code. The serial port object uses it for the built-in phone modem. The
// default does nothing and reports success, as a desktop modem needs no switch.
#pragma once

#include <cstdint>
#include <span>

namespace vexo {

class RadioControl {
 public:
  virtual ~RadioControl() = default;
  // Opens and closes the radio driver; the switch below needs it open.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Text-message delivery on or off; result is the driver's answer word and
  // returned the number of answer bytes.
  virtual bool SetMessageDelivery(bool on, std::uint32_t& result, std::uint32_t& returned) = 0;
  // A control code with input bytes for the modem's command port.
  virtual bool CommandPortControl(std::uint32_t code, std::span<const std::uint8_t> input) = 0;
};

class NullRadioControl : public RadioControl {
 public:
  bool Open() override { return true; }
  void Close() override {}
  bool SetMessageDelivery(bool, std::uint32_t& result, std::uint32_t& returned) override {
    result = 0;
    returned = sizeof(std::uint32_t);
    return true;
  }
  bool CommandPortControl(std::uint32_t, std::span<const std::uint8_t>) override { return true; }
};

}  // namespace vexo
