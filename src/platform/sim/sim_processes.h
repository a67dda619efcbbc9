// The simulation's process service: programs the setup starts, with their
// behaviour taken from the description ("programs") or registered in code,
// processes that run for a span of virtual time, PSAPI, token privileges
// and restart requests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/sim_json.h"
#include "platform/sim/sim_window.h"

class SimClock;
class SimCodePage;
class SimEnvironment;
class SimFaults;
class SimFileSystem;
class SimMachine;
class SimRegistry;
class SimRestartOperations;

// The window class of the simulated product's main window ("Zentavo").
inline constexpr char kSimProductWindowClass[] = "ZentavoStandInWindow";

// What a behaviour learns about the start.
struct SimProcessStart {
  std::string commandLine;
  std::string program;    // the full path the program was found at
  std::string arguments;  // the command line after the program token
  DWORD processId = 0;
  std::string currentDirectory;  // where it starts; empty: the setup's own
};

// What a behaviour decides: CreateProcess fails with `createError` when it is
// not 0; otherwise the process runs `durationMs` of virtual time (or, with
// `runsUntilEnded`, until its last window closes or EndProcess ends it) and
// ends with `exitCode`. `onStart` runs once the process exists (with its id:
// a program opens its windows there), `onExit` when it ends (effects that
// show only at the end).
struct SimProgramRun {
  DWORD createError = 0;
  DWORD exitCode = 0;
  uint64_t durationMs = 0;
  bool runsUntilEnded = false;
  std::function<void(DWORD processId)> onStart;
  std::function<void()> onExit;
  // The run needs a restart to complete (files in use). What the program
  // then does: with `restartAutomatic` it restarts Windows itself at its end
  // and ends with 1641 (Windows Installer without its dialogs); otherwise it
  // ends with 3010 and leaves the restart to whoever started it.
  bool restartNeeded = false;
  bool restartAutomatic = false;
};

// A request to end the Windows session (ExitWindowsEx, from the setup or
// from another program), delivered to the setup's windows by the front
// end's message loop at its virtual time.
struct SimSessionRequest {
  uint64_t atMs = 0;
  std::string requester;  // the program that asked
  bool restart = true;
  // Made by a program that restarts Windows by itself (EWX_FORCEIFHUNG): a
  // program that does not answer, because it is blocked in a wait, is ended.
  bool forceIfHung = false;
};

// A library taken from outside the system folder: what Windows loads from a
// program's own folder before the system folder, or what LoadLibraryEx found.
struct SimLibraryLoad {
  std::string program;  // the program that loaded it
  std::string library;  // its full path
};

using SimProgramBehaviour = std::function<SimProgramRun(SimMachine&, const SimProcessStart&)>;

struct SimProcess {
  DWORD id = 0;
  std::string program;
  std::string commandLine;
  std::string currentDirectory;  // empty: the one of the program that started it
  std::optional<uint64_t> endMs;  // virtual time it ends; none: runs until its window closes
  DWORD exitCode = 0;
  bool ended = false;
  std::function<void()> onExit;
};

class SimProcesses : public Processes {
 public:
  // Registers the simulated programs that every machine has (the
  // redistributables of the medium, Windows Installer and the product's
  // program). The behaviours are handed the whole `machine`.
  SimProcesses(SimMachine& machine, SimClock& clock, const SimCodePage& codePage,
               SimEnvironment& environment, SimFileSystem& files, SimRegistry& registry,
               SimRestartOperations& restartOperations, SimFaults& faults);

  // Where a program's new top-level window goes (the machine's desktop, which
  // brings it to the front).
  void AttachWindows(std::function<void(SimWindow window)> open) { openWindow_ = std::move(open); }

  // C++ behaviour for a program, keyed by its file name ("msiexec.exe") or
  // full path, without regard to case. A "programs" entry of the description
  // for the same program wins over it.
  void RegisterProgram(const std::string& name, SimProgramBehaviour behaviour);

  bool LoadPrograms(const SimJson& section, const std::string& pointer, std::string* error);
  SimJson ProgramsToJson() const;
  // The "processes" section: programs running when the description was taken.
  bool LoadProcesses(const SimJson& section, const std::string& pointer, std::string* error);
  SimJson ProcessesToJson();
  bool LoadSettings(const SimJson* privileges, const SimJson* restart, const SimJson* psapi,
                    std::string* error);
  void SettingsToJson(SimJson* machine) const;

  // A process that runs already (the owner of a described window).
  DWORD AddRunningProcess(const std::string& program, std::optional<DWORD> id);
  bool EndProcess(DWORD id, DWORD exitCode);
  // The process with its state brought up to the clock; null when unknown.
  const SimProcess* Process(DWORD id);
  bool IsRunning(DWORD id);

  // End of the session. ExitWindowsEx that Windows accepts, and programs
  // described with "endSession", queue a request here; the front end's
  // message loop takes each when its time has come and, when the setup
  // agrees, reports the session ended.
  std::optional<uint64_t> NextSessionRequestAt() const;
  std::optional<SimSessionRequest> TakeSessionRequest(uint64_t now);
  void RequestSessionEnd(uint64_t atMs, const std::string& requester, bool forceIfHung = false);
  // The program that restarted Windows while the setup was blocked in a
  // wait, which Windows ended as a program that does not respond; empty
  // while the setup runs on.
  const std::string& setupEndedBy() const { return setupEndedBy_; }
  void NoteSessionEnded() { sessionEnded_ = true; }
  bool sessionEnded() const { return sessionEnded_; }
  // The machine restarts: every running program ends (without the effects
  // of its end), pending requests go, the own process's privileges are
  // forgotten and the clock moves on by the time a restart takes.
  void Restart();
  int restartCount() const { return restarts_; }

