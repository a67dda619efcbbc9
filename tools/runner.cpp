#include "runner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "analysis/medium_check.h"
#include "platform/sha256.h"
#include "app/setup_app.h"
#include "platform/sim/sim_diff.h"
#include "platform/sim/sim_machine.h"
#include "terminal.h"

#ifndef ZT_DEMO_MEDIUM_DIR
#define ZT_DEMO_MEDIUM_DIR "medium"
#endif

std::string RunnerUsage() {
  return "usage: zentavo-sim [--machine FILE] [--medium DIR] [--answers LIST] [--log FILE]\n"
         "                   [--screens FILE] [--state FILE] [--changes FILE|-] [--no-medium]\n"
         "                   [--interactive] [-- SETUP-ARGUMENTS...]\n"
         "       zentavo-sim --compare A.json B.json [--medium DIR]\n"
         "  --machine FILE   the machine description (default: the embedded Windows XP machine)\n"
         "  --medium DIR     the folder whose files are the setup directory, as it is\n"
         "                   (default: the demo medium the build lays out, made for the\n"
         "                   machine's Windows family: TargetOS Win98, WinNT or Win2K)\n"
         "  --no-medium      mount no medium: the machine's own files are the setup folder\n"
         "  --answers LIST   comma-separated answers: confirm, cancel, close, lang=<id>,\n"
         "                   wait=<ms> (lets that much virtual time pass),\n"
         "                   activate=setup|background|<title> (clicks a window),\n"
         "                   press=<title> (presses a window's default button)\n"
         "                   (default: every wait is answered confirm)\n"
         "  --log FILE       write the installation log there (default: standard output)\n"
         "  --screens FILE   write the transcript of every screen state\n"
         "  --state FILE     write the final machine in the --machine format\n"
         "  --changes FILE   write what the rehearsal changed on the machine (-: standard output,\n"
         "                   which then does not carry the log)\n"
         "  --compare A B    no run: what changed from machine file A to machine file B\n"
         "  --interactive    show the setup window in the terminal; Enter confirms, Esc cancels\n"
         "  -- ARGS          the setup's own command line, e.g. -- /c 12 /l 1031\n"
         "exit status: the setup's exit code (0, 1602, 1603 or 3010, which a shell sees as\n"
         "  0, 66, 67 or 194); 2 unusable input; 3 the answers ran out or did not fit;\n"
         "  4 the machine lost its power (a planned fault) and nothing ran after it\n";
}

bool ParseRunnerArguments(const std::vector<std::string>& args, RunnerOptions* options,
                          std::string* error) {
  auto isOption = [](const std::string& arg) { return arg.rfind("--", 0) == 0; };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* target) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *target = args[++i];
      return true;
    };
    if (arg == "--") {
      options->setupArgumentsGiven = true;
      // Joined as Windows passes a program its arguments: one that holds a
      // blank (or is empty) in double quotes, so that "/log" "C:\My Logs\z.log"
      // stays one path.
      std::string line;
      for (size_t j = i + 1; j < args.size(); ++j) {
        if (j > i + 1) line += ' ';
        const std::string& part = args[j];
        bool quote = part.empty() || (part.find(' ') != std::string::npos && part.front() != '"');
        line += quote ? "\"" + part + "\"" : part;
      }
      options->setupArguments = line;
      break;
    } else if (arg == "--help" || arg == "-h") {
      *error = "help";
      return false;
    } else if (arg == "--machine") {
      if (!value(&options->machineFile)) return false;
    } else if (arg == "--medium") {
      if (!value(&options->mediumDir)) return false;
    } else if (arg == "--log") {
      if (!value(&options->logFile)) return false;
    } else if (arg == "--screens") {
      if (!value(&options->screensFile)) return false;
    } else if (arg == "--state") {
      if (!value(&options->stateFile)) return false;
    } else if (arg == "--changes") {
      if (!value(&options->changesFile)) return false;
    } else if (arg == "--no-medium") {
      options->noMedium = true;
    } else if (arg == "--compare") {
      if (i + 2 >= args.size() || isOption(args[i + 1]) || isOption(args[i + 2])) {
        *error = "--compare needs two machine files: --compare A.json B.json";
        return false;
      }
      options->compareBefore = args[++i];
      options->compareAfter = args[++i];
      options->compare = true;
    } else if (arg == "--interactive") {
      options->interactive = true;
    } else if (arg == "--answers") {
      std::string list;
      if (!value(&list)) return false;
      options->answersGiven = true;
      options->answers.clear();
      std::stringstream items(list);
      std::string item;
      while (std::getline(items, item, ',')) {
        Answer answer;
        if (!Answer::Parse(item, &answer)) {
          *error = "--answers: \"" + item +
                   "\" is not an answer (confirm, cancel, close, lang=<id>, wait=<ms>, "
                   "activate=<window>, press=<title>)";
          return false;
        }
        options->answers.push_back(answer);
      }
    } else {
      *error = "unknown argument \"" + arg + "\"";
      return false;
    }
  }
  if (options->noMedium && !options->mediumDir.empty()) {
    *error = "--medium and --no-medium exclude each other: --medium DIR mounts that folder, "
             "--no-medium mounts none";
    return false;
  }
  return true;
}

