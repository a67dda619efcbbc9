// zentavo-bench-sim: what a rehearsal costs in CPU time, measured inside one
// process so that the figures are the setup's and the simulation's own:
//
//   rehearsal  RunRehearsal as zentavo-sim runs it (machine file read and
//              parsed, medium mounted, the whole setup run with its restarts)
//   language   loading the demo medium's SetupLanguages.xml (LoadLanguageFile)
//   logline    one line of the installation log: formatting and the file's
//              open, append and close on the simulated machine
//   medium     the medium check (manifest read, every file read in pieces and
//              hashed) of the demo medium, and of the demo medium with a 50 MB
//              package (medium50): CPU, and the reads (pieces) it took
//
//   zentavo-bench-sim --machine FILE [--runs N] [--only rehearsal|language|logline|medium]
//
// Prints "name=<median CPU ms> name_min=<ms>" pairs on one line. Each
// measurement runs in a function of its own name (Bench...) so that
// callgrind --toggle-collect can count its instructions alone.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/medium_check.h"
#include "app/log.h"
#include "lang/language_strings.h"
#include "platform/sim/sim_machine.h"
#include "runner.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Figures {
  double median = 0, minimum = 0;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  Figures f;
  if (samples.empty()) return f;
  size_t n = samples.size();
  f.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  f.minimum = samples.front();
  return f;
}

std::unique_ptr<SimMachine> MediumMachine() {
  std::string error;
  std::unique_ptr<SimMachine> machine = SimMachine::Default();
  if (!machine || !machine->MountMedium(ZT_DEMO_MEDIUM_DIR, &error)) {
    std::fprintf(stderr, "zentavo-bench-sim: no demo medium: %s\n", error.c_str());
    std::exit(2);
  }
  return machine;
}

// One whole rehearsal, as `zentavo-sim --machine FILE -- /l 1033` runs it,
// its outputs kept in memory.
__attribute__((noinline)) int BenchRehearsal(const RunnerOptions& options) {
  std::ostringstream out, err;
  return RunRehearsal(options, out, err);
}

__attribute__((noinline)) size_t BenchLanguageLoad(SimMachine& machine) {
  CInstallLog log(machine);
  CLanguageStrings strings(machine.environment());
  LoadLanguageFile(strings, machine, log);
  return strings.GetText(WELCOME, 1033).size();
}

// A line as the step engine writes them, into a log that already exists.
__attribute__((noinline)) int BenchLogLine(CInstallLog& log, int step) {
  return log.Log("Update action=%d state=%s condition=%d\n", 0, "Checking the operating system",
                 step);
}

// The whole check as the setup makes it: the manifest, then every file.
__attribute__((noinline)) bool BenchMediumCheck(SimMachine& machine, uint64_t* reads,
                                                uint64_t* bytes) {
  std::string folder = machine.setupFolder();
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  CMediumCheck check(machine.files(), folder);
  if (check.Load() != CMediumCheck::kPending) return false;
  if (check.Continue(UINT64_MAX) != CMediumCheck::kPassed) return false;
  *reads = check.reads();
  *bytes = check.bytesRead();
  return true;
}

// "name=<median ms> name_min=<ms> name_reads=<pieces> name_kb=<KB read> ".
bool PrintMediumCheck(const char* name, SimMachine& machine, int runs) {
  std::vector<double> samples;
  uint64_t reads = 0, bytes = 0;
  for (int i = 0; i < runs; ++i) {
    double start = CpuMs();
    if (!BenchMediumCheck(machine, &reads, &bytes)) {
      std::fprintf(stderr, "zentavo-bench-sim: the %s medium did not pass its check\n", name);
      return false;
    }
    samples.push_back(CpuMs() - start);
  }
  Figures f = Summarise(samples);
  std::printf("%s=%.3f %s_min=%.3f %s_reads=%llu %s_kb=%llu ", name, f.median, name, f.minimum,
              name, static_cast<unsigned long long>(reads), name,
              static_cast<unsigned long long>(bytes / 1024));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string machineFile, only;
  int runs = 21;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--machine") && i + 1 < argc) {
      machineFile = argv[++i];
    } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: zentavo-bench-sim --machine FILE [--runs N] [--only "
                   "rehearsal|language|logline|medium]\n");
      return 2;
    }
  }
  if (machineFile.empty() && (only.empty() || only == "rehearsal")) {
    std::fprintf(stderr, "zentavo-bench-sim: --machine FILE is needed for the rehearsal\n");
    return 2;
  }

  if (only.empty() || only == "rehearsal") {
    RunnerOptions options;
    std::string error;
    if (!ParseRunnerArguments({"--machine", machineFile, "--", "/l", "1033"}, &options, &error)) {
      std::fprintf(stderr, "zentavo-bench-sim: %s\n", error.c_str());
      return 2;
    }
    // The first run also pays for what the process does once (the package
    // library's start, the first allocations); it is reported apart.
    double start = CpuMs();
    int code = BenchRehearsal(options);
    double first = CpuMs() - start;
    if (code != 0) {
      std::fprintf(stderr, "zentavo-bench-sim: the rehearsal ended with %d\n", code);
      return 1;
    }
    std::vector<double> samples;
    for (int i = 1; i < runs; ++i) {
      start = CpuMs();
      BenchRehearsal(options);
      samples.push_back(CpuMs() - start);
    }
    Figures f = Summarise(samples);
    std::printf("rehearsal=%.3f rehearsal_min=%.3f rehearsal_first=%.3f ", f.median, f.minimum, first);
  }

  if (only.empty() || only == "language") {
    std::unique_ptr<SimMachine> machine = MediumMachine();
    if (BenchLanguageLoad(*machine) == 0) {
      std::fprintf(stderr, "zentavo-bench-sim: the language file gave no texts\n");
      return 1;
    }
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
      double start = CpuMs();
      BenchLanguageLoad(*machine);
      samples.push_back(CpuMs() - start);
    }
    Figures f = Summarise(samples);
    std::printf("language=%.3f language_min=%.3f ", f.median, f.minimum);
  }

  if (only.empty() || only == "logline") {
    // Lines into logs that grow to the size of a whole installation's log
    // (about 150 lines), a fresh machine and log each round.
    constexpr int kLines = 150;
    std::vector<double> samples;
    for (int round = 0; round < std::max(1, runs / 4); ++round) {
      std::unique_ptr<SimMachine> machine = MediumMachine();
      CInstallLog log(*machine);
      log.Log("setup started\n");  // creates the file and writes the header
      double start = CpuMs();
      for (int i = 0; i < kLines; ++i) BenchLogLine(log, i);
      samples.push_back((CpuMs() - start) / kLines);
    }
    Figures f = Summarise(samples);
    std::printf("logline=%.4f logline_min=%.4f ", f.median, f.minimum);
  }
  if (only.empty() || only == "medium") {
    std::unique_ptr<SimMachine> machine = MediumMachine();
    if (!PrintMediumCheck("medium", *machine, runs)) return 1;
    // The same medium with a package of 50 MB, its manifest line made anew.
    machine->simFiles().Put(machine->setupFolder() + "Zentavo.msi",
                            std::string(50 * 1024 * 1024, '\x5a'));
    machine->ResealMediumManifest();
    if (!PrintMediumCheck("medium50", *machine, std::max(1, runs / 4))) return 1;
  }
  std::printf("\n");
  return 0;
}