  const std::vector<std::string>& startedCommandLines() const { return started_; }
  // Libraries loaded from outside the system folder, in order.
  const std::vector<SimLibraryLoad>& libraryLoads() const { return libraryLoads_; }
  void NoteLibraryLoad(const std::string& program, const std::string& library) {
    libraryLoads_.push_back(SimLibraryLoad{program, library});
  }
  // The processes CreateProcess started, in the order they started, brought
  // up to the clock (what each ended with, or that it still runs).
  std::vector<const SimProcess*> StartedProcesses();
  size_t openHandleCount() const { return handles_.size(); }
  const std::vector<std::string>& enabledPrivileges() const { return enabledPrivileges_; }
  // ExitWindows flags of every request, accepted or not.
  const std::vector<UINT>& restartRequests() const { return restartRequests_; }
  bool restartAccepted() const { return restartAccepted_; }
  // What ExitWindows answered to each of those requests (0: accepted).
  const std::vector<DWORD>& restartAnswers() const { return restartAnswers_; }

  using Processes::CreateProcess;
  DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                      ProcessInformation* info, const std::string& currentDirectory) override;
  DWORD GetExitCode(HANDLE process, DWORD* exitCode) override;
  DWORD Wait(HANDLE process, DWORD milliseconds) override;
  BOOL CloseHandle(HANDLE handle) override;
  DWORD GetProcessImagePath(DWORD processId, std::string* path) override;
  DWORD EnablePrivilege(const std::string& name, DWORD* adjustError) override;
  DWORD ExitWindows(UINT flags, DWORD reason) override;

 private:
  // A "programs" entry: what it overrides of a program's behaviour, and
  // what it adds. `described` is the entry as written, for ToJson.
  struct ProgramSpec {
    std::optional<DWORD> exitCode;
    std::optional<uint64_t> durationMs;
    DWORD fails = 0;
    SimJson leavesFiles;     // "leaves": "files" section, null when none
    SimJson leavesRegistry;  // "leaves": "registry" section, null when none
    bool hasWindow = false;
    std::string windowTitle, windowClass;  // machine code page
    bool windowClosesOnRequest = true;
    uint64_t windowCloseDelayMs = 0;
    std::optional<uint64_t> endSessionAtMs;
    std::optional<bool> restartNeeded;
    // Per command: the entry for the first argument ("/x", "/i"), applied
    // over this one.
    std::map<std::string, std::shared_ptr<ProgramSpec>> commands;
    // The libraries it imports besides the ones Windows always takes from
    // the system folder; none given: the setup program's own ("comctl32.dll").
    std::optional<std::vector<std::string>> imports;
    SimJson described;
  };
  struct HandleEntry {
    DWORD processId = 0;
    bool thread = false;
  };

  void Refresh();
  // Windows loads a new program's imports as the machine's Windows searches
  // for them: the known libraries (and what they import) from the system
  // folder; on XP comctl32.dll of a program with a Common Controls 6.0
  // manifest from WinSxS; then the program's own folder; then, without
  // SafeDllSearchMode, the current folder before the system folder.
  void LoadImports(const std::string& program, const ProgramSpec* spec,
                   const std::string& currentDirectory);
  // A restart that a program made by itself came while the setup waited.
  void EndHungSetup();
  void RegisterBuiltInPrograms();
  // Programs, behaviours and a program's commands are known by their
  // lower-case names.
  static std::string ProgramKey(const std::string& name);
  bool LoadProgram(const SimJson& described, const std::string& at, ProgramSpec* program,
                   std::string* error) const;
  // Adds what a "programs" entry says to the behaviour's run.
  void ApplySpec(const ProgramSpec& spec, bool hasBehaviour, const SimProcessStart& start,
                 SimProgramRun* run);
  std::string FindProgram(const std::string& commandLine, std::string* arguments,
                          DWORD* error) const;
  std::string FindFile(const std::string& name) const;
  DWORD NewProcessId();
  HANDLE NewHandle(DWORD processId, bool thread);
  SimProcess* FromHandle(HANDLE handle);

  SimMachine& machine_;
  SimClock& clock_;
  const SimCodePage& codePage_;
  SimEnvironment& environment_;
  SimFileSystem& files_;
  SimRegistry& registry_;
  SimRestartOperations& restartOperations_;
  SimFaults& faults_;
  std::function<void(SimWindow)> openWindow_;
  std::map<std::string, ProgramSpec> programs_;  // by lower-case name as written
  std::map<std::string, SimProgramBehaviour> behaviours_;
  std::map<DWORD, SimProcess> processes_;
  std::map<uintptr_t, HandleEntry> handles_;
  std::vector<std::string> started_;
  std::vector<SimLibraryLoad> libraryLoads_;
  std::vector<DWORD> startedIds_;
  uintptr_t nextHandle_ = 0x2000;
  DWORD nextProcessId_ = 0x400;
  std::map<std::string, bool> privileges_;
  std::vector<std::string> enabledPrivileges_;
  bool refuseRestart_ = false;
  std::optional<bool> psapi_;
  bool psapiIncomplete_ = false;
  std::vector<UINT> restartRequests_;
  std::vector<DWORD> restartAnswers_;
  bool restartAccepted_ = false;
  std::vector<SimSessionRequest> sessionRequests_;
  bool sessionEnded_ = false;
  std::string setupEndedBy_;
  int restarts_ = 0;
};
