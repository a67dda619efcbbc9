// Test support: machines described in a few lines of JSON, whole simulated
// runs of the setup, and the log read back as messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "runner.h"

// The embedded default machine with the members of `overlay` (a JSON object)
// merged over it, and the demo medium mounted. Fails the test on a bad description.
std::unique_ptr<SimMachine> MakeMachine(const std::string& overlay = "{}");

// An example machine of docs/machines (`name` without ".json") with `overlay`
// merged over it and the demo medium mounted; with `targetOs`, the medium's
// setup.ini is replaced by a CD package's for that system ("WinNT", "Win98").
std::unique_ptr<SimMachine> ExampleMachine(const std::string& name,
                                           const std::string& overlay = "{}",
                                           const std::string& targetOs = "");

struct Rehearsal {
  SetupRun run;
  RecordingScreen screen;
  // The log's messages without their timestamp prefix, one per line, section
  // headers included as they stand.
  std::vector<std::string> lines;
  bool HasLine(const std::string& line) const;
  // Index of the first line equal to `line` at or after `from`, or -1.
  int Find(const std::string& line, int from = 0) const;
};

// Runs the setup on the machine with this command line. `answers` is the
// comma-separated --answers list; empty means every wait is answered confirm.
Rehearsal Rehearse(SimMachine& machine, const std::string& commandLine,
                   const std::string& answers = std::string());

// The same, as a whole rehearsal: copies of the setup that a run started and
// the runs resumed after restarts run too (RunSetupWithRestarts); the log is
// the appended log of all of them, the screen holds the events of every run.
Rehearsal RehearseAll(SimMachine& machine, const std::string& commandLine,
                      const std::string& answers = std::string());

// The setup window's state when the `index`-th answer (0-based, counting the
// language dialog's and message boxes' answers too) was taken.
ScreenState StateAtAnswer(const RecordingScreen& screen, int index);

// Splits the log's bytes into CR LF lines and removes the 29-character prefix
// "MM.DD.YYYY HH:MM:SS.xxxxxxxx " from timestamped ones.
std::vector<std::string> LogMessages(const std::string& logBytes);

// The US English text of a string id, from the demo medium's language file:
// what the engine's log lines name its states with.
std::string English(int stringId);
// "Update action=%d state=%s condition=%d" for a row of the update table.
std::string UpdateLine(int action, int step, int condition);
// "Analyze action=%d state=%s" for a row of the analysis table.
std::string AnalyzeLine(int action, int row);
