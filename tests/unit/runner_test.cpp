// The rehearsal runner's command line, its exit statuses and outputs, and the
// terminal screen's drawing of the setup window.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/harness.h"
#include "terminal.h"

namespace {

bool Parse(const std::vector<std::string>& args, RunnerOptions* options, std::string* error) {
  *options = RunnerOptions();
  return ParseRunnerArguments(args, options, error);
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const std::string& name) {
  return (testing::TempDir().empty() ? std::string("/tmp/") : testing::TempDir()) + name;
}

}  // namespace

TEST(RunnerArguments, OptionsAnswersAndTheSetupCommandLine) {
  RunnerOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--machine", "m.json", "--answers", "lang=1031,confirm,cancel,close",
                     "--log", "l.txt", "--", "/c", "12", "/l", "1031"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.machineFile, "m.json");
  ASSERT_EQ(o.answers.size(), 4u);
  EXPECT_EQ(o.answers[0].kind, Answer::Kind::Language);
  EXPECT_EQ(o.answers[0].languageId, 1031);
  EXPECT_EQ(o.answers[3].kind, Answer::Kind::Close);
  EXPECT_TRUE(o.setupArgumentsGiven);
  EXPECT_EQ(o.setupArguments, "/c 12 /l 1031");
}

TEST(RunnerArguments, UnusableInputIsRefusedWithAMessage) {
  RunnerOptions o;
  std::string error;
  EXPECT_FALSE(Parse({"--answers", "confirm,maybe"}, &o, &error));
  EXPECT_NE(error.find("maybe"), std::string::npos);
  EXPECT_FALSE(Parse({"--machine"}, &o, &error));
  EXPECT_NE(error.find("--machine"), std::string::npos);
  EXPECT_FALSE(Parse({"--frobnicate"}, &o, &error));
  EXPECT_FALSE(Parse({"--answers", "lang=12x"}, &o, &error));
}

TEST(RunnerExit, BadMachineDescriptionIsRefusedBeforeAnythingRuns) {
  std::string path = TempPath("zentavo_bad_machine.json");
  {
    std::ofstream out(path);
    out << "{\n  \"os\": {\"platformId\": 2, \"major\": \"five\"}\n}\n";
  }
  RunnerOptions o;
  o.machineFile = path;
  o.logFile = TempPath("zentavo_bad_machine.log");
  std::remove(o.logFile.c_str());
  std::ostringstream out, err;
  EXPECT_EQ(RunRehearsal(o, out, err), 2);
  EXPECT_NE(err.str().find(path), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("/os/major"), std::string::npos) << err.str();
  EXPECT_TRUE(ReadHost(o.logFile).empty()) << "nothing ran";
}

TEST(RunnerExit, AnswersRunningOutGiveThreeAndStillWriteTheOutputs) {
  RunnerOptions o;
  o.answersGiven = true;
  o.answers = {Answer{Answer::Kind::Confirm, 0}};
  o.logFile = TempPath("zentavo_ranout.log");
  o.screensFile = TempPath("zentavo_ranout.screens");
  o.stateFile = TempPath("zentavo_ranout.json");
  std::ostringstream out, err;
  EXPECT_EQ(RunRehearsal(o, out, err), 3);
  EXPECT_NE(ReadHost(o.logFile).find("waiting for input\r\n"), std::string::npos);
  EXPECT_NE(ReadHost(o.screensFile).find("--- setup window"), std::string::npos);
  // The state is a machine description again: it loads.
  std::string error;
  EXPECT_TRUE(SimMachine::FromJson(ReadHost(o.stateFile), o.stateFile, &error)) << error;
  EXPECT_NE(err.str().find("header  :"), std::string::npos) << err.str();
}

