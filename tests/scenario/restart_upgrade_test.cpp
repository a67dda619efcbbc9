// Upgrades and restarts as Windows does them: Windows Installer restarting
// Windows by itself when a removal meets files in use, the restart the setup
// makes instead, a user's data that cannot be saved, and the exit codes of
// the ways a run ends.
#include <gtest/gtest.h>

#include "app/exit_codes.h"
#include "platform/sim/sim_msi.h"
#include "support/harness.h"

namespace {

constexpr char kUninstall2x[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
constexpr char kAddressBook[] = "C:\\Program Files\\Zentavo\\Zentavo.mdb";
constexpr char kProgram[] = "C:\\Program Files\\Zentavo\\Zentavo.exe";
constexpr char kSuppress[] = " REBOOT=ReallySuppress";
// The earlier program held by a running program: its removal needs a restart.
constexpr char kProgramInUse[] =
    R"({"files": {"C:\\Program Files\\Zentavo\\Zentavo.exe": {"locked": 5}}})";

// Windows Installer started with the command lines the setup used to build,
// without the property that keeps it from restarting Windows itself.
void UseCommandLinesWithoutSuppression(SimMachine& machine) {
  SimProgramBehaviour installer = SimWindowsInstaller();
  machine.simProcesses().RegisterProgram(
      "msiexec.exe", [installer](SimMachine& m, const SimProcessStart& start) {
        SimProcessStart old = start;
        size_t at = old.arguments.find(kSuppress);
        if (at != std::string::npos) old.arguments.erase(at, sizeof(kSuppress) - 1);
        return installer(m, old);
      });
}

std::vector<std::string> Launches(const Rehearsal& r, const std::string& program) {
  std::vector<std::string> found;
  for (const std::string& line : r.lines) {
    if (line.rfind("launching: ", 0) == 0 && line.find(program) != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

}  // namespace

TEST(UpgradeRestarts, ARemovalThatNeedsARestartNoLongerLosesTheUpgradeOrTheData) {
  // Before: Windows Installer restarts Windows at the end of the removal,
  // ending the setup that waits for it. The earlier edition is gone, the new
  // one never installed, the address book only in the temporary folder, and
  // nothing resumes.
  {
    auto machine = ExampleMachine("xp-upgrade", kProgramInUse);
    const std::string addressBook = *machine->simFiles().Contents(kAddressBook);
    UseCommandLinesWithoutSuppression(*machine);
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    EXPECT_NE(r.run.stopReason.find("Windows restarted"), std::string::npos) << r.run.stopReason;
    EXPECT_EQ(r.run.runs, 1);
    EXPECT_EQ(machine->simProcesses().restartCount(), 1);
    EXPECT_FALSE(machine->simRegistry().KeyExists(kUninstall2x));
    EXPECT_FALSE(machine->simFiles().Exists(kProgram));
    EXPECT_FALSE(machine->simFiles().Exists(kAddressBook));
    std::optional<std::string> saved =
        machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "AddressBook");
    ASSERT_TRUE(saved);
    EXPECT_EQ(machine->simFiles().Contents(*saved), addressBook);
    EXPECT_FALSE(r.HasLine("Zentavo setup complete - exit code 00000000h"));

    // Started again by the user, the setup finds the earlier upgrade's copies
    // and puts them back once the new package is installed.
    Rehearsal again = RehearseAll(*machine, "/l 1033");
    EXPECT_TRUE(again.HasLine(
        "an earlier upgrade left the user's data saved - it is put back after the installation"));
    EXPECT_EQ(again.run.exitCode, kExitSuccess);
    EXPECT_EQ(machine->simFiles().Contents(kAddressBook), addressBook);
  }
  // After: every Windows Installer run carries the property; the removal
  // ends with 3010, the installation goes on, the data comes back and the
  // restart comes at the end, after which the resumed setup completes.
  {
    auto machine = ExampleMachine("xp-upgrade", kProgramInUse);
    const std::string addressBook = *machine->simFiles().Contents(kAddressBook);
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    const std::vector<std::string> launches = Launches(r, "msiexec.exe");
    ASSERT_EQ(launches.size(), 2u);
    for (const std::string& line : launches) {
      EXPECT_NE(line.find(kSuppress), std::string::npos) << line;
    }
    for (const char* line : {"uninstall complete - exit code 0xbc2",
                             "Zentavo setup complete - exit code 00000bc2h",
                             "Windows Installer needs a restart to complete the installation",
                             "restoring user data"}) {
      EXPECT_TRUE(r.HasLine(line)) << line;
    }
    EXPECT_LT(r.Find("restoring user data"), r.Find(UpdateLine(0, 16, 1)));
    EXPECT_EQ(r.run.runs, 2);
    EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess}));
    EXPECT_EQ(machine->simRegistry().GetString(kUninstall2x, "DisplayVersion"), "2.1.240");
    EXPECT_EQ(machine->simFiles().Node(kProgram)->version["FileVersion"], "2.1.240.0");
    EXPECT_EQ(machine->simFiles().Contents(kAddressBook), addressBook);
    EXPECT_FALSE(machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "AddressBook"));
  }
}

