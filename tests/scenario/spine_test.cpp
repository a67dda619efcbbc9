// Whole runs of the setup on the simulated machine: start-up in each mode,
// and the step engine's sequences.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/exit_codes.h"
#include "app/setup_app.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

const char kRunKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The update lines (step numbers) of a run, in order. Rows that share a header
// (17 and 19) are told apart by order: the first such row after the previous one.
std::vector<int> UpdateSteps(const Rehearsal& r) {
  std::vector<int> steps;
  for (const std::string& line : r.lines) {
    if (line.rfind("Update action=", 0) != 0) continue;
    size_t state = line.find(" state=");
    size_t condition = line.rfind(" condition=");
    if (state == std::string::npos || condition == std::string::npos) continue;
    std::string header = line.substr(state + 7, condition - state - 7);
    int chosen = -1;
    for (int s = 0; s < kUpdateStepCount; ++s) {
      if (English(kUpdateSteps[s].headerId) != header) continue;
      if (chosen < 0) chosen = s;
      if (!steps.empty() && s > steps.back()) {
        chosen = s;
        break;
      }
    }
    if (chosen >= 0) steps.push_back(chosen);
  }
  return steps;
}

int CountPrefix(const Rehearsal& r, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : r.lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

std::string ResumeMachine() {
  return std::string(R"({"registry": {")") +
         R"(HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run": )" +
         R"({"ZenSetupSetup": "D:\\setup.exe /c 12 /l 1031"}}})";
}

std::vector<std::string> LogLinesOf(SimMachine& machine) {
  std::string log, temp;
  machine.environment().GetTempPath(&temp);
  machine.files().ReadFile(temp + "\\ZentavoInstall.log", &log);
  return LogMessages(log);
}

bool RunValueExists(SimMachine& machine) {
  RegKey run(machine.registry());
  if (run.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", KEY_READ) !=
      ERROR_SUCCESS) {
    return false;
  }
  std::string value;
  return run.QueryString("ZenSetupSetup", 260, &value) == ERROR_SUCCESS;
}

}  // namespace

TEST(StartUp, NormalRunLogsItsStepsInOrderAndWalksEveryRowToTheEnd) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "");
  EXPECT_EQ(r.run.exitCode, 0) << r.run.log;
  EXPECT_FALSE(r.run.answersRanOut) << r.run.stopReason;
  int ie = r.Find("installed IE version is 6.0.2800.1106");
  int loading = r.Find("loading D:\\SetupLanguages.xml");
  int language = r.Find("Install language=1033 ENGLISH_US");
  int movie = r.Find("movie D:\\install.swf");
  int background = r.Find("background created");
  int firstUpdate = r.Find(UpdateLine(0, 0, 1));
  ASSERT_GE(ie, 0) << r.run.log;
  EXPECT_LT(ie, loading);
  EXPECT_LT(loading, language);
  EXPECT_LT(language, movie);
  EXPECT_LT(movie, background);
  EXPECT_LT(background, firstUpdate);
  EXPECT_EQ(CountPrefix(r, "Analyze action=0 state="), 13);
  // No earlier product on the default machine: every conditional step is skipped.
  std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  EXPECT_EQ(UpdateSteps(r), expected);
  for (int skipped : {3, 5, 6, 8, 12, 13, 15, 16}) {
    EXPECT_TRUE(r.HasLine(UpdateLine(0, skipped, 0))) << skipped;
  }
  // The last lines: the end row, the engine stopping, and the window closing.
  ASSERT_GE(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[r.lines.size() - 4], UpdateLine(0, 19, 1));
  EXPECT_EQ(r.lines[r.lines.size() - 3], "setup terminating");
  EXPECT_EQ(r.lines[r.lines.size() - 2], "waiting for input");
  EXPECT_EQ(r.lines.back(), "welcome wnd closed");
}

TEST(StartUp, SkippedStepsNeverChangeTheWindowTexts) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "");
  for (int skipped : {3, 5, 6, 8, 12, 13, 15, 16}) {
    EXPECT_FALSE(r.screen.Showed(English(kUpdateSteps[skipped].headerId))) << skipped;
  }
  EXPECT_TRUE(r.screen.Showed(English(CHECKTEMPDIR)));
  EXPECT_TRUE(r.screen.Showed(English(WELCOMEMSG), English(WELCOMESUB1)));
}

TEST(StartUp, EveryModeRemovesTheResumeValue) {
  for (const char* line : {"", "/c 12 /l 1031", "/ct C:\\Temp\\gone"}) {
    auto machine = MakeMachine(ResumeMachine());
    ASSERT_TRUE(RunValueExists(*machine));
    Rehearse(*machine, line);
    EXPECT_FALSE(RunValueExists(*machine)) << line;
  }
}

