// Unattended installations rehearsed on described machines with no answers
// at all: /quiet shows nothing, /passive shows the progress and takes no
// answer, /norestart leaves the restart to the next start of Windows, /log
// writes the log elsewhere; and the command lines of before keep their
// meaning.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "actions/installation.h"
#include "app/exit_codes.h"
#include "app/setup_app.h"
#include "lang/language_strings.h"
#include "support/harness.h"
#include "ui/resource_text.h"

namespace {

constexpr int kGreetingStep = 2;
constexpr int kRunningProductStep = 5;
constexpr int kInstallMsiStep = 11;
constexpr int kPreserveStep = 12;
constexpr int kLaunchStep = 14;
constexpr int kCompleteStep = 17;

const char kUninstallKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kSettingsKey[] = "HKCU\\Software\\Corvane\\Zentavo\\Settings";
const char kUsualLog[] = "C:\\Documents and Settings\\User\\Local Settings\\Temp\\ZentavoInstall.log";

// Windows 98 SE whose Windows Installer (1.10) must be updated, with a restart.
std::unique_ptr<SimMachine> Win98WithOldInstaller() {
  return ExampleMachine("win98se", R"({"files": {"C:\\WINDOWS\\SYSTEM\\msiexec.exe":
      {"text": "", "version": {"FileVersion": "1.10.1029.0"}}}})", "Win98");
}

// A whole rehearsal with an empty list of answers: any wait of the setup,
// box or dialog would stop it with the answers run out.
Rehearsal Unattended(SimMachine& machine, const std::string& commandLine) {
  machine.SetCommandLine(commandLine);
  ListAnswers none{std::vector<Answer>()};
  Rehearsal r;
  r.run = RunSetupWithRestarts(machine, none, [&r](const ScreenEvent& e) { r.screen.Record(e); });
  r.lines = LogMessages(r.run.log);
  return r;
}

void ExpectInOrder(const Rehearsal& r, const std::vector<std::string>& lines) {
  int at = 0;
  for (const std::string& line : lines) {
    int found = r.Find(line, at);
    ASSERT_GE(found, 0) << "missing after line " << at << ": " << line << "\n" << r.run.log;
    at = found + 1;
  }
}

int Count(const Rehearsal& r, ScreenEvent::Kind kind) {
  return static_cast<int>(std::count_if(r.screen.events().begin(), r.screen.events().end(),
                                        [kind](const ScreenEvent& e) { return e.kind == kind; }));
}

int CountPrefix(const Rehearsal& r, const std::string& prefix) {
  return static_cast<int>(std::count_if(r.lines.begin(), r.lines.end(), [&](const std::string& l) {
    return l.rfind(prefix, 0) == 0;
  }));
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

// Nothing reached the screen: no window state, box, dialog or answer; the
// two windows existed hidden.
void ExpectNothingShown(const Rehearsal& r) {
  EXPECT_EQ(Count(r, ScreenEvent::Kind::Window), 0) << r.screen.Transcript();
  EXPECT_EQ(Count(r, ScreenEvent::Kind::MessageBox), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::LanguageDialog), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::Answer), 0);
  EXPECT_NE(r.run.transcript.find("--- setup window never shown, created hidden at t="),
            std::string::npos)
      << r.run.transcript;
  EXPECT_NE(r.run.transcript.find("--- background window never shown"), std::string::npos);
  EXPECT_FALSE(r.run.answersRanOut) << r.run.stopReason;
}

}  // namespace

// The default machine, nobody at the screen: the language is the system's,
// every question gets its answer in the log, the product is installed
// without Windows Installer's own dialogs and is not started.
TEST(Unattended, QuietFirstInstallationShowsNothingAndEndsWithZero) {
  auto machine = MakeMachine();
  Rehearsal r = Unattended(*machine, "/quiet");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log << r.run.stopReason;
  EXPECT_EQ(r.run.runs, 1);
  ExpectNothingShown(r);
  ExpectInOrder(r, {"unattended: quiet installation - nothing is shown", "system language: 0409",
                    "unattended: language 1033, the language dialog's choice for this system",
                    "Install language=1033 ENGLISH_US",
                    "movie D:\\install.swf not played - quiet installation", "background created",
                    UpdateLine(0, kGreetingStep, 1), "unattended: the greeting proceeds",
                    UpdateLine(0, kLaunchStep, 1),
                    "launching: C:\\WINDOWS\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress /qn",
                    "new Zentavo executable version is 2.1.240.0", UpdateLine(0, kCompleteStep, 1),
                    "unattended: the installation is complete - OK", "setting default language",
                    "setting value", "unattended: the product is not started",
                    "setup terminating"});
  EXPECT_FALSE(r.HasLine("confirm"));
  EXPECT_EQ(r.Find("waiting for input"), r.Find("setup terminating") + 1)
      << "only the engine's end, as in every run";
  EXPECT_FALSE(r.HasLine("launching: C:\\Program Files\\Zentavo\\Zentavo.exe "));
  SimRegistry& registry = machine->simRegistry();
  EXPECT_TRUE(registry.KeyExists(kUninstallKey));
  EXPECT_EQ(registry.GetString(kSettingsKey, "Language_Data"), "English US");
  EXPECT_FALSE(registry.GetString(kRunKey, kResumeValueName));
  EXPECT_FALSE(ProductWindowRuns(*machine));
  // No window of Windows Installer's either.
  EXPECT_TRUE(Started(*machine, "\"C:\\WINDOWS\\system32\\msiexec.exe\" /i \"D:\\Zentavo.msi\" "
                                "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress /qn"));
  EXPECT_TRUE(machine->simDesktop().windows().empty());
}

