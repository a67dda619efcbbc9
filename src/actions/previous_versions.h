// Earlier editions of the product: the view-only edition, the older 1.x
// product and the current 2.x line. Their handlers are members of
// CSetupContext; what the other install actions share is declared here.
#pragma once

#include <string>

class CSetupContext;

// Windows Installer product codes of the three editions, each the name of a
// subkey of the machine's Uninstall key.
inline constexpr char kViewOnlyProductCode[] = "{C47A1E05-2B9F-4D83-8E6A-5F1D0C3B9A28}";
inline constexpr char kProduct1xCode[] = "{9D2E4B61-7C3A-11D4-8E21-00A0C4D5E6F7}";
inline constexpr char kProduct2xCode[] = "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";

inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The product shortcut in the shell folder named by `valueName` of the
// user's Shell Folders key ("Desktop", "Programs", ...): the folder followed
// by "\Zentavo.lnk". False, with *path untouched, when the value cannot be
// read as a non-empty text of at most 260 bytes or the path would not fit a
// 260-byte buffer: no path is built from data that was not read.
bool GetShellFolderLink(CSetupContext& context, const std::string& valueName, std::string* path);

// Reads the installed 2.x product's folder ("InstallDir", ending with a
// backslash) into `previousInstallDir` and its program's version into
// `previousExeVersion`; leaves them as they were when either cannot be read.
void ReadPreviousInstallDir(CSetupContext& context);
