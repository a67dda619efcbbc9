// What waits for Windows to start again: files that a program could not
// replace or delete because they were in use, recorded as Windows records
// them: on the NT family in the "PendingFileRenameOperations" of the Session
// Manager key, on Windows 9x in the [rename] section of "WININIT.INI" in the
// Windows folder. At a restart they are done, in order, and their record goes.
#pragma once

#include <string>

class SimCodePage;
class SimEnvironment;
class SimFileSystem;
class SimRegistry;

class SimRestartOperations {
 public:
  SimRestartOperations(SimRegistry& registry, SimFileSystem& files,
                       const SimEnvironment& environment, const SimCodePage& codePage)
      : registry_(registry), files_(files), environment_(environment), codePage_(codePage) {}

  // An empty `to` deletes `from`; otherwise `from` replaces `to`.
  void Schedule(const std::string& from, const std::string& to);
  // At a restart: the scheduled operations, in order, and then their record goes.
  void Apply();

 private:
  SimRegistry& registry_;
  SimFileSystem& files_;
  const SimEnvironment& environment_;
  const SimCodePage& codePage_;
};
