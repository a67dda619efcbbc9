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
    if (noPackage) machine->simFiles().Remove(machine->setupFolder() + "Zentavo.msi");
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

namespace {

// The copy that the upgrade saved the address book to, from its log line.
std::string AddressBookCopy(const Rehearsal& r) {
  const std::string prefix = std::string("copy ") + "C:\\Program Files\\Zentavo\\\\Zentavo.mdb to ";
  for (const std::string& line : r.lines) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return std::string();
}

// The saved copies' folders left in the temporary folder.
size_t CopyFoldersLeft(SimMachine& machine) {
  size_t left = 0;
  const SimFile* temp = machine.simFiles().Node(machine.simEnvironment().tempDirectory);
  for (const auto& [name, child] : temp->children) left += name.rfind("ZTSV", 0) == 0 ? 1 : 0;
  return left;
}

}  // namespace

// The address book held by another program (it can be read, not deleted):
// saved, its removal and the new package wait for the restart, and the copy
// cannot go back before it. The resumed run puts it back before the
// installation is complete. Held only until the removal is over, it goes
// back at once, but Windows was told to delete it at the restart: it goes
// back again after it. On XP (PendingFileRenameOperations) and 98 SE
// (WININIT.INI), interactive and unattended.
TEST(UpgradeRestarts, AHeldAddressBookIsPutBackByTheRunResumedAfterTheRestart) {
  struct Case {
    const char* machine;
    const char* targetOs;
    uint64_t heldUntilMs;  // of the first run's virtual time
    const char* commandLine;
  };
  const Case cases[] = {
      {"xp-upgrade", "", 600000, "/l 1033"},
      {"xp-upgrade", "", 15000, "/l 1033"},
      {"xp-upgrade", "", 600000, "/l 1033 /quiet"},
      {"win98se-upgrade", "Win98", 600000, "/l 1033"},
      {"win98se-upgrade", "Win98", 18000, "/l 1033 /passive"},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.machine) + " held for " +
                             std::to_string(c.heldUntilMs) + " ms, " + c.commandLine;
    SCOPED_TRACE(what);
    SimJson overlay = SimJson::parse(R"({"files": {}})");
    overlay["files"][kAddressBook] = {{"locked", {{"error", 5}, {"untilMs", c.heldUntilMs}}}};
    auto machine = ExampleMachine(c.machine, overlay.dump(), c.targetOs);
    ASSERT_TRUE(machine);
    const std::string addressBook = *machine->simFiles().Contents(kAddressBook);
    machine->faults().SetTracing(true);
    Rehearsal r = RehearseAll(*machine, c.commandLine);
    const std::string copy = AddressBookCopy(r);
    ASSERT_FALSE(copy.empty()) << r.run.log;
    const bool heldAtTheRestore = c.heldUntilMs > 60000;
    const std::string place = "C:\\Program Files\\Zentavo\\\\Zentavo.mdb";
    const std::string putBack = "copy " + copy + " to " + place;
    // The first run: the copy waits for the restart.
    const int restoring = r.Find("restoring user data");
    ASSERT_GE(restoring, 0);
    EXPECT_GT(r.Find(putBack, restoring), restoring);
    if (heldAtTheRestore) {
      for (const std::string& line :
           {std::string("copy failed - error 32"), std::string("restore address book failed"),
            "saved AddressBook kept at " + copy + " - it was not restored"}) {
        EXPECT_GT(r.Find(line, restoring), restoring) << line;
      }
    } else {
      EXPECT_GT(r.Find("AddressBook is put back again after the restart - Windows deletes or "
                       "replaces " + place + " when it next starts",
                       restoring),
                restoring);
    }
    const int waits = r.Find("AddressBook is put back after the restart", restoring);
    EXPECT_GT(waits, restoring);
    // The resume value names RESTOREDATA, and the resumed run puts the
    // address book back before COMPLETE.
    std::string runValue;
    for (const SimSeamCall& call : machine->faults().trace()) {
      if (call.operation == "Registry.SetValue" && call.detail.find("ZenSetupSetup") != std::string::npos) {
        runValue = call.detail;
      }
    }
    EXPECT_NE(runValue.find("\\setup.exe\" /c 15 /l 1033"), std::string::npos) << runValue;
    const int resumed = r.Find("continuing setup after reboot", waits);
    ASSERT_GT(resumed, waits) << r.run.log;
    const int again = r.Find(putBack, resumed);
    EXPECT_GT(again, resumed);
    EXPECT_GT(r.Find(UpdateLine(0, 17, 1), resumed), again);
    EXPECT_EQ(r.Find("copy failed - error 32", resumed), -1);
    EXPECT_EQ(r.run.runs, 2);
    EXPECT_EQ(r.run.exitCodes, (std::vector<int>{kExitRestartRequired, kExitSuccess}));
    // The address book is back, and nothing of the saved data is left.
    EXPECT_EQ(machine->simFiles().Contents(kAddressBook), addressBook);
    EXPECT_FALSE(machine->simFiles().Exists(copy));
    EXPECT_EQ(CopyFoldersLeft(*machine), 0u);
    EXPECT_FALSE(machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Save", "AddressBook"));
    EXPECT_FALSE(machine->simRegistry().GetDword("HKCU\\Software\\Corvane\\Save", "UpgradePending"));
    if (std::string(c.commandLine).find("/quiet") != std::string::npos) {
      EXPECT_EQ(r.lines.back(), "unattended: exit code 0");
    }
  }
}

