// The machine the contract tests run against: the simulated one natively, the
// real one under Wine. Both suites compile the same test sources.
#pragma once

#include <memory>
#include <string>

#include "platform/machine.h"

struct ContractMachine {
  virtual ~ContractMachine() = default;
  virtual Machine& machine() = 0;
  // A folder of its own for the test's files (exists, empty, no trailing backslash).
  virtual std::string scratchDir() = 0;
  // A key path under HKEY_CURRENT_USER of its own for the test (does not exist yet).
  virtual std::string scratchKey() = 0;
  // True when the back end is the simulation (for the few facts Wine does not reproduce).
  virtual bool simulated() const = 0;
};

// True when the machine is Windows 95, 98 or Me, as GetVersionEx reports it:
// the few facts in which the 9x family differs are checked for either.
inline bool NineX(Machine& machine) {
  OsVersion version;
  machine.environment().GetOsVersion(&version);
  return version.platformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Defined once per build: tests/contract/sim_contract_machine.cpp (native) and
// tests/wine/win32_contract_machine.cpp (Windows).
std::unique_ptr<ContractMachine> MakeContractMachine();
