#include "tests/protocol/class1_test_util.h"

#include "base/error_pool.h"
#include "modem/byte_tables.h"

namespace vexo::test {

std::vector<std::string> TakeClass1Messages() {
  std::vector<std::string> messages;
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0) messages.push_back(record.message);
  return messages;
}

namespace {

void PutStuffed(std::string& out, std::uint8_t b) {
  if (b == kDle) out.push_back(static_cast<char>(kDle));
  out.push_back(static_cast<char>(b));
}

std::string FrameBody(bool final, std::uint8_t fcfValue, const std::vector<std::uint8_t>& fif) {
  std::string out;
  PutStuffed(out, kHdlcAddress);
  PutStuffed(out, final ? kControlFinal : kControlMore);
  PutStuffed(out, fcfValue);
  for (std::uint8_t b : fif) PutStuffed(out, b);
  return out;
}

}  // namespace

std::string ModemFrame(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif) {
  return FrameBody(final, fcfValue, fif) + "\x5A\xA5\x10\x03\r\nOK\r\n";
}

std::string WrittenFrame(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif) {
  return FrameBody(final, fcfValue, fif) + "\x10\x03";
}

std::vector<std::uint8_t> OnLine(const CapabilityBytes& bytes) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t b : bytes) out.push_back(kBitReverse[b]);
  return out;
}

Class1Item FrameItem(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif) {
  Class1Item item;
  item.isFrame = true;
  item.frame.reserve(fif.size() + 5);
  for (std::uint8_t b : {kHdlcAddress, final ? kControlFinal : kControlMore, fcfValue})
    item.frame.push_back(b);
  for (std::uint8_t b : fif) item.frame.push_back(b);
  item.frame.push_back(0x5A);
  item.frame.push_back(0xA5);
  return item;
}

Class1PtyRig::Class1PtyRig() {
  port.SetBaudRate(115200);
  port.SetOptions({pty.SlavePath(), "", "", false});
  TakeClass1Messages();
}

Class1PtyRig::~Class1PtyRig() {
  modem.Stop();
  port.CloseComPort(0);
}

bool Class1PtyRig::Start() {
  // The port is opened first: opening clears what the modem may already have
  // sent, so a script that speaks at once would lose its first words.
  const bool ok = port.OpenComPort(nullptr, "COM1:", 0, "", 0) == 1;
  modem.Start();
  fax.Attach(&port);
  TakeClass1Messages();
  return ok;
}

}  // namespace vexo::test
