// Whole simulated runs on the example machines: what the environment
// analysis logs and decides on each Windows family, which prerequisite
// refuses a run, and the start-up component updates and clean-up mode as a
// user meets them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/exit_codes.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

constexpr int kPrerequisiteStep = 1;
constexpr int kGreetingStep = 2;

// An example machine of docs/machines with `overlay` merged over it and the
// demo medium mounted; `setupIni`, when given, replaces the medium's setup.ini.
std::unique_ptr<SimMachine> ExampleMachine(const std::string& name,
                                           const std::string& overlay = "{}",
                                           const char* setupIni = nullptr) {
  std::ifstream in(std::string(ZT_SOURCE_DIR) + "/docs/machines/" + name + ".json");
  std::stringstream text;
  text << in.rdbuf();
  SimJson description = SimJson::parse(text.str());
  description.merge_patch(SimJson::parse(overlay));
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(description.dump(), name, &error);
  EXPECT_TRUE(machine) << error;
  if (!machine) return nullptr;
  EXPECT_TRUE(machine->MountMedium(std::string(ZT_SOURCE_DIR) + "/medium", &error)) << error;
  if (setupIni) {
    EXPECT_TRUE(machine->simFiles().Put(machine->setupFolder() + "setup.ini", setupIni));
  }
  return machine;
}

const char kNtPackage[] = "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\nTargetOS=WinNT\r\n";
const char k98Package[] = "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\nTargetOS=Win98\r\n";

// True when some window state showed the prerequisite refusal with `reason`.
bool ShowedRefusal(const Rehearsal& r, int reason) {
  for (const ScreenState& state : r.screen.WindowStates()) {
    if (state.header == English(CHECKPREREQS) && state.message == English(INSUFFREQS) &&
        state.help == English(reason) && state.confirmVisible && !state.cancelVisible &&
        state.confirmCaption == English(OK)) {
      return true;
    }
  }
  return false;
}

void ExpectRefusedWith(const Rehearsal& r, int reason) {
  EXPECT_TRUE(ShowedRefusal(r, reason)) << r.screen.Transcript();
  int prerequisites = r.Find(UpdateLine(0, kPrerequisiteStep, 1));
  ASSERT_GE(prerequisites, 0);
  EXPECT_GT(r.Find("setup terminating", prerequisites), prerequisites);
  EXPECT_FALSE(r.HasLine(UpdateLine(0, kGreetingStep, 1)));
}

// Runs the example machine `name` (with `overlay` and `setupIni` as for
// ExampleMachine) in US English and expects the prerequisites to refuse it.
void ExpectExampleRefusedWith(const std::string& name, const std::string& overlay,
                              const char* setupIni, int reason) {
  auto machine = ExampleMachine(name, overlay, setupIni);
  ASSERT_TRUE(machine);
  ExpectRefusedWith(Rehearse(*machine, "/l 1033"), reason);
}

TEST(AnalysisRuns, Nt4BelowServicePack4IsRefused) {
  auto machine = ExampleMachine(
      "nt4sp6a", R"({"os": {"servicePack": "Service Pack 3"}})", kNtPackage);
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("            Service Pack 3"));
  ExpectRefusedWith(r, INSUFFSERVPACK);
}

TEST(AnalysisRuns, Nt4ServicePack10IsRefusedBecauseTheTextSortsBelow) {
  ExpectExampleRefusedWith("nt4sp6a", R"({"os": {"servicePack": "Service Pack 10"}})",
                           kNtPackage, INSUFFSERVPACK);
}

TEST(AnalysisRuns, Nt4ServicePack6aWithAnNtPackageGoesOn) {
  auto machine = ExampleMachine("nt4sp6a", "{}", kNtPackage);
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("package info: 2.0 Desktop Windows NT CD"));
  EXPECT_TRUE(r.HasLine("checking for PSAPI.DLL at C:\\WINNT\\system32\\psapi.dll"));
  EXPECT_TRUE(machine->simFiles().Exists("C:\\WINNT\\system32\\psapi.dll"));
  EXPECT_TRUE(r.HasLine("MediaPlayer will not be updated on Windows NT"));
  EXPECT_TRUE(r.HasLine("run-time libraries will be updated"));
  EXPECT_TRUE(r.HasLine(UpdateLine(0, kGreetingStep, 1)));
}

