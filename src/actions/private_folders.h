// The setup's own folders in the temporary folder: made under a name nobody
// can guess and admitting nobody else, for the redistributables' copies, the
// saved user data and the clean-up copy; the files the setup made in them
// deleted now or when Windows next starts, and the emptied folder removed.
#pragma once

#include <string>

#include "platform/filesystem.h"

class CSetupContext;

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
// The folder itself may outlast its content for a moment: the ending setup
// still holds it as its current folder. Tried again for up to 10 s.
void RemoveEmptiedFolder(CSetupContext& context, const std::string& folder);
