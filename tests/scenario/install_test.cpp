// Whole installations on described machines: the product package watched to
// its end and judged by what it left behind, the restarts in the middle and
// at the end with the resume after them, the final steps, and the exit code
// of each way of ending.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "actions/installation.h"
#include "app/exit_codes.h"
#include "app/setup_app.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "platform/sim/sim_diff.h"
#include "support/harness.h"

namespace {

#ifdef ZT_DEMO_MEDIUM_DIR
const char kMedium[] = ZT_DEMO_MEDIUM_DIR;
#else
const char kMedium[] = ZT_SOURCE_DIR "/medium";
#endif

constexpr int kInstallMsiStep = 11;
constexpr int kPreserveStep = 12;
constexpr int kLaunchStep = 14;
constexpr int kRebootStep = 16;
constexpr int kCompleteStep = 17;

const char kUninstallKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsKey[] = "HKCU\\Software\\Corvane\\Zentavo\\Settings";
const char kTcpipKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

// Windows Installer as a described program: it ends with `exitCode` and
// leaves the product registered with its program (version `version`), on
// top of whatever the simulated Windows Installer installs. `extra` adds
// members to the entry.
std::string Installer(int exitCode, const std::string& version = "2.1.240.0",
                      const std::string& extra = "") {
  return R"({"programs": {"msiexec.exe": {"exitCode": )" + std::to_string(exitCode) +
         R"(, "durationMs": 2000)" + extra + R"(, "leaves": {
      "registry": {
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}":
          {"VersionMajor": 2, "VersionMinor": 1},
        "HKCU\\Software\\Corvane\\Zentavo\\Installation": {"InstallDir": "C:\\Program Files\\Zentavo\\"}
      },
      "files": {"C:\\Program Files\\Zentavo\\Zentavo.exe": {"text": "", "version": {"FileVersion": ")" +
         version + R"("}}}}}}})";
}

std::string Merged(const std::string& base, const std::string& overlay) {
  SimJson merged = SimJson::parse(base);
  merged.merge_patch(SimJson::parse(overlay));
  return merged.dump();
}

// Windows 98 SE whose Windows Installer (1.10) is older than the setup needs.
std::unique_ptr<SimMachine> Win98WithOldInstaller(const std::string& overlay = "{}") {
  std::string installer = Merged(Installer(0), R"({"files": {"C:\\WINDOWS\\SYSTEM\\msiexec.exe":
      {"text": "", "version": {"FileVersion": "1.10.1029.0"}}}})");
  return ExampleMachine("win98se", Merged(installer, overlay), "Win98");
}

bool Started(SimMachine& machine, const std::string& commandLine) {
  const std::vector<std::string>& started = machine.simProcesses().startedCommandLines();
  return std::find(started.begin(), started.end(), commandLine) != started.end();
}

bool ProductWindowRuns(SimMachine& machine) {
  for (const SimWindow& window : machine.simDesktop().windows()) {
    if (window.title == "Zentavo" && window.className == kSimProductWindowClass) return true;
  }
  return false;
}

// Asserts that `lines` appear in the log in this order.
void ExpectInOrder(const Rehearsal& r, const std::vector<std::string>& lines) {
  int at = 0;
  for (const std::string& line : lines) {
    int found = r.Find(line, at);
    ASSERT_GE(found, 0) << "missing after line " << at << ": " << line << "\n" << r.run.log;
    at = found + 1;
  }
}

bool ShowedState(const Rehearsal& r, const std::function<bool(const ScreenState&)>& test) {
  for (const ScreenState& state : r.screen.WindowStates()) {
    if (test(state)) return true;
  }
  return false;
}

