// A damaged or incomplete medium is found before its files are used: each
// rehearsal damages one file of the demo medium in its own way, and the
// setup must end with 1603, name that file in its log and its message box,
// leave the product uninstalled and start no installer.
#include <gtest/gtest.h>

#include <functional>

#include "app/exit_codes.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

constexpr char kUninstallKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";

std::string At(SimMachine& machine, const std::string& name) {
  return machine.setupFolder() + name;
}

void FlipByte(SimMachine& machine, const std::string& name, size_t offset) {
  std::string bytes = machine.simFiles().Contents(At(machine, name)).value_or("");
  ASSERT_GT(bytes.size(), offset) << name;
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
  ASSERT_TRUE(machine.simFiles().Put(At(machine, name), bytes));
}

// A package of 5 MB whose manifest line matches it: its check takes several
// timer calls, which show the progress in the message line.
void LargePackage(SimMachine& machine) {
  std::string bytes(5 * 1024 * 1024, 'z');
  ASSERT_TRUE(machine.simFiles().Put(At(machine, "Zentavo.msi"), bytes));
  machine.ResealMediumManifest();
}

struct DamageCase {
  const char* what;
  const char* machine;  // example machine, or "" for the default
  const char* overlay;
  std::function<void(SimMachine&)> damage;
  const char* commandLine;
  std::vector<std::string> lines;  // in this order
  const char* boxNames;            // the file the message box names
  const char* neverMade = nullptr;  // a file the setup must not have copied there
};

const std::vector<DamageCase>& Cases() {
  static const std::vector<DamageCase> cases = {
      {"a flipped byte in the package", "", "{}",
       [](SimMachine& m) { FlipByte(m, "Zentavo.msi", 1000); }, "",
       {"medium manifest lists 19 files", "background created", "medium file Zentavo.msi is damaged",
        "nothing was changed with files of the medium", "setup terminating"},
       "Zentavo.msi"},
      {"a truncated transform", "", "{}",
       [](SimMachine& m) {
         std::string bytes = m.simFiles().Contents(At(m, "1033.mst")).value_or("");
         ASSERT_TRUE(m.simFiles().Put(At(m, "1033.mst"), bytes.substr(0, bytes.size() / 2)));
       },
       "", {"medium file 1033.mst is damaged", "setup terminating"}, "1033.mst"},
      {"a missing Windows Installer redistributable", "", "{}",
       [](SimMachine& m) { ASSERT_TRUE(m.simFiles().Remove(At(m, "instmsia.exe"))); }, "",
       {"medium file instmsia.exe cannot be read - error 2", "setup terminating"}, "instmsia.exe"},
      {"a read error (CRC) in the middle of a large package", "",
       R"({"faults": [{"operation": "FileSystem.ReadPiece", "path": "D:\\Zentavo.msi",
                       "call": 40, "error": 23}]})",
       LargePackage, "",
       {"medium manifest lists 19 files", "medium file Zentavo.msi cannot be read - error 23",
        "setup terminating"},
       "Zentavo.msi"},
      {"a manifest line that does not parse", "", "{}",
       [](SimMachine& m) {
         std::string text = m.simFiles().Contents(At(m, "medium.sha")).value_or("");
         text.replace(text.find('\n', text.find('\n') + 1) + 1, 3, "xyz");
         ASSERT_TRUE(m.simFiles().Put(At(m, "medium.sha"), text));
       },
       "",
       {"medium manifest line 3 does not parse", "medium file medium.sha is damaged",
        "nothing was changed with files of the medium"},
       "medium.sha"},
      {"a damaged language file, found before start-up reads it", "", "{}",
       [](SimMachine& m) { FlipByte(m, "SetupLanguages.xml", 10); }, "",
       {"medium file SetupLanguages.xml is damaged", "nothing was changed with files of the medium"},
       "SetupLanguages.xml"},
      {"a damaged Flash control that this machine does not need: found after the window opens",
       "", "{}", [](SimMachine& m) { FlipByte(m, "System32\\swflash.ocx", 10); }, "",
       {"existing Flash OCX is up-to-date (6,0,79,0)", "background created",
        "medium file System32\\swflash.ocx is damaged",
        "nothing was changed with files of the medium", "setup terminating"},
       "System32\\swflash.ocx"},
      {"a damaged XML parser that Windows 98 needs: found before any part of it is copied, one box",
       "win98se", "{}", [](SimMachine& m) { FlipByte(m, "msxml3.dll", 4); }, "/l 1033",
       {"updating XML parser", "medium file msxml3.dll is damaged",
        "already changed with a file of the medium: registered C:\\WINDOWS\\SYSTEM\\swflash.ocx"},
       "msxml3.dll", "C:\\WINDOWS\\SYSTEM\\msxml3r.dll"},
      {"unattended, with the XML parser already updated from the medium (Windows 98)", "win98se",
       "{}", [](SimMachine& m) { FlipByte(m, "Zentavo.msi", 1000); }, "/quiet /l 1033",
       {"updating XML parser", "medium file Zentavo.msi is damaged",
        "already changed with a file of the medium: copied D:\\msxml3r.dll to "
        "C:\\WINDOWS\\SYSTEM\\msxml3r.dll",
        "already changed with a file of the medium: registered C:\\WINDOWS\\SYSTEM\\msxml3.dll",
        "setup terminating", "unattended: exit code 1603"},
       "Zentavo.msi"},
  };
  return cases;
}

