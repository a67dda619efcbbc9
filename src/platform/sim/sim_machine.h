// The simulated Windows machine: every platform service over one in-memory
// machine that a JSON description fills (format: docs/machine-format.md) and
// that can write itself back in the same format.
#pragma once

#include <memory>
#include <string>

#include "platform/machine.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_com.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_devices.h"
#include "platform/sim/sim_environment.h"
#include "platform/sim/sim_faults.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_restart_operations.h"
#include "platform/sim/sim_versions.h"

class SimMachine : public Machine {
 public:
  ~SimMachine() override;
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // Parses a machine description; on a bad one returns null and sets *error
  // to "<sourceName>: <json pointer>: <what is wrong>" (syntax errors name the
  // line and column instead of a pointer). Unknown members are errors too. A
  // description with "base": "default" is merged over the embedded default.
  static std::unique_ptr<SimMachine> FromJson(const std::string& jsonText,
                                              const std::string& sourceName, std::string* error);
  // The embedded default machine (src/platform/sim/default_machine.json).
  static std::unique_ptr<SimMachine> Default();

  // Copies every file under the host folder into the setup program's folder.
  // A ".sim-files.json" there maps paths relative to the medium to file
  // objects of the machine format whose members are applied to the mounted
  // files (version resources, library behaviour, ...); it is not mounted itself.
  bool MountMedium(const std::string& hostDir, std::string* error);
  // Writes the medium's manifest (medium.sha) again for the files it lists as
  // they are now, as the medium targets do for a medium they lay out: for the
  // media that the runner and the tests make from the demo medium by editing
  // or removing a file (its line goes). Nothing when the medium has no manifest.
  void ResealMediumManifest();
  void SetCommandLine(const std::string& arguments) { environment_.commandLine = arguments; }
  SimClock& clock() { return clock_; }
  // The whole machine in the description format, pretty-printed, as it stands
  // now: loading it gives a machine that goes on from here.
  std::string ToJson() const;
  std::string Describe() const { return ToJson(); }
  // The folder of the setup program ("D:\" for "D:\setup.exe").
  std::string setupFolder() const;
  const SimCodePage& codePage() const { return codePage_; }

  SimRegistry& simRegistry() { return registry_; }
  SimFileSystem& simFiles() { return files_; }
  SimEnvironment& simEnvironment() { return environment_; }
  SimProcesses& simProcesses() { return processes_; }
  SimDesktop& simDesktop() { return desktop_; }
  SimCom& simCom() { return com_; }
  SimDevices& simDevices() { return *devices_; }
  // The planned faults, the count of the setup's calls through the seam and
  // their trace (docs/machine-format.md, Faults).
  SimFaults& faults() { return faults_; }

  // Files that a program could not replace or delete because they were in
  // use, done when Windows starts again, as Windows does them: on the NT
  // family the "PendingFileRenameOperations" of the Session Manager key, on
  // Windows 9x the [rename] section of "WININIT.INI" in the Windows folder.
  // An empty `to` deletes `from`; otherwise `from` replaces `to`.
  void ScheduleFileOperation(const std::string& from, const std::string& to) {
    restartOperations_.Schedule(from, to);
  }
  // At a restart: the scheduled operations, in order, and then their record goes.
  void ApplyFileOperations() { restartOperations_.Apply(); }

  // What the setup is handed: every service behind the fault gate.
  Registry& registry() override { return *seam_.registry; }
  FileSystem& files() override { return *seam_.files; }
  Environment& environment() override { return *seam_.environment; }
  VersionInfo& versions() override { return *seam_.versions; }
  Processes& processes() override { return *seam_.processes; }
  Desktop& desktop() override { return *seam_.desktop; }
  Devices& devices() override { return *seam_.devices; }
  Com& com() override { return *seam_.com; }
  Xml& xml() override { return *seam_.xml; }

 private:
  SimMachine();
  bool Load(const SimJson& description, std::string* error);
  bool LoadSystem(const SimJson& description, std::string* error);

  std::string name_;
  SimClock clock_;
  SimCodePage codePage_;
  SimFileSystem files_;
  SimRegistry registry_;
  SimEnvironment environment_;
  SimVersionInfo versions_;
  SimRestartOperations restartOperations_;
  mutable SimProcesses processes_;  // brought up to the clock when written
  mutable SimDesktop desktop_;
  SimCom com_;
  std::unique_ptr<SimDevices> devices_;
  std::unique_ptr<Xml> xml_;
  SimFaults faults_;
  SimSeamServices seam_;
};
