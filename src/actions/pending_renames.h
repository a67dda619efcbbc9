// What Windows was told to do with files when it next starts: the NT
// family's "PendingFileRenameOperations", Windows 9x's WININIT.INI.
#pragma once

#include <string>

class CSetupContext;

// True when Windows was told to delete, replace or move `path` when it next
// starts: what is put back there now would not survive the restart.
bool RestartChangesFile(CSetupContext& context, const std::string& path);