TEST(DamagedMedium, EndsBeforeTheFileIsUsed) {
  for (const DamageCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<SimMachine> machine =
        *c.machine ? ExampleMachine(c.machine, c.overlay, "Win98") : MakeMachine(c.overlay);
    ASSERT_TRUE(machine);
    c.damage(*machine);
    Rehearsal r = Rehearse(*machine, c.commandLine);

    EXPECT_EQ(r.run.exitCode, kExitFailure);
    int at = 0;
    for (const std::string& line : c.lines) {
      const int found = r.Find(line, at);
      EXPECT_GE(found, 0) << "missing after line " << at << ": " << line << "\n" << r.run.log;
      if (found >= 0) at = found + 1;
    }
    // Nothing of the medium ran, and the product is not there.
    for (const std::string& line : r.lines) {
      EXPECT_EQ(line.rfind("launching:", 0), std::string::npos) << line;
      EXPECT_EQ(line.find("medium files match"), std::string::npos) << line;
    }
    EXPECT_FALSE(machine->simRegistry().KeyExists(kUninstallKey));
    if (c.neverMade) {
      EXPECT_FALSE(machine->simFiles().Contents(c.neverMade)) << c.neverMade;
    }
    EXPECT_TRUE(machine->simProcesses().startedCommandLines().empty());
    EXPECT_EQ(machine->simFiles().openReadCount(), 0u);

    // The box names the file and says what to do; unattended, its text is logged.
    const std::string named = std::string("its file ") + c.boxNames + " is not as it was made";
    if (std::string(c.commandLine).find("/quiet") != std::string::npos) {
      bool logged = false;
      for (const std::string& line : r.lines) logged = logged || line.find(named) != std::string::npos;
      EXPECT_TRUE(logged) << r.run.log;
    } else {
      int boxes = 0;
      for (const ScreenEvent& e : r.screen.events()) {
        if (e.kind != ScreenEvent::Kind::MessageBox) continue;
        ++boxes;
        EXPECT_NE(e.text.find(named), std::string::npos) << e.text;
        EXPECT_NE(e.text.find("clean the disc"), std::string::npos);
        EXPECT_NE(e.text.find("copy the installation files to the share again"), std::string::npos);
        EXPECT_EQ(MessageBoxIconName(e.style), "stop");
      }
      EXPECT_EQ(boxes, 1);
    }
  }
}

// A large package is checked over several timer calls, its progress in the
// message line; an intact medium goes on to the installation.
TEST(DamagedMedium, LargePackageShowsProgressAndPasses) {
  std::unique_ptr<SimMachine> machine = MakeMachine();
  LargePackage(*machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_GE(r.Find("medium files match their manifest (19 files, 5224 KB read)"), 0) << r.run.log;
  // At most 2 MB a call: the message line shows the package part-way twice.
  int progress = 0;
  for (const ScreenState& s : r.screen.WindowStates()) {
    if (s.header == English(ANALYZE) && s.message.rfind("Zentavo.msi ", 0) == 0 &&
        s.message.back() == '%' && s.message != "Zentavo.msi 0%") {
      ++progress;
    }
  }
  EXPECT_EQ(progress, 2) << r.run.transcript;
}

// An older medium, without a manifest, is used as before.
TEST(DamagedMedium, MediumWithoutManifestWorksAsBefore) {
  std::unique_ptr<SimMachine> machine = MakeMachine();
  ASSERT_TRUE(machine->simFiles().Remove(At(*machine, "medium.sha")));
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCode, kExitSuccess);
  EXPECT_GE(r.Find("medium carries no manifest (medium.sha) - its files are used unchecked"), 0);
  EXPECT_TRUE(machine->simRegistry().KeyExists(kUninstallKey));
}

