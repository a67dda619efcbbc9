// Upgrades: the earlier editions found and removed, a running product closed
// on the user's word, the installer's windows found, and the user's data
// saved before the 2.x package is removed and put back after.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "actions/previous_versions.h"
#include "actions/running_app.h"
#include "app/exit_codes.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"
#include "unit/analysis_test_support.h"

namespace {

constexpr char kMsiexec[] = "\"C:\\WINDOWS\\system32\\msiexec.exe\" ";
constexpr char kProgramFolder[] = "C:\\Program Files\\Zentavo\\";
constexpr char kSettings[] = "HKCU\\Software\\Corvane\\Zentavo\\Settings";
constexpr char kSpeedDial[] = "HKCU\\Software\\Corvane\\Zentavo\\Speed Dial";
constexpr char kGlobals[] = "HKLM\\Software\\Corvane\\Zentavo";
constexpr char kDirectories[] = "HKLM\\Software\\Corvane\\Zentavo\\WebServer\\Parameters\\Directories";
constexpr char kStartupLink[] =
    "C:\\Documents and Settings\\User\\Start Menu\\Programs\\Startup\\Zentavo.lnk";
constexpr char kDesktopLink[] = "C:\\Documents and Settings\\User\\Desktop\\Zentavo.lnk";

std::string UninstallKey(const char* code) {
  return std::string(R"(HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\)") + code;
}

// An edition's Uninstall key with its version, as a registry member.
std::string Edition(const char* code, int major, int minor) {
  return "\"" + UninstallKey(code) + R"(": {"VersionMajor": )" + std::to_string(major) +
         R"(, "VersionMinor": )" + std::to_string(minor) + "}";
}

// The 2.0 product as a user has it: the program running, the folder, the
// address book and calibration, settings, speed dial, globals and two shortcuts.
constexpr char kProductWindow[] = R"([{"title": "Zentavo", "class": "ZentavoMainWnd",
                "program": "C:\\Program Files\\Zentavo\\Zentavo.exe"}])";

std::string InstalledProduct(const std::string& windows = kProductWindow) {
  return R"({"registry": {)" + Edition(kProduct2xCode, 2, 0) + R"(,
    "HKCU\\Software\\Corvane\\Zentavo\\Installation": {"InstallDir": "C:\\Program Files\\Zentavo\\"},
    "HKCU\\Software\\Corvane\\Zentavo\\Settings": {"Language_Data": "Deutsch", "AutoAnswer": 1,
                                                   "Nickname": "Ada"},
    "HKCU\\Software\\Corvane\\Zentavo\\Speed Dial": {"Entries": 2, "1": "bob@example.org"},
    "HKCU\\Software\\Corvane\\Zentavo\\Speed Dial\\Groups": {"Family": "1"},
    "HKLM\\Software\\Corvane\\Zentavo": {"Version": "2.0.100", "Gatekeeper": "gk.example.org"},
    "HKLM\\Software\\Corvane\\Zentavo\\WebServer\\Parameters": {"Port": 8081},
    "HKLM\\Software\\Corvane\\Zentavo\\WebServer\\Parameters\\Directories": {
      "/": "C:\\Program Files\\Zentavo\\www\\", "/img": "C:\\Program Files\\Zentavo\\www\\img\\"}},
   "files": {
    "C:\\Program Files\\Zentavo\\Zentavo.exe": {"text": "", "version": {"FileVersion": "2.0.100.0"}},
    "C:\\Program Files\\Zentavo\\Zentavo.mdb": {"text": "Bob, Carol, Dan"},
    "C:\\Program Files\\Zentavo\\calibrate.mi": {"text": "white balance 5200K"},
    "C:\\Documents and Settings\\User\\Start Menu\\Programs\\Startup\\Zentavo.lnk": {"text": "link"},
    "C:\\Documents and Settings\\User\\Desktop\\Zentavo.lnk": {"text": "link"}},
   "windows": )" + windows + "}";
}

// The registry below `keyPath` as the machine format writes it, with paths
// relative to that key.
SimJson Tree(SimMachine& machine, const std::string& keyPath) {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::string prefix = lower(keyPath);
  SimJson out = SimJson::object();
  SimJson all = machine.simRegistry().ToJson();
  for (auto it = all.begin(); it != all.end(); ++it) {
    std::string path = lower(it.key());
    if (path == prefix || path.rfind(prefix + "\\", 0) == 0) {
      out[it.key().substr(keyPath.size())] = it.value();
    }
  }
  return out;
}

// What a package removal and the new package's installation leave behind,
// done at once by a stand-in Windows Installer: removing {code} takes the
// 2.x product's files and keys; the new package brings its own.
void InstallNewPackage(SimMachine& machine) {
  SimRegistry& registry = machine.simRegistry();
  SimFileSystem& files = machine.simFiles();
  registry.RemoveTree(kSettings);
  registry.RemoveTree(kSpeedDial);
  registry.RemoveTree(kGlobals);
  files.Delete(std::string(kProgramFolder) + "Zentavo.mdb");
  registry.SetString(kSettings, "Language_Data", "English US");
  registry.SetString(kSettings, "NewOption", "on");
  registry.SetString(kSpeedDial, "Entries", "0");
  registry.SetString(kGlobals, "Version", "2.1.240");
  registry.SetString(kDirectories, "/", "C:\\Program Files\\Zentavo\\web\\");
  registry.SetString(kDirectories, "/img", "C:\\Program Files\\Zentavo\\web\\pictures\\");
  registry.SetValue(UninstallKey(kProduct2xCode), "VersionMinor", REG_DWORD,
                    std::string("\x01\x00\x00\x00", 4));
  files.Put(std::string(kProgramFolder) + "Zentavo.mdb", "empty address book");
}