// A whole first installation on the default machine with the demo medium:
// the simulated Windows Installer installs the stand-in package.
TEST(Installation, FirstInstallationRunsThePackageFinishesAndStartsTheProduct) {
  auto machine = MakeMachine();
  Rehearsal r = RehearseAll(*machine, "");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  ExpectInOrder(r, {UpdateLine(0, kLaunchStep, 1),
                    "launching: C:\\WINDOWS\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress",
                    "Zentavo setup complete - exit code 00000000h",
                    "new Zentavo executable version is 2.1.240.0",
                    UpdateLine(0, kRebootStep, 0),
                    UpdateLine(0, kCompleteStep, 1),
                    "waiting for input",
                    "confirm",
                    "setting default language",
                    "setting value",
                    "launching: C:\\Program Files\\Zentavo\\Zentavo.exe ",
                    UpdateLine(0, 18, 1),
                    "setup terminating"});
  // Windows Installer by its full path, the product's path in quotes.
  EXPECT_TRUE(Started(*machine, "\"C:\\WINDOWS\\system32\\msiexec.exe\" /i \"D:\\Zentavo.msi\" "
                                "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress"));
  EXPECT_TRUE(Started(*machine, "\"C:\\Program Files\\Zentavo\\Zentavo.exe\" "));
  EXPECT_FALSE(r.HasLine("Scheduling forced restart required for NT."));
  EXPECT_FALSE(r.HasLine("temp path is C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\ inst source D:"))
      << "a CD package is never cleaned up";
  // While the package runs, neither button can be pressed.
  EXPECT_TRUE(ShowedState(r, [](const ScreenState& s) {
    return s.header == English(LAUNCHSETUP) && !s.confirmVisible && !s.cancelVisible;
  }));
  EXPECT_TRUE(ShowedState(r, [](const ScreenState& s) {
    return s.header == English(COMPLETE) && s.help == English(COMPLETEHELP) && s.confirmVisible &&
           !s.cancelVisible && s.confirmCaption == English(OK);
  }));
  SimRegistry& registry = machine->simRegistry();
  EXPECT_TRUE(registry.KeyExists(kUninstallKey));
  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Installation", "InstallDir"),
            "C:\\Program Files\\Zentavo\\");
  EXPECT_TRUE(machine->simFiles().IsFile("C:\\Program Files\\Zentavo\\Zentavo.exe"));
  EXPECT_EQ(registry.GetString(kSettingsKey, "Language_Data"), "English US");
  EXPECT_EQ(registry.GetDword(kTcpipKey, "DisableUserTOSSetting"), 0u) << "NT family";
  EXPECT_FALSE(registry.GetString(kRunKey, kResumeValueName));
  EXPECT_TRUE(ProductWindowRuns(*machine)) << machine->Describe();
  EXPECT_EQ(r.run.runs, 1);
}

TEST(Installation, LanguageChoosesTheTransformAndTheProductLanguage) {
  struct Case {
    const char* commandLine;
    const char* transform;
    const char* languageData;
  };
  for (const Case& c : {Case{"/l 2057", "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress", "English UK"},
                        Case{"/l 1031", "TRANSFORMS=\"1031.mst\" REBOOT=ReallySuppress", "Deutsch"}}) {
    auto machine = MakeMachine(Installer(0));
    Rehearsal r = Rehearse(*machine, c.commandLine);
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << c.commandLine;
    EXPECT_TRUE(r.HasLine(std::string("launching: C:\\WINDOWS\\system32\\msiexec.exe /i "
                                      "\"D:\\Zentavo.msi\" ") + c.transform))
        << c.commandLine << "\n" << r.run.log;
    EXPECT_EQ(machine->simRegistry().GetString(kSettingsKey, "Language_Data"), c.languageData);
  }
}