// The upgrade of the example XP machine, Zentavo 2.0 running: it is closed
// without a question, the user's data comes back, 2.1 is installed.
TEST(Unattended, QuietUpgradeClosesTheRunningProduct) {
  auto machine = ExampleMachine("xp-upgrade");
  ASSERT_TRUE(machine);
  Rehearsal r = Unattended(*machine, "/Q /l 1031");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  ExpectNothingShown(r);
  ExpectInOrder(r, {"unattended: language 1031 from the command line",
                    "Install language=1031 GERMAN",
                    "Zentavo version 2.0 detected - this version will be updated",
                    "unattended: the greeting proceeds", UpdateLine(0, kRunningProductStep, 1),
                    "Zentavo instance found running", "unattended: the running Zentavo is closed",
                    "shutting down Zentavo application", UpdateLine(0, kPreserveStep, 1),
                    "launching: C:\\WINDOWS\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1031.mst\" REBOOT=ReallySuppress /qn",
                    "restoring user data", "unattended: the product is not started",
                    "setup terminating"});
  EXPECT_EQ(CountPrefix(r, "Zentavo instance found running"), 1);
  EXPECT_FALSE(r.HasLine("system language: 0409")) << "/l decides, the system is not asked";
  SimRegistry& registry = machine->simRegistry();
  EXPECT_EQ(registry.GetString(kUninstallKey, "DisplayVersion"), "2.1.240");
  EXPECT_EQ(registry.GetString(kSettingsKey, "Language_Data"), "Deutsch");
  std::string book;
  ASSERT_EQ(machine->files().ReadFile("C:\\Program Files\\Zentavo\\Zentavo.mdb", &book),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(book, "Bob 555-0101; Carol 555-0102; Dan 555-0103");
  EXPECT_FALSE(ProductWindowRuns(*machine)) << "closed, and not started again";
}

// A running product that ignores the request to close: instead of asking
// again the run ends with 1603 before anything is removed.
TEST(Unattended, QuietUpgradeWithAProductThatDoesNotCloseEndsWith1603) {
  auto machine = ExampleMachine("xp-upgrade", R"({"windows": [{"title": "Zentavo",
      "class": "ZentavoStandInWindow", "program": "C:\\Program Files\\Zentavo\\Zentavo.exe",
      "processId": 1028, "closesOnRequest": false}]})");
  ASSERT_TRUE(machine);
  Rehearsal r = Unattended(*machine, "/quiet");
  EXPECT_EQ(r.run.exitCode, kExitFailure) << r.run.log;
  ExpectNothingShown(r);
  ExpectInOrder(r, {"Zentavo instance found running", "unattended: the running Zentavo is closed",
                    "shutting down Zentavo application", "Zentavo instance found running",
                    "unattended: Zentavo is still running - ending with 1603",
                    "setup terminating"});
  EXPECT_EQ(CountPrefix(r, "shutting down Zentavo application"), 1);
  EXPECT_FALSE(r.HasLine("preserving user data"));
  EXPECT_EQ(machine->simRegistry().GetString(kUninstallKey, "DisplayVersion"), "2.0.180");
  EXPECT_TRUE(ProductWindowRuns(*machine)) << "the product runs on, untouched";
}

