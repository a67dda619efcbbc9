// The product's registration, its installation folder and its shortcuts:
// what the setup reads of an installed edition and of the user's shell
// folders, and the Startup folder's shortcut that it makes again after an
// upgrade.
#pragma once

#include <string>

#include "platform/registry.h"

class CSetupContext;

// The product's registration: the 2.x line's Uninstall key and the user's
// installation folder (which ends with a backslash).
inline constexpr char kProductUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
inline constexpr char kInstallationKey[] = "Software\\Corvane\\Zentavo\\Installation";
inline constexpr char kProductProgram[] = "Zentavo.exe";

// The user's shell folders, and the product shortcut's name in any of them.
inline constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kProductLinkName[] = "\\Zentavo.lnk";

// The registered installation folder (it ends with a backslash). False when
// the key or the value cannot be read, or the value is empty: a folder that
// was not read never becomes a path.
bool ReadInstallDir(Registry& registry, std::string* installDir);

// The Startup folder's shortcut: the "Startup" value of the user's Shell
// Folders key followed by "\Zentavo.lnk". False, with *path untouched, when
// the folder cannot be read or the path would not fit its 260-byte buffer:
// nothing is then tested, deleted or created.
bool GetStartupLinkPath(CSetupContext& context, std::string* path);
// Whether the Startup folder's shortcut exists (FindFirstFile finds it).
bool StartupLinkExists(CSetupContext& context);