TEST(StartUp, CleanupModeAppendsDeletesAndOpensNoWindow) {
  auto machine = MakeMachine(R"({"files": {"C:\\Temp\\Setup Files\\a.txt": {"text": "x"}}})");
  Rehearse(*machine, "");  // an earlier run's log
  Rehearsal r = Rehearse(*machine, "/CT C:\\Temp\\Setup Files");
  EXPECT_EQ(r.run.exitCode, 0);
  int second = r.Find("cleaning up C:\\Temp\\Setup Files");
  ASSERT_GT(second, 4) << "the clean-up run appends to the log";
  EXPECT_EQ(r.Find("background created", second), -1);
  EXPECT_EQ(r.Find("loading D:\\SetupLanguages.xml", second), -1);
  EXPECT_TRUE(r.screen.WindowStates().empty());
  DWORD attributes = 0;
  EXPECT_NE(machine->files().GetAttributes("C:\\Temp\\Setup Files", &attributes),
            static_cast<DWORD>(ERROR_SUCCESS))
      << machine->Describe();
}

TEST(StartUp, ResumeAppendsAndSkipsTheLanguageDialog) {
  auto machine = MakeMachine();
  Rehearse(*machine, "");
  Rehearsal r = Rehearse(*machine, "/c 12 /l 1031");
  int resumed = r.Find("continuing setup after reboot");
  ASSERT_GT(resumed, 4);
  EXPECT_EQ(r.Find("Install language=1031 GERMAN", resumed) > resumed, true);
  for (const ScreenEvent& e : r.screen.events()) {
    EXPECT_NE(e.kind, ScreenEvent::Kind::LanguageDialog);
  }
}

TEST(StepEngine, ResumeRunsTheAnalysisThenContinuesAtTheGivenStep) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/c 12 /l 1031");
  EXPECT_EQ(r.run.exitCode, 0);
  std::vector<int> steps = UpdateSteps(r);
  ASSERT_GE(steps.size(), 2u);
  EXPECT_EQ(steps[0], 0);
  EXPECT_EQ(steps[1], 12) << "the first update line after the analysis is step 12's";
  EXPECT_EQ(CountPrefix(r, "Analyze action=0 state="), 13);
  // The greeting is not asked again.
  EXPECT_FALSE(r.screen.Showed(English(WELCOMEMSG)));
  for (int s : steps) EXPECT_TRUE(s == 0 || s >= 12) << s;
}

TEST(StepEngine, ResumeStepZeroOrNegativeIsANormalStart) {
  for (const char* line : {"/c 0 /l 1033", "/c -5 /l 1033"}) {
    auto machine = MakeMachine();
    Rehearsal r = Rehearse(*machine, line);
    EXPECT_TRUE(r.HasLine("continuing setup after reboot")) << line;
    std::vector<int> steps = UpdateSteps(r);
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[1], 1) << line;
    EXPECT_EQ(steps[2], 2) << line;
  }
}

TEST(StepEngine, ResumeStepPastTheTableEndsTheSetupAsTheLastRowDoes) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/c 25 /l 1033");
  EXPECT_EQ(r.run.exitCode, 0);
  int analysisEnd = r.Find(AnalyzeLine(0, kAnalysisStepCount - 1));
  ASSERT_GE(analysisEnd, 0);
  EXPECT_EQ(r.lines[analysisEnd + 1], UpdateLine(0, 19, 1));
  EXPECT_EQ(r.lines[analysisEnd + 2], "setup terminating");
}

TEST(StepEngine, CancelAtTheGreetingAsksOnlyForOkThenEnds) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/l 1033", "cancel,confirm");
  EXPECT_EQ(r.run.exitCode, kExitUserCancel);
  EXPECT_FALSE(r.run.answersRanOut);
  int cancel = r.Find("cancel");
  ASSERT_GE(cancel, 0);
  EXPECT_EQ(r.lines[cancel + 1], UpdateLine(0, 3, 1));
  int confirm = r.Find("confirm", cancel);
  ASSERT_GT(confirm, cancel);
  EXPECT_EQ(r.lines[confirm + 1], "setup terminating");
  EXPECT_EQ(r.Find(UpdateLine(0, 4, 1)), -1) << "nothing runs after the abort";
  // What the user saw when answering the abort question.
  ScreenState asked = StateAtAnswer(r.screen, 1);
  EXPECT_EQ(asked.header, English(ABORTINSTALL));
  EXPECT_EQ(asked.help, English(ABORTINSTALLHELP));
  EXPECT_EQ(asked.message, "");
  EXPECT_TRUE(asked.confirmVisible);
  EXPECT_FALSE(asked.cancelVisible);
  EXPECT_EQ(asked.confirmCaption, English(OK));
}

TEST(StepEngine, ClosedSetupWindowStopsTheEngine) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/l 1033", "close");
  EXPECT_EQ(r.run.exitCode, kExitUserCancel) << "closed before anything was installed";
  int closed = r.Find("welcome wnd closed");
  ASSERT_GE(closed, 0);
  EXPECT_EQ(r.Find(UpdateLine(0, 4, 1)), -1);
  EXPECT_EQ(CountPrefix(r, "Update action="), 3) << "steps 0, 1 and 2 only";
  EXPECT_FALSE(r.HasLine("setup terminating"));
}