// A restart whose resume value cannot be written leaves nothing to complete
// the installation after it: the run ends as /norestart's rule says (1603
// before the product is installed, 3010 once it is), whether the restart is
// made or left to the administrator.
TEST(UpgradeRestarts, ARestartWithoutItsResumeValueEndsAsTheNoRestartRuleSays) {
  struct Case {
    const char* what;
    const char* machine;
    const char* overlay;
    const char* targetOs;
    const char* commandLine;
    int exitCode;
    bool restarted;
  };
  const char* k98WithOldInstaller = R"({"files": {"C:\\WINDOWS\\SYSTEM\\msiexec.exe":
      {"text": "", "version": {"FileVersion": "1.10.1029.0"}}}})";
  const char* kPackageNeedsRestart =
      R"({"programs": {"msiexec.exe": {"commands": {"/i": {"restartNeeded": true}}}}})";
  const Case cases[] = {
      {"Windows Installer's restart, made", "win98se", k98WithOldInstaller, "Win98", "/l 1033",
       kExitFailure, true},
      {"Windows Installer's restart, /norestart", "win98se", k98WithOldInstaller, "Win98",
       "/l 1033 /quiet /norestart", kExitFailure, false},
      {"the package's restart, made", "xpsp2", kPackageNeedsRestart, "", "/l 1033",
       kExitRestartRequired, true},
      {"the package's restart, /norestart", "xpsp2", kPackageNeedsRestart, "",
       "/l 1033 /passive /norestart", kExitRestartRequired, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto machine = ExampleMachine(c.machine, c.overlay, c.targetOs);
    ASSERT_TRUE(machine);
    SimFault runKey;  // the first open is start-up's, which deletes the value
    runKey.operation = "Registry.OpenKey";
    runKey.path = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    runKey.call = 2;
    runKey.error = ERROR_ACCESS_DENIED;
    machine->faults().Plan(runKey);
    Rehearsal r = RehearseAll(*machine, c.commandLine);
    EXPECT_EQ(machine->faults().fired().size(), 1u);
    EXPECT_TRUE(r.HasLine("the resume value cannot be written")) << r.run.log;
    EXPECT_EQ(r.run.runs, 1);
    EXPECT_EQ(r.run.exitCode, c.exitCode) << r.run.log;
    EXPECT_EQ(machine->simProcesses().restartCount(), c.restarted ? 1 : 0);
  }
}