// /norestart where Windows Installer must be updated: the run ends with
// 3010 and no restart is asked for; the resume value carries the switches,
// and the next start of Windows completes the installation quietly.
TEST(Unattended, NoRestartEndsWith3010AndTheNextStartCompletesQuietly) {
  auto machine = Win98WithOldInstaller();
  ASSERT_TRUE(machine);
  Rehearsal first = Unattended(*machine, "/quiet /norestart");
  EXPECT_EQ(first.run.exitCode, kExitRestartRequired) << first.run.log;
  EXPECT_EQ(first.run.restarts, 0);
  ExpectNothingShown(first);
  ExpectInOrder(first, {"unattended: Windows is not restarted (/norestart)",
                        UpdateLine(0, kInstallMsiStep, 1), "running a copy of D:\\instmsia.exe",
                        "Windows Installer update complete",
                        "unattended: a restart is needed and not made (/norestart)",
                        "setup terminating"});
  EXPECT_FALSE(first.HasLine("rebooting system"));
  EXPECT_TRUE(machine->simProcesses().restartRequests().empty());
  std::optional<std::string> resume =
      machine->simRegistry().GetString(kRunKey, kResumeValueName);
  ASSERT_TRUE(resume);
  EXPECT_EQ(*resume, "\"D:\\setup.exe\" /c 12 /l 1033 /quiet /norestart");
  EXPECT_FALSE(machine->simRegistry().KeyExists(kUninstallKey));

  // Windows starts again later (the runner boots only after an accepted
  // restart) and runs the value's command.
  machine->simProcesses().Restart();
  std::string arguments = resume->substr(resume->find("\" ") + 2);
  Rehearsal next = Unattended(*machine, arguments);
  EXPECT_EQ(next.run.exitCode, kExitSuccess) << next.run.log;
  ExpectNothingShown(next);
  ExpectInOrder(next, {"continuing setup after reboot",
                       "unattended: quiet installation - nothing is shown",
                       "unattended: language 1033 from the command line",
                       "MSI will not be updated", UpdateLine(0, kPreserveStep, 0),
                       "launching: C:\\WINDOWS\\SYSTEM\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                       "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress /qn",
                       "unattended: the product is not started", "setup terminating"});
  // The log holds both runs: the greeting was answered in the first only.
  EXPECT_EQ(CountPrefix(next, "unattended: the greeting proceeds"), 1)
      << "the greeting is not run again";
  // One log: the first run's section, then the appended one.
  EXPECT_EQ(CountPrefix(next, "Zentavo Installation Log  "), 2);
  EXPECT_TRUE(machine->simRegistry().KeyExists(kUninstallKey));
  EXPECT_FALSE(machine->simRegistry().GetString(kRunKey, kResumeValueName));
}