TEST(StepEngine, AnswersRunningOutStopTheRunWithTheScreenShown) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "", "confirm");
  EXPECT_TRUE(r.run.answersRanOut);
  EXPECT_NE(r.run.finalScreen.find(English(WELCOMEMSG)), std::string::npos) << r.run.finalScreen;
}

namespace {
int g_failuresLeft = 0;
int FlakyCheck(CSetupContext&) { return g_failuresLeft-- > 0 ? 0 : 1; }
int Pass(CSetupContext&) { return 1; }
const AnalysisStep kFlakyTable[kAnalysisStepCount] = {
    {&FlakyCheck, CHECKOSVER}, {&Pass, CHECKPROC},       {&Pass, CHECKRAM},
    {&Pass, CHECKVIDEO},       {&Pass, CHECKDISKSPACE},  {&Pass, CHECKMSI},
    {&Pass, CHECKRT},          {&Pass, CHECKDIRECTX},    {&Pass, CHECKMDAC},
    {&Pass, CHECKMEDIAPLAYER}, {&Pass, CHECKNETMEETING}, {&Pass, CHECKZENTAVO},
    {nullptr, ANALYSISCOMPLETE},
};
}  // namespace

TEST(StepEngine, FailingAnalysisCheckShowsAnalyzeErrorAndRetriesEveryTick) {
  auto machine = MakeMachine();
  machine->SetCommandLine("/l 1033");
  ListAnswers answers;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  app.context().UseAnalysisTable(kFlakyTable);
  g_failuresLeft = 2;
  uint64_t start = machine->clock().now();
  app.Run();
  std::vector<std::string> lines = LogLinesOf(*machine);
  int first = -1, count = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == AnalyzeLine(0, 0)) {
      if (first < 0) first = static_cast<int>(i);
      ++count;
    }
  }
  EXPECT_EQ(count, 3) << "two failures, then success";
  EXPECT_EQ(lines[first + 1], AnalyzeLine(0, 0));
  bool shownError = false;
  for (const ScreenState& s : frontEnd.screen().WindowStates()) {
    shownError = shownError || s.message == English(ANALYZEERROR);
  }
  EXPECT_TRUE(shownError);
  EXPECT_GE(machine->clock().now() - start, 15u * 200u) << "one tick of 200 ms per row and retry";
}

namespace {
// Answers confirm, but first lets another program ask Windows to end the session.
class ShutdownDuringGreeting : public AnswerSource {
 public:
  SimFrontEnd* frontEnd = nullptr;
  CSetupApp* app = nullptr;
  bool ownRestart = false;
  bool agreed = true;
  bool asked = false;
  std::optional<Answer> Next(const RecordingScreen&) override {
    if (!asked && app->m_pSetupWnd) {
      asked = true;
      app->SetOwnRestartRequested(ownRestart);
      agreed = frontEnd->SimulateEndSessionRequest();
      app->SetOwnRestartRequested(false);
    }
    return Answer{Answer::Kind::Confirm, 0};
  }
};
}  // namespace

// Runs a whole setup during whose greeting another program asks Windows to
// end the session; returns whether the setup agreed, and the log.
bool ShutdownDuringGreetingRun(bool ownRestart, std::vector<std::string>* lines,
                               int* rebootRequired) {
  auto machine = MakeMachine();
  machine->SetCommandLine("/l 1033");
  ShutdownDuringGreeting answers;
  answers.ownRestart = ownRestart;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  answers.frontEnd = &frontEnd;
  answers.app = &app;
  app.Run();
  *lines = LogLinesOf(*machine);
  *rebootRequired = app.context().rebootRequired;
  return answers.agreed;
}

TEST(EndOfSession, ForeignShutdownIsRefusedAndLeadsToTheRebootStep) {
  std::vector<std::string> lines;
  int rebootRequired = 0;
  EXPECT_FALSE(ShutdownDuringGreetingRun(false, &lines, &rebootRequired));
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("OnQueryEndSession"));
  EXPECT_TRUE(has("OnEndSession(false)"));
  EXPECT_TRUE(has(UpdateLine(0, 16, 1))) << "the REBOOT step runs";
  EXPECT_EQ(rebootRequired, 1);
}

TEST(EndOfSession, RestartTheSetupAskedForItselfIsLetThrough) {
  std::vector<std::string> lines;
  int rebootRequired = 0;
  EXPECT_TRUE(ShutdownDuringGreetingRun(true, &lines, &rebootRequired));
  EXPECT_EQ(rebootRequired, 0);
  EXPECT_EQ(std::find(lines.begin(), lines.end(), UpdateLine(0, 16, 1)), lines.end());
}