// The installer's exit code decides nothing: what it left behind does.
TEST(Installation, SuccessIsDecidedByTheRegistrationNotByTheExitCode) {
  {
    auto machine = MakeMachine(Installer(1603));
    Rehearsal r = Rehearse(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
    ExpectInOrder(r, {"Zentavo setup complete - exit code 00000643h",
                      "new Zentavo executable version is 2.1.240.0", "setting default language"});
  }
  {
    // Exit code 0, and no product: the package is not on the medium.
    auto machine = MakeMachine(R"({"programs": {"msiexec.exe": {"exitCode": 0}}})");
    machine->simFiles().Remove("D:\\Zentavo.msi");
    machine->ResealMediumManifest();
    Rehearsal r = Rehearse(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitFailure) << r.run.log;
    ExpectInOrder(r, {"Zentavo setup complete - exit code 00000000h",
                      "Zentavo software install failed", "waiting for input", "confirm",
                      "setup terminating"});
    EXPECT_FALSE(r.HasLine(UpdateLine(0, kCompleteStep, 1)));
    EXPECT_TRUE(ShowedState(r, [](const ScreenState& s) {
      return s.header == English(LAUNCHSETUP) && s.message == English(ABORTINSTALL) &&
             s.help == English(ABORTINSTALLHELP) && s.confirmVisible && !s.cancelVisible &&
             s.confirmCaption == English(OK);
    }));
  }
  {
    // Windows Installer cannot be started at all.
    auto machine = MakeMachine(R"({"programs": {"msiexec.exe": {"fails": 5}}})");
    Rehearsal r = Rehearse(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitFailure);
    ExpectInOrder(r, {"CreateProcess failed error=5", "setup terminating"});
  }
}

// A handler on its own: the same program version installed again.
TEST(Installation, TheSameProgramVersionAgainStillSucceeds) {
  auto machine = MakeMachine(Installer(0));
  machine->SetCommandLine("/l 1033");
  ListAnswers answers;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  app.g_languageId = 1033;
  CSetupContext& context = app.context();
  ASSERT_EQ(context.CheckOsVersion(), 1);
  context.previousExeVersion = "2.1.240.0";
  int finished = 0;
  for (int tick = 0; tick < 100 && !finished; ++tick) {
    finished = context.LaunchProductSetup(0);
    machine->clock().Advance(200);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(context.productInstalled, 1);
  EXPECT_EQ(context.rebootRequired, 0) << "Windows XP needs no restart";
  EXPECT_EQ(context.childRunning, 0);
  EXPECT_EQ(machine->simProcesses().openHandleCount(), 0u) << "the finished child is closed";
  std::string log;
  machine->files().ReadFile(app.log().g_strLogPath, &log);
  std::vector<std::string> lines = LogMessages(log);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Zentavo executable has not been updated"),
            lines.end())
      << log;
}

// Windows NT 4.0: the run-time libraries and Windows Installer are installed
// first (no restart: there was no Windows Installer before); the product
// needs a restart, the REBOOT step makes it and the setup completes after it.
TEST(Installation, NtFourRestartsAfterTheInstallationAndCompletesAfterTheResume) {
  auto machine = ExampleMachine("nt4sp6a", Installer(0), "WinNT");
  Rehearsal r = RehearseAll(*machine, "");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess}));
  EXPECT_EQ(r.run.restarts, 1);
  ExpectInOrder(r, {"running a copy of D:\\vcredist.exe", "run-time update install complete",
                    "running a copy of D:\\instmsiw.exe", "Windows Installer update complete",
                    "launching: C:\\WINNT\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress",
                    "new Zentavo executable version is 2.1.240.0",
                    "Scheduling forced restart required for NT.", UpdateLine(0, kRebootStep, 1),
                    "waiting for input", "confirm", "setup terminating", "OnQueryEndSession",
                    "OnEndSession(true)", "continuing setup after reboot",
                    "MSI will not be updated", "run-time libraries will not be updated",
                    UpdateLine(0, kCompleteStep, 1), "setting default language",
                    "launching: C:\\Program Files\\Zentavo\\Zentavo.exe ", "setup terminating"});
  int resumed = r.Find("continuing setup after reboot");
  EXPECT_EQ(r.Find(UpdateLine(0, kLaunchStep, 1), resumed), -1) << "nothing is installed again";
  EXPECT_GT(r.Find("Install language=1033 ENGLISH_US", resumed), resumed);
  // The Run value the REBOOT step wrote started the resumed setup.
  EXPECT_TRUE(Started(*machine, "\"D:\\setup.exe\" /c 17 /l 1033"));
  EXPECT_TRUE(ShowedState(r, [](const ScreenState& s) {
    return s.header == English(REBOOT) && s.help == English(REBOOTFINISHEDHELP) &&
           s.confirmVisible && s.cancelVisible && s.confirmCaption == English(OK) &&
           s.cancelCaption == English(CANCEL);
  }));
  SimRegistry& registry = machine->simRegistry();
  EXPECT_FALSE(registry.GetString(kRunKey, kResumeValueName)) << "start-up removed it";
  EXPECT_EQ(registry.GetString(kSettingsKey, "Language_Data"), "English US");
  EXPECT_EQ(registry.GetDword(kTcpipKey, "DisableUserTOSSetting"), 0u);
  EXPECT_TRUE(ProductWindowRuns(*machine));
}

