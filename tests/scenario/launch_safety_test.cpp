// Launch safety: every program the setup starts and every library it loads
// in the rehearsals (a first installation, the upgrade, NT 4.0 with its
// restart, Windows 98 SE with its restart in the middle, a network package
// run from the temporary folder) is named by its full path, never found
// through the search path; the program path at the head of each command line
// and of the Run value is quoted; the arguments keep their form; and the
// clean-up copy in the temporary folder runs only as the setup program's own
// bytes, whatever was planted there before.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "app/exit_codes.h"
#include "support/harness.h"

namespace {

constexpr char kRunValue[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run \"ZenSetupSetup\" = ";
constexpr char kTempFolder[] = "C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\";
constexpr char kNetFolder[] = "C:\\Documents and Settings\\User\\Local Settings\\Temp\\zt net";
// The same file by its long name: a file is planted (and read) in the folder
// the short name stands for.
constexpr char kCleanerLong[] =
    "C:\\Documents and Settings\\User\\Local Settings\\Temp\\ztcleanup.exe";
constexpr char kSetupBytes[] = "MZ the setup program";

// Windows Installer that leaves the product registered, on systems where the
// stand-in package does not install by itself.
constexpr char kRegisteringInstaller[] = R"({"programs": {"msiexec.exe": {"durationMs": 2000,
  "leaves": {"registry": {
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}":
      {"VersionMajor": 2, "VersionMinor": 1},
    "HKCU\\Software\\Corvane\\Zentavo\\Installation": {"InstallDir": "C:\\Program Files\\Zentavo\\"}},
   "files": {"C:\\Program Files\\Zentavo\\Zentavo.exe": {"text": "", "version": {"FileVersion": "2.1.240.0"}}}}}}})";

// The default machine running a network package unpacked in the temporary
// folder; `overlay` adds to it (a planted clean-up copy).
std::unique_ptr<SimMachine> NetPackageMachine(const std::string& overlay = "{}") {
  SimJson description = SimJson::parse(R"({"files": {}})");
  description["setupProgram"] = std::string(kNetFolder) + "\\setup.exe";
  description["files"][std::string(kNetFolder) + "\\setup.exe"] = {{"text", kSetupBytes}};
  description.merge_patch(SimJson::parse(overlay));
  auto machine = MakeMachine(description.dump());
  if (!machine) return nullptr;
  machine->simFiles().Put(std::string(kNetFolder) + "\\setup.ini",
                          "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\nPackageType=Net\r\n"
                          "TargetOS=Win2K\r\n");
  machine->ResealMediumManifest();
  return machine;
}

struct Launches {
  std::vector<std::string> commandLines;  // CreateProcess, in order
  std::vector<std::string> libraries;     // LoadLibraryEx, in order
  std::vector<std::string> runValues;     // the Run value's data, each time it was written
};

Launches Rehearsed(SimMachine& machine, const std::string& commandLine, Rehearsal* r) {
  machine.faults().SetTracing(true);
  *r = RehearseAll(machine, commandLine);
  Launches launches;
  for (const SimSeamCall& call : machine.faults().trace()) {
    if (call.operation == "Processes.CreateProcess") launches.commandLines.push_back(call.detail);
    if (call.operation == "Com.LoadLibraryEx") launches.libraries.push_back(call.detail);
    if (call.operation == "Registry.SetValue" && call.detail.rfind(kRunValue, 0) == 0) {
      launches.runValues.push_back(call.detail.substr(sizeof(kRunValue) - 1));
    }
  }
  return launches;
}