// Windows Installer stand-in: "/x" of the 2.x line removes it and installs
// the new package in one go; every other call succeeds and changes nothing.
void UseStandInInstaller(SimMachine& machine) {
  machine.simProcesses().RegisterProgram(
      "msiexec.exe", [](SimMachine& m, const SimProcessStart& start) {
        SimProgramRun run;
        run.durationMs = 3000;
        if (start.arguments.find(std::string("/x ") + kProduct2xCode) == 0) {
          run.onExit = [&m] { InstallNewPackage(m); };
        }
        return run;
      });
}

int CountLines(const Rehearsal& r, const std::string& line) {
  int n = 0;
  for (const std::string& l : r.lines) n += l == line ? 1 : 0;
  return n;
}

bool Started(SimMachine& machine, const std::string& commandLine) {
  for (const std::string& line : machine.simProcesses().startedCommandLines()) {
    if (line == commandLine) return true;
  }
  return false;
}

// ---- Whole runs ----

TEST(UpgradeRun, RunningTwoXIsClosedSavedRemovedAndItsDataPutBack) {
  auto machine = MakeMachine(InstalledProduct());
  ASSERT_TRUE(machine);
  UseStandInInstaller(*machine);
  SimJson speedDial = Tree(*machine, kSpeedDial);
  HWND product = machine->desktop().EnumWindows().at(0);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_FALSE(r.run.answersRanOut) << r.run.stopReason;

  int detected = r.Find("Zentavo version 2.0 detected - this version will be updated");
  ASSERT_GE(detected, 0);
  EXPECT_EQ(r.lines[detected + 1], "Zentavo install dir: C:\\Program Files\\Zentavo\\");
  int found = r.Find("Zentavo instance found running", detected);
  int closing = r.Find("shutting down Zentavo application", found);
  int preserving = r.Find("preserving user data", closing);
  int uninstall = r.Find(std::string("launching: C:\\WINDOWS\\system32\\msiexec.exe /x ") +
                         kProduct2xCode + " /q REBOOT=ReallySuppress", preserving);
  int uninstalled = r.Find("uninstall complete - exit code 0x0", uninstall);
  int restoring = r.Find("restoring user data", uninstalled);
  EXPECT_TRUE(found > detected && closing > found && preserving > closing &&
              uninstall > preserving && uninstalled > uninstall && restoring > uninstalled)
      << r.run.log;
  EXPECT_EQ(CountLines(r, "Zentavo instance found running"), 1);
  EXPECT_EQ(r.Find("preserving AddressBook Zentavo.mdb"), preserving + 1);
  EXPECT_TRUE(Started(*machine, kMsiexec + std::string("/x ") + kProduct2xCode + " /q REBOOT=ReallySuppress"));
  for (const char* failed : {"save address book failed", "save calibration failed",
                             "restore address book failed", "restore calibration failed",
                             "read settings value failed", "read globals value failed"}) {
    EXPECT_FALSE(r.HasLine(failed)) << failed;
  }

  // The product was asked to close and went; the shortcuts are gone.
  ASSERT_EQ(machine->simDesktop().postedMessages().size(), 1u);
  EXPECT_EQ(machine->simDesktop().postedMessages()[0].window, product);
  for (HWND open : machine->desktop().EnumWindows()) EXPECT_NE(open, product);
  EXPECT_FALSE(machine->simFiles().Exists(kDesktopLink));
  // The user's data is back where it was.
  EXPECT_EQ(machine->simFiles().Contents(std::string(kProgramFolder) + "Zentavo.mdb"),
            "Bob, Carol, Dan");
  EXPECT_EQ(machine->simFiles().Contents(std::string(kProgramFolder) + "calibrate.mi"),
            "white balance 5200K");
  EXPECT_EQ(machine->simRegistry().GetString(kSettings, "Nickname"), "Ada");
  EXPECT_FALSE(machine->simRegistry().GetString(kSettings, "NewOption"))
      << "on NT the restored key is the saved key";
  EXPECT_EQ(Tree(*machine, kSpeedDial), speedDial);
  EXPECT_EQ(machine->simRegistry().GetString(kGlobals, "Gatekeeper"), "gk.example.org");
  EXPECT_EQ(machine->simRegistry().GetString(kDirectories, "/"),
            "C:\\Program Files\\Zentavo\\web\\");
}

