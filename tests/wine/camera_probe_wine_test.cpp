// The camera probe on the real back end under Wine, where there are no USB
// host controllers and the configuration manager's calls are stubs that
// report success without filling their output: the search must end and
// answer "not attached".
#include <gtest/gtest.h>

#include "actions/camera_probe.h"
#include "platform/win32/win32_machine.h"

TEST(CameraProbeOnWindows, MachineWithoutControllersAnswersNotAttached) {
  std::unique_ptr<Machine> machine = NewWin32Machine();
  EXPECT_FALSE(IsCameraAttached(*machine));
  // A second probe asks again from the start and gives the same answer.
  EXPECT_FALSE(IsCameraAttached(*machine));
}