// The program token of a command line and the arguments after it, when the
// line begins with a quoted full path ("C:\...").
bool SplitQuoted(const std::string& commandLine, std::string* program, std::string* arguments) {
  static const std::regex quoted(R"re(^"([A-Za-z]:\\[^"]+)" (.*)$)re");
  std::smatch m;
  if (!std::regex_match(commandLine, m, quoted)) return false;
  *program = m[1];
  *arguments = m[2];
  return true;
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// The arguments each program is started with, as the setup specifies them.
bool ArgumentsKeepTheirForm(const std::string& program, const std::string& arguments,
                            const std::string& setupDir) {
  const std::string name = Lower(FileName(program));
  const std::string folder = std::regex_replace(setupDir, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
  if (name == "msiexec.exe") {
    return std::regex_match(arguments,
                            std::regex("/i \"" + folder + R"(\\Zentavo\.msi" TRANSFORMS="\d+\.mst" REBOOT=ReallySuppress)")) ||
           arguments == "/x {3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93} /q REBOOT=ReallySuppress" ||
           arguments == "/x {C47A1E05-2B9F-4D83-8E6A-5F1D0C3B9A28} /qn REBOOT=ReallySuppress";
  }
  if (name == "vcredist.exe" || name == "instmsia.exe" || name == "instmsiw.exe") {
    // A copy in a folder of the setup's own in the temporary folder.
    return arguments == "/q /r:n" &&
           std::regex_search(Lower(program), std::regex(R"(\\temp\\ztrn[0-9a-f]{8}\\)" + name + "$"));
  }
  if (name == "zentavo.exe") return arguments.empty();
  if (name == "ztcleanup.exe") return arguments == "/ct " + setupDir;
  return false;
}

// Every rule, for every start and load of one rehearsal.
void ExpectLaunchedSafely(SimMachine& machine, const Launches& launches,
                          const std::string& setupDir, const std::string& what) {
  std::string systemDir;
  machine.simEnvironment().GetSystemDirectory(&systemDir);
  for (const std::string& line : launches.commandLines) {
    std::string program, arguments;
    ASSERT_TRUE(SplitQuoted(line, &program, &arguments))
        << what << ": not a quoted full path at the head: " << line;
    EXPECT_TRUE(ArgumentsKeepTheirForm(program, arguments, setupDir)) << what << ": " << line;
    if (Lower(program).find("\\ztrn") != std::string::npos) {
      EXPECT_FALSE(machine.simFiles().Exists(program.substr(0, program.rfind('\\'))))
          << what << ": the copy's folder outlived the run: " << program;
    }
    if (Lower(FileName(program)) == "msiexec.exe") {
      EXPECT_EQ(Lower(program), Lower(systemDir + "\\msiexec.exe")) << what << ": " << line;
    }
  }
  // What ran is what the command line named.
  for (const SimProcess* process : machine.simProcesses().StartedProcesses()) {
    std::string program, arguments;
    if (!SplitQuoted(process->commandLine, &program, &arguments)) continue;  // the Run key's
    EXPECT_EQ(Lower(process->program), Lower(program)) << what;
  }
  for (const std::string& library : launches.libraries) {
    EXPECT_EQ(Lower(library.substr(0, systemDir.size() + 1)), Lower(systemDir + "\\"))
        << what << ": a library loaded from outside the system folder: " << library;
  }
  static const std::regex run(R"re(^"([A-Za-z]:[^"]*)\\setup\.exe" /c \d+ /l \d+$)re");
  for (const std::string& value : launches.runValues) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(value, m, run)) << what << ": Run value " << value;
    if (m.size() > 1) {
      EXPECT_EQ(m[1], setupDir) << what;
    }
  }
}

}  // namespace

TEST(LaunchSafety, EveryStartAndLoadOfTheRehearsalsIsByQuotedFullPath) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<SimMachine>()> machine;
    const char* setupDir;
    size_t minimumStarts;
    bool runValue;
  };
  const Case cases[] = {
      {"first installation (XP)", [] { return MakeMachine(); }, "D:", 2, false},
      {"upgrade of the running 2.0 (XP)", [] { return ExampleMachine("xp-upgrade", "{}", ""); }, "D:", 3,
       false},
      {"NT 4.0 and its restart", [] { return ExampleMachine("nt4sp6a", kRegisteringInstaller, "WinNT"); },
       "D:", 4, true},
      {"Windows 98 SE and the restart after Windows Installer",
       [] {
         return ExampleMachine("win98se", R"({"files": {"C:\\WINDOWS\\SYSTEM\\msiexec.exe":
             {"text": "", "version": {"FileVersion": "1.10.1029.0"}}}})",
                        "Win98");
       },
       "D:", 3, true},
      {"network package from the temporary folder", [] { return NetPackageMachine(); },
       kNetFolder, 3, false},
  };
  for (const Case& c : cases) {
    auto machine = c.machine();
    ASSERT_TRUE(machine) << c.what;
    Rehearsal r;
    Launches launches = Rehearsed(*machine, "/l 1033", &r);
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << c.what << "\n" << r.run.log;
    EXPECT_GE(launches.commandLines.size(), c.minimumStarts) << c.what;
    EXPECT_EQ(!launches.runValues.empty(), c.runValue) << c.what;
    ExpectLaunchedSafely(*machine, launches, c.setupDir, c.what);
  }
}

