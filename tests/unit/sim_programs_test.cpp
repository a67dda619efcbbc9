// Described programs of the simulated machine: what an entry of "programs"
// adds to a program (the traces it leaves, its window, a session request),
// and the redistributables every machine knows.
#include <gtest/gtest.h>

#include "platform/owners.h"
#include "platform/sim/sim_machine.h"

namespace {

std::unique_ptr<SimMachine> SimFrom(const std::string& json, std::string* error = nullptr) {
  std::string problem;
  auto machine = SimMachine::FromJson(json, "test", &problem);
  if (error) *error = problem;
  return machine;
}

const char kTool[] = R"({
  "files": {"D:\\tool.exe": {"text": ""}},
  "programs": {"tool.exe": {
    "window": {"title": "Tool", "class": "ToolClass"},
    "leaves": {"files": {"C:\\Tool\\done.txt": {"text": "ran"}},
               "registry": {"HKLM\\Software\\Tool": {"Ran": 1}}},
    "endSession": {"atMs": 500}}}})";

TEST(SimPrograms, DescribedProgramOpensItsWindowAsksForARestartAndLeavesItsTraces) {
  auto machine = SimFrom(kTool);
  ASSERT_TRUE(machine);
  // Written back as described: loading the description again gives the same text.
  auto again = SimFrom(machine->ToJson());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ToJson(), machine->ToJson());

  SimProcesses& processes = machine->simProcesses();
  ProcessInformation info;
  ASSERT_EQ(processes.CreateProcess("D:\\tool.exe /now", 0x20, &info), 0u);
  UniqueProcessHandle process(processes, info.process), thread(processes, info.thread);
  HWND window = machine->desktop().FindWindow("toolclass");
  ASSERT_NE(window, nullptr);
  DWORD owner = 0;
  machine->desktop().GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, info.processId);
  EXPECT_EQ(processes.NextSessionRequestAt(), 500u);
  EXPECT_FALSE(processes.TakeSessionRequest(499));
  std::optional<SimSessionRequest> request = processes.TakeSessionRequest(500);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->requester, "D:\\tool.exe");

  // With a window and no duration it runs until the window closes.
  machine->clock().Advance(60000);
  DWORD code = 0;
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(machine->simFiles().Exists("C:\\Tool\\done.txt")) << "traces come at its end";
  machine->desktop().PostMessage(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(machine->simFiles().Contents("C:\\Tool\\done.txt"), "ran");
  EXPECT_EQ(machine->simRegistry().GetDword("HKLM\\Software\\Tool", "Ran"), 1u);
}

TEST(SimPrograms, EntrySetsExitCodeAndDurationWhileTheBehaviourStillRuns) {
  auto machine = SimFrom(R"({
    "os": {"platformId": 1, "major": 4, "minor": 10, "build": 67766446},
    "directories": {"system": "C:\\WINDOWS\\SYSTEM"},
    "files": {"D:\\instmsia.exe": {"text": ""}, "D:\\instmsiw.exe": {"text": ""},
              "C:\\WINDOWS\\SYSTEM\\msiexec.exe": {"text": "", "version": {"FileVersion": "1.10.1029.0"}}},
    "programs": {"instmsia.exe": {"exitCode": 3010, "durationMs": 100}}})");
  ASSERT_TRUE(machine);
  Processes& processes = machine->processes();
  ProcessInformation info;
  ASSERT_EQ(processes.CreateProcess("\"D:\\instmsia.exe\" /q /r:n", 0x20, &info), 0u);
  EXPECT_EQ(processes.Wait(info.process, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(machine->clock().now(), 100u);
  DWORD code = 0;
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, 3010u);
  const SimFile* msiexec = machine->simFiles().Node("C:\\WINDOWS\\SYSTEM\\msiexec.exe");
  ASSERT_TRUE(msiexec);
  EXPECT_EQ(msiexec->version["FileVersion"], "2.0.2600.0");
  EXPECT_TRUE(machine->simFiles().IsFile("C:\\WINDOWS\\SYSTEM\\msi.dll"));
  processes.CloseHandle(info.process);
  processes.CloseHandle(info.thread);

  // The NT family's redistributable refuses Windows 98.
  ASSERT_EQ(processes.CreateProcess("\"D:\\instmsiw.exe\" /q /r:n", 0x20, &info), 0u);
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, 1633u);
  processes.CloseHandle(info.process);
  processes.CloseHandle(info.thread);
}

