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