TEST(LaunchSafety, WindowsStartsProgramsByTheSearchPathButTheSetupDoesNotDependOnIt) {
  // A planted msiexec.exe in the setup folder of a network package is what a
  // bare name would find first; the setup names Windows Installer by its
  // full path, so the planted one never runs.
  const std::string planted = R"({"files": {"C:\\Documents and Settings\\User\\Local Settings\\Temp\\zt net\\msiexec.exe": {"text": "planted"}}})";
  auto machine = NetPackageMachine(planted);
  ASSERT_TRUE(machine);
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  EXPECT_TRUE(r.HasLine("Zentavo setup complete - exit code 00000000h")) << r.run.log;
  for (const SimProcess* process : machine->simProcesses().StartedProcesses()) {
    EXPECT_NE(Lower(process->program), Lower(std::string(kNetFolder) + "\\msiexec.exe"));
  }
  // The control, on the same machine before the setup ran (its clean-up
  // deletes the folder): by bare name, the simulated Windows finds the
  // planted copy.
  auto control = NetPackageMachine(planted);
  ASSERT_TRUE(control);
  ProcessInformation info;
  ASSERT_EQ(control->simProcesses().CreateProcess("msiexec.exe /x {x}", 0, &info),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Lower(control->simProcesses().StartedProcesses().back()->program),
            Lower(std::string(kNetFolder) + "\\msiexec.exe"));
  control->simProcesses().CloseHandle(info.process);
  control->simProcesses().CloseHandle(info.thread);
}

// The folder of the clean-up copy that a rehearsal of the net package makes.
std::string CleanerFolderOf(const Rehearsal& r) {
  for (const std::string& line : r.lines) {
    if (line.rfind("clean-up copy is ", 0) == 0) return line.substr(17, line.rfind('\\') - 17);
  }
  return std::string();
}

