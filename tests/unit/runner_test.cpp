// The rehearsal runner's command line, its exit statuses and outputs, and the
// terminal screen's drawing of the setup window.
#include <gtest/gtest.h>

#include <cstdio>
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
