// The screens of the setup window (ui/screens.h), which the Windows stage
// measures in every language and photographs for the contact sheets: they
// follow the step tables, every question a rehearsal of the example machines
// waits at is one of them, and the transcript names each window state by its
// step and screen.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"
#include "ui/screens.h"

namespace {

TEST(SetupScreens, EveryStepAndCheckHasItsScreenWithTheTablesTexts) {
  std::set<std::string> labels;
  for (const SetupScreen& screen : SetupScreens()) {
    EXPECT_TRUE(labels.insert(ScreenLabel(screen)).second) << "twice: " << ScreenLabel(screen);
    ASSERT_GE(screen.step, 0);
    ASSERT_LT(screen.step, kUpdateStepCount);
    EXPECT_EQ(screen.texts.header, kUpdateSteps[screen.step].headerId) << ScreenLabel(screen);
  }
  for (int step = 1; step < kUpdateStepCount; ++step) {
    ScreenTexts progress;
    progress.header = kUpdateSteps[step].headerId;
    progress.help = kUpdateSteps[step].helpId != 0 ? kUpdateSteps[step].helpId : kScreenNoText;
    const SetupScreen* found = FindScreen(step, progress);
    ASSERT_NE(found, nullptr) << StepName(step);
    EXPECT_EQ(found->name, "progress");
  }
  for (const AnalysisStep& check : kAnalysisSteps) {
    ScreenTexts texts;
    texts.header = ANALYZE;
    texts.help = ANALYZEHELP;
    texts.message = check.textId;
    const SetupScreen* found = FindScreen(0, texts);
    ASSERT_NE(found, nullptr) << kStringKeys[check.textId];
    EXPECT_EQ(ScreenLabel(*found), std::string("step 0 ANALYZE: analysis ") + kStringKeys[check.textId]);
  }
  EXPECT_EQ(StepName(2), "step 2 WELCOMEMSG");
  EXPECT_EQ(StepName(kUpdateStepCount), "step 20");
  // The same step with other texts is not that screen.
  ScreenTexts greeting = FindScreen(2, {WELCOMEMSG, WELCOMESUB1, WELCOMEHELP1, PROCEED, CANCEL})->texts;
  greeting.cancel = kScreenNoText;
  EXPECT_EQ(FindScreen(2, greeting), nullptr);
}

TEST(SetupScreens, MessageBoxesBelongToStepsAndNameTheirTexts) {
  std::set<std::string> labels;
  for (const MessageBoxScreen& box : MessageBoxScreens()) {
    EXPECT_TRUE(labels.insert(ScreenLabel(box)).second) << ScreenLabel(box);
    EXPECT_GE(box.textId, 0);
    EXPECT_LT(box.textId, kStringKeyCount);
    EXPECT_EQ(ScreenLabel(box).rfind(StepName(box.step) + ": box: ", 0), 0u) << ScreenLabel(box);
  }
}

// Every wait of the window in the rehearsals of the example machines (each
// answer taken while the setup window, not a box or the dialog, was in
// front) is a screen of the catalogue, so the contact sheets and the text
// fit check leave none out.
TEST(SetupScreens, EveryWaitOfTheExampleMachinesIsACatalogueScreen) {
  namespace fs = std::filesystem;
  int waits = 0;
  std::set<std::string> seen;
  for (const auto& entry : fs::directory_iterator(ZT_SOURCE_DIR "/docs/machines")) {
    if (entry.path().extension() != ".json") continue;
    const std::string name = entry.path().stem().string();
    for (const char* answers : {"", "cancel,confirm"}) {
      auto machine = ExampleMachine(name);
      Rehearsal r = RehearseAll(*machine, "/l 1033", answers);
      const std::vector<ScreenEvent>& events = r.screen.events();
      for (size_t i = 1; i < events.size(); ++i) {
        if (events[i].kind != ScreenEvent::Kind::Answer ||
            events[i - 1].kind != ScreenEvent::Kind::Window || !events[i - 1].window.windowOpen) {
          continue;
        }
        const ScreenState& state = events[i - 1].window;
        ++waits;
        const std::string label = StateLabel(state);
        seen.insert(label);
        EXPECT_NE(label, StepName(state.step))
            << name << " [" << answers << "] waits at a screen the catalogue lacks:\n"
            << RecordingScreen::Render(state);
      }
    }
  }
  EXPECT_GT(waits, 20);
  EXPECT_TRUE(seen.count("step 2 WELCOMEMSG: greeting"));
  EXPECT_TRUE(seen.count("step 3 ABORTINSTALL: abort question"));
  EXPECT_TRUE(seen.count("step 17 COMPLETE: completion"));
}

TEST(SetupScreens, TheTranscriptNamesEachStateByItsStepAndScreen) {
  auto machine = MakeMachine();
  Rehearsal r = Rehearse(*machine, "/l 1031", "cancel,confirm");
  const std::string transcript = r.screen.Transcript();
  EXPECT_NE(transcript.find(", code page 1252: step 2 WELCOMEMSG: greeting\n"), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find(", code page 1252: step 3 ABORTINSTALL: abort question\n"),
            std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find(", code page 1252: step 0 ANALYZE: analysis CHECKRAM\n"),
            std::string::npos)
      << transcript;
}

TEST(SetupScreens, TheTranscriptNamesAMessageBoxByTheStepBehindIt) {
  // The camera plugged in: Proceed, then Cancel at the camera question.
  auto machine = ExampleMachine("xp-camera-hub");
  Rehearsal r = Rehearse(*machine, "/l 1033", "confirm,cancel,confirm");
  const std::string transcript = r.screen.Transcript();
  EXPECT_NE(transcript.find(", code page 1252: step 7 CONFIRMCAMOFF: camera question\n"),
            std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find(", code page 1252: step 7 CONFIRMCAMOFF\ncaption : setup\n"),
            std::string::npos)
      << transcript;
}

}  // namespace
