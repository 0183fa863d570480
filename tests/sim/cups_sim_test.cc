// Print to fax through a real cupsd of the test's own (private configuration,
// spool and socket in a temporary folder; the build's backend as "vexofax"):
// `vexo printer install` sets up the queue, `lp -o fax-number=...` of a PDF by
// a printing user lands in that user's Sending folder, one without a number is
// held there for one, and `vexo queue run` sends the first over the
// simulator. The backend run as CUPS runs it refuses hostile jobs with a CUPS
// status and queues nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/sim/app_harness.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kCupsd = "/usr/sbin/cupsd";

int Shell(const std::string& command) { return WEXITSTATUS(std::system(command.c_str())); }

class CupsPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: adds a printing user, runs the backend";
    if (!fs::exists(kCupsd)) GTEST_SKIP() << "cupsd is not installed (package cups)";
    Shell("userdel " + user + " 2>/dev/null");
    ASSERT_EQ(Shell("useradd -M -d " + home.string() + " " + user), 0);
    fs::create_directories(home);
    // The printing user reaches its home in here; cupsd's user reaches the spool.
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    ASSERT_EQ(Shell("chown " + user + " " + home.string()), 0);
    ::setenv("VEXO_CLI", VEXO_CLI_PATH, 1);  // as the server's SetEnv gives it to the backend
    ASSERT_EQ(Shell("gs -q -sDEVICE=pdfwrite -o " + pdf.string() +
                    " -c '/Helvetica findfont 40 scalefont setfont 72 600 moveto (Fax) show "
                    "showpage'"),
              0);
  }
  void TearDown() override { Shell("userdel " + user + " 2>/dev/null"); }

  // Starts cupsd on a socket in the temporary folder.
  void StartCups() {
    const fs::path bin = dir.path() / "bin";
    for (const char* sub : {"bin/backend", "spool", "tmp", "cache", "state"})
      fs::create_directories(dir.path() / sub);
    for (const char* sub : {"filter", "cgi-bin", "daemon", "notifier"})
      fs::create_directory_symlink(fs::path("/usr/lib/cups") / sub, bin / sub);
    // Mode 0700 and owned by root: CUPS runs the backend as root.
    fs::copy_file(VEXO_BACKEND_PATH, bin / "backend/vexofax");
    fs::permissions(bin / "backend/vexofax", fs::perms::owner_all);
    std::ofstream(dir.path() / "cupsd.conf")
        << "Listen " << socket.string()
        << "\nLogLevel debug\n<Location />\nOrder allow,deny\nAllow all\n"
        << "</Location>\n";
    const std::string d = dir.path().string();
    std::ofstream(dir.path() / "cups-files.conf")
        << "ServerBin " << d << "/bin\nDataDir /usr/share/cups\nServerRoot " << d
        << "\nRequestRoot " << d << "/spool\nTempDir " << d << "/tmp\nCacheDir " << d
        << "/cache\nStateDir " << d << "/state\nErrorLog " << d << "/error_log\nAccessLog " << d
        << "/access_log\nPageLog " << d << "/page_log\nPrintcap " << d
        << "/printcap\nSystemGroup root\nSandboxing Relaxed\nSetEnv VEXO_CLI " << VEXO_CLI_PATH
        << "\n";
    cupsd = std::make_unique<ChildProcess>(
        std::vector<std::string>{kCupsd, "-f", "-c", d + "/cupsd.conf", "-s",
                                 d + "/cups-files.conf"},
        dir.path() / "cupsd.log");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(socket); }, milliseconds(10000)))
        << cupsd->Log() << CupsLog();
  }
  // Read only once the user's vexo made the store: a home made here would be root's.
  std::vector<FaxRecord> Sending() {
    if (!fs::exists(vexoHome / "faxes.db")) return {};
    return FiledRecords(vexoHome, FOLDER_SENDING);
  }
  std::string CupsLog() { return ReadFileBytes(dir.path() / "error_log"); }

  // A printing user of this test process's own: tests may run side by side.
  const std::string user = "vexofax-test" + std::to_string(getpid());
  TempDir dir;
  const fs::path home = dir.path() / "home";
  const fs::path vexoHome = home / ".local/share/vexofax";
  const fs::path socket = dir.path() / "cups.sock";
  const fs::path pdf = dir.path() / "letter.pdf";
  std::unique_ptr<ChildProcess> cupsd;
};

