// The simulation's COM service: initialisation counts (so that tests can
// assert they balance), libraries loaded from files that carry a "library"
// member, self-registration that writes the library's "registers" section
// into the registry, and shell links written as small text files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_json.h"

class SimEnvironment;
class SimFileSystem;
class SimProcesses;
class SimRegistry;

// Checks a file's "library" member: {"exports": [...], "registerResult": 0,
// "registers": {registry section}, "loadError": 0}.
bool ValidateLibrary(const SimJson& library, const std::string& pointer,
                     const SimCodePage& codePage, std::string* error);

class SimCom : public Com {
 public:
  // Libraries are files of `files`; self-registration writes into `registry`;
  // a library loaded from outside the system folder is noted with `processes`.
  SimCom(SimFileSystem& files, SimRegistry& registry, const SimEnvironment& environment,
         const SimCodePage& codePage, SimProcesses& processes)
      : files_(files),
        registry_(registry),
        environment_(environment),
        codePage_(codePage),
        processes_(processes) {}

  // Initialisations not yet undone; both 0 when the calls balance.
  int coInitializeDepth() const { return coDepth_; }
  int oleInitializeDepth() const { return oleDepth_; }
  int coInitializeCalls() const { return coCalls_; }
  size_t loadedLibraryCount() const { return modules_.size(); }
  // Full paths of the libraries whose DllRegisterServer ran, in order.
  const std::vector<std::string>& registeredServers() const { return registered_; }

  HRESULT CoInitialize() override;
  void CoUninitialize() override;
  HRESULT OleInitialize() override;
  void OleUninitialize() override;
  DWORD LoadLibraryEx(const std::string& path, DWORD flags, HMODULE* module) override;
  bool HasExport(HMODULE module, const std::string& name) override;
  HRESULT CallDllRegisterServer(HMODULE module) override;
  void FreeLibrary(HMODULE module) override;
  HRESULT CreateShellLink(const std::string& target, const std::string& workingDir,
                          const std::string& description, const std::string& arguments,
                          const std::u16string& linkPath) override;

 private:
  struct Module {
    std::string path;
    SimJson library;
  };

  SimFileSystem& files_;
  SimRegistry& registry_;
  const SimEnvironment& environment_;
  const SimCodePage& codePage_;
  SimProcesses& processes_;
  int coDepth_ = 0;
  int oleDepth_ = 0;
  int coCalls_ = 0;
  std::map<uintptr_t, Module> modules_;
  uintptr_t nextModule_ = 0x10000000;
  std::vector<std::string> registered_;
};