namespace {

std::string LogPath(SimMachine& machine) {
  std::string temp;
  if (machine.environment().GetTempPath(&temp) != ERROR_SUCCESS) return std::string();
  return temp + "\\ZentavoInstall.log";
}

bool ReadHostFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

// The machine of a description file; null with a message on `err`.
std::unique_ptr<SimMachine> LoadMachineFile(const std::string& path, std::ostream& err) {
  std::string text, error;
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) {
    err << "zentavo-sim: " << path
        << ": no such file (the example machines are docs/machines/*.json)\n";
    return nullptr;
  }
  if (std::filesystem::is_directory(status)) {
    err << "zentavo-sim: " << path
        << ": a folder, not a machine description (name a .json file, such as "
           "docs/machines/xpsp2.json)\n";
    return nullptr;
  }
  if (!ReadHostFile(path, &text)) {
    err << "zentavo-sim: " << path << ": cannot read the file: " << std::strerror(errno) << "\n";
    return nullptr;
  }
  std::unique_ptr<SimMachine> machine = SimMachine::FromJson(text, path, &error);
  if (!machine) err << "zentavo-sim: " << error << "\n";
  return machine;
}

// True when a report names a change.
bool ReportsChanges(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("+ ", 0) == 0 || line.rfind("- ", 0) == 0 || line.rfind("~ ", 0) == 0) {
      return true;
    }
  }
  return false;
}

// Mounts a medium folder; false with a message on `err`.
bool MountMediumFolder(SimMachine& machine, const std::string& folder, std::ostream& err) {
  std::string error;
  if (!std::filesystem::exists(folder)) {
    err << "zentavo-sim: " << folder << ": no such medium folder\n";
    return false;
  }
  if (machine.MountMedium(folder, &error)) return true;
  err << "zentavo-sim: " << error << "\n";
  return false;
}

// The system setup.ini's TargetOS names for the machine's Windows family:
// the medium a release engineer would put in that machine's drive.
const char* TargetOsFor(const OsVersion& os) {
  if (os.platformId != VER_PLATFORM_WIN32_NT) return "Win98";
  return os.majorVersion < 5 ? "WinNT" : "Win2K";
}

// The demo medium's manifest (medium.sha), written by the medium targets,
// with the line of the one file the runner changed made again and every
// other line kept: hashing every file of the medium for one line was a sixth
// of a rehearsal's time. The manifest is written in the form the medium
// targets write ("digest  name", forward slashes).
void ResealMediumLine(SimMachine& machine, const std::string& name, const std::string& bytes) {
  SimFile* manifest =
      machine.simFiles().MutableNode(machine.setupFolder() + "\\" + kMediumManifestName);
  if (!manifest || manifest->directory || !manifest->content) return;
  std::vector<MediumFile> entries;
  if (ParseMediumManifest(*manifest->content, &entries) != 0) return;
  std::string text;
  for (const MediumFile& entry : entries) {
    std::string listed = entry.name;
    std::replace(listed.begin(), listed.end(), '\\', '/');
    text += (entry.name == name ? CSha256::HexDigest(bytes) : entry.digest) + "  " + listed + "\n";
  }
  manifest->content = std::make_shared<const std::string>(std::move(text));
}

// Makes the mounted demo medium the one for the machine's Windows family: the
// media differ only in setup.ini's TargetOS.
void MakeMediumForMachine(SimMachine& machine) {
  SimFile* ini = machine.simFiles().MutableNode(machine.setupFolder() + "\\setup.ini");
  if (!ini || ini->directory || !ini->content) return;
  std::string text = *ini->content;
  const std::string key = "\nTargetOS=";
  size_t at = text.find(key);
  if (at == std::string::npos) return;
  at += key.size();
  size_t end = text.find_first_of("\r\n", at);
  text.replace(at, end == std::string::npos ? std::string::npos : end - at,
               TargetOsFor(machine.simEnvironment().os));
  ini->content = std::make_shared<const std::string>(std::move(text));
  ResealMediumLine(machine, "setup.ini", *ini->content);
}