TEST_F(CupsPrint, APrintedPdfIsQueuedForThePrintingUserHeldWithoutANumberAndSentByTheOutbox) {
  ASSERT_NO_FATAL_FAILURE(StartCups());
  const std::string vexo = VEXO_CLI_PATH;
  ASSERT_EQ(Shell(vexo + " printer install --host " + socket.string()), 0) << CupsLog();
  ASSERT_EQ(Shell("su " + user + " -s /bin/sh -c 'lp -h " + socket.string() +
                  " -d Fax -o fax-number=5551234 -o fax-name=Bob " + pdf.string() + "'"),
            0);
  ASSERT_TRUE(WaitFor([&] { return Sending().size() == 1; }, milliseconds(30000))) << CupsLog();
  EXPECT_EQ(Sending()[0].contact, "Bob");
  // Without a number the fax waits in Sending, held for one: the run below
  // does not call it.
  ASSERT_EQ(Shell("su " + user + " -s /bin/sh -c 'lp -h " + socket.string() + " -d Fax " +
                  pdf.string() + "'"),
            0);
  ASSERT_TRUE(WaitFor([&] { return Sending().size() == 2; }, milliseconds(30000))) << CupsLog();
  EXPECT_EQ(Shell(vexo + " queue list --json --home " + vexoHome.string() +
                  " | grep -q '\"status\": *\"needs number\"'"),
            0);

  const fs::path rx = dir.path() / "rx";
  Linesim sim({"--class", "1", "--far-receive", rx.string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess run(
      {vexo, "queue", "run", "--home", vexoHome.string(), "--device", sim.Pty(1), "--class", "1"},
      dir.path() / "run.log");
  ASSERT_EQ(run.Wait(seconds(120)), 0) << run.Log() << sim.Stderr();
  EXPECT_NE(run.Log().find("Calls: 1, sent: 1, given up: 0"), std::string::npos) << run.Log();
  EXPECT_EQ(FiledRecords(vexoHome, FOLDER_SENT).size(), 1u);
  EXPECT_EQ(Shell("tiffinfo " + (rx / "fax-001.tif").string() + " >/dev/null 2>&1"), 0);
  EXPECT_EQ(Shell(vexo + " printer remove --host " + socket.string()), 0);
}

// The backend as CUPS runs it (root, argv job-id user title copies options,
// the document on stdin): each hostile job gets its CUPS status and is not
// queued; a name that looks like an option stays a name.
TEST_F(CupsPrint, TheBackendRefusesHostileJobsAndQueuesNothing) {
  const fs::path huge = dir.path() / "huge.pdf";
  ASSERT_EQ(Shell("{ printf %%PDF-1.4; head -c 70000000 /dev/zero; } >" + huge.string()), 0);
  const fs::path broken = dir.path() / "broken.pdf";
  WriteFileBytes(broken, "%PDF-1.4 nothing of a PDF here");
  const struct {
    std::string who, options, document;
    int status;  // CUPS_BACKEND_*: 0 ok, 1 failed, 5 cancel
  } jobs[] = {
      {user, "fax-number=/etc/passwd", pdf.string(), 5},
      {user, "fax-number=5551234 fax-name='a\nb'", pdf.string(), 5},
      {user, "fax-number=5551234 file=/etc/shadow", "/etc/passwd", 5},
      {user, "fax-number=5551234", huge.string(), 5},
      {user, "fax-number=5551234", broken.string(), 1},
      {user, "fax-name='a\nb'", pdf.string(), 5},
      {"root", "fax-number=5551234", pdf.string(), 1},
      {"no-such-user-here", "fax-number=5551234", pdf.string(), 1},
      {user, "fax-number=5551234 fax-name=--home=/etc", pdf.string(), 0},  // queued, as a name
  };
  for (const auto& job : jobs) {
    SCOPED_TRACE(job.who + " " + job.options + " " + job.document);
    const std::string command = std::string(VEXO_BACKEND_PATH) + " 7 '" + job.who +
                                "' ../../etc/passwd 1 \"" + job.options + "\" <" + job.document +
                                " 2>/dev/null";
    EXPECT_EQ(Shell(command), job.status);
    EXPECT_EQ(Sending().size(), job.status == 0 ? 1u : 0u);
  }
  ASSERT_EQ(Sending().size(), 1u);
  EXPECT_EQ(Sending()[0].contact, "--home=/etc");
}

}  // namespace
}  // namespace vexo::test