// Without /norestart the restart is made at once; the resumed run stays
// quiet and writes to the same /log file, whose folder holds a blank.
TEST(Unattended, QuietRestartResumesQuietlyIntoTheSameLogFileInAFolderWithABlank) {
  auto machine = Win98WithOldInstaller();
  ASSERT_TRUE(machine);
  ASSERT_EQ(machine->files().CreateDirectory("C:\\Deploy Logs"),
            static_cast<DWORD>(ERROR_SUCCESS));
  Rehearsal r = Unattended(*machine, "/quiet /log \"C:\\Deploy Logs\\zentavo.log\"");
  EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess})) << r.run.log;
  EXPECT_EQ(r.run.restarts, 1);
  ExpectNothingShown(r);
  ExpectInOrder(r, {"Windows Installer update complete",
                    "unattended: Windows is restarted without asking", "rebooting system",
                    "setup terminating", "OnQueryEndSession", "OnEndSession(true)",
                    "continuing setup after reboot",
                    "unattended: quiet installation - nothing is shown",
                    "unattended: the product is not started", "setup terminating"});
  EXPECT_TRUE(Started(*machine, "\"D:\\setup.exe\" /c 12 /l 1033 /quiet /log "
                                "\"C:\\Deploy Logs\\zentavo.log\""));
  // Both runs are in the named file, and nothing went to the usual log.
  std::string named;
  ASSERT_EQ(machine->files().ReadFile("C:\\Deploy Logs\\zentavo.log", &named),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(named, r.run.log);
  EXPECT_EQ(CountPrefix(r, "Zentavo Installation Log  "), 2);
  std::string temp, usual;
  ASSERT_EQ(machine->environment().GetTempPath(&temp), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(machine->files().ReadFile(temp + "\\ZentavoInstall.log", &usual),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(machine->simRegistry().KeyExists(kUninstallKey));
}

// A /log file that cannot be written: the usual log is used and says why,
// right after its header. Nothing is created on the way.
TEST(Unattended, LogToAFolderThatDoesNotExistFallsBackToTheUsualLog) {
  auto machine = MakeMachine();
  Rehearsal r = Unattended(*machine, "/QUIET /LOG \"C:\\No Such\\zentavo.log\"");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  ASSERT_GE(r.lines.size(), 5u);
  EXPECT_EQ(r.lines[3], "cannot log to \"C:\\No Such\\zentavo.log\": error 3 - logging here instead");
  EXPECT_EQ(r.lines[4], "unattended: quiet installation - nothing is shown");
  std::string usual;
  ASSERT_EQ(machine->files().ReadFile(kUsualLog, &usual), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(usual, r.run.log);
  DWORD attributes = 0;
  EXPECT_EQ(machine->files().GetAttributes("C:\\No Such", &attributes),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(machine->simRegistry().KeyExists(kUninstallKey));
  // A path that is no full path is never tried: after a restart, from
  // another current folder, it would name another file.
  auto other = MakeMachine();
  Rehearsal relative = Unattended(*other, "/quiet /log logs\\zentavo.log");
  EXPECT_EQ(relative.run.exitCode, kExitSuccess);
  ASSERT_GE(relative.lines.size(), 4u);
  EXPECT_EQ(relative.lines[3],
            "cannot log to \"logs\\zentavo.log\": not a full path - logging here instead");
  EXPECT_EQ(other->files().GetAttributes("D:\\logs", &attributes),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// /passive: both windows show the progress, no button is ever offered and no
// answer is taken; Windows Installer shows its progress only, and the
// product is started at the end.
TEST(Unattended, PassiveShowsTheWindowsAndTakesNoAnswer) {
  auto machine = MakeMachine();
  Rehearsal r = Unattended(*machine, "/passive");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log << r.run.stopReason;
  EXPECT_EQ(Count(r, ScreenEvent::Kind::Answer), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::MessageBox), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::LanguageDialog), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::NeverShown), 0);
  std::vector<ScreenState> states = r.screen.WindowStates();
  ASSERT_FALSE(states.empty());
  EXPECT_TRUE(states.front().windowOpen);
  for (const ScreenState& s : states) {
    EXPECT_FALSE(s.confirmVisible || s.cancelVisible) << RecordingScreen::Render(s);
  }
  EXPECT_TRUE(r.screen.Showed(English(WELCOMEMSG), English(WELCOMESUB1)));
  EXPECT_TRUE(r.screen.Showed(English(LAUNCHSETUP)));
  EXPECT_TRUE(r.screen.Showed(English(COMPLETE)));
  ExpectInOrder(r, {"unattended: passive installation - the progress is shown, nothing waits",
                    "movie D:\\install.swf", "unattended: the greeting proceeds",
                    "launching: C:\\WINDOWS\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                    "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress /qb!-",
                    "unattended: the installation is complete - OK",
                    "unattended: the product is started (/passive)",
                    "launching: C:\\Program Files\\Zentavo\\Zentavo.exe ", "setup terminating"});
  EXPECT_TRUE(ProductWindowRuns(*machine));
}

// Errors that would show a message box are logged with its text and end the
// run with their code; an attached camera does not stop a quiet run.
TEST(Unattended, BoxesAreLoggedAndTheCameraDoesNotStopTheRun) {
  auto old = ExampleMachine("xpsp2", R"({
    "registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": "4.70.1155"}}})");
  ASSERT_TRUE(old);
  Rehearsal refused = Unattended(*old, "/quiet");
  EXPECT_EQ(refused.run.exitCode, kExitFailure);
  ExpectInOrder(refused, {"IE 4 or later required - aborting setup",
                          std::string("unattended: message box not shown: ") + kTextIeRequired});
  EXPECT_EQ(Count(refused, ScreenEvent::Kind::MessageBox), 0);

  auto camera = ExampleMachine("xp-camera-hub");
  ASSERT_TRUE(camera);
  Rehearsal r = Unattended(*camera, "/quiet");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  ExpectNothingShown(r);
  ExpectInOrder(r, {"Zentavo camera is on",
                    "unattended: the camera is attached - the installation goes on",
                    UpdateLine(0, kLaunchStep, 1), "setup terminating"});
}

