// The simulated programs every machine knows by name: the redistributables
// the medium carries (the run-time libraries, Windows Installer for the 9x
// and the NT family), which bring the files they carry up to their versions,
// and the product's program, which opens its window and runs until it closes.
// Windows Installer itself ("msiexec.exe") has a module of its own.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_msi.h"
#include "platform/sim/sim_processes.h"

namespace {

// ERROR_INSTALL_PLATFORM_UNSUPPORTED: the redistributable of the other family.
constexpr DWORD kPlatformUnsupported = 1633;

struct CarriedFile {
  const char* name;
  const char* version;
  bool ntOnly;
};

// The Visual C++ 6.0 run-time redistributable: every library the run-time
// check reads, at or above the version it asks for.
const CarriedFile kRuntimeFiles[] = {
    {"MSVCRT.DLL", "6.00.8797.0", false},   {"MFC42.DLL", "6.00.8665.0", false},
    {"MFC42U.DLL", "6.00.8665.0", true},    {"MSVCP60.DLL", "6.00.8168.0", false},
    {"MSVCIRT.DLL", "6.00.8168.0", false},  {"OLEAUT32.DLL", "2.40.4275.1", false},
    {"OLEPRO32.DLL", "5.0.4275.1", false},  {"ASYCFILT.DLL", "2.40.4275.1", false},
    {"COMCAT.DLL", "4.71.1460.1", false},   {"ATL.DLL", "3.00.8449", false},
    {"ADVPACK.DLL", "4.71.1015.1", false},
};

// Windows Installer 2.0, as both redistributables install it.
const CarriedFile kInstallerFiles[] = {
    {"msiexec.exe", "2.0.2600.0", false},
    {"msi.dll", "2.0.2600.0", false},
};

constexpr uint64_t kRuntimeSetupMs = 3000;
constexpr uint64_t kInstallerSetupMs = 5000;

// The FileVersion text of a described version resource, empty when none.
std::string DescribedFileVersion(const SimJson& version) {
  if (!version.is_object()) return std::string();
  if (version.contains("FileVersion") && version["FileVersion"].is_string()) {
    return version["FileVersion"].get<std::string>();
  }
  if (version.contains("strings") && version["strings"].is_object()) {
    for (const auto& table : version["strings"]) {
      if (table.contains("FileVersion") && table["FileVersion"].is_string()) {
        return table["FileVersion"].get<std::string>();
      }
    }
  }
  return std::string();
}

// Compares dotted (or comma-separated) versions by the numbers of their fields.
int CompareNumericVersions(const std::string& a, const std::string& b) {
  auto fields = [](const std::string& text) {
    std::vector<unsigned long> numbers;
    size_t pos = 0;
    while (pos <= text.size()) {
      numbers.push_back(strtoul(text.c_str() + pos, nullptr, 10));
      size_t next = text.find_first_of(".,", pos);
      if (next == std::string::npos) break;
      pos = next + 1;
    }
    return numbers;
  };
  std::vector<unsigned long> x = fields(a), y = fields(b);
  for (size_t i = 0; i < x.size() || i < y.size(); ++i) {
    unsigned long p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

// Puts each carried file into the system folder unless the one there is
// as new or newer.
void BringUpToDate(SimMachine& machine, const CarriedFile* files, size_t count) {
  const bool nt = machine.simEnvironment().os.platformId == VER_PLATFORM_WIN32_NT;
  const std::string folder = machine.simEnvironment().systemDirectory + "\\";
  for (size_t i = 0; i < count; ++i) {
    const CarriedFile& file = files[i];
    if (file.ntOnly && !nt) continue;
    std::string path = folder + file.name;
    const SimFile* present = machine.simFiles().Node(path);
    if (present && !present->directory &&
        CompareNumericVersions(DescribedFileVersion(present->version), file.version) >= 0) {
      continue;
    }
    SimJson entry = {{"version", {{"FileVersion", file.version}}}};
    if (!present) entry["text"] = "";
    std::string ignored;
    machine.simFiles().LoadEntry(path, entry, "", &ignored);
  }
}

SimProgramRun InstallerRun(uint64_t durationMs, std::function<void()> onExit) {
  SimProgramRun run;
  run.durationMs = durationMs;
  run.onExit = std::move(onExit);
  return run;
}

SimProgramRun WindowsInstallerRedistributable(SimMachine& machine, bool forNt) {
  bool nt = machine.simEnvironment().os.platformId == VER_PLATFORM_WIN32_NT;
  if (nt != forNt) {
    SimProgramRun refused;
    refused.exitCode = kPlatformUnsupported;
    return refused;
  }
  return InstallerRun(kInstallerSetupMs, [&machine] {
    BringUpToDate(machine, kInstallerFiles, std::size(kInstallerFiles));
  });
}

}  // namespace

void SimProcesses::RegisterBuiltInPrograms() {
  RegisterProgram("vcredist.exe", [](SimMachine& machine, const SimProcessStart&) {
    return InstallerRun(kRuntimeSetupMs, [&machine] {
      BringUpToDate(machine, kRuntimeFiles, std::size(kRuntimeFiles));
    });
  });
  RegisterProgram("instmsia.exe", [](SimMachine& machine, const SimProcessStart&) {
    return WindowsInstallerRedistributable(machine, false);
  });
  RegisterProgram("instmsiw.exe", [](SimMachine& machine, const SimProcessStart&) {
    return WindowsInstallerRedistributable(machine, true);
  });
  RegisterProgram("msiexec.exe", SimWindowsInstaller());
  // The product: its main window is titled "Zentavo" and closes on SC_CLOSE;
  // the program runs until it does.
  RegisterProgram("Zentavo.exe", [](SimMachine& machine, const SimProcessStart& start) {
    SimProgramRun run;
    run.runsUntilEnded = true;
    std::string program = start.program;
    run.onStart = [&machine, program](DWORD processId) {
      SimWindow window;
      window.title = "Zentavo";
      window.className = kSimProductWindowClass;
      window.program = program;
      window.processId = processId;
      // A new top-level window comes to the front.
      machine.simDesktop().ActivateWindow(machine.simDesktop().AddWindow(window));
    };
    return run;
  });
}
