// The outbox over the line simulator, in real time, with a clock of the test's
// own: a busy number is called again once RetryDelay has passed (and not
// before), a fax due later waits, and a dropped call goes on at its first
// unconfirmed page, after the cover page when the fax has one.
#include <gtest/gtest.h>

#include "app/jobs/outbox.h"
#include "base/strings.h"
#include "tests/sim/app_harness.h"
#include "tests/sim/test_pages.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::minutes;

class OutboxSim : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    TakeMessages();
  }
  // A simulator on the same device path every time (its faxes in rx/N for
  // the Nth), and the outbox on it.
  void Line(std::vector<std::string> options) {
    sim.reset();
    const fs::path received = rx / std::to_string(++lines);
    options.insert(options.end(), {"--link", link.string(), "--far-receive", received.string()});
    sim = std::make_unique<Linesim>(options);
    ASSERT_FALSE(sim->Pty(1).empty()) << sim->Stderr();
    if (app) return;
    app = StartSimApp(SimAppOptions(home.path(), link.string(), noLines.path()));
    store = CreateDBFunc(app->MakeStoreOptions());
    ASSERT_TRUE(store);
    outbox = std::make_unique<Outbox>(*app, *store, [this] { return now; });
  }
  CEOID Queue(const std::vector<Bitmap>& pages, minutes due, bool cover = false) {
    const fs::path file = home.path() / ("fax" + std::to_string(++faxes) + ".tif");
    EXPECT_TRUE(WriteFaxTiff(file, pages));
    return outbox->Add({{file.string()}, "5551234", "Ann", "", cover, now + due});
  }
  OutboxState State(CEOID id) {
    QueuedFax fax;
    EXPECT_EQ(store->ReadQueued(id, fax), 1);
    return fax.state.value_or(OutboxState{});
  }
  void ExpectRun(int calls, int sent) {
    const OutboxRun run = outbox->RunDue();
    EXPECT_EQ(run.calls, calls) << ::testing::PrintToString(TakeMessages());
    EXPECT_EQ(run.sent, sent);
    EXPECT_FALSE(run.stopped);
  }

  TempDir home, noLines;
  const fs::path link = home.path() / "modem";
  const fs::path rx = home.path() / "rx";
  std::unique_ptr<Linesim> sim;
  std::unique_ptr<AppOper> app;
  std::unique_ptr<DBFunc> store;
  std::unique_ptr<Outbox> outbox;
  std::chrono::system_clock::time_point now{std::chrono::hours(500'000)};
  int faxes = 0;
  int lines = 0;
};

TEST_F(OutboxSim, ABusyNumberIsCalledAgainAfterTheRetryDelayAndALaterFaxWaits) {
  Line({"--speed", "2", "--busy-calls", "1"});
  const CEOID busy = Queue({MakeTestPage(1, 120)}, minutes(0));
  const CEOID later = Queue({MakeTestPage(2, 120)}, minutes(60));
  ExpectRun(1, 0);
  const OutboxState afterBusy = State(busy);
  EXPECT_EQ(afterBusy.tries, 1);
  EXPECT_EQ(afterBusy.lastResult, -1);
  EXPECT_EQ(afterBusy.lastOutcome, OutboxOutcome::kBusy);
  EXPECT_EQ(afterBusy.nextTry, State(later).nextTry - 55 * 60) << "RetryDelay: 5 minutes";
  now += minutes(4);
  ExpectRun(0, 0);
  now += minutes(1);
  ExpectRun(1, 1);
  const auto sent = FiledRecords(home.path(), FOLDER_SENT);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].status, 1);
  EXPECT_EQ(sent[0].contact, "Ann");
  EXPECT_EQ(State(later), (OutboxState{afterBusy.nextTry + 55 * 60, 0, kOutboxNoCallYet}));

  // The last try failing gives the fax up: it stays in Sending, marked failed.
  app->Settings().MaxTries = 1;
  Line({"--speed", "2", "--busy"});
  const CEOID given = Queue({MakeTestPage(3, 120)}, minutes(0));
  EXPECT_EQ(outbox->RunDue().failed, 1);
  EXPECT_EQ(State(given).status, OutboxStatus::kFailed);
  EXPECT_EQ(TakeMessages().back(),
            "The fax to Ann (5551234) could not be sent (calls made: 1). It stays in the Sending "
            "folder, marked as failed.");
}

// A call dropped during the last page goes on at that page on the next call:
// without a cover page it alone goes, with one the cover page goes first.
TEST_F(OutboxSim, ADroppedCallGoesOnAtItsFirstUnconfirmedPageAfterTheCoverPage) {
  const std::vector<Bitmap> pages = {MakeTestPage(3, 100), MakeTestPage(4, 140),
                                     MakeTestPage(5, 120)};
  const struct {
    bool cover;
    std::size_t pages;
    std::vector<std::size_t> resent;
  } cases[] = {{false, 2, {1}}, {true, 3, {0, 2}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cover ? "with a cover page" : "without");
    const std::vector<Bitmap> fax(pages.begin(), pages.begin() + c.pages);
    Line({"--speed", "2", "--drop-during-page", std::to_string(c.pages)});
    const CEOID id = Queue(fax, minutes(0), c.cover);
    ExpectRun(1, 0);
    EXPECT_EQ(State(id).resume, ResumePosition::At(0, c.pages - 1).Raw());
    EXPECT_EQ(State(id).lastResult, 1);
    EXPECT_EQ(OutboxOutcomeText(State(id)), "Line dropped on page " + std::to_string(c.pages));

    Line({"--speed", "2"});
    now += minutes(5);
    ExpectRun(1, 1);
    const auto got = ReadTiffPages(rx / std::to_string(lines) / "fax-001.tif");
    ASSERT_EQ(got.size(), c.resent.size());
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(HeaderAbove(got[i], pages[c.resent[i]]), "") << "page " << i + 1;
  }
  EXPECT_TRUE(FiledRecords(home.path(), FOLDER_SENDING).empty());
  EXPECT_EQ(FiledRecords(home.path(), FOLDER_SENT).size(), 2u);
}

}  // namespace
}  // namespace vexo::test
