// The simulation's process service: programs the setup starts, with their
// behaviour taken from the description ("programs") or registered in code,
// processes that run for a span of virtual time, PSAPI, token privileges
// and restart requests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/sim_json.h"

class SimMachine;

// What a behaviour learns about the start.
struct SimProcessStart {
  std::string commandLine;
  std::string program;    // the full path the program was found at
  std::string arguments;  // the command line after the program token
  DWORD processId = 0;
};

// What a behaviour decides: CreateProcess fails with `createError` when it is
// not 0; otherwise the process runs `durationMs` of virtual time and ends with
// `exitCode`, and then `onExit` runs (effects that show only at the end).
struct SimProgramRun {
  DWORD createError = 0;
  DWORD exitCode = 0;
  uint64_t durationMs = 0;
  std::function<void()> onExit;
};

using SimProgramBehaviour = std::function<SimProgramRun(SimMachine&, const SimProcessStart&)>;

struct SimProcess {
  DWORD id = 0;
  std::string program;
  std::string commandLine;
  std::optional<uint64_t> endMs;  // virtual time it ends; none: runs until its window closes
  DWORD exitCode = 0;
  bool ended = false;
  std::function<void()> onExit;
};

class SimProcesses : public Processes {
 public:
  explicit SimProcesses(SimMachine& machine) : machine_(machine) {}

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

  const std::vector<std::string>& startedCommandLines() const { return started_; }
  size_t openHandleCount() const { return handles_.size(); }
  const std::vector<std::string>& enabledPrivileges() const { return enabledPrivileges_; }
  // ExitWindows flags of every request, accepted or not.
  const std::vector<UINT>& restartRequests() const { return restartRequests_; }
  bool restartAccepted() const { return restartAccepted_; }

  DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                      ProcessInformation* info) override;
  DWORD GetExitCode(HANDLE process, DWORD* exitCode) override;
  DWORD Wait(HANDLE process, DWORD milliseconds) override;
  BOOL CloseHandle(HANDLE handle) override;
  DWORD GetProcessImagePath(DWORD processId, std::string* path) override;
  DWORD EnablePrivilege(const std::string& name, DWORD* adjustError) override;
  DWORD ExitWindows(UINT flags, DWORD reason) override;

 private:
  struct ProgramSpec {
    DWORD exitCode = 0;
    uint64_t durationMs = 0;
    DWORD fails = 0;
  };
  struct HandleEntry {
    DWORD processId = 0;
    bool thread = false;
  };

  void Refresh();
  std::string FindProgram(const std::string& commandLine, std::string* arguments,
                          DWORD* error) const;
  std::string FindFile(const std::string& name) const;
  DWORD NewProcessId();
  HANDLE NewHandle(DWORD processId, bool thread);
  SimProcess* FromHandle(HANDLE handle);

  SimMachine& machine_;
  std::map<std::string, ProgramSpec> programs_;  // by lower-case name as written
  std::map<std::string, SimProgramBehaviour> behaviours_;
  std::map<DWORD, SimProcess> processes_;
  std::map<uintptr_t, HandleEntry> handles_;
  std::vector<std::string> started_;
  uintptr_t nextHandle_ = 0x2000;
  DWORD nextProcessId_ = 0x400;
  std::map<std::string, bool> privileges_;
  std::vector<std::string> enabledPrivileges_;
  bool refuseRestart_ = false;
  std::optional<bool> psapi_;
  bool psapiIncomplete_ = false;
  std::vector<UINT> restartRequests_;
  bool restartAccepted_ = false;
};
