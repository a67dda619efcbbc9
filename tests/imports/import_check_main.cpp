// zentavo-import-check --list windows_functions.txt PROGRAM.exe...
// Tells whether each program loads on Windows 95 (with the common updates),
// 98 and NT 4.0 SP6a: every imported function is in the list and exported by
// all three, and the subsystem version is 4.0. Exit status 0 when all load,
// 1 when one does not, 2 for unusable input.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "pe_imports.h"

int main(int argc, char** argv) {
  std::string listPath;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0 && i + 1 < argc) {
      listPath = argv[++i];
    } else {
      programs.push_back(argv[i]);
    }
  }
  if (listPath.empty() || programs.empty()) {
    std::fprintf(stderr, "usage: zentavo-import-check --list FILE PROGRAM...\n");
    return 2;
  }
  imports::FunctionList list;
  std::string error;
  if (!list.Load(listPath, &error)) {
    std::fprintf(stderr, "zentavo-import-check: %s\n", error.c_str());
    return 2;
  }
  int status = 0;
  for (const std::string& path : programs) {
    imports::PeImage image;
    if (!imports::ReadPeFile(path, &image, &error)) {
      std::fprintf(stderr, "zentavo-import-check: %s\n", error.c_str());
      return 2;
    }
    std::set<std::string> libraries;
    for (const auto& function : image.functions) libraries.insert(function.dll);
    std::vector<std::string> problems = imports::CheckImage(image, list);
    std::printf("%s: %zu imported functions from %zu libraries, subsystem %u.%u: %s\n",
                path.c_str(), image.functions.size(), libraries.size(), image.subsystemMajor,
                image.subsystemMinor,
                problems.empty() ? "loads on Windows 95, 98 and NT 4.0"
                                 : "does NOT load on all of Windows 95, 98 and NT 4.0");
    for (const std::string& problem : problems) std::printf("  %s\n", problem.c_str());
    if (!problems.empty()) status = 1;
  }
  return status;
}
