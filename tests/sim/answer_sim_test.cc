// vexo answer over the line simulator, run as a child process: calls in one
// after the other, each received, filed and reported on a line of its own,
// and SIGTERM during a page, which keeps the pages received, filed as a
// partial receive in a file that libtiff and tiff2pdf read; a send of another
// process takes the modem from the wait, which resumes after it.
#include <gtest/gtest.h>
#include <signal.h>
#include <tiffio.h>

#include <cstdlib>
#include <sstream>

#include "app/jobs/home_lock.h"
#include "app/jobs/modem_lending.h"
#include "tests/sim/app_harness.h"
#include "tests/support/wait_for.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

int LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.starts_with(prefix);
  return count;
}

int TiffDirectories(const fs::path& file) {
  TIFF* tiff = TIFFOpen(file.c_str(), "r");
  if (tiff == nullptr) return -1;
  const int count = TIFFNumberOfDirectories(tiff);
  TIFFClose(tiff);
  return count;
}

class AnswerSim : public ::testing::Test {
 protected:
  void SetUp() override { ConfigureHome(home.path()); }
  std::vector<std::string> Answer(const Linesim& sim, const std::string& faxClass) {
    return {VEXO_CLI_PATH, "answer",   "--home",  home.path().string(),
            "--device",    sim.Pty(1), "--class", faxClass};
  }

  TempDir home, work;
};

struct TwoCalls {
  const char* faxClass;
  const char* rings;
  double minSeconds;  // how long the first call lasts at least
};

TEST_F(AnswerSim, EveryCallInIsReceivedFiledAndReportedOnALineOfItsOwn) {
  const fs::path in = work.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, {MakeTestPage(1, 40)}));
  // The second ring comes 7 s after the call starts: a call answered after
  // two rings lasts longer than that.
  for (const TwoCalls& calls : {TwoCalls{"2.0", "2", 7}, TwoCalls{"1", "1", 0}}) {
    SCOPED_TRACE(calls.faxClass);
    const fs::path report = work.path() / (std::string("report-") + calls.faxClass);
    Linesim sim({"--class", calls.faxClass, "--far-id", kSimFarId, "--call-in", in.string(),
                 "--call-in-repeat", "2", "--report", report.string()});
    ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
    auto argv = Answer(sim, calls.faxClass);
    argv.insert(argv.end(), {"--count", "2", "--rings", calls.rings});
    ChildProcess vexo(argv, work.path() / "vexo.log");
    ASSERT_EQ(vexo.Wait(seconds(150)), 0) << vexo.Log() << sim.Stderr();
    EXPECT_EQ(LinesStartingWith(vexo.Log(), "Received: 1 page(s) in "), 2) << vexo.Log();
    const std::string json = ReportJson(report);
    const double callSeconds = std::atof(json.substr(json.find("\"seconds\":") + 10).c_str());
    EXPECT_GT(callSeconds, calls.minSeconds) << json;
  }
  const auto inbox = FiledRecords(home.path(), FOLDER_INBOX);
  ASSERT_EQ(inbox.size(), 4u);
  for (const auto& record : inbox) {
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(record.pages, 1);
    EXPECT_EQ(record.remoteStationId, kSimFarId);
  }
}

TEST_F(AnswerSim, SigtermDuringAPageKeepsThePagesReceivedFiledAsAPartialReceive) {
  const fs::path in = work.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, {MakeTestPage(1, 40), MakeTestPage(2, 1200)}));
  Linesim sim({"--class", "2.0", "--far-id", kSimFarId, "--call-in", in.string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess vexo(Answer(sim, "2.0"), work.path() / "vexo.log");
  // Page 2 is under way once page 1 is in the new file.
  fs::path received;
  ASSERT_TRUE(WaitFor(
      [&] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(home.path() / "Data", ec))
          received = entry.path();
        return !received.empty() && !ReadTiffPages(received).empty();
      },
      milliseconds(60000)))
      << vexo.Log() << sim.Stderr();
  ASSERT_EQ(::kill(vexo.pid(), SIGTERM), 0);
  ASSERT_EQ(vexo.Wait(seconds(30)), 0) << vexo.Log();
  EXPECT_EQ(LinesStartingWith(vexo.Log(), "Partly received: "), 1) << vexo.Log();

  const auto inbox = FiledRecords(home.path(), FOLDER_INBOX);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox[0].status, 2);
  EXPECT_EQ(inbox[0].fileName, received.filename().string());
  EXPECT_GE(inbox[0].pages, 1);
  EXPECT_EQ(inbox[0].pages, TiffDirectories(received));
  EXPECT_EQ(std::system(("tiffinfo -D " + received.string() + " >/dev/null").c_str()), 0);
  EXPECT_EQ(std::system(("tiff2pdf -o /dev/null " + received.string()).c_str()), 0);
}

TEST_F(AnswerSim, ASendOfAnotherProcessTakesTheModemFromTheWaitWhichThenResumes) {
  const fs::path in = work.path() / "out.tif";
  ASSERT_TRUE(WriteFaxTiff(in, {MakeTestPage(1, 40)}));
  Linesim sim({"--class", "1", "--far-id", kSimFarId});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess answer(Answer(sim, "1"), work.path() / "answer.log");
  // Listening for borrowers, and a job (not the start-up) holds the home.
  const auto waiting = [&] {
    return fs::exists(ModemLendSocketPath(home.path().string())) &&
           HomeJobLockBusy(home.path().string());
  };
  ASSERT_TRUE(WaitFor(waiting, milliseconds(20000))) << answer.Log();
  ChildProcess send({VEXO_CLI_PATH, "send", "--home", home.path().string(), "--device", sim.Pty(1),
                     "--class", "1", "--to", "5551234", in.string()},
                    work.path() / "send.log");
  ASSERT_EQ(send.Wait(seconds(90)), 0) << send.Log() << answer.Log() << sim.Stderr();
  EXPECT_EQ(LinesStartingWith(send.Log(), "Sent: 1 of 1 page(s) went"), 1) << send.Log();
  ASSERT_TRUE(WaitFor(waiting, milliseconds(20000))) << answer.Log();
  ASSERT_EQ(::kill(answer.pid(), SIGTERM), 0);
  ASSERT_EQ(answer.Wait(seconds(30)), 0) << answer.Log();
  EXPECT_EQ(FiledRecords(home.path(), FOLDER_SENT).size(), 1u);
}

}  // namespace
}  // namespace vexo::test
