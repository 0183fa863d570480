// The devices the modem probe asks by default: each once, under its first name.
#include "app/jobs/modem_probe.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

TEST(ModemProbe, DevicesAreListedOnceUnderTheirFirstName) {
  TempDir dev;
  const std::string d = dev.path().string();
  fs::create_directories(dev.path() / "serial/by-id");
  for (const char* name : {"ttyS10", "ttyS2", "ttyUSB0", "ttySx", "ttyACM1", "tty1"})
    WriteFileBytes(dev.path() / name, "");
  fs::create_symlink(dev.path() / "ttyUSB0", dev.path() / "serial/by-id/usb-Modem");
  EXPECT_EQ(ProbeDevices(SerialDevicesOf(d), d + "/ttyS2; /dev/vexo-extra ;"),
            (std::vector<std::string>{d + "/serial/by-id/usb-Modem", d + "/ttyS2", d + "/ttyS10",
                                      d + "/ttyACM1", "/dev/vexo-extra"}));
}

}  // namespace
}  // namespace vexo::test