TEST(LaunchSafety, APlantedCleanUpCopyOrFolderIsNeverUsed) {
  const std::string first = CleanerFolderOf(RehearseAll(*NetPackageMachine(), "/l 1033"));
  const std::string kLongTemp = "C:\\Documents and Settings\\User\\Local Settings\\Temp\\";
  ASSERT_EQ(first.rfind(std::string(kTempFolder) + "ztcl", 0), 0u);
  struct Case {
    const char* what;
    std::string path;     // planted in the temporary folder
    const char* planted;  // its file object
  };
  const Case cases[] = {
      {"nothing planted", std::string(), nullptr},
      {"a program of the copy's name", kCleanerLong, R"({"text": "MZ planted"})"},
      {"a read-only one, held open", kCleanerLong,
       R"({"text": "MZ planted", "readOnly": true, "locked": 32})"},
      {"the copy's folder made beforehand, with a program in it",
       kLongTemp + first.substr(sizeof(kTempFolder) - 1) + "\\ztcleanup.exe",
       R"({"text": "MZ planted"})"},
  };
  for (const Case& c : cases) {
    SimJson overlay = SimJson::parse(R"({"files": {}})");
    if (c.planted) overlay["files"][c.path] = SimJson::parse(c.planted);
    auto machine = NetPackageMachine(overlay.dump());
    ASSERT_TRUE(machine) << c.what;
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << c.what << "\n" << r.run.log;
    EXPECT_TRUE(r.HasLine(std::string("cleaning up ") + kNetFolder)) << c.what << "\n" << r.run.log;
    // The copy that ran is the setup program's own bytes, in a folder the
    // setup made; what was planted is untouched and never started.
    const std::string folder = CleanerFolderOf(r);
    EXPECT_EQ(machine->simFiles().Contents(folder + "\\ztcleanup.exe"), kSetupBytes) << c.what;
    if (!c.planted) continue;
    if (c.path != kCleanerLong) {
      EXPECT_NE(Lower(folder), Lower(first)) << c.what;
    }
    EXPECT_EQ(machine->simFiles().Contents(c.path), "MZ planted") << c.what;
    for (const std::string& line : machine->simProcesses().startedCommandLines()) {
      EXPECT_EQ(Lower(line).find(Lower(c.path)), std::string::npos) << c.what << ": " << line;
    }
  }
}

TEST(LaunchSafety, ACleanUpCopyThatCannotBeCheckedIsNotStarted) {
  // The copy is read back before it is started; when that read fails the
  // copy does not run.
  auto probe = NetPackageMachine();
  probe->faults().SetTracing(true);
  RehearseAll(*probe, "/l 1033");
  uint64_t reads = 0, cleanerRead = 0;
  for (const SimSeamCall& call : probe->faults().trace()) {
    if (call.operation != "FileSystem.ReadFile") continue;
    ++reads;
    if (Lower(call.detail).find("ztcleanup.exe") != std::string::npos) cleanerRead = reads;
  }
  ASSERT_GT(cleanerRead, 0u) << "the copy is read back";

  auto machine = NetPackageMachine();
  SimFault fault;
  fault.operation = "FileSystem.ReadFile";
  fault.call = cleanerRead;
  fault.error = ERROR_SHARING_VIOLATION;
  machine->faults().Plan(fault);
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  bool refused = false;
  for (const std::string& line : r.lines) {
    refused = refused || (line.rfind(std::string("clean-up copy ") + kTempFolder + "ztcl", 0) == 0 &&
                          line.find("\\ztcleanup.exe is not the setup program - not started") !=
                              std::string::npos);
  }
  EXPECT_TRUE(refused) << r.run.log;
  EXPECT_FALSE(r.HasLine(std::string("cleaning up ") + kNetFolder));
  EXPECT_EQ(r.run.runs, 1);
}