// How a run ends, and the code it ends with.
TEST(UpgradeRestarts, ExitCodesSayWhatHappened) {
  struct Case {
    const char* what;
    const char* machine;  // example machine
    const char* overlay;
    const char* commandLine;
    const char* answers;
    int exitCode;
    const char* line;  // a log line the run must hold ("" for none)
  };
  const Case cases[] = {
      {"the package needs a restart, /norestart", "xpsp2",
       R"({"programs": {"msiexec.exe": {"commands": {"/i": {"restartNeeded": true}}}}})",
       "/l 1033 /quiet /norestart", "", kExitRestartRequired, "unattended: exit code 3010"},
      {"the package ends with 259 (STILL_ACTIVE) and is not polled forever", "xpsp2",
       R"({"programs": {"msiexec.exe": {"commands": {"/i": {"exitCode": 259}}}}})",
       "/l 1033 /quiet", "", kExitSuccess, "Zentavo setup complete - exit code 00000103h"},
      {"resumed at COMPLETE and closed there", "xp-upgrade", "{}", "/c 17 /l 1033", "close",
       kExitSuccess, ""},
      {"the package failed and the failure screen is closed", "xpsp2",
       "no package", "/l 1033", "confirm,confirm,close", kExitFailure,
       "Zentavo software install failed"},
      {"an address book held open: Retry, then Cancel", "xp-upgrade",
       R"({"files": {"C:\\Program Files\\Zentavo\\Zentavo.mdb": {"locked": 32}}})", "/l 1033",
       "confirm,confirm,confirm,confirm,confirm,cancel", kExitUserCancel,
       "saving the user data again"},
      {"an address book held open, unattended", "xp-upgrade",
       R"({"files": {"C:\\Program Files\\Zentavo\\Zentavo.mdb": {"locked": 32}}})",
       "/l 1033 /quiet", "", kExitFailure,
       "AddressBook could not be saved: C:\\Program Files\\Zentavo\\\\Zentavo.mdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool noPackage = std::string(c.overlay) == "no package";
    auto machine = ExampleMachine(c.machine, noPackage ? "{}" : c.overlay);
    if (noPackage) machine->simFiles().Delete(machine->setupFolder() + "Zentavo.msi");
    machine->ResealMediumManifest();
    Rehearsal r = Rehearse(*machine, c.commandLine, c.answers);
    EXPECT_FALSE(r.run.answersRanOut) << r.run.stopReason;
    EXPECT_EQ(r.run.exitCode, c.exitCode) << r.run.log;
    if (*c.line) {
      EXPECT_TRUE(r.HasLine(c.line)) << r.run.log;
    }
    if (std::string(c.what).find("address book") != std::string::npos) {
      // Nothing was removed while the address book was unsaved.
      EXPECT_TRUE(Launches(r, "msiexec.exe").empty());
      EXPECT_EQ(machine->simRegistry().GetString(kUninstall2x, "DisplayVersion"), "2.0.180");
    }
  }
}
