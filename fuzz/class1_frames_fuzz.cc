// Fuzz target: the Class 1 frame reader. After AT+FRH the modem sends result
// lines and HDLC frames with DLE escapes, in reads cut anywhere; a noisy line
// or a confused modem can send anything. The bytes of one input reach the
// frame reader through the serial port object over the scripted device, in
// reads whose lengths come from the input itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/error_pool.h"
#include "modem/win_com_ce.h"
#include "platform/serial/fake_serial_device.h"
#include "protocol/class1_func.h"

namespace {

std::shared_ptr<vexo::FakeLine> ScriptedLine(const std::uint8_t* data, std::size_t size) {
  auto line = vexo::MakeFakeLine(vexo::PCF_RTSCTS | vexo::PCF_XONXOFF | vexo::PCF_TOTALTIMEOUTS);
  line->sleepOnEmptyRead = false;
  std::size_t offset = 0;
  std::size_t step = 0;
  while (offset < size) {
    const std::size_t want = 1 + data[step++ % size] % 97;
    const std::size_t count = want < size - offset ? want : size - offset;
    line->input.emplace_back(reinterpret_cast<const char*>(data + offset), count);
    offset += count;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  auto line = ScriptedLine(data, size);
  vexo::PortEnvironment env;
  env.openDevice = [line](const std::string&, int&) -> std::unique_ptr<vexo::SerialDevice> {
    return std::make_unique<vexo::FakeSerialDevice>(line);
  };
  env.sleep = [](std::uint32_t) {};
  vexo::WinCOMCE port(env);
  port.SetOptions({"/dev/fuzz-modem", "", "", false});
  if (port.OpenComPort(nullptr, "COM1:", 0, "", 0) != 1) std::abort();
  vexo::FClass1Func fax;
  fax.Attach(&port);
  // Frames until the input runs dry; every item must be well formed.
  for (int round = 0; round < 8 && !line->input.empty(); ++round) {
    vexo::Class1Items items;
    const int count = fax.ReadFrameList(items, vexo::kFrameItemsMax, 5, true);
    if (count > static_cast<int>(vexo::kFrameItemsMax)) std::abort();
    for (const vexo::Class1Item& item : items) {
      if (item.isFrame) vexo::FClass1Func::DecodeStationId(item.Fif());
    }
  }
  fax.CheckCmdResponse2(5, true);
  port.CloseComPort(0);
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
