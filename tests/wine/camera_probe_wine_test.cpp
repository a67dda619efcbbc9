// The camera probe on the real back end under Wine, where there are no USB
// host controllers and the configuration manager's calls are stubs that
// report success without filling their output: the search must end and
// answer "not attached".
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>

#include "actions/camera_probe.h"
#include "platform/win32/win32_machine.h"

TEST(CameraProbeOnWindows, MachineWithoutControllersAnswersNotAttached) {
  std::unique_ptr<Machine> machine = NewWin32Machine();
  EXPECT_FALSE(IsCameraAttached(*machine));
  // A second probe asks again from the start and gives the same answer.
  EXPECT_FALSE(IsCameraAttached(*machine));
}

// A cfgmgr32.dll planted beside the program, which a load by bare name would
// take first, is never the one the probe loads: the configuration manager
// comes from the system folder by its full path.
TEST(CameraProbeOnWindows, TheConfigurationManagerComesFromTheSystemFolder) {
  char folder[MAX_PATH], system[MAX_PATH], loaded[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, folder, MAX_PATH), 0u);
  *(strrchr(folder, '\\') + 1) = '\0';
  const std::string planted = std::string(folder) + "cfgmgr32.dll";
  std::ofstream(planted, std::ios::binary) << "MZ planted";
  {
    std::unique_ptr<Machine> machine = NewWin32Machine();
    // Any call of the configuration manager loads it (the probe itself asks
    // only when there are host controllers, which Wine has none of).
    ZT_DEVINST root = 0;
    (void)machine->devices().LocateRootDevNode(&root);
    HMODULE module = GetModuleHandleA("cfgmgr32.dll");
    ASSERT_NE(module, nullptr);
    ASSERT_GT(GetModuleFileNameA(module, loaded, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
    EXPECT_EQ(CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, loaded,
                             static_cast<int>(strlen(system)), system, -1),
              CSTR_EQUAL)
        << loaded;
  }
  DeleteFileA(planted.c_str());
}
