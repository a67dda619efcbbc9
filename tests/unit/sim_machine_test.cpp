// The simulated machine as a whole: the default machine, the example
// machines, writing back, versions, processes, windows and COM.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/owners.h"
#include "sim_test_support.h"

namespace {

std::string ReadHost(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SimMachineDefault, IsWindowsXpWithTheComponentsTheSetupLooksFor) {
  auto machine = SimMachine::Default();
  ASSERT_TRUE(machine);
  OsVersion os;
  machine->environment().GetOsVersion(&os);
  EXPECT_EQ(os.platformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(os.majorVersion, 5u);
  EXPECT_EQ(os.minorVersion, 1u);
  EXPECT_EQ(os.buildNumber, 2600u);
  EXPECT_EQ(os.csdVersion, "Service Pack 2");
  EXPECT_EQ(machine->environment().TotalPhysicalMemory(), 268435456u);
  EXPECT_EQ(machine->environment().GetACP(), 1252u);
  std::string temp, longTemp;
  machine->environment().GetTempPath(&temp);
  EXPECT_EQ(temp, "C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\");
  ASSERT_EQ(machine->files().GetLongPathName(temp, &longTemp), 0u);
  EXPECT_EQ(longTemp, "C:\\Documents and Settings\\User\\Local Settings\\Temp\\");
  SimRegistry& reg = machine->simRegistry();
  EXPECT_EQ(reg.GetString("HKLM\\SOFTWARE\\Microsoft\\Internet Explorer", "Version"),
            "6.0.2800.1106");
  auto flash = reg.GetString(
      "HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32", "");
  ASSERT_TRUE(flash);
  std::unique_ptr<VersionResource> resource;
  ASSERT_EQ(machine->versions().GetInfo(*flash, &resource), 0u);
  std::string version;
  ASSERT_TRUE(resource->QueryValue("\\StringFileInfo\\040904B0\\FileVersion", &version));
  EXPECT_EQ(version, "6,0,79,0");
  for (const char* file : {"C:\\WINDOWS\\system32\\msiexec.exe", "C:\\WINDOWS\\system32\\msxml3.dll"}) {
    DWORD error = 0;
    EXPECT_GT(machine->versions().GetInfoSize(file, &error), 0u) << file;
  }
  auto player = reg.GetString(
      "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe", "");
  ASSERT_TRUE(player);
  EXPECT_TRUE(machine->simFiles().Exists(*player));
  EXPECT_TRUE(reg.KeyExists("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
  for (const char* folder : {"Start Menu", "Programs", "Desktop", "Startup"}) {
    auto path = reg.GetString(
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", folder);
    ASSERT_TRUE(path) << folder;
    EXPECT_TRUE(machine->simFiles().IsDirectory(*path)) << *path;
  }
  EXPECT_FALSE(reg.KeyExists("HKLM\\Software\\Corvane"));
  EXPECT_TRUE(machine->simDevices().ToJson().is_null()) << "no camera";
}

TEST(SimMachineExamples, EveryExampleMachineLoadsAndWritesItselfBack) {
  std::filesystem::path dir = std::filesystem::path(ZT_SOURCE_DIR) / "docs" / "machines";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".json") continue;
    ++count;
    std::string error;
    auto machine = SimMachine::FromJson(ReadHost(entry.path()), entry.path().filename().string(),
                                        &error);
    ASSERT_TRUE(machine) << error;
    std::string state = machine->ToJson();
    auto again = SimMachine::FromJson(state, "state", &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->ToJson(), state) << entry.path();
  }
  EXPECT_GE(count, 5);
}

TEST(SimMachineState, WrittenMachineGoesOnWhereTheRunStopped) {
  auto machine = SimFrom(R"({
    "files": {"C:\\Tools\\long.exe": {"text": ""}, "C:\\Tools\\viewer.exe": {"text": ""}},
    "programs": {"long.exe": {"durationMs": 5000, "exitCode": 3}},
    "windows": [{"title": "Viewer", "class": "ViewerWnd", "program": "C:\\Tools\\viewer.exe"}]})");
  ASSERT_TRUE(machine);
  ProcessInformation info;
  ASSERT_EQ(machine->processes().CreateProcess("C:\\Tools\\long.exe /x", 0, &info), 0u);
  machine->processes().CloseHandle(info.thread);
  machine->processes().CloseHandle(info.process);
  machine->clock().Advance(2000);
  std::string state = machine->ToJson();
  EXPECT_NE(state.find("\"remainingMs\": 3000"), std::string::npos) << state;
  EXPECT_NE(state.find("\"tickCount\": 3602000"), std::string::npos) << state;
  auto again = SimFrom(state);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ToJson(), state);
  EXPECT_TRUE(again->simProcesses().IsRunning(info.processId));
  again->clock().Advance(3000);
  EXPECT_FALSE(again->simProcesses().IsRunning(info.processId));
  ASSERT_EQ(again->simDesktop().windows().size(), 1u);
  EXPECT_EQ(again->simDesktop().windows()[0].title, "Viewer");
}

TEST(SimMachineState, UsbSectionIsReadWrittenBackAndItsErrorsNameTheirPointer) {
  EXPECT_EQ(SimError(R"({"usb": []})"), "test.json: /usb: must be an object");
  EXPECT_EQ(SimError(R"({"usb": {"controllers": [{"number": 1}, {"number": 1}]}})"),
            "test.json: /usb/controllers/1/number: HCD1 is described twice");
  auto machine = SimFrom(
      R"({"usb": {"controllers": [{"number": 0, "driverKey": "k", "rootHub": "R"}],
                  "hubs": {"R": {"ports": [{"vendorId": 1, "productId": 2}]}}}})");
  ASSERT_TRUE(machine);
  std::string state = machine->ToJson();
  EXPECT_NE(state.find("\"usb\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"driverKey\": \"k\""), std::string::npos) << state;
  auto again = SimFrom(state);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ToJson(), state);
  auto none = SimFrom(R"({"usb": null})");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->ToJson().find("\"usb\""), std::string::npos);
}