TEST(RunnerExit, WholeRehearsalOnTheDefaultMachineExitsZero) {
  RunnerOptions o;
  std::ostringstream out, err;
  EXPECT_EQ(RunRehearsal(o, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("setup terminating\r\n"), std::string::npos);
}

TEST(TerminalScreen, DrawsTheVisibleButtonsAndWrapsHelpAtTheControlWidth) {
  ScreenState s;
  s.windowOpen = true;
  s.title = "Welcome";
  s.header = "Ready";
  s.help = std::string(50, 'a') + " " + std::string(50, 'b') + " " + std::string(50, 'c');
  s.confirmVisible = true;
  s.confirmCaption = "Proceed";
  s.cancelCaption = "Cancel";
  s.packageLine = "2.0 Desktop Windows 2000/XP CD";
  std::string drawn = TerminalScreen::Draw(s);
  EXPECT_NE(drawn.find("[ Proceed ]"), std::string::npos);
  EXPECT_EQ(drawn.find("[ Cancel ]"), std::string::npos);
  // Each 50-letter word lands on a line of its own.
  EXPECT_NE(drawn.find("| " + std::string(50, 'a') + " "), std::string::npos);
  EXPECT_NE(drawn.find("| " + std::string(50, 'b') + " "), std::string::npos);
  EXPECT_NE(drawn.find("2.0 Desktop Windows 2000/XP CD"), std::string::npos);
  s.windowOpen = false;
  EXPECT_NE(TerminalScreen::Draw(s).find("closed"), std::string::npos);
}

TEST(RunnerArguments, ChangesCompareNoMediumAndWait) {
  RunnerOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--changes", "-", "--no-medium", "--answers", "confirm,wait=2500,confirm"}, &o,
                    &error))
      << error;
  EXPECT_EQ(o.changesFile, "-");
  EXPECT_TRUE(o.noMedium);
  ASSERT_EQ(o.answers.size(), 3u);
  EXPECT_EQ(o.answers[1].kind, Answer::Kind::Wait);
  EXPECT_EQ(o.answers[1].waitMs, 2500u);
  EXPECT_EQ(o.answers[1].ToString(), "wait=2500");
  ASSERT_TRUE(Parse({"--compare", "a.json", "b.json"}, &o, &error)) << error;
  EXPECT_TRUE(o.compare);
  EXPECT_EQ(o.compareBefore, "a.json");
  EXPECT_EQ(o.compareAfter, "b.json");
  EXPECT_FALSE(Parse({"--compare", "a.json"}, &o, &error));
  EXPECT_FALSE(Parse({"--answers", "wait=-1"}, &o, &error));
  EXPECT_FALSE(Parse({"--answers", "wait="}, &o, &error));
  EXPECT_FALSE(Parse({"--answers", "wait=12345678901234"}, &o, &error)) << "too long to be a wait";
}

// A state written by --state holds the medium's bytes: the chained run works
// after the first run's medium folder is gone, with no medium mounted at all,
// and --compare tells what the first run changed.
TEST(RunnerChain, TheStateRunsAfterTheFirstMediumFolderIsDeleted) {
  namespace fs = std::filesystem;
  fs::path medium = TempPath("zentavo_chain_medium_" + std::to_string(getpid()));
  fs::remove_all(medium);
  fs::copy(fs::path(ZT_SOURCE_DIR) / "medium", medium, fs::copy_options::recursive);
  std::string start = TempPath("zentavo_chain_start.json");
  {
    std::ofstream out(start, std::ios::binary);
    out << SimMachine::Default()->ToJson();
  }
  std::string state = TempPath("zentavo_chain_state.json");
  RunnerOptions first;
  std::string error;
  ASSERT_TRUE(Parse({"--machine", start, "--medium", medium.string(), "--answers", "confirm",
                     "--log", TempPath("zentavo_chain_1.log"), "--state", state},
                    &first, &error));
  std::ostringstream out1, err1;
  EXPECT_EQ(RunRehearsal(first, out1, err1), 3) << "the answers run out at the greeting";
  EXPECT_EQ(ReadHost(state).find(medium.string()), std::string::npos)
      << "the state names no host folder";

  // What the first run changed: the state against the machine it came from.
  RunnerOptions compare;
  ASSERT_TRUE(Parse({"--compare", start, state, "--medium", medium.string()}, &compare, &error));
  std::ostringstream report, reportErr;
  EXPECT_EQ(RunRehearsal(compare, report, reportErr), 1) << reportErr.str();
  EXPECT_NE(report.str().find("\n+ file C:\\Documents and Settings\\User\\Local Settings\\Temp\\"
                              "ZentavoInstall.log: "),
            std::string::npos)
      << report.str();
  EXPECT_NE(report.str().find("== Programs started ==\n(not known from two descriptions)\n"),
            std::string::npos)
      << report.str();
  EXPECT_EQ(report.str().find("+ file D:\\"), std::string::npos) << "the medium was there before";
  RunnerOptions same;
  ASSERT_TRUE(Parse({"--compare", state, state}, &same, &error));
  std::ostringstream none, noneErr;
  EXPECT_EQ(RunRehearsal(same, none, noneErr), 0) << none.str();

  fs::remove_all(medium);
  RunnerOptions second;
  ASSERT_TRUE(Parse({"--machine", state, "--no-medium", "--log", TempPath("zentavo_chain_2.log"),
                     "--", "/c", "17", "/l", "1033"},
                    &second, &error));
  std::ostringstream out2, err2;
  EXPECT_EQ(RunRehearsal(second, out2, err2), 0) << err2.str();
  std::vector<std::string> lines = LogMessages(ReadHost(TempPath("zentavo_chain_2.log")));
  // Both runs read setup.ini and the language file from the setup folder.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("package info: ", 0) == 0; }),
            2);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "setup terminating"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), UpdateLine(0, 17, 1)), lines.end());
}