// Windows 98 SE with Windows Installer 1.10: the update asks for a restart in
// the middle; after it the setup continues at PRESERVEDATA, in the same log.
TEST(Installation, WindowsInstallerUpdateRestartsInTheMiddleAndTheSetupResumes) {
  // Windows starts the resumed setup in the system folder, where another
  // "1033.mst" lies: Windows Installer, started in the setup's folder, still
  // takes the medium's.
  auto machine = Win98WithOldInstaller(std::string(R"({"files": {"C:\\WINDOWS\\SYSTEM\\1033.mst":
      {"hostFile": ")") + kMedium + R"(/1031.mst"}}})");
  Rehearsal r = RehearseAll(*machine, "");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess}));
  ExpectInOrder(r, {"existing MSI version is 1.10.1029.0 (1.20.1827.0 required)",
                    "MSI will be updated", "running a copy of D:\\vcredist.exe",
                    UpdateLine(0, kInstallMsiStep, 1), "running a copy of D:\\instmsia.exe",
                    "Windows Installer update complete", "waiting for input", "confirm",
                    "rebooting system", "setup terminating", "OnQueryEndSession",
                    "OnEndSession(true)", "continuing setup after reboot",
                    "existing MSI version is 2.0.2600.0 (1.20.1827.0 required)",
                    "MSI will not be updated", "run-time libraries will not be updated",
                    UpdateLine(0, kPreserveStep, 0), UpdateLine(0, kLaunchStep, 1),
                    "launching: C:\\WINDOWS\\SYSTEM\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress",
                    UpdateLine(0, kRebootStep, 0), "setting default language",
                    "setup terminating"});
  EXPECT_FALSE(r.HasLine("Scheduling forced restart required for NT."));
  EXPECT_TRUE(Started(*machine, "\"D:\\setup.exe\" /c 12 /l 1033"));
  EXPECT_TRUE(ShowedState(r, [](const ScreenState& s) {
    return s.header == English(INSTALLMSI) && s.message == English(REBOOT) &&
           s.help == English(REBOOTHELP) && s.confirmVisible && !s.cancelVisible;
  }));
  EXPECT_FALSE(machine->simRegistry().KeyExists(kTcpipKey)) << "no type-of-service value on 9x";
  EXPECT_EQ(machine->simRegistry().GetString(kSettingsKey, "Language_Data"), "English US");
  EXPECT_TRUE(ProductWindowRuns(*machine));
  std::map<std::string, std::string> folders;  // program -> the folder it started in
  for (const SimProcess* process : machine->simProcesses().StartedProcesses()) {
    folders[process->program] = process->currentDirectory;
  }
  EXPECT_EQ(folders["D:\\setup.exe"], "C:\\WINDOWS\\SYSTEM") << "resumed from the Run key";
  EXPECT_EQ(folders["C:\\WINDOWS\\SYSTEM\\msiexec.exe"], "D:\\");
  EXPECT_EQ(machine->simRegistry().GetString("HKLM\\Software\\Corvane\\Zentavo", "Language"), "1033")
      << "the package's language comes from the medium's 1033.mst";
}

