// The modem probe over the simulator's Class 1, Class 2, Class 2.0 and
// combined modems and a pty where nothing answers, all probed at once; and
// vexo probe --apply storing the suggestion in the settings.
#include <gtest/gtest.h>

#include <chrono>

#include "app/jobs/modem_probe.h"
#include "app/settings/settings.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/pty_peer.h"

namespace vexo::test {
namespace {

using std::chrono::seconds;

constexpr const char* kClass1Speeds = "\tspeeds=2400,4800,7200,9600,12000,14400";

struct ProbeCase {
  const char* simClass;
  std::string line;  // after the device
  std::string suggestion;
};

TEST(ProbeSim, EachModemGetsItsClassesAndSuggestionAndSilenceCostsAShortWait) {
  const ProbeCase cases[] = {
      {"1", std::string("SPANDSP\tclasses=1") + kClass1Speeds, "ForceFaxClass=1"},
      {"2", "VEXO LINESIM SERVICE CLASS MODEM\tclasses=2\tmaker=VEXO\tmodel=VEXO",
       "ForceFaxClass=2"},
      {"2.0", "VEXO LINESIM SERVICE CLASS MODEM\tclasses=2.0\tmaker=VEXO\tmodel=VEXO",
       "ForceFaxClass=20"},
      {"auto", std::string("SPANDSP\tclasses=1,2,2.0") + kClass1Speeds + "\tmaker=VEXO\tmodel=VEXO",
       "ForceFaxClass=1"},
  };
  std::vector<std::unique_ptr<Linesim>> sims;
  std::vector<std::string> devices;
  for (const ProbeCase& c : cases) {
    sims.push_back(std::make_unique<Linesim>(std::vector<std::string>{"--class", c.simClass}));
    ASSERT_FALSE(sims.back()->Pty(1).empty()) << sims.back()->Stderr();
    devices.push_back(sims.back()->Pty(1));
  }
  Pty silent;
  devices.push_back(silent.SlavePath());
  devices.push_back("/dev/vexo-no-such-tty");

  const auto start = std::chrono::steady_clock::now();
  const std::vector<ProbeResult> results = ProbeModems(devices, 19200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(4));
  ASSERT_EQ(results.size(), devices.size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].simClass);
    EXPECT_EQ(ProbeLine(results[i]), devices[i] + "\t" + cases[i].line + "\tCOMPortDevice=" +
                                         devices[i] + " " + cases[i].suggestion);
  }
  EXPECT_EQ(ProbeLine(results[4]), silent.SlavePath() + "\tno answer");
  EXPECT_EQ(ProbeLine(results[5]), "/dev/vexo-no-such-tty\tcannot open: No such file or directory");
}

TEST(ProbeSim, ApplyStoresTheSuggestionAndNoModemExitsOne) {
  Linesim sim({"--class", "2.0"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  TempDir home, work;
  ChildProcess apply(
      {VEXO_CLI_PATH, "probe", "--home", home.path().string(), "--apply", sim.Pty(1)},
      work.path() / "apply.log");
  ASSERT_EQ(apply.Wait(seconds(30)), 0) << apply.Log();
  EXPECT_NE(apply.Log().find("ForceFaxClass = 20\n"), std::string::npos) << apply.Log();
  AppSettings stored;
  stored.SetHomeDirectory(home.path().string());
  ASSERT_TRUE(stored.LoadSettings());
  EXPECT_EQ(stored.COMPortDevice, sim.Pty(1));
  EXPECT_EQ(stored.ForceFaxClass, 20u);

  Pty silent;
  ChildProcess none({VEXO_CLI_PATH, "probe", "--home", home.path().string(), silent.SlavePath()},
                    work.path() / "none.log");
  EXPECT_EQ(none.Wait(seconds(30)), 1) << none.Log();
  EXPECT_EQ(none.Log(), silent.SlavePath() + "\tno answer\n");
}

}  // namespace
}  // namespace vexo::test
