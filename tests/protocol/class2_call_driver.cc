#include "tests/protocol/class2_call_driver.h"

#include "modem/fax_comm_func.h"

namespace vexo::test {

Class2Timeouts TestTimeouts() {
  Class2Timeouts t;
  t.command = 2000;
  t.dialFirst = 3000;
  t.dialFurther = 1500;
  t.pageConnect = 1500;
  t.pageEndOk = 2000;
  t.postPageFirst = 2000;
  t.postPageFurther = 1000;
  t.abortOk = 1000;
  t.answerFirst = 3000;
  t.answerFurther = 1500;
  t.receiveRead = 1500;
  t.drainRead = 300;
  t.drainTotal = 2000;
  t.finalFirst = 1000;
  t.finalFurther = 500;
  return t;
}

Class2CallDriver::Class2CallDriver() {
  port.SetBaudRate(115200);
  port.SetOptions({pty.SlavePath(), "", "", false});
  port.SetJobControl(&job);
  class20.SetTimeouts(TestTimeouts());
  class2.SetTimeouts(TestTimeouts());
}

Class2CallDriver::~Class2CallDriver() {
  modem.Stop();
  port.CloseComPort(0);
  job.EndJob();
}

bool Class2CallDriver::Open(const std::string& faxClass) {
  job.StartJob(kSendJob);
  if (port.OpenComPort(nullptr, "COM1:", 0, "", 0) != 1) return false;
  class20.Attach(&port);
  class2.Attach(&port);
  const std::string command = "AT+FCLASS=" + faxClass;
  if (port.WriteCommand(command.c_str(), 0) != 1) return false;
  return class20.MatchOKResult(kWaitOkMs, true) == 1;
}

int Class2CallDriver::Send20(const std::vector<std::string>& files, const std::string& number,
                             std::uint32_t* resume, FaxResult* result) {
  return class20.SendFAXClass20(files, number, "VEXO TEST", resume, result);
}

int Class2CallDriver::Receive20(const std::string& file, FaxResult* result) {
  return class20.ReceiveFAXClass20(file, "VEXO TEST", result);
}

int Class2CallDriver::Send2(const std::vector<std::string>& files, const std::string& number,
                            std::uint32_t* resume, FaxResult* result) {
  return class2.SendFAXClass2(files, number, "VEXO TEST", resume, result);
}

int Class2CallDriver::Receive2(const std::string& file, FaxResult* result) {
  return class2.ReceiveFAXClass2(file, "VEXO TEST", result);
}

std::vector<std::string> SentPages(const std::string& received) {
  std::vector<std::string> pages;
  const std::string start = "AT+FDT\r";
  std::size_t at = received.find(start);
  while (at != std::string::npos) {
    const std::size_t from = at + start.size();
    const std::size_t next = received.find(start, from);
    std::string page =
        received.substr(from, next == std::string::npos ? std::string::npos : next - from);
    // Cut at the first unstuffed DLE that is not followed by another DLE.
    for (std::size_t i = 0; i + 1 < page.size(); ++i) {
      if (page[i] != 0x10) continue;
      if (page[i + 1] == 0x10) {
        ++i;
        continue;
      }
      page.resize(i);
      break;
    }
    pages.push_back(page);
    at = next;
  }
  return pages;
}

}  // namespace vexo::test
