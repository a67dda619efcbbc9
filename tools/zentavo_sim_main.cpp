// zentavo-sim: the rehearsal runner's entry.
#include <iostream>
#include <string>
#include <vector>

#include "runner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RunnerOptions options;
  std::string error;
  if (!ParseRunnerArguments(args, &options, &error)) {
    if (error == "help") {
      std::cout << RunnerUsage();
      return 0;
    }
    std::cerr << "zentavo-sim: " << error << "\n" << RunnerUsage();
    return 2;
  }
  return RunRehearsal(options, std::cout, std::cerr);
}