// A first installation on the XP SP2 example: Windows Installer publishes the
// product and its features and registers its components and upgrade code, as
// the rehearsal's report shows; the product's removal takes it all away.
TEST(Installation, XpInstallationPublishesTheProductAndItsRemovalTakesItAway) {
  auto machine = ExampleMachine("xpsp2");
  ASSERT_TRUE(machine);
  SimRehearsalWatch watch(*machine);
  Rehearsal r = RehearseAll(*machine, "/l 1031");
  ASSERT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  const std::string report = watch.Report(*machine);
  const std::string packed = "02A7C1F3D4B855E49A2CD6E0B1F7A439";
  const std::string userData =
      "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
  const std::string published = "HKLM\\SOFTWARE\\Classes\\Installer\\";
  const std::vector<std::string> lines = {
      "+ key " + published + "Products\\" + packed,
      "+ value " + published + "Products\\" + packed + " \"ProductName\" = REG_SZ \"Zentavo 2.1\"",
      "+ value " + published + "Products\\" + packed + " \"Language\" = REG_DWORD 0x00000407 (1031)",
      "+ value " + published + "Products\\" + packed + " \"AdvertiseFlags\" = REG_DWORD 0x00000184 (388)",
      "+ value " + published + "Products\\" + packed + "\\SourceList \"PackageName\" = REG_SZ \"Zentavo.msi\"",
      "+ value " + published + "Features\\" + packed + " \"Zentavo\" = REG_SZ \"\"",
      "+ value " + published + "UpgradeCodes\\6A3D15E872C0F9B44A8E172DF6C0B5A3 \"" + packed +
          "\" = REG_SZ \"\"",
      "+ key " + userData + "Products\\" + packed + "\\Features",
      "+ value " + userData + "Components\\71E3C0A526B9E8D41B4FC3E7A9026D51 \"" + packed +
          "\" = REG_SZ \"C:\\Program Files\\Zentavo\\Zentavo.exe\"",
  };
  for (const std::string& line : lines) {
    EXPECT_NE(report.find("\n" + line + "\n"), std::string::npos) << line << "\n" << report;
  }
  SimRegistry& registry = machine->simRegistry();
  std::optional<std::string> transforms =
      registry.GetString(published + "Products\\" + packed, "Transforms");
  ASSERT_TRUE(transforms);
  EXPECT_EQ(machine->simFiles().Contents(*transforms), machine->simFiles().Contents("D:\\1031.mst"));
  EXPECT_FALSE(registry.GetString(userData + "Products\\" + packed + "\\InstallProperties", "Transforms"))
      << "the published product names the transforms, not the registration";
  std::optional<std::string> features =
      registry.GetString(userData + "Products\\" + packed + "\\Features", "Zentavo");
  ASSERT_TRUE(features);
  EXPECT_EQ(features->size(), 5u * 20u) << "five components, 20 characters each, no parent";

  // The removal, as an upgrade starts it.
  ProcessInformation info{};
  ASSERT_EQ(machine->processes().CreateProcess(
                "msiexec.exe /x {3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93} /qn", 0x20, &info),
            0u);
  ASSERT_EQ(machine->processes().Wait(info.process, 0xFFFFFFFF), 0u);
  machine->processes().CloseHandle(info.process);
  machine->processes().CloseHandle(info.thread);
  for (const std::string& key :
       {published + "Products\\" + packed, published + "Features\\" + packed,
        published + "UpgradeCodes\\6A3D15E872C0F9B44A8E172DF6C0B5A3", userData + "Products\\" + packed,
        userData + "Components\\71E3C0A526B9E8D41B4FC3E7A9026D51", std::string(kUninstallKey)}) {
    EXPECT_FALSE(registry.KeyExists(key)) << key;
  }
}

