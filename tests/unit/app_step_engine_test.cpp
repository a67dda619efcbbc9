// The step engine driven call by call on a started setup: both tables row by
// row, conditions read from the context that runs them, the texts of an
// entered row, the greeting and abort handlers, and the step timer's paths.
#include <gtest/gtest.h>

#include "app/setup_app.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

// A setup started with /l 1033 on the default machine: both windows exist and
// the step timer is armed, but the message loop never runs; tests call the
// engine themselves.
class StartedSetup {
 public:
  StartedSetup() : machine_(MakeMachine()) {
    machine_->SetCommandLine("/l 1033");
    frontEnd_ = std::make_unique<SimFrontEnd>(machine_->clock(), answers_);
    app_ = std::make_unique<CSetupApp>(*machine_, *frontEnd_);
    started_ = app_->InitInstance();
  }
  ~StartedSetup() { app_->ExitInstance(); }

  bool started() const { return started_; }
  CSetupApp& app() { return *app_; }
  CSetupContext& context() { return app_->context(); }
  const ScreenState& screen() { return frontEnd_->screen().current(); }
  // Puts the engine on `step` as if the row before it had just finished.
  void EnterAt(int step) {
    context().currentStep = step;
    context().lastShownStep = step - 1;
  }
  std::vector<std::string> Lines() {
    std::string log, temp;
    machine_->environment().GetTempPath(&temp);
    machine_->files().ReadFile(temp + "\\ZentavoInstall.log", &log);
    return LogMessages(log);
  }
  int Count(const std::string& line) {
    int n = 0;
    for (const std::string& l : Lines()) n += l == line ? 1 : 0;
    return n;
  }

 private:
  std::unique_ptr<SimMachine> machine_;
  ListAnswers answers_;
  std::unique_ptr<SimFrontEnd> frontEnd_;
  std::unique_ptr<CSetupApp> app_;
  bool started_ = false;
};

template <int (CSetupContext::*Member)(int)>
constexpr UpdateHandler Update() {
  return &CallUpdate<Member>;
}
template <int (CSetupContext::*Member)()>
constexpr AnalysisHandler Analysis() {
  return &CallAnalysis<Member>;
}

}  // namespace

TEST(StepTables, UpdateRowsNameTheirHandlerTextsAndCondition) {
  using C = CSetupContext;
  const UpdateStep expected[kUpdateStepCount] = {
      {Update<&C::RunAnalysisStep>(), 3, 5, nullptr},
      {Update<&C::CheckPrerequisites>(), 17, 18, nullptr},
      {Update<&C::ShowGreeting>(), 71, 0, nullptr},
      {Update<&C::ConfirmAbort>(), 0, 1, &C::abortRequested},
      {Update<&C::ContinueStep>(), 22, 23, nullptr},
      {Update<&C::ShutDownRunningApp>(), 61, 62, &C::previousFound},
      {Update<&C::RemoveViewOnly>(), 52, 53, &C::viewOnlyFound},
      {Update<&C::ConfirmCameraOff>(), 30, 31, nullptr},
      {Update<&C::RemoveStartupLinks>(), 54, 55, &C::previousFound},
      {Update<&C::InstallRuntime>(), 58, 59, &C::runtimeUpdateNeeded},
      {Update<&C::NoteMediaPlayer>(), 40, 41, &C::mediaPlayerUpdateNeeded},
      {Update<&C::InstallMsi>(), 33, 34, &C::msiUpdateNeeded},
      {Update<&C::PreserveUserData>(), 45, 46, &C::userDataToKeep},
      {Update<&C::UninstallPrevious>(), 43, 44, &C::upgradeFound},
      {Update<&C::LaunchProductSetup>(), 38, 39, nullptr},
      {Update<&C::RestoreUserData>(), 56, 57, &C::userDataToKeep},
      {Update<&C::ForcedReboot>(), 48, 50, &C::rebootRequired},
      {Update<&C::FinishSetup>(), 28, 29, nullptr},
      {Update<&C::CleanUpTempSource>(), 27, 0, nullptr},
      {nullptr, 28, 0, nullptr},
  };
  for (int s = 0; s < kUpdateStepCount; ++s) {
    EXPECT_TRUE(kUpdateSteps[s].handler == expected[s].handler) << "row " << s;
    EXPECT_EQ(kUpdateSteps[s].headerId, expected[s].headerId) << "row " << s;
    EXPECT_EQ(kUpdateSteps[s].helpId, expected[s].helpId) << "row " << s;
    EXPECT_TRUE(kUpdateSteps[s].condition == expected[s].condition) << "row " << s;
  }
}