TEST(SimVersions, ResourcesAnswerAsVerQueryValue) {
  auto machine = SimFrom(R"({"files": {
    "C:\\a.dll": {"text": "", "version": {"translations": ["040904b0", "04070000"],
                  "strings": {"040904E4": {"FileVersion": "1.2.3.4"}}}},
    "C:\\none.dll": {"text": ""}}})");
  ASSERT_TRUE(machine);
  VersionInfo& versions = machine->versions();
  DWORD error = 0;
  EXPECT_EQ(versions.GetInfoSize("C:\\none.dll", &error), 0u);
  EXPECT_EQ(error, 1813u);
  EXPECT_EQ(versions.GetInfoSize("C:\\missing.dll", &error), 0u);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_GT(versions.GetInfoSize("C:\\a.dll", &error), 0u);
  std::unique_ptr<VersionResource> resource;
  ASSERT_EQ(versions.GetInfo("C:\\a.dll", &resource), 0u);
  std::string value;
  ASSERT_TRUE(resource->QueryValue("\\VarFileInfo\\Translation", &value));
  EXPECT_EQ(value, std::string("\x09\x04\xb0\x04\x07\x04\x00\x00", 8));
  EXPECT_FALSE(resource->QueryValue("\\StringFileInfo\\040904b0\\FileVersion", &value));
  ASSERT_TRUE(resource->QueryValue("\\StringFileInfo\\040904e4\\fileversion", &value));
  EXPECT_EQ(value, "1.2.3.4");
  ASSERT_TRUE(resource->QueryValue("\\", &value));
  ASSERT_EQ(value.size(), 52u);
  EXPECT_EQ(value.substr(8, 8), std::string("\x02\x00\x01\x00\x04\x00\x03\x00", 8));
}