TEST(UpgradeRun, EditionMatrix) {
  struct Case {
    std::string registry;
    std::string detected;
    bool viewOnlyRemoved, twoXRemoved;
  };
  const Case cases[] = {
      {Edition(kViewOnlyProductCode, 1, 5), "Zentavo view-only version 1.5 detected", true, false},
      {Edition(kViewOnlyProductCode, 1, 5) + "," + Edition(kProduct2xCode, 2, 0),
       "Zentavo version 2.0 detected - this version will be updated", true, true},
      {Edition(kProduct1xCode, 1, 2) + "," + Edition(kProduct2xCode, 2, 0),
       "Zentavo version 2.0 detected - this version will be updated", false, true},
      {Edition(kProduct1xCode, 1, 2),
       "Zentavo version 1.2 detected - this version will be removed prior to installing 2.x",
       false, false},
  };
  for (const Case& c : cases) {
    auto machine = MakeMachine("{\"registry\": {" + c.registry + "}}");
    ASSERT_TRUE(machine);
    machine->simProcesses().RegisterProgram("msiexec.exe", [](SimMachine&, const SimProcessStart&) {
      return SimProgramRun{};
    });
    Rehearsal r = Rehearse(*machine, "/l 1033");
    SCOPED_TRACE(c.detected);
    EXPECT_TRUE(r.HasLine(c.detected)) << r.run.log;
    EXPECT_EQ(r.HasLine("removing Zentavo view-only"), c.viewOnlyRemoved);
    EXPECT_EQ(Started(*machine, kMsiexec + std::string("/x ") + kViewOnlyProductCode + " /qn REBOOT=ReallySuppress"),
              c.viewOnlyRemoved);
    EXPECT_EQ(Started(*machine, kMsiexec + std::string("/x ") + kProduct2xCode + " /q REBOOT=ReallySuppress"),
              c.twoXRemoved);
    EXPECT_TRUE(r.HasLine(UpdateLine(0, 12, c.twoXRemoved ? 1 : 0)));
    EXPECT_TRUE(r.HasLine(UpdateLine(0, 5, 1))) << "every edition closes a running product";
    for (const std::string& line : machine->simProcesses().startedCommandLines()) {
      EXPECT_EQ(line.find(kProduct1xCode), std::string::npos) << "no step removes 1.x";
    }
    // The view-only edition, when present, goes before anything else is removed.
    if (c.viewOnlyRemoved && c.twoXRemoved) {
      EXPECT_LT(r.Find("removing Zentavo view-only"), r.Find("preserving user data"));
    }
  }
}

TEST(UpgradeRun, TwoXWithoutInstallationKeyCopiesNoFileFromAnUnknownFolder) {
  auto machine = MakeMachine(InstalledProduct());
  ASSERT_TRUE(machine);
  machine->simRegistry().RemoveTree("HKCU\\Software\\Corvane\\Zentavo\\Installation");
  UseStandInInstaller(*machine);
  // The new package registers its folder again, as the real one does.
  std::string error;
  ASSERT_TRUE(machine->simProcesses().LoadPrograms(
      SimJson::parse(R"({"msiexec.exe": {"leaves": {"registry": {
          "HKCU\\Software\\Corvane\\Zentavo\\Installation": {"InstallDir": "C:\\Program Files\\Zentavo\\"}}}}})"),
      "/programs", &error))
      << error;
  machine->simFiles().Put("C:\\Zentavo.mdb", "someone else's file at the root");
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("Zentavo install dir: "));
  EXPECT_TRUE(r.HasLine("install dir unknown - Zentavo.mdb not copied"));
  EXPECT_TRUE(r.HasLine("save address book failed"));
  EXPECT_TRUE(r.HasLine("restore calibration failed"));
  EXPECT_EQ(machine->simFiles().Contents("C:\\Zentavo.mdb"), "someone else's file at the root");
  // The registry items are still saved and put back.
  EXPECT_TRUE(r.HasLine("restoring user data"));
  EXPECT_EQ(machine->simRegistry().GetString(kSettings, "Nickname"), "Ada");
}

TEST(UpgradeRun, NothingInstalledSkipsEveryUpgradeStep) {
  auto machine = MakeMachine(R"({"windows": [{"title": "Zentavo",
      "program": "C:\\Program Files\\Zentavo\\Zentavo.exe"}]})");
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("no previous version of Zentavo detected"));
  for (int step : {5, 6, 8, 12, 13, 15}) EXPECT_TRUE(r.HasLine(UpdateLine(0, step, 0))) << step;
  // The described window is left alone; the final step starts the product, which opens its own.
  EXPECT_EQ(machine->simDesktop().windows().size(), 2u) << "a product window is left alone";
}