TEST(StepTables, AnalysisRowsRunInOrderAndEndWithoutHandler) {
  using C = CSetupContext;
  const AnalysisStep expected[kAnalysisStepCount] = {
      {Analysis<&C::CheckOsVersion>(), 16},   {Analysis<&C::PassCheck>(), 19},
      {Analysis<&C::CheckRam>(), 20},         {Analysis<&C::PassCheck>(), 25},
      {Analysis<&C::PassCheck>(), 11},        {Analysis<&C::CheckMsi>(), 14},
      {Analysis<&C::CheckRuntimeLibraries>(), 21}, {Analysis<&C::PassCheck>(), 10},
      {Analysis<&C::PassCheck>(), 12},        {Analysis<&C::CheckMediaPlayer>(), 13},
      {Analysis<&C::PassCheck>(), 15},        {Analysis<&C::CheckPreviousVersions>(), 24},
      {nullptr, 2},
  };
  for (int r = 0; r < kAnalysisStepCount; ++r) {
    EXPECT_TRUE(kAnalysisSteps[r].handler == expected[r].handler) << "row " << r;
    EXPECT_EQ(kAnalysisSteps[r].textId, expected[r].textId) << "row " << r;
  }
}

// The table is process-wide; its conditions read the context that runs the
// engine, at the moment the engine reaches the row, also after the first call.
TEST(StepTables, ConditionsReadTheRunningContextWhenTheRowIsReached) {
  StartedSetup one, two;
  ASSERT_TRUE(one.started() && two.started());
  one.EnterAt(2);
  EXPECT_EQ(one.context().RunUpdateStep(0), 0);  // the first call: the greeting waits
  for (int s = 0; s < kUpdateStepCount; ++s) {
    if (!kUpdateSteps[s].condition) {
      EXPECT_EQ(ConditionValue(kUpdateSteps[s], one.context()), 1) << s;
      continue;
    }
    int& flag = one.context().*kUpdateSteps[s].condition;
    flag = 0;
    EXPECT_EQ(ConditionValue(kUpdateSteps[s], one.context()), 0) << s;
    flag = 1;
    EXPECT_EQ(ConditionValue(kUpdateSteps[s], one.context()), 1) << s;
    EXPECT_EQ(ConditionValue(kUpdateSteps[s], two.context()), 0) << s;
    flag = 0;
  }
  // A flag set after the first call decides the row when it is reached.
  one.context().abortRequested = 1;
  EXPECT_EQ(one.context().RunUpdateStep(1), 1);
  EXPECT_EQ(one.context().RunUpdateStep(0), 0);
  EXPECT_EQ(one.Lines().back(), UpdateLine(0, 3, 1));
  EXPECT_EQ(one.screen().confirmCaption, English(OK));
  // A skipped row is logged with condition=0 and leaves the window as it was.
  two.EnterAt(3);
  ScreenState before = two.screen();
  EXPECT_EQ(two.context().RunUpdateStep(0), 1);
  EXPECT_EQ(two.Lines().back(), UpdateLine(0, 3, 0));
  EXPECT_EQ(two.context().currentStep, 4);
  EXPECT_EQ(two.context().lastShownStep, 3);
  EXPECT_EQ(two.screen(), before);
}

TEST(UpdateStep, EnteringARowSetsHeaderAndHelpAndEmptiesTheMessageOnce) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  CSetupContext& context = setup.context();
  context.window().SetText(1, WELCOME);
  setup.EnterAt(4);
  EXPECT_EQ(context.RunUpdateStep(0), 1);
  EXPECT_EQ(setup.screen().header, English(CHECKTEMPDIR));
  EXPECT_EQ(setup.screen().help, English(CHECKTEMPDIRHELP));
  EXPECT_EQ(setup.screen().message, "");
  EXPECT_EQ(context.currentStep, 5);
  EXPECT_EQ(context.lastShownStep, 4);

  // Staying on a row (the analysis, one check per call) neither logs the row
  // again nor puts its texts back.
  StartedSetup again;
  ASSERT_TRUE(again.started());
  EXPECT_EQ(again.context().RunUpdateStep(0), 1);
  again.context().window().SetText(0, WELCOME);
  EXPECT_EQ(again.context().RunUpdateStep(0), 1);
  EXPECT_EQ(again.Count(UpdateLine(0, 0, 1)), 1);
  EXPECT_EQ(again.Count(AnalyzeLine(0, 0)), 1);
  EXPECT_EQ(again.Count(AnalyzeLine(0, 1)), 1);
  EXPECT_EQ(again.screen().header, English(WELCOME));
  EXPECT_EQ(again.screen().message, English(CHECKPROC)) << "the message names the check that ran";
}