TEST(AnalysisRuns, NtPackageOnWindows2000IsTheWrongPackage) {
  ExpectExampleRefusedWith("win2000sp4", "{}", kNtPackage, WRONGPACKAGE);
}

TEST(AnalysisRuns, DemoPackageRunsOnWindows2000AndXpOnly) {
  for (const char* name : {"win2000sp4", "xpsp2"}) {
    SCOPED_TRACE(name);
    auto machine = ExampleMachine(name);
    ASSERT_TRUE(machine);
    Rehearsal r = Rehearse(*machine, "/l 1033");
    EXPECT_TRUE(r.HasLine("package info: 2.0 Desktop Windows 2000/XP CD"));
    EXPECT_TRUE(r.HasLine("            Windows 2000"));
    EXPECT_TRUE(r.HasLine("XML will not be updated on Windows 2000"));
    EXPECT_TRUE(r.HasLine(UpdateLine(0, kGreetingStep, 1)));
  }
  for (const char* name : {"win98se", "winme", "nt4sp6a"}) {
    SCOPED_TRACE(name);
    ExpectExampleRefusedWith(name, "{}", nullptr, WRONGPACKAGE);
  }
}

TEST(AnalysisRuns, Windows98FirstRunBringsTheComponentsUpToDate) {
  auto machine = ExampleMachine("win98se", "{}", k98Package);
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  int flash = r.Find("installing Macromedia Flash OCX");
  int xml = r.Find("updating XML parser");
  int language = r.Find("loading D:\\SetupLanguages.xml");
  ASSERT_GE(flash, 0);
  EXPECT_GT(xml, flash);
  EXPECT_GT(language, xml);
  EXPECT_TRUE(r.HasLine("Flash OCX registered successfully"));
  EXPECT_TRUE(r.HasLine("registering updated XML parser"));
  EXPECT_FALSE(r.HasLine("failed to update Flash OCX - continuing install anyway"));
  EXPECT_TRUE(r.HasLine("            Windows 98 Second Edition"));
  EXPECT_TRUE(r.HasLine("MSI is not present on this system"));
  EXPECT_TRUE(r.HasLine(UpdateLine(0, kGreetingStep, 1)));

  // The control copied into the system directory is now the registered one.
  RegKey key(machine->registry());
  ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT,
                     "CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32", KEY_READ),
            ERROR_SUCCESS);
  std::string server;
  ASSERT_EQ(key.QueryString("", MAX_PATH, &server), ERROR_SUCCESS);
  EXPECT_EQ(server, "C:\\WINDOWS\\SYSTEM\\swflash.ocx");
}

TEST(AnalysisRuns, TwoDigitMajorVersionsCountAsNewer) {
  auto machine = ExampleMachine("xpsp2", R"({
    "registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": "10.0.9200.16384"}},
    "files": {
      "C:\\Program Files\\Windows Media Player\\wmplayer.exe":
          {"version": {"FileVersion": "10.00.00.3646"}},
      "C:\\WINDOWS\\system32\\Macromed\\Flash\\swflash.ocx":
          {"version": {"FileVersion": "10,0,22,87"}}
    }})");
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("installed IE version is 10.0.9200.16384"));
  EXPECT_FALSE(r.HasLine("IE 4 or later required - aborting setup"));
  EXPECT_TRUE(r.HasLine("existing Flash OCX is up-to-date (10,0,22,87)"));
  EXPECT_FALSE(r.HasLine("installing Macromedia Flash OCX"));
  EXPECT_TRUE(r.HasLine("MediaPlayer version 10.00.00.3646 installed"));
  EXPECT_FALSE(r.HasLine("MediaPlayer must be updated"));
  EXPECT_TRUE(r.HasLine(UpdateLine(0, kGreetingStep, 1)));
}

TEST(AnalysisRuns, BrowserBelow4_71EndsTheSetupAtStartUp) {
  auto machine = ExampleMachine("xpsp2", R"({
    "registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": "4.70.1155"}}})");
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("IE 4 or later required - aborting setup"));
  EXPECT_FALSE(r.HasLine("installing Macromedia Flash OCX"));
  EXPECT_EQ(r.run.exitCode, kExitFailure);
}

