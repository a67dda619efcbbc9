// The product's shortcut in the user's Startup folder, shared by the
// finishing steps, the removal of old shortcuts and the restore of the
// user's data.
#pragma once

#include <string>

#include "platform/filesystem.h"
#include "platform/registry.h"

class CSetupContext;

// The Startup folder's shortcut: the "Startup" value of the user's Shell
// Folders key followed by "\Zentavo.lnk". False, with *path untouched, when
// the folder cannot be read or the path would not fit its 260-byte buffer:
// nothing is then tested, deleted or created.
bool GetStartupLinkPath(CSetupContext& context, std::string* path);

// The registered installation folder (it ends with a backslash). False when
// the key or the value cannot be read, or the value is empty: a folder that
// was not read never becomes a path.
bool ReadInstallDir(Registry& registry, std::string* installDir);
// A new folder of the setup's own in `tempFolder`: `prefix` (4 characters)
// and eight hex digits from the system's random source (else mixed from the
// clock), made by the setup (a name that exists is never taken: another is
// tried), admitting only Administrators and SYSTEM on the NT family. False
// (logged) when none could be made.
bool MakePrivateFolder(CSetupContext& context, const std::string& tempFolder,
                       const char* prefix, std::string* folder);
// Deletes a file the setup made, its attributes cleared first: a copy of a
// CD's file keeps the read-only attribute, and Windows 9x's RegSaveKey makes
// its file read-only, hidden and system; DeleteFile refuses such a file.
DWORD DeleteMadeFile(FileSystem& files, const std::string& path);
// The same for a file that goes when Windows next starts: WININIT.INI cannot
// delete a read-only file either.
DWORD DeleteMadeFileAtRestart(FileSystem& files, const std::string& path);
// The clean-up run starts while the setup that started it is still ending,
// and Windows deletes no program that runs: waits, up to 30 s, until the
// folder's "setup.exe" can be deleted (or is gone).
void WaitForStartingSetup(CSetupContext& context, const std::string& folder);
// The folder itself may outlast its content for a moment: the ending setup
// still holds it as its current folder. Tried again for up to 10 s.
void RemoveEmptiedFolder(CSetupContext& context, const std::string& folder);
// The clean-up run of a copy the setup made (its program "ztcleanup.exe" in
// a "ztcl..." folder of the temporary folder): the copy cannot delete
// itself while it runs, so it and its folder go when Windows next starts.
void RemoveCleanerAtRestart(CSetupContext& context);
// Whether the Startup folder's shortcut exists (FindFirstFile finds it).
bool StartupLinkExists(CSetupContext& context);

// On the NT family lets applications set the IP type-of-service field
// ("DisableUserTOSSetting" 0 under the TCP/IP parameters); nothing on 9x.
void AllowUserTos(CSetupContext& context);
