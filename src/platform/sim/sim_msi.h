// The simulated Windows Installer: the behaviour of "msiexec.exe". It reads
// the package's tables (Property, Directory, Component, File, Registry,
// CreateFolder) with libmsi from the package's bytes on the simulated
// machine, applies the transform named by TRANSFORMS=, and when the run ends
// writes the files (with the File table's versions as version resources),
// the registry values, the product's Uninstall key and its registration with
// a cached copy of the package; "/x {code}" removes them again. Format and
// exit codes: docs/machine-format.md, "Windows Installer".
#pragma once

#include "platform/sim/sim_msi_tables.h"
#include "platform/sim/sim_processes.h"

// The behaviour of "msiexec.exe", one installation at a time; every machine's
// processes know it by that name.
SimProgramBehaviour SimWindowsInstaller();