// Files planted by another program: a clean-up copy and libraries in the
// temporary and setup folders before the run, a clean-up copy slipped into
// the copy's folder while the setup runs, and a saved hive replaced between
// its save and its restore. None is started, loaded or restored.
TEST(LaunchSafety, PlantedFilesAreNeverStartedLoadedOrRestored) {
  struct Case {
    const char* what;
    std::string temp;  // the temporary folder's long form
    std::string netFolder;
    bool resumes;  // the setup restarts Windows and is resumed by the Run value
  };
  const Case cases[] = {
      {"Windows XP", "C:\\Documents and Settings\\User\\Local Settings\\Temp\\", kNetFolder,
       false},
      {"Windows NT 4.0 (C:\\TEMP, everybody's)", "C:\\TEMP\\", "C:\\TEMP\\zt net", true},
  };
  for (const Case& c : cases) {
    SimJson planted = SimJson::parse(R"({"files": {}})");
    for (const std::string& folder : {c.temp, c.netFolder + "\\"}) {
      for (const char* name : {"ztcleanup.exe", "comctl32.dll", "cfgmgr32.dll"}) {
        planted["files"][folder + name] = {{"text", "MZ planted"}, {"library", SimJson::object()}};
      }
    }
    auto make = [&c](const SimJson& overlay) {
      if (c.netFolder == kNetFolder) return NetPackageMachine(overlay.dump());
      SimJson description = SimJson::parse(kRegisteringInstaller);
      description.merge_patch(overlay);
      description["setupProgram"] = c.netFolder + "\\setup.exe";
      description["files"][c.netFolder + "\\setup.exe"] = {{"text", kSetupBytes}};
      auto machine = ExampleMachine("nt4sp6a", description.dump());
      machine->simFiles().Put(c.netFolder + "\\setup.ini",
                              "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                              "PackageType=Net\r\nTargetOS=WinNT\r\n");
      machine->ResealMediumManifest();
      return machine;
    };
    auto probe = make(SimJson::parse(R"({"files": {}})"));
    probe->faults().SetTracing(true);
    std::string cleanerFolder = CleanerFolderOf(RehearseAll(*probe, "/l 1033"));
    ASSERT_FALSE(cleanerFolder.empty()) << c.what;
    cleanerFolder = c.temp + cleanerFolder.substr(cleanerFolder.rfind('\\') + 1);
    auto machine = make(planted);
    SimFault slipIn;  // just before the setup writes its copy
    slipIn.operation = "FileSystem.Copy";
    for (const SimSeamCall& call : probe->faults().trace()) {
      if (call.operation != "FileSystem.Copy") continue;
      ++slipIn.call;
      if (call.detail.find("ztcleanup.exe") != std::string::npos) break;
    }
    slipIn.plantPath = cleanerFolder + "\\comctl32.dll";
    slipIn.plantFile = {{"text", "MZ planted"}, {"library", SimJson::object()}};
    machine->faults().Plan(slipIn);
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << c.what << "\n" << r.run.log;
    EXPECT_TRUE(r.HasLine("cleaning up " + c.netFolder)) << c.what;
    // NT 4.0's redistributables ran from their copies, beside no planted library.
    EXPECT_EQ(r.HasLine("running a copy of " + c.netFolder + "\\vcredist.exe") &&
                  r.HasLine("running a copy of " + c.netFolder + "\\instmsiw.exe"),
              c.resumes)
        << c.what;
    for (const SimProcess* process : machine->simProcesses().StartedProcesses()) {
      EXPECT_NE(Lower(process->program), Lower(c.temp + "ztcleanup.exe")) << c.what;
    }
    // The one load left: Windows itself starts the resumed setup from the
    // package's folder by the Run value (docs/decisions.md), and that folder
    // was the one the administrator started the setup from.
    size_t loads = 0;
    for (const SimLibraryLoad& load : machine->simProcesses().libraryLoads()) {
      ++loads;
      if (c.resumes && load.program == c.netFolder + "\\setup.exe" &&
          load.library == c.netFolder + "\\comctl32.dll") {
        continue;
      }
      ADD_FAILURE() << c.what << ": " << load.program << " loaded " << load.library;
    }
    EXPECT_EQ(loads, c.resumes ? 1u : 0u) << c.what;
    ASSERT_EQ(machine->faults().plants().size(), 1u) << c.what;
    EXPECT_EQ(machine->faults().plants()[0].rfind("refused ", 0), 0u) << machine->faults().plants()[0];

    // The clean-up copy started in the system folder, as it is now.
    std::string systemDir;
    machine->simEnvironment().GetSystemDirectory(&systemDir);
    const std::string cleaner = CleanerFolderOf(r) + "\\ztcleanup.exe";
    for (const SimProcess* process : machine->simProcesses().StartedProcesses()) {
      if (Lower(process->program) == Lower(cleaner)) {
        EXPECT_EQ(process->currentDirectory, systemDir) << c.what;
      }
    }
    // The controls. The same copy started with the temporary folder as its
    // current folder, as it was before: on NT 4.0, which looks in the current
    // folder before the system folder, the planted C:\TEMP\comctl32.dll
    // loads; on XP SP2 the manifest takes comctl32.dll from WinSxS (and
    // SafeDllSearchMode puts the current folder last), so nothing does.
    auto start = [&machine](const std::string& commandLine, const std::string& current) {
      ProcessInformation info;
      ASSERT_EQ(machine->simProcesses().CreateProcess(commandLine, 0, &info, current),
                static_cast<DWORD>(ERROR_SUCCESS));
      machine->simProcesses().CloseHandle(info.process);
      machine->simProcesses().CloseHandle(info.thread);
    };
    start("\"" + cleaner + "\" /ct x", systemDir);
    EXPECT_EQ(machine->simProcesses().libraryLoads().size(), loads) << c.what;
    start("\"" + cleaner + "\" /ct x", c.temp);
    ASSERT_EQ(machine->simProcesses().libraryLoads().size(), loads + (c.resumes ? 1 : 0)) << c.what;
    if (c.resumes) {
      EXPECT_EQ(machine->simProcesses().libraryLoads().back().library, c.temp + "comctl32.dll");
    }
  }
}

// The seam call (counted over every fault point, from 1) at which the
// `nth` line starting with `text` is written to the log.
uint64_t CallLogging(const std::vector<SimSeamCall>& trace, const std::string& text, int nth) {
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].operation == "FileSystem.AppendText" &&
        trace[i].detail.find(text) != std::string::npos && --nth == 0) {
      return i + 1;
    }
  }
  return 0;
}