TEST(SimProcesses, ProgramsAreFoundRunForTheirTimeAndAreRecorded) {
  auto machine = SimFrom(R"({
    "files": {"C:\\WINDOWS\\system32\\msiexec.exe": {"text": ""},
              "C:\\Program Files\\App\\app.exe": {"text": ""},
              "D:\\broken.exe": {"text": ""}},
    "programs": {"msiexec.exe": {"durationMs": 3000, "exitCode": 1641},
                 "d:\\broken.exe": {"fails": 193}}})");
  ASSERT_TRUE(machine);
  Processes& processes = machine->processes();
  ProcessInformation info;
  ASSERT_EQ(processes.CreateProcess("msiexec.exe /i \"D:\\Zentavo.msi\"", 0x20, &info), 0u);
  UniqueProcessHandle process(processes, info.process), thread(processes, info.thread);
  DWORD code = 0;
  ASSERT_EQ(processes.GetExitCode(info.process, &code), 0u);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  machine->clock().Advance(2999);
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(processes.Wait(info.process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(processes.Wait(info.process, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(machine->clock().now(), 3000u);
  processes.GetExitCode(info.process, &code);
  EXPECT_EQ(code, 1641u);

  ProcessInformation other;
  EXPECT_EQ(processes.CreateProcess("C:\\Program Files\\App\\app.exe -quiet", 0, &other), 0u)
      << "an unquoted path with blanks is tried word by word";
  processes.CloseHandle(other.process);
  processes.CloseHandle(other.thread);
  EXPECT_EQ(processes.CreateProcess("\"D:\\broken.exe\"", 0, &other), 193u);
  EXPECT_EQ(processes.CreateProcess("D:\\absent.exe", 0, &other),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(machine->simProcesses().startedCommandLines(),
            (std::vector<std::string>{"msiexec.exe /i \"D:\\Zentavo.msi\"",
                                      "C:\\Program Files\\App\\app.exe -quiet"}));
  process.reset();
  thread.reset();
  EXPECT_EQ(machine->simProcesses().openHandleCount(), 0u);
}

TEST(SimProcesses, RegisteredBehaviourActsOnTheMachineWhenItEnds) {
  auto machine = SimFrom(R"({"files": {"D:\\vcredist.exe": {"text": ""}}})");
  ASSERT_TRUE(machine);
  std::string seenArguments;
  machine->simProcesses().RegisterProgram(
      "VCREDIST.EXE", [&seenArguments](SimMachine& m, const SimProcessStart& start) {
        seenArguments = start.arguments;
        SimProgramRun run;
        run.durationMs = 100;
        run.onExit = [&m] { m.simRegistry().SetString("HKLM\\SOFTWARE\\Runtime", "Done", "1"); };
        return run;
      });
  ProcessInformation info;
  ASSERT_EQ(machine->processes().CreateProcess("D:\\vcredist.exe /q:a /c:\"x\"", 0, &info), 0u);
  EXPECT_EQ(seenArguments, "/q:a /c:\"x\"");
  EXPECT_FALSE(machine->simRegistry().KeyExists("HKLM\\SOFTWARE\\Runtime"));
  EXPECT_EQ(machine->processes().Wait(info.process, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(machine->simRegistry().GetString("HKLM\\SOFTWARE\\Runtime", "Done"), "1");
  machine->processes().CloseHandle(info.process);
  machine->processes().CloseHandle(info.thread);
}

TEST(SimProcesses, PrivilegesRestartAndPsapi) {
  auto machine = SimFrom(R"({"privileges": {"SeBackupPrivilege": false}, "restart": "refuse"})");
  ASSERT_TRUE(machine);
  Processes& processes = machine->processes();
  DWORD adjust = 99;
  EXPECT_EQ(processes.EnablePrivilege("SeBackupPrivilege", &adjust), 0u);
  EXPECT_EQ(adjust, static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_EQ(processes.ExitWindows(EWX_REBOOT, 0), 1314u) << "no shutdown privilege enabled yet";
  EXPECT_EQ(processes.EnablePrivilege("SeShutdownPrivilege", &adjust), 0u);
  EXPECT_EQ(adjust, 0u);
  EXPECT_NE(processes.ExitWindows(EWX_REBOOT, 0), 0u) << "refused";
  EXPECT_FALSE(machine->simProcesses().restartAccepted());
  EXPECT_EQ(machine->simProcesses().restartRequests().size(), 2u);
  std::string path;
  EXPECT_EQ(processes.GetProcessImagePath(1234, &path), static_cast<DWORD>(ERROR_MOD_NOT_FOUND))
      << "no psapi.dll in the system folder";

  auto win98 = SimFrom(R"({"os": {"platformId": 1, "major": 4, "minor": 10}, "restart": "accept"})");
  ASSERT_TRUE(win98);
  EXPECT_EQ(win98->processes().EnablePrivilege("SeShutdownPrivilege", &adjust), 120u);
  EXPECT_EQ(win98->processes().ExitWindows(EWX_REBOOT, 0), 0u);
  EXPECT_TRUE(win98->simProcesses().restartAccepted());
}

TEST(SimDesktop, WindowsCloseOnRequestAndTheirProcessEnds) {
  auto machine = SimFrom(R"({
    "files": {"C:\\WINDOWS\\system32\\psapi.dll": {"text": ""}},
    "windows": [{"title": "Zentavo", "class": "ZentavoMain", "program": "C:\\Zentavo\\Zentavo.exe",
                 "processId": 2000, "closeDelayMs": 500},
                {"title": "Stubborn", "class": "Other", "program": "C:\\Other\\other.exe",
                 "closesOnRequest": false}]})");
  ASSERT_TRUE(machine);
  Desktop& desktop = machine->desktop();
  std::vector<HWND> windows = desktop.EnumWindows();
  ASSERT_EQ(windows.size(), 2u);
  HWND product = desktop.FindWindow("zentavomain");
  ASSERT_EQ(product, windows[0]);
  std::string title;
  EXPECT_TRUE(desktop.GetWindowText(product, &title, 4));
  EXPECT_EQ(title, "Zen");
  DWORD processId = 0;
  EXPECT_NE(desktop.GetWindowThreadProcessId(product, &processId), 0u);
  EXPECT_EQ(processId, 2000u);
  std::string path;
  ASSERT_EQ(machine->processes().GetProcessImagePath(processId, &path), 0u);
  EXPECT_EQ(path, "C:\\Zentavo\\Zentavo.exe");
  EXPECT_FALSE(desktop.GetWindowModuleFileName(product, &path)) << "NT names only its own windows";

  EXPECT_TRUE(desktop.PostMessage(windows[1], WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_TRUE(desktop.PostMessage(product, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(desktop.EnumWindows().size(), 2u) << "closing takes 500 ms";
  machine->clock().Advance(500);
  EXPECT_EQ(desktop.EnumWindows(), std::vector<HWND>{windows[1]});
  EXPECT_FALSE(machine->simProcesses().IsRunning(2000));
  EXPECT_EQ(machine->processes().GetProcessImagePath(2000, &path),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(desktop.PostMessage(product, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(desktop.FindWindow("ZentavoMain"), nullptr);
  EXPECT_EQ(machine->simDesktop().postedMessages().size(), 2u);
}

TEST(SimCom, RegistrationNeedsComAndWritesTheLibrarysKeys) {
  auto machine = SimFrom(R"({"files": {
    "C:\\WINDOWS\\system32\\good.ocx": {"text": "", "library": {
        "registers": {"HKCR\\CLSID\\{X}\\InprocServer32": {"": "%MODULE%"}}}},
    "C:\\WINDOWS\\system32\\failing.dll": {"text": "", "library": {"registerResult": "0x80004005"}},
    "C:\\WINDOWS\\system32\\noexport.dll": {"text": "", "library": {"exports": []}},
    "C:\\WINDOWS\\system32\\missingdep.dll": {"text": "", "library": {"loadError": 126}},
    "C:\\WINDOWS\\system32\\plain.txt": {"text": ""}}})");
  ASSERT_TRUE(machine);
  Com& com = machine->com();
  HMODULE module = nullptr;
  EXPECT_EQ(com.LoadLibraryEx("C:\\WINDOWS\\system32\\absent.dll", LOAD_WITH_ALTERED_SEARCH_PATH,
                              &module),
            static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(com.LoadLibraryEx("C:\\WINDOWS\\system32\\plain.txt", 0, &module), 193u);
  EXPECT_EQ(com.LoadLibraryEx("C:\\WINDOWS\\system32\\missingdep.dll", 0, &module), 126u);
  {
    UniqueLibrary library(com);
    ASSERT_EQ(com.LoadLibraryEx("noexport.dll", 0, library.put()), 0u);
    EXPECT_FALSE(com.HasExport(library.get(), "DllRegisterServer"));
  }
  UniqueLibrary good(com);
  ASSERT_EQ(com.LoadLibraryEx("C:\\WINDOWS\\system32\\good.ocx", 0, good.put()), 0u);
  ASSERT_TRUE(com.HasExport(good.get(), "DllRegisterServer"));
  EXPECT_TRUE(FAILED(com.CallDllRegisterServer(good.get()))) << "COM is not initialised";
  EXPECT_EQ(com.OleInitialize(), S_OK);
  EXPECT_EQ(com.CallDllRegisterServer(good.get()), S_OK);
  EXPECT_EQ(machine->simRegistry().GetString("HKCR\\CLSID\\{X}\\InprocServer32", ""),
            "C:\\WINDOWS\\system32\\good.ocx");
  UniqueLibrary failing(com);
  ASSERT_EQ(com.LoadLibraryEx("C:\\WINDOWS\\system32\\failing.dll", 0, failing.put()), 0u);
  EXPECT_EQ(com.CallDllRegisterServer(failing.get()), E_FAIL);
  com.OleUninitialize();
  good.reset();
  failing.reset();
  EXPECT_EQ(machine->simCom().loadedLibraryCount(), 0u);
  EXPECT_EQ(machine->simCom().coInitializeDepth(), 0);
  EXPECT_EQ(machine->simCom().oleInitializeDepth(), 0);
}

TEST(SimCom, ShellLinksAreTextFilesTheTestsCanRead) {
  auto machine = SimFrom(R"({"files": {"C:\\Links\\": {}}})");
  ASSERT_TRUE(machine);
  Com& com = machine->com();
  EXPECT_EQ(com.CreateShellLink("C:\\p.exe", "C:\\", "d", "", u"C:\\Links\\a.lnk"),
            static_cast<HRESULT>(0x800401F0));
  EXPECT_EQ(com.CoInitialize(), S_OK);
  EXPECT_EQ(com.CoInitialize(), S_FALSE);
  ASSERT_EQ(com.CreateShellLink("C:\\Zentavo\\Zentavo.exe", "C:\\Zentavo", "Zentavo", "/min",
                                u"C:\\Links\\Zentavo.lnk"),
            S_OK);
  EXPECT_EQ(com.CreateShellLink("x", "y", "z", "", u"C:\\Nowhere\\a.lnk"), HRESULT_FROM_WIN32(3));
  std::string target, arguments;
  machine->files().GetPrivateProfileString("ZentavoSimShellLink", "Target", "", &target, 260,
                                           "C:\\Links\\Zentavo.lnk");
  machine->files().GetPrivateProfileString("ZentavoSimShellLink", "Arguments", "", &arguments,
                                           260, "C:\\Links\\Zentavo.lnk");
  EXPECT_EQ(target, "C:\\Zentavo\\Zentavo.exe");
  EXPECT_EQ(arguments, "/min");
  com.CoUninitialize();
  com.CoUninitialize();
  EXPECT_EQ(machine->simCom().coInitializeDepth(), 0);
}

}  // namespace

TEST(SimMachineHostFiles, OnlyOrdinaryFilesOfTheHostAreTakenIn) {
  std::string error;
  EXPECT_FALSE(SimMachine::FromJson(R"({"files": {"C:\\x.bin": {"hostFile": "/dev/zero"}}})",
                                    "dev.json", &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(SimMachine::FromJson(R"({"files": {"C:\\x.bin": {"hostFile": "/no/such/file"}}})",
                                    "missing.json", &error));
  EXPECT_NE(error.find("/files/C:\\x.bin/hostFile"), std::string::npos) << error;
}