TEST(RunningProduct, OnlyTheProductsOwnWindowIsAskedAbout) {
  auto machine = MakeMachine(InstalledProduct(R"([
      {"title": "Zentavo", "program": "C:\\Program Files\\Zentavo\\Zentavo.exe"},
      {"title": "Zentavo", "class": "Notepad", "program": "C:\\WINDOWS\\notepad.exe"},
      {"title": "ZENTAVO", "program": "C:\\Tools\\Zentavo.exe"},
      {"title": "Zentavo", "program": "C:\\PROGRA~1\\ZENTAVO\\ZENTAVO.EXE"}])"));
  ASSERT_TRUE(machine);
  UseStandInInstaller(*machine);
  HWND first = machine->desktop().EnumWindows().at(0);
  HWND upper = machine->desktop().EnumWindows().at(3);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  // Two product instances: both reported, the last one closed first, then the other.
  EXPECT_EQ(CountLines(r, "Zentavo instance found running"), 3);
  EXPECT_EQ(CountLines(r, "shutting down Zentavo application"), 2);
  const auto& posted = machine->simDesktop().postedMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].window, upper);
  EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_SYSCOMMAND));
  EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>(SC_CLOSE));
  EXPECT_EQ(posted[1].window, first);
  std::vector<std::string> left;
  for (const SimWindow& w : machine->simDesktop().windows()) left.push_back(w.title);
  // In front the product that the final step started, then the two that are not the product.
  EXPECT_EQ(left, (std::vector<std::string>{"Zentavo", "Zentavo", "ZENTAVO"}));
  // The question was shown with OK and Cancel.
  ScreenState asked = StateAtAnswer(r.screen, 1);
  EXPECT_EQ(asked.header, English(SHUTDOWNZT));
  EXPECT_EQ(asked.message, English(ZTRUNNING));
  EXPECT_EQ(asked.help, English(ZTRUNNINGHELP));
  EXPECT_TRUE(asked.confirmVisible && asked.cancelVisible);
  EXPECT_EQ(asked.confirmCaption, English(OK));
}

TEST(RunningProduct, CancelEndsTheSetupAndAProductThatStaysIsAskedAboutAgain) {
  auto machine = MakeMachine(InstalledProduct(R"([{"title": "Zentavo",
      "program": "C:\\Program Files\\Zentavo\\Zentavo.exe", "closesOnRequest": false}])"));
  ASSERT_TRUE(machine);
  // Greeting, OK (the product ignores it), Cancel, the message box.
  Rehearsal r = Rehearse(*machine, "/l 1033", "confirm,confirm,cancel,confirm");
  EXPECT_EQ(r.run.exitCode, kExitUserCancel);
  EXPECT_EQ(CountLines(r, "shutting down Zentavo application"), 1);
  EXPECT_EQ(CountLines(r, "Zentavo instance found running"), 2);
  EXPECT_TRUE(r.HasLine("setup terminating"));
  EXPECT_FALSE(r.HasLine("preserving user data"));
  bool box = false;
  for (const ScreenEvent& e : r.screen.events()) {
    box |= e.kind == ScreenEvent::Kind::MessageBox && e.text == English(ABORTINSTALLHELP);
  }
  EXPECT_TRUE(box);
}

TEST(RunningProduct, ClicksWhileTheSetupWaitsBringTheProductsInstallerDialogForward) {
  auto machine = MakeMachine(R"({"windows": [
      {"title": "Acme Setup", "class": "InstallShield_Win", "program": "C:\\Acme\\setup.exe",
       "button": "Cancel"},
      {"title": "Zentavo 2.1", "class": "MsiDialogCloseClass",
       "program": "C:\\WINDOWS\\system32\\msiexec.exe"}]})");
  ASSERT_TRUE(machine);
  HWND acme = machine->desktop().EnumWindows().at(0);
  HWND dialog = machine->desktop().EnumWindows().at(1);
  // At the greeting: a click on the setup window while another product's
  // installer is open, then that installer is cancelled, then a click on the
  // background; the rehearsal stops there, still at the greeting.
  Rehearsal r = Rehearse(*machine, "/l 1033", "activate=setup,press=Acme Setup,activate=background");
  EXPECT_EQ(r.run.stopReason, "the answers ran out while the setup waited");
  EXPECT_EQ(CountLines(r, "found Zentavo setup dialog"), 1);
  int found = r.Find("found Zentavo setup dialog");
  EXPECT_GT(found, r.Find("waiting for input"));
  EXPECT_EQ(r.Find("confirm", found), -1);
  EXPECT_EQ(r.screen.current().header, English(WELCOMEMSG));
  EXPECT_EQ(machine->simDesktop().activeWindow(), dialog);
  ASSERT_EQ(machine->simDesktop().postedMessages().size(), 1u);
  EXPECT_EQ(machine->simDesktop().postedMessages()[0].window, acme);
  EXPECT_EQ(machine->simDesktop().FindByTitle("Acme Setup"), nullptr);
  EXPECT_NE(r.run.transcript.find("press=Acme Setup"), std::string::npos);

  // A window that is not there stops the rehearsal, as an answer that does not fit.
  machine = MakeMachine();
  r = Rehearse(*machine, "/l 1033", "press=Acme Setup");
  EXPECT_TRUE(r.run.answersRanOut);
  EXPECT_EQ(r.run.stopReason, "answer press=Acme Setup finds no such window");
  machine = MakeMachine(R"({"windows": [{"title": "Zentavo", "program": "C:\\Z\\Zentavo.exe"}]})");
  r = Rehearse(*machine, "/l 1033", "press=Zentavo");
  EXPECT_TRUE(r.run.answersRanOut) << "a window without a default button cannot be pressed";
}

// ---- One operation at a time ----