// A saved copy replaced between its save and its restore: its folder of
// Administrators and SYSTEM renamed away by someone who may delete in the
// temporary folder (every user in NT 4.0's C:\TEMP, the user's own programs
// on XP) and a folder of the same name put in its place with a hive or an
// address book of their own. The digest recorded at the save tells it: the
// copy is not restored, and the run says where the data should have come
// from instead of completing. Before the restore of the first run and after
// the restart that an address book held by another program waits for.
TEST(LaunchSafety, ASavedCopyReplacedBeforeItsRestoreIsNeverRestored) {
  struct Case {
    const char* what;
    bool nt4;
    bool acrossTheRestart;
    const char* commandLine;
    const char* answers;  // the last one answers the box that names the copies
  };
  const Case cases[] = {
      {"XP, the Settings hive", false, false, "/l 1033", "confirm,confirm,cancel"},
      {"XP, the address book after the restart", false, true, "/l 1033 /quiet", ""},
      {"NT 4.0, the Settings hive", true, false, "/l 1033 /quiet", ""},
      {"NT 4.0, the address book after the restart", true, true, "/l 1033",
       "confirm,confirm,confirm,cancel"},
  };
  const std::string kSettings = "HKCU\\Software\\Corvane\\Zentavo\\Settings";
  const std::string kAddressBook = "C:\\Program Files\\Zentavo\\Zentavo.mdb";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimJson overlay = SimJson::parse(R"({"files": {}})");
    if (c.nt4) {
      overlay = SimJson::parse(R"({"os": {"platformId": 2, "major": 4, "minor": 0, "build": 1381,
          "servicePack": "Service Pack 6a"}, "directories": {"temp": "C:\\TEMP\\"},
          "files": {"C:\\TEMP": null}})");
    }
    if (c.acrossTheRestart) overlay["files"][kAddressBook] = {{"locked", 5}};
    auto make = [&] { return ExampleMachine("xp-upgrade", overlay.dump(), c.nt4 ? "WinNT" : ""); };
    // Where the copy lies and when the restore begins, from a run without
    // the replacement.
    auto probe = make();
    ASSERT_TRUE(probe);
    probe->faults().SetTracing(true);
    Rehearsal clean = RehearseAll(*probe, c.commandLine, c.answers);
    ASSERT_EQ(clean.run.exitCode, kExitSuccess) << clean.run.log;
    std::string copy;
    for (const SimSeamCall& call : probe->faults().trace()) {
      if (copy.empty() && !c.acrossTheRestart && call.operation == "Registry.SaveKey") {
        copy = call.detail.substr(call.detail.find(" -> ") + 4);
      }
    }
    if (c.acrossTheRestart) {
      const std::string prefix = "copy " + kAddressBook.substr(0, kAddressBook.rfind('\\')) +
                                 "\\\\Zentavo.mdb to ";
      for (const std::string& line : clean.lines) {
        if (copy.empty() && line.rfind(prefix, 0) == 0) copy = line.substr(prefix.size());
      }
    }
    ASSERT_FALSE(copy.empty());
    const uint64_t restore =
        CallLogging(probe->faults().trace(), "restoring user data", c.acrossTheRestart ? 2 : 1);
    ASSERT_GT(restore, 0u);

    auto machine = make();
    const std::optional<std::string> nickname = machine->simRegistry().GetString(kSettings, "Nickname");
    SimFault replace;
    replace.operation = "*";
    replace.call = restore;
    replace.plantPath = copy;
    replace.plantReplacesFolder = true;
    replace.plantFile = c.acrossTheRestart
                            ? SimJson{{"text", "Mallory 555-0199"}}
                            : SimJson{{"text", "{\"values\": {\"Nickname\": \"Mallory\"}}"}};
    machine->faults().Plan(replace);
    Rehearsal r = RehearseAll(*machine, c.commandLine, c.answers);
    ASSERT_EQ(machine->faults().plants().size(), 1u);
    EXPECT_EQ(machine->faults().plants()[0], "planted " + copy);
    const char* item = c.acrossTheRestart ? "AddressBook" : "Settings";
    EXPECT_TRUE(r.HasLine(std::string("saved ") + item + " at " + copy +
                          " is not the copy that was saved - it is not restored"))
        << r.run.log;
    const std::string place = c.acrossTheRestart ? "C:\\Program Files\\Zentavo\\\\Zentavo.mdb"
                                                 : "HKEY_CURRENT_USER\\Software\\Corvane\\Zentavo\\Settings";
    EXPECT_TRUE(r.HasLine(std::string(item) + " could not be put back: " + place +
                          " - its copy is " + copy))
        << r.run.log;
    EXPECT_EQ(r.run.exitCode, kExitFailure);
    // NT 4.0 restarts after the package anyway: what failed waits for it and
    // is tried once more.
    EXPECT_EQ(r.run.runs, c.acrossTheRestart || c.nt4 ? 2 : 1);
    EXPECT_FALSE(r.HasLine(UpdateLine(0, 17, 1)));
    // Nothing of the replacement reached the user's data.
    EXPECT_NE(machine->simRegistry().GetString(kSettings, "Nickname"), "Mallory");
    EXPECT_NE(machine->simFiles().Contents(kAddressBook), "Mallory 555-0199");
    if (!c.acrossTheRestart) {
      EXPECT_NE(machine->simRegistry().GetString(kSettings, "Nickname"), nickname);
    }
    if (std::string(c.commandLine).find("/quiet") != std::string::npos) {
      EXPECT_EQ(r.lines.back(), "unattended: exit code 1603");
    }
  }
}