// "the machine lost its power at call N of OPERATION", from the last power cut.
std::string PowerCutText(const SimFaults& faults) {
  for (auto it = faults.fired().rbegin(); it != faults.fired().rend(); ++it) {
    if (!it->powerCut) continue;
    return "the machine lost its power at call " + std::to_string(it->call) + " of " +
           (it->operation == "*" ? std::string("the setup's calls (\"*\")") : it->operation);
  }
  return "the machine lost its power";
}

bool WriteHostFile(const std::string& path, const std::string& bytes, std::ostream& err) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << bytes;
  if (!out) {
    err << "zentavo-sim: cannot write " << path << "\n";
    return false;
  }
  return true;
}

}  // namespace

SetupRun RunSetupOnce(SimMachine& machine, AnswerSource& answers,
                      std::function<void(const ScreenEvent&)> observer,
                      RecordingScreen* screenOut) {
  SetupRun run;
  std::string logPath;
  {
    SimFrontEnd frontEnd(machine.clock(), answers);
    frontEnd.SetCodePage(machine.codePage().codePage());
    frontEnd.AttachSessionRequests(&machine.simProcesses());
    frontEnd.AttachDesktop(&machine.simDesktop());
    if (observer) frontEnd.SetObserver(observer);
    SimFaults& faults = machine.faults();
    faults.SetPowerCutHandler([&machine, &frontEnd] {
      // Programs that ended before the power went have done their work.
      machine.simProcesses().StartedProcesses();
      frontEnd.Stop("the power went off", false);
    });
    faults.Arm(true);
    {
      CSetupApp app(machine, frontEnd);
      run.exitCode = app.Run();
      run.exitCodes = {run.exitCode};
      // The file the run logged to: the one /log named, or the usual one.
      logPath = app.log().g_strLogPath;
    }
    faults.Arm(false);
    faults.SetPowerCutHandler(nullptr);
    run.powerCut = run.endedInPowerCut = faults.powerCut();
    run.answersRanOut = frontEnd.answersRanOut();
    run.sessionEnded = frontEnd.sessionEnded();
    run.stopReason = frontEnd.stopReason();
    // The transcript ends with how the run ended: its full exit code, which
    // a shell sees only modulo 256, or why it stopped without one.
    if (run.powerCut) {
      run.powerCutText = PowerCutText(faults);
      frontEnd.NoteEnd("stopped", run.powerCutText);
    } else if (run.answersRanOut) {
      frontEnd.NoteEnd("stopped", run.stopReason);
    } else {
      frontEnd.NoteEnd("exit code " + std::to_string(run.exitCode));
    }
    run.transcript = frontEnd.screen().Transcript();
    run.finalScreen = run.answersRanOut
                          ? RecordingScreen::Render(frontEnd.stopScreen())
                          : RecordingScreen::Render(frontEnd.screen().current());
    if (screenOut) *screenOut = frontEnd.screen();
  }
  std::string path = logPath.empty() ? LogPath(machine) : logPath;
  if (!path.empty()) machine.files().ReadFile(path, &run.log);
  return run;
}