// Answers from a list, with a look at the machine before each.
class WatchedAnswers : public AnswerSource {
 public:
  WatchedAnswers(std::vector<Answer> answers, std::function<void(int)> before)
      : list_(std::move(answers)), before_(std::move(before)) {}
  std::optional<Answer> Next(const RecordingScreen& screen) override {
    before_(index_++);
    return list_.Next(screen);
  }

 private:
  ListAnswers list_;
  std::function<void(int)> before_;
  int index_ = 0;
};

TEST(Installation, RefusedRestartOffersTryAgainAndWritesTheResumeValueOnEachPress) {
  auto machine = Win98WithOldInstaller(R"({"restart": "refuse"})");
  machine->SetCommandLine("/l 1033");
  // Proceed, OK on the media player note, restart, try again, close.
  std::vector<Answer> list;
  for (const char* a : {"confirm", "confirm", "confirm", "confirm", "close"}) {
    Answer answer;
    ASSERT_TRUE(Answer::Parse(a, &answer));
    list.push_back(answer);
  }
  bool rewritten = false;
  WatchedAnswers answers(list, [&](int index) {
    // Before trying again the value is gone; the press writes it anew.
    if (index == 3) {
      RegKey run(machine->registry());
      ASSERT_EQ(run.Open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
      ASSERT_EQ(machine->registry().DeleteValue(run.get(), kResumeValueName), ERROR_SUCCESS);
    }
    if (index == 4) rewritten = machine->simRegistry().GetString(kRunKey, kResumeValueName) ==
                                "\"D:\\setup.exe\" /c 12 /l 1033";
  });
  SetupRun run = RunSetupWithRestarts(*machine, answers);
  Rehearsal r;
  r.run = run;
  r.lines = LogMessages(run.log);
  EXPECT_TRUE(rewritten);
  EXPECT_EQ(run.exitCode, kExitUserCancel) << "closed before the product was installed";
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(),
                       "reboot has been denied by another application"),
            2);
  EXPECT_EQ(machine->simProcesses().restartRequests().size(), 2u);
  EXPECT_EQ(run.restarts, 0);
  EXPECT_NE(run.transcript.find(English(CANTREBOOTHELP)), std::string::npos);
  EXPECT_NE(run.transcript.find(English(TRYAGAIN)), std::string::npos);
  EXPECT_FALSE(r.HasLine(UpdateLine(0, kLaunchStep, 1)));
}

// Cancel at the REBOOT step, and a restart that the user may not make: the
// product stays installed, no resume value is written by the cancel, and
// the setup reports the restart still needed.
TEST(Installation, RebootStepThatEndsWithoutARestartReportsTheRestartNeeded) {
  {
    auto machine = ExampleMachine("nt4sp6a", Installer(0), "WinNT");
    Rehearsal r = Rehearse(*machine, "/l 1033", "confirm,cancel,confirm");
    EXPECT_EQ(r.run.exitCode, kExitRestartRequired) << r.run.log;
    ExpectInOrder(r, {UpdateLine(0, kRebootStep, 1), "waiting for input", "cancel",
                      "setup terminating"});
    EXPECT_FALSE(r.HasLine("setting default language")) << "COMPLETE does not run";
    EXPECT_FALSE(machine->simRegistry().GetString(kRunKey, kResumeValueName));
    EXPECT_TRUE(machine->simRegistry().KeyExists(kUninstallKey));
    bool warned = false;
    for (const ScreenEvent& e : r.screen.events()) {
      warned = warned || (e.kind == ScreenEvent::Kind::MessageBox &&
                          e.text == English(REBOOTFINISHEDABORT) && e.style == MB_ICONWARNING);
    }
    EXPECT_TRUE(warned) << r.screen.Transcript();
  }
  {
    auto machine = ExampleMachine(
        "nt4sp6a", Merged(Installer(0), R"({"privileges": {"SeShutdownPrivilege": false}})"),
        "WinNT");
    Rehearsal r = Rehearse(*machine, "/l 1033", "confirm,confirm");
    EXPECT_EQ(r.run.exitCode, kExitRestartRequired) << r.run.log;
    ExpectInOrder(r, {UpdateLine(0, kRebootStep, 1), "confirm",
                      "could not adjust token privileges", "could not reboot system",
                      "setup terminating"});
    EXPECT_TRUE(machine->simProcesses().restartRequests().empty());
  }
}

