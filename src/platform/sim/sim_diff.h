// What changed on a simulated machine: two states of it (two machines, or
// two descriptions in the machine format) compared group by group, as plain
// text that is grouped and sorted so that two reports compare with diff.
// A rehearsal adds what only the run itself shows: the programs it started,
// with their command lines and exit codes, and the restarts it asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_json.h"
#include "platform/wintypes.h"

class SimMachine;

// What happened during a rehearsal that two descriptions do not show.
struct SimActivity {
  struct Program {
    std::string commandLine;  // UTF-8
    bool running = false;     // still running when the report was made
    DWORD exitCode = 0;
  };
  struct Restart {
    UINT flags = 0;    // the ExitWindowsEx flags
    DWORD answer = 0;  // what ExitWindowsEx answered: 0 accepted, else the error
  };
  std::vector<Program> programs;
  std::vector<Restart> restarts;
  // Libraries loaded from outside the system folder: "PATH by PROGRAM", UTF-8.
  std::vector<std::string> libraries;
};

// The report between two descriptions as SimMachine::ToJson writes them.
// `title` is its first line. Without `activity` the groups only a rehearsal
// can fill say that two descriptions do not show them.
std::string CompareMachineDescriptions(const SimJson& before, const SimJson& after,
                                       const SimActivity* activity, const std::string& title);

// The report between two machines as they stand now.
std::string CompareMachines(const SimMachine& before, const SimMachine& after,
                            const std::string& title);

// One rehearsal watched from start to end: the machine's description when it
// starts, and, at the end, the machine then and what it recorded meanwhile
// (the programs started and the restarts asked for since the start).
class SimRehearsalWatch {
 public:
  // Takes the machine as it is now, before the first run of the setup.
  explicit SimRehearsalWatch(SimMachine& machine);
  // The report from the start to the machine as it is now.
  std::string Report(SimMachine& machine);
  // What the machine recorded since the start.
  SimActivity Activity(SimMachine& machine) const;

 private:
  SimJson before_;
  size_t programsBefore_ = 0;
  size_t restartsBefore_ = 0;
  size_t librariesBefore_ = 0;
};
