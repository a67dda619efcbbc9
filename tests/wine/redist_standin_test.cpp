// The stand-in redistributables of the Windows media (medium/src/redist/) on
// the real system: each ends with the code the simulation's stand-in gives it
// on this platform (the other family's Windows Installer 1633, else 0),
// honours /q (nothing waits for an answer) and notes its run in
// %TEMP%\redist.log. vcredist.exe is left out: it would put its files into
// the system folder before the stage's installations look at it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  DWORD code = 0;
  bool ended = false;
};

Outcome Start(const std::string& program, const std::string& arguments) {
  std::string line = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  Outcome run;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return run;
  }
  run.ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  if (!run.ended) TerminateProcess(process.hProcess, 1);
  GetExitCodeProcess(process.hProcess, &run.code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

std::string TempLog() {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  return std::string(path) + "redist.log";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RedistStandIns, EndWithTheSimulationsCodesForThisPlatform) {
  OSVERSIONINFOA os = {};
  os.dwOSVersionInfoSize = sizeof os;
  ASSERT_TRUE(GetVersionExA(&os));
  const bool nt = os.dwPlatformId == VER_PLATFORM_WIN32_NT;
  struct {
    const char* program;
    DWORD onNt;
    DWORD on9x;
  } const cases[] = {
      {"instmsia.exe", 1633, 0},
      {"instmsiw.exe", 0, 1633},
  };
  for (const auto& c : cases) {
    DeleteFileA(TempLog().c_str());
    Outcome run = Start(std::string(ZT_REDIST_DIR_WINDOWS) + "\\" + c.program, "/q /r:n");
    ASSERT_TRUE(run.ended) << c.program << " ends by itself with /q";
    EXPECT_EQ(run.code, nt ? c.onNt : c.on9x) << c.program;
    std::string log = ReadAll(TempLog());
    EXPECT_NE(log.find(std::string(c.program) + " /q /r:n: "), std::string::npos) << log;
    EXPECT_NE(log.find("exit " + std::to_string(run.code)), std::string::npos) << log;
  }
  DeleteFileA(TempLog().c_str());
}

}  // namespace
