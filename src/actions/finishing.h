// The last steps of the sequence and the clean-up run: what the setup does
// once the product is installed, and the clean-up of a network package run
// from the temporary folder. The step handlers are members of CSetupContext.
#pragma once

#include <string>

class CSetupContext;

// The clean-up run starts while the setup that started it is still ending,
// and Windows deletes no program that runs: waits, up to 30 s, until the
// folder's "setup.exe" can be deleted (or is gone).
void WaitForStartingSetup(CSetupContext& context, const std::string& folder);
// The clean-up run of a copy the setup made (its program "ztcleanup.exe" in
// a "ztcl..." folder of the temporary folder): the copy cannot delete
// itself while it runs, so it and its folder go when Windows next starts.
void RemoveCleanerAtRestart(CSetupContext& context);

// On the NT family lets applications set the IP type-of-service field
// ("DisableUserTOSSetting" 0 under the TCP/IP parameters); nothing on 9x.
void AllowUserTos(CSetupContext& context);