// /? lists the switches and changes nothing: no log is written, a pending
// resume value stays. With /quiet there is not even the box.
TEST(Unattended, HelpListsTheSwitchesAndChangesNothing) {
  for (const char* line : {"/?", "/quiet /?"}) {
    auto machine = MakeMachine(R"({"registry": {
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run":
          {"ZenSetupSetup": "\"D:\\setup.exe\" /c 12 /l 1033"}}})");
    ASSERT_TRUE(machine);
    Rehearsal r = Rehearse(*machine, line);
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << line;
    EXPECT_TRUE(r.run.log.empty()) << r.run.log;
    EXPECT_EQ(machine->simRegistry().GetString(kRunKey, kResumeValueName),
              std::optional<std::string>("\"D:\\setup.exe\" /c 12 /l 1033"));
    std::vector<const ScreenEvent*> boxes;
    for (const ScreenEvent& e : r.screen.events()) {
      if (e.kind == ScreenEvent::Kind::MessageBox) boxes.push_back(&e);
    }
    if (std::string(line) == "/?") {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0]->text, kTextUsage);
      EXPECT_EQ(boxes[0]->caption, "setup");
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
}

// The switches on the command line, next to the old ones.
TEST(Unattended, SwitchesAreReadNextToTheOldOnesWhoseMeaningStays) {
  auto parse = [](const std::string& line, const std::function<void(CSetupApp&)>& check) {
    auto machine = MakeMachine();
    ListAnswers answers;
    SimFrontEnd frontEnd(machine->clock(), answers);
    CSetupApp app(*machine, frontEnd);
    app.ParseCommandLine(line);
    check(app);
  };
  parse("/c 12 /l 1031", [](CSetupApp& app) {
    EXPECT_EQ(app.m_bResume, 1);
    EXPECT_EQ(app.m_nResumeStep, 12);
    EXPECT_EQ(app.g_languageId, 1031);
    EXPECT_FALSE(app.unattended().Active());
    EXPECT_FALSE(app.unattended().LogFileGiven());
    EXPECT_EQ(app.unattended().ResumeSwitches(), "");
  });
  // /ct still takes the rest of the line, switches and all.
  parse("/quiet /ct C:\\Temp\\Setup Files /passive", [](CSetupApp& app) {
    EXPECT_EQ(app.m_bCleanup, 1);
    EXPECT_EQ(app.m_strCleanupDir, "C:\\Temp\\Setup Files /passive");
    EXPECT_TRUE(app.unattended().Quiet());
  });
  parse("/Passive /NORESTART /unknown /LoG \"C:\\My Logs\\z.log\" /q", [](CSetupApp& app) {
    EXPECT_TRUE(app.unattended().Quiet()) << "/quiet wins over /passive";
    EXPECT_TRUE(app.unattended().NoRestart());
    EXPECT_EQ(app.unattended().LogFile(), "C:\\My Logs\\z.log");
    EXPECT_EQ(app.unattended().ResumeSwitches(),
              " /quiet /norestart /log \"C:\\My Logs\\z.log\"");
  });
  // The value of /c is tested as a switch too, as it always was; /log takes
  // no switch as its file and nothing at the end.
  parse("/c /passive /log /norestart /log", [](CSetupApp& app) {
    EXPECT_EQ(app.m_bResume, 1);
    EXPECT_EQ(app.m_nResumeStep, 0);
    EXPECT_TRUE(app.unattended().Passive());
    EXPECT_TRUE(app.unattended().NoRestart());
    EXPECT_FALSE(app.unattended().LogFileGiven());
  });
  // A path cut by the 511-character buffer is never used.
  parse("/quiet /log C:\\" + std::string(600, 'x'), [](CSetupApp& app) {
    EXPECT_TRUE(app.unattended().LogFileCut());
    EXPECT_EQ(app.unattended().ResumeSwitches(), " /quiet");
  });
}

// An interactive run with the old command line is the run it always was:
// no unattended line, the language dialog, the buttons, the resume value.
TEST(Unattended, AnInteractiveRunKeepsItsScreensAndLog) {
  auto machine = MakeMachine();
  Rehearsal r = RehearseAll(*machine, "");
  EXPECT_EQ(r.run.exitCode, kExitSuccess);
  EXPECT_EQ(CountPrefix(r, "unattended:"), 0);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::LanguageDialog), 1);
  EXPECT_EQ(Count(r, ScreenEvent::Kind::NeverShown), 0);
  EXPECT_TRUE(r.HasLine("movie D:\\install.swf"));
  EXPECT_TRUE(r.HasLine("launching: C:\\WINDOWS\\system32\\msiexec.exe /i \"D:\\Zentavo.msi\" "
                        "TRANSFORMS=\"1033.mst\" REBOOT=ReallySuppress"));
  ScreenState greeting = StateAtAnswer(r.screen, 1);
  EXPECT_EQ(greeting.header, English(WELCOMEMSG));
  EXPECT_TRUE(greeting.confirmVisible && greeting.cancelVisible);
  EXPECT_EQ(ResumeCommand("D:", 12, 1031), "\"D:\\setup.exe\" /c 12 /l 1031");
}