// Another program asks Windows for a restart while the package runs: the
// setup refuses, adds the REBOOT step, restarts at its end and completes.
TEST(Installation, RestartAskedForByAnotherProgramLeadsToTheRebootStep) {
  auto machine = MakeMachine(Installer(0, "2.1.240.0", R"(, "endSession": {"atMs": 1000})"));
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess}))
      << r.run.log;
  ExpectInOrder(r, {UpdateLine(0, kLaunchStep, 1), "OnQueryEndSession", "OnEndSession(false)",
                    "Zentavo setup complete - exit code 00000000h", UpdateLine(0, kRebootStep, 1),
                    "confirm", "setup terminating", "OnQueryEndSession", "OnEndSession(true)",
                    "continuing setup after reboot", UpdateLine(0, kCompleteStep, 1)});
  EXPECT_TRUE(Started(*machine, "\"D:\\setup.exe\" /c 17 /l 1033"));
}

// A network package unpacked in the temporary folder: the setup copies
// itself there as ztcleanup.exe and starts it in /ct mode, which deletes the
// folder. On Windows 2000 and later the short temporary path is compared in
// its long form; on NT 4.0 it does not match the long setup folder.
TEST(Installation, NetPackageFromTheTemporaryFolderIsCleanedUpByACopy) {
  const char kFolder[] = "C:\\Documents and Settings\\User\\Local Settings\\Temp\\zt net";
  SimJson description = SimJson::parse(Installer(0));
  description["setupProgram"] = std::string(kFolder) + "\\setup.exe";
  auto machine = MakeMachine(description.dump());
  ASSERT_TRUE(machine->simFiles().Put(std::string(kFolder) + "\\setup.ini",
                                      "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                                      "PackageType=Net\r\nTargetOS=Win2K\r\n"));
  machine->ResealMediumManifest();
  {
    // The comparison alone, as on NT 4.0 (no long form).
    ListAnswers answers;
    SimFrontEnd frontEnd(machine->clock(), answers);
    CSetupApp app(*machine, frontEnd);
    app.context().packageIsCD = 0;
    app.context().isWin2000 = 0;
    EXPECT_EQ(app.context().CleanUpTempSource(0), 1);
    std::string log;
    machine->files().ReadFile(app.log().g_strLogPath, &log);
    EXPECT_NE(log.find(std::string("temp path is C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\ inst source ") +
                       kFolder),
              std::string::npos)
        << log;
    EXPECT_TRUE(machine->simProcesses().startedCommandLines().empty());
  }
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitSuccess, kExitSuccess})) << r.run.log;
  // The copy sits in a new folder of its own in the temporary folder.
  const std::string temp = "C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\";
  std::string cleaner;
  for (const std::string& line : r.lines) {
    if (line.rfind("clean-up copy is ", 0) == 0) cleaner = line.substr(17);
  }
  ASSERT_EQ(cleaner.rfind(temp + "ztcl", 0), 0u) << r.run.log;
  ASSERT_EQ(cleaner.size(), temp.size() + 12 + 14) << cleaner;
  const std::string folder = cleaner.substr(0, cleaner.rfind('\\'));
  ExpectInOrder(r, {std::string("temp directory ") + kFolder + " will be cleaned up",
                    "launching: " + cleaner + " /ct " + kFolder, "setup terminating",
                    std::string("cleaning up ") + kFolder,
                    "clean-up copy " + cleaner + " is removed when Windows next starts"});
  EXPECT_TRUE(Started(*machine, "\"" + cleaner + "\" /ct " + kFolder));
  // It started in the system folder, not in the folder it deletes nor in the
  // temporary folder anyone may write; the product in its own folder, which
  // it would otherwise hold while it runs.
  EXPECT_EQ(machine->simProcesses().StartedProcesses().back()->currentDirectory,
            "C:\\WINDOWS\\system32");
  for (const SimProcess* process : machine->simProcesses().StartedProcesses()) {
    if (process->program == "C:\\Program Files\\Zentavo\\Zentavo.exe") {
      EXPECT_EQ(process->currentDirectory, "C:\\Program Files\\Zentavo\\");
    }
  }
  EXPECT_FALSE(machine->simFiles().Exists(kFolder)) << machine->Describe();
  EXPECT_TRUE(machine->simFiles().IsFile(cleaner));
  // The copy and its folder go at the next start of Windows.
  machine->simProcesses().Restart();
  EXPECT_FALSE(machine->simFiles().Exists(cleaner));
  EXPECT_FALSE(machine->simFiles().Exists(folder));

  // Unattended, the log's last line is still the run's exit code: the
  // clean-up copy writes it again after its own lines.
  auto quiet = MakeMachine(description.dump());
  ASSERT_TRUE(quiet->simFiles().Put(std::string(kFolder) + "\\setup.ini",
                                    "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                                    "PackageType=Net\r\nTargetOS=Win2K\r\n"));
  quiet->ResealMediumManifest();
  Rehearsal unattended = RehearseAll(*quiet, "/l 1033 /quiet");
  EXPECT_EQ(unattended.run.exitCodes, (std::vector<int>{kExitSuccess, kExitSuccess}));
  ExpectInOrder(unattended, {"unattended: exit code 0", std::string("cleaning up ") + kFolder,
                             "unattended: exit code 0"});
  EXPECT_EQ(unattended.lines.back(), "unattended: exit code 0");
}

}  // namespace