namespace {

// One start of the setup program, or of a copy of it.
struct SetupStart {
  std::string program;  // the program file: what the run sees as its own path
  std::string arguments;
  DWORD processId = 0;  // its simulated process; 0 for the rehearsal's first run
  std::string commandLine;
  std::string currentDirectory;  // where it starts; empty: the medium's folder
};

SetupRun RunSetupAs(SimMachine& machine, const SetupStart& start, AnswerSource& answers,
                    std::function<void(const ScreenEvent&)> observer) {
  SimEnvironment& environment = machine.simEnvironment();
  const std::string ownProgram = environment.setupProgram;
  environment.setupProgram = start.program;
  machine.SetCommandLine(start.arguments);
  SimFileSystem& files = machine.simFiles();
  const std::string ownFolder = files.currentDirectory();
  if (!start.currentDirectory.empty()) files.SetCurrentDirectory(start.currentDirectory);
  SetupRun run = RunSetupOnce(machine, answers, observer);
  files.SetCurrentDirectory(ownFolder);
  environment.setupProgram = ownProgram;
  if (start.processId != 0) machine.simProcesses().EndProcess(start.processId, run.exitCode);
  return run;
}

// The REG_SZ and REG_EXPAND_SZ values of a Run key, in order.
std::vector<std::string> RunKeyCommands(SimMachine& machine, HKEY root) {
  std::vector<std::string> commands;
  RegKey key(machine.registry());
  if (key.Open(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", KEY_READ) !=
      ERROR_SUCCESS) {
    return commands;
  }
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameSize = sizeof(name);
    DWORD type = 0;
    std::vector<BYTE> data(32768);
    DWORD dataSize = static_cast<DWORD>(data.size());
    LONG result = machine.registry().EnumValue(key.get(), index, name, &nameSize, &type,
                                               data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    std::string command(reinterpret_cast<const char*>(data.data()), dataSize);
    command = command.substr(0, command.find('\0'));
    if (!command.empty()) commands.push_back(command);
  }
  return commands;
}

}  // namespace

void BootMachine(SimMachine& machine) {
  machine.faults().PowerOn();
  machine.simProcesses().Restart();
  // Windows starts them in the system folder, not in their own.
  const std::string folder = machine.simEnvironment().systemDirectory;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const std::string& command : RunKeyCommands(machine, root)) {
      ProcessInformation info;
      // A command whose program is missing is passed over, as Windows does.
      if (machine.processes().CreateProcess(command, 0x20, &info, folder) != ERROR_SUCCESS) {
        continue;
      }
      machine.processes().CloseHandle(info.thread);
      machine.processes().CloseHandle(info.process);
    }
  }
}

SetupRun RunSetupWithRestarts(SimMachine& machine, AnswerSource& answers,
                              std::function<void(const ScreenEvent&)> observer) {
  // Starting the setup program or the clean-up copy runs the setup again
  // once the current run has ended, as Windows would run the new process.
  auto started = std::make_shared<std::vector<SetupStart>>();
  SimProgramBehaviour setupCopy = [started](SimMachine&, const SimProcessStart& start) {
    started->push_back(SetupStart{start.program, start.arguments, start.processId,
                                  start.commandLine, start.currentDirectory});
    SimProgramRun run;
    run.runsUntilEnded = true;
    return run;
  };
  SimProcesses& processes = machine.simProcesses();
  processes.RegisterProgram(machine.simEnvironment().setupProgram, setupCopy);
  processes.RegisterProgram("ztcleanup.exe", setupCopy);

  std::deque<SetupStart> queue;
  queue.push_back(SetupStart{machine.simEnvironment().setupProgram,
                             machine.simEnvironment().commandLine, 0, std::string(), std::string()});
  SetupRun total;
  total.runs = 0;
  while (!queue.empty()) {
    SetupStart start = queue.front();
    queue.pop_front();
    SetupRun run = RunSetupAs(machine, start, answers, observer);
    if (total.runs > 0) total.transcript += "== started: " + machine.codePage().ToUtf8(start.commandLine) + " ==\n";
    ++total.runs;
    total.exitCodes.push_back(run.exitCode);
    total.exitCode = run.exitCode;
    total.answersRanOut = run.answersRanOut;
    total.stopReason = run.stopReason;
    total.log = run.log;
    total.transcript += run.transcript;
    total.finalScreen = run.finalScreen;
    total.sessionEnded = run.sessionEnded;
    total.powerCut = total.powerCut || run.powerCut;
    total.endedInPowerCut = run.powerCut;
    if (run.powerCut) total.powerCutText = run.powerCutText;
    if (run.answersRanOut) break;
    if (processes.sessionEnded() || run.powerCut) {
      // Copies started before the restart end with it.
      started->clear();
      queue.clear();
      if (total.restarts >= kMaxRehearsalRestarts) {
        total.stopReason = "the machine restarted " + std::to_string(total.restarts + 1) +
                           " times; the rehearsal stops";
        break;
      }
      total.transcript += "== the machine restarts ==\n";
      BootMachine(machine);
      ++total.restarts;
    }
    for (SetupStart& next : *started) queue.push_back(std::move(next));
    started->clear();
  }
  return total;
}