TEST(AnalysisRuns, MissingXmlParserFileEndsTheSetupWithTheResourceMessage) {
  auto machine = ExampleMachine("win98se", "{}", k98Package);
  ASSERT_TRUE(machine);
  ASSERT_TRUE(machine->simFiles().Remove("D:\\msxml3a.dll"));
  Rehearsal r = Rehearse(*machine, "/l 1033");
  EXPECT_TRUE(r.HasLine("copy D:\\msxml3a.dll to C:\\WINDOWS\\SYSTEM\\msxml3a.dll failed error 2"));
  EXPECT_TRUE(r.HasLine("failed to update XML parser library - aborting install"));
  EXPECT_FALSE(r.HasLine("loading D:\\SetupLanguages.xml"));
  int boxes = 0;
  for (const ScreenEvent& event : r.screen.events()) {
    if (event.kind != ScreenEvent::Kind::MessageBox) continue;
    ++boxes;
    EXPECT_EQ(event.text,
              "Initialization failed. A component required by this setup program could not be "
              "initialized.");
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(r.run.exitCode, kExitFailure);
}

TEST(AnalysisRuns, ClosingTheLanguageDialogEndsTheSetupAsACancel) {
  auto machine = ExampleMachine("xpsp2", "{}");
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "", "cancel");
  EXPECT_FALSE(r.HasLine("background created"));
  EXPECT_EQ(r.run.exitCode, kExitUserCancel);
}

TEST(AnalysisRuns, CleanUpModeDeletesTheFolderButNotWhatAJunctionInItPointsAt) {
  auto machine = ExampleMachine("xpsp2", R"({"files": {
    "C:\\Temp\\Setup Files\\setup.exe": {"text": "x", "readOnly": true},
    "C:\\Temp\\Setup Files\\data\\Zentavo.msi": {"text": "x"},
    "C:\\Temp\\Setup Files\\shared\\": {"reparsePoint": "C:\\Documents and Settings\\User"},
    "C:\\Documents and Settings\\User\\notes.txt": {"text": "mine"}
  }})");
  ASSERT_TRUE(machine);
  Rehearsal r = Rehearse(*machine, "/ct C:\\Temp\\Setup Files");
  EXPECT_TRUE(r.HasLine("cleaning up C:\\Temp\\Setup Files"));
  EXPECT_FALSE(machine->simFiles().Exists("C:\\Temp\\Setup Files"));
  EXPECT_EQ(machine->simFiles().Contents("C:\\Documents and Settings\\User\\notes.txt"), "mine");
}

// The clean-up waits for the package's setup.exe only while it is in use
// (the setup that started the copy is still ending); a read-only one or a
// name that cannot be deleted is not waited for.
TEST(AnalysisRuns, CleanUpWaitsForTheSetupProgramOnlyWhileItIsInUse) {
  struct Case {
    const char* what;
    const char* folder;
    const char* setupExe;  // its file object
    uint64_t minMs, maxMs;  // the virtual time the run takes
    bool waits;
  };
  const Case cases[] = {
      {"read-only", "C:\\Temp\\Setup Files", R"({"text": "x", "readOnly": true})", 0, 1000, false},
      {"still running for 2 s", "C:\\Temp\\Setup Files",
       R"({"text": "x", "locked": {"error": 5, "untilMs": 2000}})", 2000, 3000, true},
      {"running and read-only", "C:\\Temp\\Setup Files",
       R"({"text": "x", "readOnly": true, "locked": {"error": 32, "untilMs": 1500}})", 1500, 2500,
       true},
      {"a name no file may have", "C:\\Temp\\Setup|Files", nullptr, 0, 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimJson overlay = SimJson::parse(R"({"files": {}})");
    if (c.setupExe) overlay["files"][std::string(c.folder) + "\\setup.exe"] = SimJson::parse(c.setupExe);
    auto machine = ExampleMachine("xpsp2", overlay.dump());
    ASSERT_TRUE(machine);
    const uint64_t start = machine->clock().now();
    Rehearsal r = Rehearse(*machine, std::string("/ct ") + c.folder);
    const uint64_t took = machine->clock().now() - start;
    EXPECT_GE(took, c.minMs);
    EXPECT_LE(took, c.maxMs);
    bool waited = false;
    for (const std::string& line : r.lines) waited = waited || line.rfind("waiting for the setup to end", 0) == 0;
    EXPECT_EQ(waited, c.waits);
    if (c.setupExe) {
      EXPECT_FALSE(machine->simFiles().Exists(c.folder));
    }
  }
}

}  // namespace