TEST(UpdateStep, LastRowEmptiesTheHelpAndEndsTheSetup) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  setup.context().window().SetText(2, WELCOMEHELP1);
  setup.EnterAt(19);
  EXPECT_EQ(setup.context().RunUpdateStep(0), 0);
  EXPECT_EQ(setup.screen().header, English(COMPLETE));
  EXPECT_EQ(setup.screen().help, "");
  std::vector<std::string> lines = setup.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], UpdateLine(0, 19, 1));
  EXPECT_EQ(lines.back(), "setup terminating");
  EXPECT_EQ(setup.app().m_bTerminating, 1);
}

TEST(Greeting, FirstInstallOrUpgradeTextsWithProceedAndCancel) {
  struct Case {
    int previousEdition, message, help;
  } cases[] = {{0, WELCOMESUB1, WELCOMEHELP1},
               {2, WELCOMEUPGRADE, WELCOMEUPGRADEHELP},
               {1, WELCOMEUPGRADE, WELCOMEUPGRADEHELP},
               {-1, WELCOMEUPGRADE, WELCOMEUPGRADEHELP}};
  for (const Case& c : cases) {
    StartedSetup setup;
    ASSERT_TRUE(setup.started());
    CSetupContext& context = setup.context();
    context.previousEdition = c.previousEdition;
    setup.EnterAt(2);
    EXPECT_EQ(context.RunUpdateStep(0), 0) << c.previousEdition;
    EXPECT_EQ(context.waitForInput, 1);
    const ScreenState& asked = setup.screen();
    EXPECT_EQ(asked.header, English(WELCOMEMSG));
    EXPECT_EQ(asked.message, English(c.message)) << c.previousEdition;
    EXPECT_EQ(asked.help, English(c.help)) << c.previousEdition;
    EXPECT_EQ(asked.confirmCaption, English(PROCEED));
    EXPECT_EQ(asked.cancelCaption, English(CANCEL));
    EXPECT_TRUE(asked.confirmVisible && asked.cancelVisible);

    // Proceed hides both buttons, empties the message and finishes the step.
    EXPECT_EQ(context.RunUpdateStep(1), 1);
    EXPECT_FALSE(setup.screen().confirmVisible || setup.screen().cancelVisible);
    EXPECT_EQ(setup.screen().message, "");
    EXPECT_EQ(setup.screen().help, English(c.help));
    EXPECT_EQ(context.currentStep, 3);
    EXPECT_EQ(context.abortRequested, 0);
  }
}

// Cancel hides both buttons at once: while the timer runs towards the abort
// question, a second press must not reach that question as its cancel.
TEST(Greeting, CancelAsksForTheAbortWithTheButtonsGone) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  setup.EnterAt(2);
  setup.app().OnStepTimer();
  ASSERT_TRUE(setup.screen().confirmVisible && setup.screen().cancelVisible);
  setup.app().OnCancel();
  EXPECT_EQ(setup.context().abortRequested, 1);
  EXPECT_EQ(setup.context().currentStep, 3);
  EXPECT_NE(setup.app().m_nTimerId, 0u);
  EXPECT_FALSE(setup.screen().confirmVisible);
  EXPECT_FALSE(setup.screen().cancelVisible);
  setup.app().OnStepTimer();
  EXPECT_TRUE(setup.screen().confirmVisible);
  EXPECT_FALSE(setup.screen().cancelVisible);
  EXPECT_EQ(setup.screen().confirmCaption, English(OK));
}