namespace {

// The names in the temporary folder, long names, sorted.
std::vector<std::string> TempFolderNames(SimMachine& machine) {
  std::vector<std::string> names;
  const SimFile* temp = machine.simFiles().Node(machine.simEnvironment().tempDirectory);
  if (temp == nullptr) return names;
  for (const auto& [folded, child] : temp->children) names.push_back(child->name);
  return names;
}

}  // namespace

// A CD's files are read-only, and so are their copies (CopyFile keeps the
// attribute), as Windows 98's RegSaveKey leaves its hive files read-only,
// hidden and system: the setup clears the attributes of what it made before
// deleting it. What a CD installation and an upgrade leave in the temporary
// folder is the log alone.
TEST(Installation, ACdInstallationLeavesNothingButTheLogInTheTemporaryFolder) {
  struct Case {
    const char* machine;
    const char* overlay;
    const char* targetOs;
    const char* line;  // proof that the case ran what leaves copies
  };
  const Case cases[] = {
      {"win98se", "{}", "Win98", "running a copy of D:\\vcredist.exe"},
      {"win98se-upgrade", "{}", "Win98", "restoring user data"},
      {"xp-upgrade", "{}", "", "restoring user data"},
      {"nt4sp6a", "installer", "WinNT", "running a copy of D:\\instmsiw.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    const bool installer = std::string(c.overlay) == "installer";
    auto machine = ExampleMachine(c.machine, installer ? Installer(0) : c.overlay, c.targetOs);
    ASSERT_TRUE(machine);
    DWORD attributes = 0;
    ASSERT_EQ(machine->simFiles().GetAttributes("D:\\vcredist.exe", &attributes), 0u);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY) << "a CD's file";
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
    EXPECT_TRUE(r.HasLine(c.line)) << r.run.log;
    EXPECT_EQ(TempFolderNames(*machine), std::vector<std::string>{"ZentavoInstall.log"});
  }
}