class UpgradeSteps : public AnalysisTest {
 protected:
  std::string Windows(const std::string& list) { return R"({"windows": )" + list + "}"; }
};

TEST_F(UpgradeSteps, ProgramPathOnEachFamily) {
  const char* window = R"([{"title": "Zentavo", "program": "C:\\Z\\zentavo.EXE"}])";
  Boot(Merge({Windows98SE(), Windows(window)}));
  HWND first = machine().desktop().EnumWindows().at(0);
  std::string path;
  EXPECT_TRUE(GetWindowProgramPath(context(), first, &path));
  EXPECT_EQ(path, "C:\\Z\\zentavo.EXE");
  EXPECT_TRUE(IsRunningProductWindow(context(), first));

  // NT names the process's program through PSAPI from the system folder only.
  Boot(Merge({Windows(window), R"({"files": {"C:\\WINDOWS\\system32\\psapi.dll": null,
                                             "D:\\psapi.dll": {"text": "planted"}}})"}));
  first = machine().desktop().EnumWindows().at(0);
  EXPECT_FALSE(IsRunningProductWindow(context(), first));
  EXPECT_EQ(Log(), std::vector<std::string>{"failed to load PSAPI.dll"});
  EXPECT_EQ(context().ShutDownRunningApp(0), 1);
  Boot(Merge({Windows(window), R"({"psapi": "incomplete"})"}));
  EXPECT_FALSE(IsRunningProductWindow(context(), machine().desktop().EnumWindows().at(0)));
  EXPECT_TRUE(Log().empty());
}

TEST_F(UpgradeSteps, InstallerWindowOfAnotherProductHidesTheProductsDialog) {
  Boot(Windows(R"([{"title": "Acme Setup", "class": "InstallShield_Win", "program": "C:\\a.exe"},
                   {"title": "Zentavo 2.1 Setup", "class": "MsiDialogCloseClass",
                    "program": "C:\\WINDOWS\\system32\\msiexec.exe"}])"));
  EXPECT_EQ(FindProductSetupWindow(context()), nullptr);
  EXPECT_TRUE(Log().empty());

  Boot(Windows(R"([{"title": "Zentavo 2.1 Setup", "class": "MsiDialogCloseClass",
                    "program": "C:\\WINDOWS\\system32\\msiexec.exe"},
                   {"title": "Zentavo", "class": "ZentavoMainWnd", "program": "C:\\z.exe"}])"));
  HWND dialog = machine().desktop().EnumWindows().at(0);
  EXPECT_EQ(FindProductSetupWindow(context()), dialog);
  EXPECT_EQ(Log(), std::vector<std::string>{"found Zentavo setup dialog"});
  // A click on the background or setup window brings the dialog forward.
  EXPECT_TRUE(app().ActivateSetupWindow(nullptr));
  EXPECT_EQ(machine().simDesktop().activeWindow(), dialog);

  Boot(Windows(R"([{"title": "Zentavo", "class": "installshield_win", "program": "C:\\i.exe"},
                   {"class": "MsiDialogCloseClass", "program": "C:\\m.exe"}])"));
  EXPECT_EQ(FindProductSetupWindow(context()), machine().desktop().EnumWindows().at(0));
  EXPECT_EQ(Log(), std::vector<std::string>{"found Zentavo setup background window"});
  Boot(Windows(R"([{"class": "MsiDialogCloseClass", "program": "C:\\m.exe"}])"));
  EXPECT_EQ(FindProductSetupWindow(context()), nullptr);
  EXPECT_EQ(Log(), std::vector<std::string>{"couldn't get window name"});
}

TEST_F(UpgradeSteps, ShortcutsGoOnlyWhereTheirFolderWasRead) {
  Boot(Merge({InstalledProduct(),
              R"({"registry": {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders": {
                    "Desktop": null, "Start Menu": "", "Programs": 7}},
                  "files": {"D:\\Zentavo.lnk": {"text": "not ours"}}})"}));
  std::string link;
  EXPECT_FALSE(GetShellFolderLink(context(), "Desktop", &link));
  EXPECT_FALSE(GetShellFolderLink(context(), "Start Menu", &link));
  EXPECT_FALSE(GetShellFolderLink(context(), "Programs", &link));
  EXPECT_TRUE(link.empty());
  EXPECT_EQ(context().RemoveStartupLinks(0), 1);
  EXPECT_TRUE(files().Exists("D:\\Zentavo.lnk"));
  EXPECT_TRUE(files().Exists(kDesktopLink));
  EXPECT_FALSE(files().Exists(kStartupLink));
}