TEST(SimPrograms, BadEntriesAreRefusedWithTheirPlace) {
  std::string error;
  EXPECT_FALSE(SimFrom(R"({"programs": {"a.exe": {"endSession": {}}}})", &error));
  EXPECT_EQ(error, "test: /programs/a.exe/endSession: \"atMs\" is required");
  EXPECT_FALSE(SimFrom(R"({"programs": {"a.exe": {"leaves": {"files": {"relative.txt": {}}}}}})",
                       &error));
  EXPECT_NE(error.find("/programs/a.exe/leaves/files/relative.txt"), std::string::npos) << error;
  EXPECT_FALSE(SimFrom(R"({"programs": {"a.exe": {"window": {"titel": "x"}}}})", &error));
  EXPECT_NE(error.find("/programs/a.exe/window"), std::string::npos) << error;
}

}  // namespace

// Where each Windows takes a started program's libraries from: the known
// libraries (and, on 2000 and XP, msvcrt.dll that they import) from the
// system folder; on XP comctl32.dll of the setup (its Common Controls 6.0
// manifest) from WinSxS; then the program's folder; then the current folder
// before the system folder unless SafeDllSearchMode is on (its value, else
// XP SP2 and later). The program is a copy of the setup in a folder of its
// own, started with C:\TEMP as its current folder, where comctl32.dll and
// msvcrt.dll are planted.
TEST(SimPrograms, LibrarySearchFollowsEachWindowsVersion) {
  struct Case {
    const char* what;
    const char* os;
    const char* safeDllSearchMode;  // the Session Manager's value, "" for none
    const char* loaded;             // the planted libraries that load, in import order
  };
  const Case cases[] = {
      {"Windows 98 SE", R"({"platformId": 1, "major": 4, "minor": 10, "build": 67766446})", "",
       "comctl32.dll msvcrt.dll"},
      {"NT 4.0", R"({"platformId": 2, "major": 4, "minor": 0, "build": 1381})", "",
       "comctl32.dll msvcrt.dll"},
      {"2000 SP4", R"({"platformId": 2, "major": 5, "minor": 0, "build": 2195,
         "servicePack": "Service Pack 4"})", "", "comctl32.dll"},
      {"2000 SP4, SafeDllSearchMode 1", R"({"platformId": 2, "major": 5, "minor": 0, "build": 2195,
         "servicePack": "Service Pack 4"})", "1", ""},
      {"XP SP1", R"({"platformId": 2, "major": 5, "minor": 1, "build": 2600,
         "servicePack": "Service Pack 1"})", "", ""},
      {"XP SP2", R"({"platformId": 2, "major": 5, "minor": 1, "build": 2600,
         "servicePack": "Service Pack 2"})", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string registry = "{}";
    if (*c.safeDllSearchMode) {
      registry = std::string(R"({"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager":
          {"SafeDllSearchMode": )") + c.safeDllSearchMode + "}}";
    }
    auto machine = SimFrom(std::string(R"({"os": )") + c.os + R"(, "registry": )" + registry +
                           R"(, "files": {
        "C:\\TEMP\\ztcl0001\\ztcleanup.exe": {"text": "MZ"},
        "C:\\TEMP\\comctl32.dll": {"text": "MZ planted"},
        "C:\\TEMP\\msvcrt.dll": {"text": "MZ planted"},
        "C:\\Elsewhere\\comctl32.dll": {"text": "MZ planted"}}})");
    ASSERT_TRUE(machine);
    SimProcesses& processes = machine->simProcesses();
    std::string loaded;
    for (const char* current : {"C:\\TEMP\\", "C:\\Elsewhere"}) {
      ProcessInformation info;
      ASSERT_EQ(processes.CreateProcess("\"C:\\TEMP\\ztcl0001\\ztcleanup.exe\" /ct x", 0x20, &info,
                                        current),
                0u);
      UniqueProcessHandle process(processes, info.process), thread(processes, info.thread);
      if (std::string(current) != "C:\\TEMP\\") continue;
      for (const SimLibraryLoad& load : processes.libraryLoads()) {
        loaded += (loaded.empty() ? "" : " ") + load.library.substr(load.library.rfind('\\') + 1);
      }
    }
    EXPECT_EQ(loaded, c.loaded);
    // From another current folder, only what lies there.
    size_t elsewhere = 0;
    for (const SimLibraryLoad& load : processes.libraryLoads()) {
      elsewhere += load.library.rfind("C:\\Elsewhere\\", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(elsewhere, std::string(c.loaded).find("comctl32") != std::string::npos ? 1u : 0u);
  }
}