// While a copy goes back it is held open, readers only: its folder cannot be
// renamed away in the middle of the restore.
TEST(LaunchSafety, ASavedCopyIsHeldWhileItGoesBack) {
  auto probe = ExampleMachine("xp-upgrade");
  probe->faults().SetTracing(true);
  RehearseAll(*probe, "/l 1033");
  std::string hive;
  for (const SimSeamCall& call : probe->faults().trace()) {
    if (hive.empty() && call.operation == "Registry.SaveKey") {
      hive = call.detail.substr(call.detail.find(" -> ") + 4);
    }
  }
  auto machine = ExampleMachine("xp-upgrade");
  const std::optional<std::string> nickname =
      machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Nickname");
  SimFault replace;
  replace.operation = "Registry.RestoreKey";
  replace.call = 1;
  replace.plantPath = hive;
  replace.plantReplacesFolder = true;
  replace.plantFile = {{"text", "{\"values\": {\"Nickname\": \"Mallory\"}}"}};
  machine->faults().Plan(replace);
  Rehearsal r = RehearseAll(*machine, "/l 1033");
  EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
  ASSERT_EQ(machine->faults().plants().size(), 1u);
  EXPECT_EQ(machine->faults().plants()[0],
            "refused " + hive + ": the folder cannot be renamed - error 5");
  EXPECT_EQ(machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Nickname"),
            nickname);
}