TEST_F(UpgradeSteps, UpgradeWithoutCalibrationAndASecondOneWithoutSettings) {
  Boot(InstalledProduct());
  files().Delete(std::string(kProgramFolder) + "calibrate.mi");
  ASSERT_EQ(context().CheckPreviousVersions(), 1);
  EXPECT_EQ(context().previousExeVersion, "2.0.100.0");
  EXPECT_EQ(context().PreserveUserData(0), 1);
  EXPECT_TRUE(Logged("copy failed - error 2"));
  EXPECT_TRUE(Logged("save calibration failed"));
  EXPECT_FALSE(Logged("saved Calibration of an earlier upgrade cleared"));
  EXPECT_EQ(machine().simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "Calibration"),
            std::nullopt);
  std::optional<std::string> firstSettings =
      machine().simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "Settings");
  ASSERT_TRUE(firstSettings);
  InstallNewPackage(machine());
  EXPECT_EQ(context().RestoreUserData(0), 1);
  EXPECT_TRUE(Logged("query value Calibration failed"));
  EXPECT_TRUE(Logged("read value failed"));
  EXPECT_TRUE(Logged("restore calibration failed"));
  EXPECT_FALSE(Logged("restore address book failed"));
  EXPECT_EQ(machine().simRegistry().GetString(kSettings, "Nickname"), "Ada");
  // What came back is no longer named, and its hive file is gone.
  EXPECT_EQ(machine().simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "Settings"),
            std::nullopt);
  EXPECT_FALSE(files().Exists(*firstSettings));

  // A later upgrade: the user removed the Settings key meanwhile. The first
  // upgrade's saved Settings must not come back over the new package's.
  machine().simRegistry().RemoveTree(kSettings);
  context().PreserveUserData(0);
  EXPECT_TRUE(Logged("save reg key failed - error 2"));
  InstallNewPackage(machine());
  context().RestoreUserData(0);
  EXPECT_TRUE(Logged("read settings value failed"));
  EXPECT_EQ(machine().simRegistry().GetString(kSettings, "Nickname"), std::nullopt);
  EXPECT_EQ(machine().simRegistry().GetString(kSettings, "NewOption"), "on");
}

TEST_F(UpgradeSteps, NtRestoreReplacesAndKeepsTheNewWebDirectories) {
  Boot(InstalledProduct());
  context().CheckPreviousVersions();
  SimJson settings = Tree(machine(), kSettings);
  SimJson globals = Tree(machine(), kGlobals);
  context().PreserveUserData(0);
  const std::optional<std::string> addressBookCopy =
      machine().simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "AddressBook");
  ASSERT_TRUE(addressBookCopy);
  InstallNewPackage(machine());
  context().RestoreUserData(0);
  EXPECT_EQ(Tree(machine(), kSettings), settings);
  EXPECT_EQ(machine().simRegistry().GetString(kGlobals, "Version"), "2.0.100");
  EXPECT_EQ(machine().simRegistry().GetString(kDirectories, "/"),
            "C:\\Program Files\\Zentavo\\web\\");
  EXPECT_EQ(machine().simRegistry().GetString(kDirectories, "/img"),
            "C:\\Program Files\\Zentavo\\web\\pictures\\");
  globals["\\WebServer\\Parameters\\Directories"] =
      Tree(machine(), kDirectories)[""];
  EXPECT_EQ(Tree(machine(), kGlobals), globals);
  EXPECT_EQ(machine().simRegistry().openKeyCount(), 0u);
  // The temporary copies are gone once they are back, and so are their values.
  EXPECT_FALSE(files().Exists(*addressBookCopy));
  EXPECT_FALSE(machine().simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "AddressBook"));
}

TEST_F(UpgradeSteps, Windows9xMergesTheSavedHiveOverTheNewKeys) {
  Boot(Merge({Windows98SE(), InstalledProduct()}));
  context().CheckPreviousVersions();
  context().PreserveUserData(0);
  InstallNewPackage(machine());
  context().RestoreUserData(0);
  SimRegistry& registry = machine().simRegistry();
  EXPECT_EQ(registry.GetString(kSettings, "Language_Data"), "Deutsch");
  EXPECT_EQ(registry.GetString(kSettings, "Nickname"), "Ada");
  EXPECT_EQ(registry.GetString(kSettings, "NewOption"), "on") << "values only in the new key stay";
  EXPECT_EQ(registry.GetString(std::string(kSpeedDial) + "\\Groups", "Family"), "1");
  EXPECT_EQ(registry.GetString(kGlobals, "Gatekeeper"), "gk.example.org");
  EXPECT_EQ(registry.GetString(kDirectories, "/"), "C:\\Program Files\\Zentavo\\web\\");
  EXPECT_FALSE(registry.KeyExists("HKU\\TEMP_HIVE"));
  EXPECT_FALSE(Logged("LoadRegKey: restore key failed"));
  EXPECT_EQ(registry.openKeyCount(), 0u);
}


// ---- The example machines with the earlier 2.0 build installed ----
//
// docs/machines/xp-upgrade.json and win98se-upgrade.json are what installing
// the stand-in's earlier package (<build>/package/earlier/Zentavo.msi) with
// the simulated Windows Installer leaves on xpsp2.json and win98se.json,
// followed by a user's life with it: an address book, a calibration, own
// settings, speed dial and globals, the Startup shortcut, and the program
// running. The first test makes them again and compares everything but the
// bytes of the cached package (wixl writes a new package id each build); run
// it with ZT_WRITE_EXAMPLES=1 to write them into the source tree.

constexpr char kEarlierPackage[] = "/earlier/Zentavo.msi";

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string ExamplePath(const std::string& name) {
  return std::string(ZT_SOURCE_DIR) + "/docs/machines/" + name + ".json";
}