TEST(Greeting, OtherActionsJustFinish) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  CSetupContext& context = setup.context();
  EXPECT_EQ(context.ShowGreeting(2), 1);
  EXPECT_EQ(context.abortRequested, 1);
  context.abortRequested = 0;
  ScreenState before = setup.screen();
  EXPECT_EQ(context.ShowGreeting(3), 1);
  EXPECT_EQ(context.abortRequested, 0);
  EXPECT_EQ(setup.screen(), before);
  EXPECT_EQ(context.ContinueStep(0), 1);
  EXPECT_EQ(context.ContinueStep(7), 1);
}

TEST(ConfirmAbort, OnlyOkIsOfferedAndOkEndsTheSetup) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  CSetupContext& context = setup.context();
  context.window().SetText(1, WELCOMESUB1);
  context.window().ShowCancel(true);
  EXPECT_EQ(context.ConfirmAbort(0), 0);
  EXPECT_EQ(context.waitForInput, 1);
  EXPECT_EQ(setup.screen().message, "");
  EXPECT_TRUE(setup.screen().confirmVisible);
  EXPECT_EQ(setup.screen().confirmCaption, English(OK));
  EXPECT_FALSE(setup.screen().cancelVisible);
  EXPECT_EQ(context.ConfirmAbort(2), 1);
  EXPECT_EQ(setup.app().m_bTerminating, 0);
  EXPECT_EQ(context.ConfirmAbort(1), 0);
  EXPECT_EQ(setup.Lines().back(), "setup terminating");
  EXPECT_EQ(setup.app().m_bTerminating, 1);
  EXPECT_EQ(setup.app().m_nTimerId, 0u);
}

TEST(StepTimer, WaitStopsTheTimerButtonsRearmItAndAClosedWindowStopsIt) {
  StartedSetup setup;
  ASSERT_TRUE(setup.started());
  CSetupApp& app = setup.app();
  EXPECT_NE(app.m_nTimerId, 0u) << "the setup window's creation arms the timer";
  setup.EnterAt(2);
  app.OnStepTimer();
  EXPECT_EQ(setup.Lines().back(), "waiting for input");
  EXPECT_EQ(app.m_nTimerId, 0u);
  app.OnConfirm();
  EXPECT_NE(app.m_nTimerId, 0u);
  EXPECT_EQ(setup.context().currentStep, 3);
  app.OnStepTimer();  // the abort row is skipped
  EXPECT_EQ(setup.context().currentStep, 4);
  EXPECT_NE(app.m_nTimerId, 0u);

  app.m_pSetupWnd->Destroy();
  EXPECT_EQ(setup.Lines().back(), "welcome wnd closed");
  EXPECT_EQ(app.m_bTerminating, 1);
  EXPECT_EQ(app.m_nTimerId, 0u);
  app.OnStepTimer();
  EXPECT_EQ(setup.context().currentStep, 4) << "no step runs after the window closed";
  EXPECT_EQ(setup.Lines().back(), "welcome wnd closed");
}

TEST(StepTimer, AbortConfirmedClosesTheLogWithTheWindowRightAfterTheEnd) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/l 1033", "cancel,confirm");
  ASSERT_GE(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[r.lines.size() - 3], "confirm");
  EXPECT_EQ(r.lines[r.lines.size() - 2], "setup terminating");
  EXPECT_EQ(r.lines.back(), "welcome wnd closed");
}

// A clean-up directory that reaches past the 511 parsed characters would name
// another folder (here the one its cut text names after Windows drops the
// trailing spaces): the run logs it and deletes nothing.
TEST(StartUp, CleanupDirectoryCutByTheLineBufferDeletesNothing) {
  auto machine = MakeMachine(R"({"files": {"C:\\Temp\\keep\\a.txt": {"text": "x"}}})");
  std::string dir = "C:\\Temp\\keep" + std::string(600, ' ') + "\\other";
  Rehearsal r = Rehearse(*machine, "/ct " + dir);
  EXPECT_EQ(r.run.exitCode, 0);
  ASSERT_GE(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[r.lines.size() - 2], "cleaning up " + dir.substr(0, 511 - 4));
  EXPECT_EQ(r.lines.back(), "clean-up directory is too long - nothing deleted");
  EXPECT_TRUE(machine->simFiles().Exists("C:\\Temp\\keep\\a.txt"));
  EXPECT_TRUE(r.screen.WindowStates().empty());
}