namespace {

// --changes: what the rehearsal changed, from the watch's start to now.
bool WriteChanges(const RunnerOptions& options, SimRehearsalWatch* watch, SimMachine& machine,
                  std::ostream& out, std::ostream& err) {
  if (!watch) return true;
  std::string report = watch->Report(machine);
  if (options.changesFile == "-") {
    out << report;
    return true;
  }
  return WriteHostFile(options.changesFile, report, err);
}

}  // namespace

int CompareMachineFiles(const RunnerOptions& options, std::ostream& out, std::ostream& err) {
  std::unique_ptr<SimMachine> before = LoadMachineFile(options.compareBefore, err);
  if (!before) return kStatusUnusableInput;
  std::unique_ptr<SimMachine> after = LoadMachineFile(options.compareAfter, err);
  if (!after) return kStatusUnusableInput;
  if (!options.mediumDir.empty() && !MountMediumFolder(*before, options.mediumDir, err)) {
    return kStatusUnusableInput;
  }
  std::string report = CompareMachines(
      *before, *after, "Changes from " + options.compareBefore + " to " + options.compareAfter);
  out << report;
  return ReportsChanges(report) ? 1 : 0;
}

int RunRehearsal(const RunnerOptions& options, std::ostream& out, std::ostream& err) {
  if (options.compare) return CompareMachineFiles(options, out, err);
  std::unique_ptr<SimMachine> machine;
  if (options.machineFile.empty()) {
    machine = SimMachine::Default();
    if (!machine) {
      err << "zentavo-sim: the embedded default machine is not valid\n";
      return kStatusUnusableInput;
    }
  } else {
    machine = LoadMachineFile(options.machineFile, err);
    if (!machine) return kStatusUnusableInput;
  }
  std::string medium = options.mediumDir.empty() ? std::string(ZT_DEMO_MEDIUM_DIR)
                                                 : options.mediumDir;
  if (!options.noMedium && !MountMediumFolder(*machine, medium, err)) return kStatusUnusableInput;
  if (!options.noMedium && options.mediumDir.empty()) MakeMediumForMachine(*machine);
  if (options.setupArgumentsGiven) machine->SetCommandLine(options.setupArguments);
  // The machine as the rehearsal finds it, medium in the drive.
  std::unique_ptr<SimRehearsalWatch> watch;
  if (!options.changesFile.empty()) watch = std::make_unique<SimRehearsalWatch>(*machine);

  std::unique_ptr<AnswerSource> answers;
  std::unique_ptr<TerminalScreen> terminal;
  if (options.interactive) {
    terminal = std::make_unique<TerminalScreen>(out);
    answers = std::make_unique<TerminalAnswers>(*terminal, options.answersGiven
                                                               ? options.answers
                                                               : std::vector<Answer>());
  } else if (options.answersGiven) {
    answers = std::make_unique<ListAnswers>(options.answers);
  } else {
    answers = std::make_unique<ListAnswers>();
  }

  std::function<void(const ScreenEvent&)> observer;
  // The screens are ANSI text in the code pages they are shown in; people
  // read them as UTF-8.
  if (terminal) observer = [&](const ScreenEvent& e) { terminal->Show(ShownInUtf8(e)); };
  SetupRun run = RunSetupWithRestarts(*machine, *answers, observer);

  bool wrote = true;
  if (!options.logFile.empty()) {
    wrote = WriteHostFile(options.logFile, run.log, err) && wrote;
  } else if (options.changesFile != "-") {
    out << run.log;
  }
  if (!options.screensFile.empty()) {
    wrote = WriteHostFile(options.screensFile, run.transcript, err) && wrote;
  }
  wrote = WriteChanges(options, watch.get(), *machine, out, err) && wrote;
  if (!options.stateFile.empty()) wrote = WriteHostFile(options.stateFile, machine->ToJson(), err) && wrote;

  if (run.answersRanOut) {
    err << "zentavo-sim: " << run.stopReason << "; what waited for the answer:\n"
        << run.finalScreen;
    return kStatusAnswersRanOut;
  }
  if (!run.stopReason.empty() && run.restarts >= kMaxRehearsalRestarts) {
    err << "zentavo-sim: " << run.stopReason << "\n";
  }
  if (run.powerCut) {
    err << "zentavo-sim: " << run.powerCutText
        << (run.endedInPowerCut ? "; nothing ran after the machine started again, so the setup "
                                  "left no exit code\n"
                                : "; the setup ran again after the machine started again\n");
  }
  if (!wrote) return kStatusUnusableInput;
  return run.endedInPowerCut ? kStatusPowerLost : run.exitCode;
}