// Every example machine, rehearsed with the medium made for its Windows: no
// program the setup starts, and no library it loads itself, takes a library
// from outside the system folder (the temporary folder, the medium, the
// current folder).
TEST(LaunchSafety, NoExampleRehearsalLoadsALibraryFromOutsideTheSystemFolder) {
  const struct {
    const char* name;
    const char* targetOs;
  } machines[] = {{"xpsp2", ""},         {"xp-upgrade", ""},          {"xp-camera-hub", ""},
                  {"xp-camera-unplugged", ""}, {"xp-installers", ""}, {"xp-power-cut", ""},
                  {"win2000sp4", ""},    {"nt4sp6a", "WinNT"},        {"win98se", "Win98"},
                  {"win98se-upgrade", "Win98"}, {"winme", "Win98"}};
  for (const auto& m : machines) {
    auto machine = ExampleMachine(m.name, "{}", m.targetOs);
    ASSERT_TRUE(machine) << m.name;
    RehearseAll(*machine, "/l 1033");
    for (const SimLibraryLoad& load : machine->simProcesses().libraryLoads()) {
      ADD_FAILURE() << m.name << ": " << load.program << " loaded " << load.library;
    }
  }
}

// The names of the setup's own folders come from the system's random source
// (RtlGenRandom, CryptGenRandom), not from the clock that anyone can read:
// the same clock with another random draw gives other names, another clock
// with the same draw the same ones. Without a random source the clock's mix
// stands in.
TEST(LaunchSafety, TheOwnFoldersAreNamedFromTheRandomSource) {
  struct Case {
    uint64_t seed;
    const char* tickCount;
    bool randomSourceFails;  // for the first name drawn
  };
  auto folderOf = [](const Case& c) {
    auto machine = ExampleMachine(
        "xp-upgrade", std::string(R"({"clock": {"tickCount": )") + c.tickCount +
                          R"(}, "randomSeed": )" + std::to_string(c.seed) + "}");
    if (c.randomSourceFails) {
      SimFault fault;
      fault.operation = "Environment.GenRandom";
      fault.call = 1;
      fault.error = ERROR_NOT_SUPPORTED;
      machine->faults().Plan(fault);
    }
    Rehearsal r = RehearseAll(*machine, "/l 1033");
    EXPECT_EQ(r.run.exitCode, kExitSuccess) << r.run.log;
    for (const std::string& line : r.lines) {
      const size_t at = line.find("\\ztsv");
      if (line.rfind("copy C:\\Program Files", 0) == 0 && at != std::string::npos) {
        return line.substr(at + 1, 12);
      }
    }
    return std::string();
  };
  const std::string drawn = folderOf({1, "1805000", false});
  ASSERT_EQ(drawn.size(), 12u);
  EXPECT_EQ(folderOf({1, "9000000", false}), drawn);
  EXPECT_NE(folderOf({2, "1805000", false}), drawn);
  const std::string fromClock = folderOf({1, "1805000", true});
  EXPECT_NE(fromClock, drawn);
  EXPECT_EQ(folderOf({2, "1805000", true}), fromClock);
  EXPECT_NE(folderOf({1, "9000000", true}), fromClock);
}
