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
  std::string changesFile;  // "-": standard output
  bool noMedium = false;    // the setup folder holds what the machine description gives
  bool compare = false;     // --compare: no run, two machine files compared
  std::string compareBefore, compareAfter;
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
  bool sessionEnded = false;  // the run ended with the Windows session: the machine restarts
  bool powerCut = false;      // the machine lost its power (a planned fault): it restarts
  bool endedInPowerCut = false;  // the last run is the one the power cut ended
  std::string powerCutText;   // "the machine lost its power at call N of OPERATION"
  int runs = 1;               // runs of the setup program (its copies and resumed runs included)
  int restarts = 0;           // restarts of the machine in between
  std::vector<int> exitCodes;  // the exit code of each run, in order
};

// Runs the setup once on `machine` with these answers and command line.
// The terminal observer (may be empty) sees every screen change. The
// machine's planned faults count the setup's calls while it runs; a power
// cut ends the run at the next turn of its message loop.
SetupRun RunSetupOnce(SimMachine& machine, AnswerSource& answers,
                      std::function<void(const ScreenEvent&)> observer = nullptr,
                      RecordingScreen* screenOut = nullptr);

// The restarts one rehearsal may span before the runner stops it.
inline constexpr int kMaxRehearsalRestarts = 10;

// A whole rehearsal on `machine`: runs the setup program with the machine's
// command line; then each copy of the setup that a run started (the clean-up
// copy "ztcleanup.exe", or the setup program itself), once the run that
// started it has ended; and, when a run ended with the Windows session,
// boots the machine (BootMachine), whose Run keys start the setup again, so
// (a run that ended with a power cut boots the machine the same way)
// that the resumed setup runs in the same rehearsal and appends to the same
// log. Returns the runs together: the exit code, log and final screen of the
// last run, the transcripts one after the other. Stops when the answers run
// out, or after kMaxRehearsalRestarts restarts (with a stop reason).
SetupRun RunSetupWithRestarts(SimMachine& machine, AnswerSource& answers,
                              std::function<void(const ScreenEvent&)> observer = nullptr);

// Restarts the machine: running programs end, and the commands of the HKLM
// and HKCU Run keys are started, in that order and in the order of their values.
void BootMachine(SimMachine& machine);

// The runner's own exit statuses; none is a setup exit code modulo 256.
inline constexpr int kStatusUnusableInput = 2;
inline constexpr int kStatusAnswersRanOut = 3;  // or an answer did not fit what waited
inline constexpr int kStatusPowerLost = 4;      // a power cut, and no run after it

// The whole runner: loads the machine and medium, runs, writes the outputs.
// Returns the process exit status: the setup's exit code, or one of the
// runner's own above.
int RunRehearsal(const RunnerOptions& options, std::ostream& out, std::ostream& err);

// `zentavo-sim --compare A B`: the changes from machine file A to machine
// file B (with --medium, mounted on A first), on `out`. Returns 0 when
// nothing differs, 1 when something does, 2 for unusable input.
int CompareMachineFiles(const RunnerOptions& options, std::ostream& out, std::ostream& err);

// The runner's usage text.
std::string RunnerUsage();