// Runs a program on the machine to its end; its exit code.
DWORD RunToEnd(SimMachine& machine, const std::string& commandLine) {
  ProcessInformation info;
  DWORD error = machine.processes().CreateProcess(commandLine, 0, &info);
  if (error != ERROR_SUCCESS) return error;
  machine.processes().Wait(info.process, INFINITE);
  DWORD exitCode = 0;
  machine.processes().GetExitCode(info.process, &exitCode);
  machine.processes().CloseHandle(info.process);
  machine.processes().CloseHandle(info.thread);
  return exitCode;
}

// The base machine with the earlier build installed and used.
std::string MakeUpgradeExample(const std::string& base, const std::string& startupFolder,
                               const std::string& windowsInstaller) {
  std::string error;
  SimJson description = SimJson::parse(ReadHost(ExamplePath(base)));
  description["name"] = description["name"].get<std::string>() +
                        ", with Zentavo 2.0 installed, used and running";
  if (!windowsInstaller.empty()) {
    description["files"][windowsInstaller] =
        SimJson::parse(R"({"text": "", "version": {"FileVersion": "2.0.2600.0"}})");
  }
  auto machine = SimMachine::FromJson(description.dump(), base, &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return std::string();
  std::string package = ReadHost(std::string(ZT_PACKAGE_BUILD_DIR) + kEarlierPackage);
  EXPECT_FALSE(package.empty());
  // Installed from its own CD, which is gone again.
  machine->simFiles().Put("D:\\Zentavo.msi", package);
  EXPECT_EQ(RunToEnd(*machine, "msiexec.exe /i D:\\Zentavo.msi /qn"), 0u);
  machine->simFiles().Remove("D:\\Zentavo.msi");

  std::string folder = *machine->simRegistry().GetString(
      "HKCU\\Software\\Corvane\\Zentavo\\Installation", "InstallDir");
  SimRegistry& registry = machine->simRegistry();
  machine->simFiles().Put(folder + "Zentavo.mdb", "Bob 555-0101; Carol 555-0102; Dan 555-0103");
  machine->simFiles().Put(folder + "calibrate.mi", "white balance 5200K; exposure +1");
  registry.SetString(kSettings, "Language_Data", "Deutsch");
  registry.SetString(kSettings, "Nickname", "Ada");
  registry.SetValue(kSettings, "AutoAnswer", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  registry.SetString(kSpeedDial, "1", "bob@example.org");
  registry.SetValue(kSpeedDial, "Entries", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  registry.SetString(std::string(kSpeedDial) + "\\Groups", "Family", "1");
  registry.SetString(kGlobals, "Gatekeeper", "gk.example.org");
  registry.SetValue(std::string(kGlobals) + "\\WebServer\\Parameters", "Port", REG_DWORD,
                    std::string("\x91\x1f\x00\x00", 4));
  machine->simFiles().Put(startupFolder + "\\Zentavo.lnk",
                          "[ZentavoSimShellLink]\r\nTarget=" + folder + "Zentavo.exe\r\n"
                          "WorkingDirectory=" + folder + "\r\nDescription=Shortcut to Zentavo.exe"
                          "\r\nArguments=AutoStart\r\n");
  SimWindow window;
  window.title = "Zentavo";
  window.className = "ZentavoStandInWindow";
  window.program = folder + "Zentavo.exe";
  window.processId = machine->simProcesses().AddRunningProcess(window.program, std::nullopt);
  machine->simDesktop().AddWindow(window);

  return machine->ToJson();
}

// A machine description without the content of its cached packages.
SimJson WithoutCachedPackages(const std::string& text) {
  SimJson description = SimJson::parse(text);
  for (auto it = description["files"].begin(); it != description["files"].end(); ++it) {
    if (it.key().find("\\Installer\\") != std::string::npos) it.value() = nullptr;
  }
  return description;
}

TEST(UpgradeExamples, AreWhatTheEarlierPackageLeavesBehind) {
  struct Example {
    const char* name;
    const char* base;
    const char* startup;
    const char* windowsInstaller;
  };
  const Example examples[] = {
      {"xp-upgrade", "xpsp2", "C:\\Documents and Settings\\User\\Start Menu\\Programs\\Startup",
       ""},
      {"win98se-upgrade", "win98se", "C:\\WINDOWS\\Start Menu\\Programs\\StartUp",
       "C:\\WINDOWS\\SYSTEM\\msiexec.exe"},
  };
  for (const Example& e : examples) {
    std::string made = MakeUpgradeExample(e.base, e.startup, e.windowsInstaller);
    if (getenv("ZT_WRITE_EXAMPLES")) {
      std::ofstream(ExamplePath(e.name), std::ios::binary) << made;
    }
    EXPECT_EQ(WithoutCachedPackages(ReadHost(ExamplePath(e.name))).dump(1),
              WithoutCachedPackages(made).dump(1))
        << "docs/machines/" << e.name << ".json differs from what the earlier package leaves; "
        << "run this test with ZT_WRITE_EXAMPLES=1 to write it again";
  }
}

// An example machine with the demo medium mounted; `setupIni`, when given,
// replaces the medium's setup.ini.
std::unique_ptr<SimMachine> LoadUpgradeExample(const std::string& name,
                                               const char* setupIni = nullptr) {
  std::string error;
  auto machine = SimMachine::FromJson(ReadHost(ExamplePath(name)), name, &error);
  EXPECT_TRUE(machine) << error;
  if (machine) {
    EXPECT_TRUE(machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) << error;
    if (setupIni) machine->simFiles().Put(machine->setupFolder() + "setup.ini", setupIni);
    machine->ResealMediumManifest();
  }
  return machine;
}

// What every upgrade of an example machine must leave: the new version in
// place of the old, and each piece of the user's data where it was.
void ExpectUpgraded(SimMachine& machine, const Rehearsal& r, const SimJson& speedDial,
                    HWND running) {
  SimRegistry& registry = machine.simRegistry();
  const std::string folder = kProgramFolder;
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  EXPECT_EQ(registry.GetString(UninstallKey(kProduct2xCode), "DisplayVersion"), "2.1.240");
  EXPECT_TRUE(r.HasLine("Zentavo version 2.0 detected - this version will be updated"));
  EXPECT_TRUE(r.HasLine("uninstall complete - exit code 0x0"));
  EXPECT_TRUE(r.HasLine("new Zentavo executable version is 2.1.240.0")) << r.run.log;
  // The running copy was closed after the user's OK, before anything was removed.
  ASSERT_FALSE(machine.simDesktop().postedMessages().empty());
  EXPECT_EQ(machine.simDesktop().postedMessages()[0].window, running);
  EXPECT_LT(r.Find("shutting down Zentavo application"), r.Find("preserving user data"));
  for (HWND open : machine.desktop().EnumWindows()) EXPECT_NE(open, running);
  // The new product was started.
  bool started = false;
  for (const std::string& line : machine.simProcesses().startedCommandLines()) {
    started |= line == "\"" + folder + "Zentavo.exe\" ";
  }
  EXPECT_TRUE(started);
  // The user's data.
  EXPECT_EQ(machine.simFiles().Contents(folder + "Zentavo.mdb"),
            "Bob 555-0101; Carol 555-0102; Dan 555-0103");
  EXPECT_EQ(machine.simFiles().Contents(folder + "calibrate.mi"),
            "white balance 5200K; exposure +1");
  EXPECT_EQ(Tree(machine, kSpeedDial), speedDial);
  EXPECT_EQ(registry.GetString(kSettings, "Nickname"), "Ada");
  EXPECT_EQ(registry.GetDword(kSettings, "AutoAnswer"), 1u);
  EXPECT_EQ(registry.GetString(kGlobals, "Gatekeeper"), "gk.example.org");
  EXPECT_EQ(registry.GetDword(std::string(kGlobals) + "\\WebServer\\Parameters", "Port"), 8081u);
  // The language value of the final step wins over the restored one.
  EXPECT_EQ(registry.GetString(kSettings, "Language_Data"), "English US");
  EXPECT_LT(r.Find("restoring user data"), r.Find("setting default language"));
  // The web directories are the new package's.
  EXPECT_EQ(registry.GetString(kDirectories, "/"), folder + "www\\");
  EXPECT_EQ(registry.GetString(kDirectories, "/img"), folder + "www\\img\\");
  for (const char* failed : {"save address book failed", "save calibration failed",
                             "save reg key failed", "restore address book failed",
                             "restore calibration failed", "read settings value failed",
                             "read globals value failed"}) {
    EXPECT_FALSE(r.HasLine(failed)) << failed;
  }
}

TEST(UpgradeExamples, XpUpgradeOfTheRunningEarlierBuild) {
  auto machine = LoadUpgradeExample("xp-upgrade");
  ASSERT_TRUE(machine);
  SimJson speedDial = Tree(*machine, kSpeedDial);
  SimJson settings = Tree(*machine, kSettings);
  HWND running = machine->desktop().EnumWindows().at(0);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  ExpectUpgraded(*machine, r, speedDial, running);
  // On NT the restored Settings key is the saved one; only the language differs.
  settings[""]["Language_Data"] = SimJson::parse(R"("English US")");
  EXPECT_EQ(Tree(*machine, kSettings), settings);
  // The Startup shortcut comes back, the other shortcuts stay removed.
  EXPECT_TRUE(machine->simFiles().Exists(kStartupLink));
}

TEST(UpgradeExamples, Windows98SeUpgradeMergesTheHive) {
  auto machine = LoadUpgradeExample(
      "win98se-upgrade", "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\nTargetOS=Win98\r\n");
  ASSERT_TRUE(machine);
  SimJson speedDial = Tree(*machine, kSpeedDial);
  HWND running = machine->desktop().EnumWindows().at(0);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  ExpectUpgraded(*machine, r, speedDial, running);
  EXPECT_FALSE(machine->simRegistry().KeyExists("HKU\\TEMP_HIVE"));
  EXPECT_TRUE(machine->simFiles().Exists("C:\\WINDOWS\\Start Menu\\Programs\\StartUp\\Zentavo.lnk"));
}

}  // namespace
