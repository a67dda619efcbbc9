// zentavo-sim: rehearses the setup against a described machine. The runner
// is a library so the tests drive exactly what the command line drives.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ui/sim/sim_front_end.h"

class SimMachine;

struct RunnerOptions {
  std::string machineFile;  // empty: the embedded default machine
  std::string mediumDir;    // empty: the demo medium the build lays out
  bool answersGiven = false;
  std::vector<Answer> answers;
  std::string logFile, screensFile, stateFile;
  bool interactive = false;
  bool setupArgumentsGiven = false;
  std::string setupArguments;  // the wrapper's own command line
};

// Parses the runner's command line; false with a message on unusable input.
bool ParseRunnerArguments(const std::vector<std::string>& args, RunnerOptions* options,
                          std::string* error);

// What one simulated run of the setup leaves behind.
struct SetupRun {
  int exitCode = 0;        // the setup's own exit code
  bool answersRanOut = false;
  std::string stopReason;
  std::string log;         // the installation log's bytes, as the machine holds them
  std::string transcript;  // every screen state
  std::string finalScreen;
};

// Runs the setup once on `machine` with these answers and command line.
// The terminal observer (may be empty) sees every screen change.
SetupRun RunSetupOnce(SimMachine& machine, AnswerSource& answers,
                      std::function<void(const ScreenEvent&)> observer = nullptr,
                      RecordingScreen* screenOut = nullptr);

// The whole runner: loads the machine and medium, runs, writes the outputs.
// Returns the process exit status (the setup's exit code, 2 for unusable
// input, 3 when the answers ran out).
int RunRehearsal(const RunnerOptions& options, std::ostream& out, std::ostream& err);

// The runner's usage text.
std::string RunnerUsage();