// The share changes after the check: the run-time redistributable is
// replaced just before the setup copies it. Its copy, which is what would
// run, is held against the manifest and never started.
TEST(DamagedMedium, ARedistributableChangedAfterTheCheckNeverRuns) {
  std::unique_ptr<SimMachine> machine = ExampleMachine("win98se", R"({
      "files": {"C:\\WINDOWS\\SYSTEM\\msiexec.exe":
                    {"text": "", "version": {"FileVersion": "1.10.1029.0"}}},
      "faults": [{"operation": "FileSystem.CreatePrivateDirectory", "call": 1,
                  "plant": {"path": "D:\\vcredist.exe", "file": {"text": "MZ changed"}}}]})",
                                                       "Win98");
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCode, kExitFailure);
  ASSERT_EQ(machine->faults().plants().size(), 1u);
  EXPECT_EQ(machine->faults().plants()[0].rfind("planted ", 0), 0u) << machine->faults().plants()[0];
  int at = 0;
  for (const char* line : {"medium files match their manifest (19 files, 116 KB read)",
                           "copy of medium file vcredist.exe does not match its manifest - not started",
                           "failed to launch vcredist setup"}) {
    const int found = r.Find(line, at);
    EXPECT_GE(found, 0) << "missing after line " << at << ": " << line << "\n" << r.run.log;
    if (found >= 0) at = found + 1;
  }
  EXPECT_TRUE(machine->simProcesses().startedCommandLines().empty());
  // The copy and its folder are gone.
  FindHandle find = nullptr;
  FindData found;
  EXPECT_NE(machine->simFiles().FindFirst("C:\\WINDOWS\\TEMP\\ztrn*", &find, &found),
            static_cast<DWORD>(ERROR_SUCCESS))
      << found.name;
}

// The share changes after the check, before a file of it is used: the XML
// parser just before start-up copies it into the system folder (the copy is
// compared and never registered or loaded), the product package before its
// row (held against the manifest once more before Windows Installer starts).
TEST(DamagedMedium, AFileChangedAfterTheCheckIsNeverLoadedOrInstalled) {
  struct Case {
    const char* what;
    const char* machine;
    const char* targetOs;
    const char* changed;      // the medium's file
    const char* atOperation;  // the first call of it that names `atDetail`
    const char* atDetail;
    const char* line;       // what the log says
    const char* notLoaded;  // a library never loaded ("" for none)
  };
  const Case cases[] = {
      {"the XML parser", "win98se", "Win98", "D:\\msxml3.dll", "FileSystem.Copy",
       "D:\\msxml3.dll -> ",
       "copy of medium file msxml3.dll does not match its manifest - not loaded",
       "C:\\WINDOWS\\SYSTEM\\msxml3.dll"},
      {"the package", "xpsp2", "", "D:\\Zentavo.msi", "Registry.OpenKey",
       "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}",
       "medium file Zentavo.msi does not match its manifest - not installed", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The call before which the file changes, from a run without the change.
    SimFault change;
    change.operation = c.atOperation;
    {
      std::unique_ptr<SimMachine> probe = ExampleMachine(c.machine, "{}", c.targetOs);
      probe->faults().SetTracing(true);
      Rehearse(*probe, "/l 1033");
      for (const SimSeamCall& call : probe->faults().trace()) {
        if (call.operation != c.atOperation) continue;
        ++change.call;
        if (call.detail.find(c.atDetail) != std::string::npos) break;
      }
    }
    change.plantPath = c.changed;
    change.plantFile = {{"text", "changed"}};
    std::unique_ptr<SimMachine> machine = ExampleMachine(c.machine, "{}", c.targetOs);
    ASSERT_TRUE(machine);
    machine->faults().Plan(change);
    machine->faults().SetTracing(true);
    Rehearsal r = Rehearse(*machine, "/l 1033");
    ASSERT_EQ(machine->faults().plants().size(), 1u);
    EXPECT_EQ(machine->faults().plants()[0], std::string("planted ") + c.changed);
    EXPECT_TRUE(r.HasLine("medium files match their manifest (19 files, 116 KB read)") ||
                std::string(c.changed) == "D:\\msxml3.dll")
        << "the whole medium was checked first";
    EXPECT_TRUE(r.HasLine(c.line)) << r.run.log;
    EXPECT_EQ(r.run.exitCode, kExitFailure);
    for (const SimSeamCall& call : machine->faults().trace()) {
      EXPECT_FALSE(*c.notLoaded && call.operation == "Com.LoadLibraryEx" &&
                   call.detail.find(c.notLoaded) != std::string::npos)
          << call.detail;
      EXPECT_FALSE(call.operation == "Processes.CreateProcess" &&
                   call.detail.find("/i \"D:\\Zentavo.msi\"") != std::string::npos)
          << call.detail;
    }
  }
}
}  // namespace
