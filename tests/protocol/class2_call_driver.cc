#include "tests/protocol/class2_call_driver.h"

#include "modem/fax_comm_func.h"

namespace vexo::test {

Class2Timeouts TestTimeouts() {
  Class2Timeouts t;
  t.command = t.pageEndOk = t.postPageFirst = t.drainTotal = 2000;
  t.dialFirst = t.answerFirst = 3000;
  t.dialFurther = t.pageConnect = t.answerFurther = t.receiveRead = 1500;
  t.postPageFurther = t.abortOk = t.finalFirst = 1000;
  t.drainRead = 300;
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
  port.CloseComPort(false);
  job.EndJob();
}

bool Class2CallDriver::Open(const std::string& faxClass) {
  job.StartJob(kSendJob);
  if (port.OpenComPort(nullptr, "COM1:", 0, "", false) != 1) return false;
  class20.Attach(&port);
  class2.Attach(&port);
  const std::string command = "AT+FCLASS=" + faxClass;
  if (port.WriteCommand(command.c_str(), 0) != 1) return false;
  return class20.MatchOKResult(kWaitOkMs, true) == 1;
}

}  // namespace vexo::test
