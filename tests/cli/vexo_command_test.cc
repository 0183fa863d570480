// The vexo command as a user runs it: the help of every command against its
// man page section, version and usage errors, JSON output of list and show,
// and the log directory of modem-talk.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>

#include "app/store/db_func.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args) {
  static const TempDir outputs;
  std::string command = Quoted(program);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  const auto out = outputs.path() / "out", err = outputs.path() / "err";
  const int status = std::system((command + " >" + out.string() + " 2>" + err.string()).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

Outcome Vexo(const std::vector<std::string>& args) { return RunProgram(VEXO_CLI_PATH, args); }

// The options a help text or man page section names: "--word" and "-o".
std::set<std::string> OptionsIn(const std::string& text) {
  static const std::regex option(R"((^|[\s,\[(])(--?[a-z][a-z-]*))");
  std::set<std::string> found;
  for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i)
    if ((*i)[2] != "-h" && (*i)[2] != "--help") found.insert((*i)[2]);
  return found;
}

// The man page text under `.SS "vexo COMMAND"`, escapes of hyphens undone.
std::string ManSection(const std::string& command) {
  const std::string page =
      std::regex_replace(ReadFileBytes(VEXO_MAN_PAGE), std::regex(R"(\\-)"), "-");
  const std::size_t start = page.find(".SS \"vexo " + command + "\"\n");
  if (start == std::string::npos) return {};
  return page.substr(start, page.find("\n.S", start + 1) - start);
}

TEST(VexoCommand, EveryCommandHelpsOnStdoutWithTheOptionsOfItsManPageSection) {
  const Outcome top = Vexo({"--help"});
  ASSERT_EQ(top.exitCode, 0);
  std::istringstream lines(top.out.substr(top.out.find("commands:\n") + 10));
  int commands = 0;
  for (std::string line, name; std::getline(lines, line); ++commands) {
    name = line.substr(2, line.find(' ', 2) - 2);
    SCOPED_TRACE(name);
    const Outcome help = Vexo({name, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: vexo " + name), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    const std::string section = ManSection(name);
    ASSERT_NE(section, "");
    EXPECT_EQ(OptionsIn(help.out), OptionsIn(section));
  }
  EXPECT_GE(commands, 20);
}

struct TopLevelCase {
  std::vector<std::string> args;
  int exitCode;
  std::string out, err;  // expected in stdout and stderr
};

// Also: modem-talk fails when it cannot make its log directory (here under a file).
TEST(VexoCommand, HelpVersionUsageErrorsAndExitCodesFollowTheConventions) {
  const std::string version = std::string("vexo ") + VEXO_VERSION + "\n";
  const TempDir work;
  WriteFileBytes(work.path() / "file", "");
  const TopLevelCase cases[] = {
      {{}, 2, "", "usage: vexo COMMAND"},
      {{"--help"}, 0, "usage: vexo COMMAND", ""},
      {{"-h"}, 0, "usage: vexo COMMAND", ""},
      {{"help", "send"}, 0, "--coding mh|mr|mmr", ""},
      {{"--version"}, 0, version, ""},
      {{"version"}, 0, version, ""},
      {{"--bogus"}, 2, "", "usage: vexo COMMAND"},
      {{"bogus"}, 2, "", "usage: vexo COMMAND"},
      {{"send", "--bogus", "--to", "1", "a.txt"}, 2, "", "--bogus"},
      {{"list", "--folder", "attic"}, 2, "", "--folder"},
      {{"modem-talk", "--device", "/dev/null", "--log", work.path() / "file/log"},
       1,
       "",
       "cannot write the log"},
  };
  for (const TopLevelCase& c : cases) {
    const Outcome outcome = Vexo(c.args);
    SCOPED_TRACE(c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_NE(outcome.out.find(c.out), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out.empty(), c.out.empty());
    EXPECT_EQ(outcome.err.empty(), c.err.empty());
  }
}

TEST(VexoCommand, ListAndShowJsonKeepQuotesControlCharactersAndNonUtf8Safe) {
  TempDir home;
  StoreOptions options{home.path(), home.path() / "Data", true};
  auto store = CreateDBFunc(options);
  ASSERT_TRUE(store);
  FaxRecord record;
  record.contact = "Li \"Xiao\" \\ \xe6\x9d\x8e\x01\xff";
  record.fileName = "a.tif";
  ASSERT_EQ(store->AddRecord(FOLDER_INBOX, record), 1);
  store.reset();
  const Outcome list = Vexo({"list", "--json", "--home", home.path()});
  const Outcome show = Vexo({"show", std::to_string(record.oid), "--json", "--home", home.path()});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  ASSERT_EQ(show.exitCode, 0) << show.err;
  WriteFileBytes(home.path() / "list.json", list.out);
  WriteFileBytes(home.path() / "show.json", show.out);
  const Outcome parsed =
      RunProgram("python3", {"-c", R"(import json, sys
records, record = (json.load(open(f, encoding="utf-8")) for f in sys.argv[1:])
assert records == [record] and record["id"] > 0 and record["file"] == "a.tif", records
print(record["contact"], end=""))",
                             home.path() / "list.json", home.path() / "show.json"});
  EXPECT_EQ(parsed.exitCode, 0) << parsed.err;
  EXPECT_EQ(parsed.out, "Li \"Xiao\" \\ \xe6\x9d\x8e\x01\xef\xbf\xbd");
}

}  // namespace
}  // namespace vexo::test
