// The step that asks the user to unplug the camera, in whole simulated runs:
// no camera, a camera unplugged before OK, a camera still attached after OK,
// and Cancel.
#include <gtest/gtest.h>

#include <optional>

#include "actions/camera_probe.h"
#include "app/exit_codes.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

constexpr int kCameraStep = 7;

// The default machine with the camera on port 2 of HCD1's root hub.
const char* const kCameraMachine = R"({"usb": {
  "controllers": [
    {"number": 1, "driverKey": "{36FC9E60-C465-11CF-8056-444553540000}\\0001",
     "description": "Standard OpenHCD USB Host Controller", "rootHub": "USB#ROOT_HUB#4&1"}
  ],
  "hubs": {"USB#ROOT_HUB#4&1": {"ports": [null, {"vendorId": "0x0F3A", "productId": 1}]}}
}})";

// Confirms every wait but the one that asks for the camera to be unplugged:
// there the user unplugs it or not, and answers `answer`. Keeps the screen
// as it stood when the question was asked.
class CameraUser : public AnswerSource {
 public:
  CameraUser(SimMachine& machine, bool unplug, Answer::Kind answer)
      : machine_(machine), unplug_(unplug), answer_(answer) {}
  std::optional<Answer> Next(const RecordingScreen& screen) override {
    Answer answer;
    if (!asked && screen.current().message == English(TURNOFFCAM)) {
      asked = screen.current();
      if (unplug_) {
        unplugged = machine_.simDevices().SetDeviceConnectionStatus(kCameraVendorId,
                                                                     kCameraProductId, 0) > 0;
      }
      answer.kind = answer_;
    }
    return answer;
  }
  std::optional<ScreenState> asked;
  bool unplugged = false;

 private:
  SimMachine& machine_;
  bool unplug_;
  Answer::Kind answer_;
};

Rehearsal RehearseWith(SimMachine& machine, AnswerSource& user) {
  machine.SetCommandLine("/l 1033");
  Rehearsal r;
  r.run = RunSetupOnce(machine, user, nullptr, &r.screen);
  r.lines = LogMessages(r.run.log);
  return r;
}

// True when the log shows the update step `step` running with any action.
bool StepRan(const Rehearsal& r, int step) {
  for (int action = 0; action <= 2; ++action) {
    for (int condition = 0; condition <= 1; ++condition) {
      if (r.HasLine(UpdateLine(action, step, condition))) return true;
    }
  }
  return false;
}

std::vector<const ScreenEvent*> MessageBoxes(const Rehearsal& r) {
  std::vector<const ScreenEvent*> boxes;
  for (const ScreenEvent& event : r.screen.events()) {
    if (event.kind == ScreenEvent::Kind::MessageBox) boxes.push_back(&event);
  }
  return boxes;
}

// The setup ended at the camera step: the one abort message box, the
// terminating line, no later step, and every device handle closed.
void ExpectSetupEndedAtTheCameraStep(SimMachine& machine, const Rehearsal& r) {
  EXPECT_TRUE(r.HasLine("setup terminating")) << r.run.log;
  EXPECT_FALSE(StepRan(r, kCameraStep + 1)) << r.run.log;
  EXPECT_EQ(machine.simDevices().openHandleCount(), 0);
  std::vector<const ScreenEvent*> boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u) << r.run.transcript;
  EXPECT_EQ(boxes[0]->text, English(ABORTINSTALLHELP));
  EXPECT_EQ(boxes[0]->style, static_cast<UINT>(MB_ICONINFORMATION));
}

// The screen that asks for the camera to be unplugged: the camera texts and
// both buttons.
void ExpectAskedToUnplug(const CameraUser& user) {
  ASSERT_TRUE(user.asked);
  EXPECT_EQ(user.asked->help, English(TURNCAMOFFMSG));
  EXPECT_EQ(user.asked->confirmCaption, English(OK));
  EXPECT_EQ(user.asked->cancelCaption, English(CANCEL));
  EXPECT_TRUE(user.asked->confirmVisible);
  EXPECT_TRUE(user.asked->cancelVisible);
}

TEST(CameraStep, WithoutTheCameraTheStepPassesWithoutAWord) {
  auto machine = MakeMachine();
  ASSERT_TRUE(machine);
  CameraUser user(*machine, false, Answer::Kind::Cancel);
  Rehearsal r = RehearseWith(*machine, user);
  EXPECT_TRUE(StepRan(r, kCameraStep)) << r.run.log;
  EXPECT_FALSE(r.HasLine("Zentavo camera is on"));
  EXPECT_FALSE(user.asked);
  EXPECT_TRUE(MessageBoxes(r).empty());
  EXPECT_TRUE(StepRan(r, kCameraStep + 1)) << "the installation goes on";
  // The probe's own trace goes to the debugger, never to the log.
  EXPECT_EQ(machine->simDevices().debugOutput(),
            "Could not find USB Host Controller with Zentavo camera connected.\n");
  EXPECT_FALSE(r.HasLine("Could not find USB Host Controller with Zentavo camera connected."));
}

TEST(CameraStep, CameraUnpluggedBeforeOkLetsTheInstallationGoOn) {
  auto machine = MakeMachine(kCameraMachine);
  ASSERT_TRUE(machine);
  CameraUser user(*machine, true, Answer::Kind::Confirm);
  Rehearsal r = RehearseWith(*machine, user);
  EXPECT_TRUE(r.HasLine("Zentavo camera is on")) << r.run.log;
  ExpectAskedToUnplug(user);
  EXPECT_TRUE(user.unplugged);
  EXPECT_TRUE(MessageBoxes(r).empty()) << r.run.transcript;
  EXPECT_TRUE(StepRan(r, kCameraStep + 1)) << r.run.log;
  EXPECT_TRUE(StepRan(r, kUpdateStepCount - 1)) << r.run.log;
  EXPECT_EQ(machine->simDevices().openHandleCount(), 0);
}

TEST(CameraStep, CameraStillAttachedAfterOkEndsTheSetup) {
  auto machine = MakeMachine(kCameraMachine);
  ASSERT_TRUE(machine);
  CameraUser user(*machine, false, Answer::Kind::Confirm);
  Rehearsal r = RehearseWith(*machine, user);
  EXPECT_TRUE(r.HasLine("Zentavo camera is on")) << r.run.log;
  ExpectAskedToUnplug(user);
  ExpectSetupEndedAtTheCameraStep(*machine, r);
  EXPECT_EQ(r.run.exitCode, kExitUserCancel);
  // A probe that finds the camera leaves no trace in the debugger output.
  EXPECT_EQ(machine->simDevices().debugOutput(), "");
}

TEST(CameraStep, CancelEndsTheSetupEvenWhenTheCameraIsGone) {
  auto machine = MakeMachine(kCameraMachine);
  ASSERT_TRUE(machine);
  CameraUser user(*machine, true, Answer::Kind::Cancel);
  Rehearsal r = RehearseWith(*machine, user);
  EXPECT_TRUE(r.HasLine("Zentavo camera is on")) << r.run.log;
  ExpectAskedToUnplug(user);
  EXPECT_TRUE(user.unplugged);
  ExpectSetupEndedAtTheCameraStep(*machine, r);
}

}  // namespace
