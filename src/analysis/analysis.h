// Environment analysis: what the setup learns about the machine before and
// while its window is open, and the shared components it updates at start-up.
// The analysis-step handlers are members of CSetupContext.
#pragma once

#include <string>

#include "platform/machine.h"

class CSetupContext;
class CInstallLog;

// True when GetVersionEx reports a platform other than the NT platform.
int IsWin9xPlatform(Environment& environment);
// Physical memory in megabytes, rounded up from just below a whole megabyte,
// and never more than kMaxPhysicalMemoryMB.
DWORD GetPhysicalMemoryMB(Environment& environment);
inline constexpr DWORD kMaxPhysicalMemoryMB = 4096;

// Package target systems (packageTargetOS) as setup.ini's TargetOS names them:
// "Win98", "WinNT" and "Win2K".
inline constexpr int kTargetWin98 = 0;
inline constexpr int kTargetWinNT = 1;
inline constexpr int kTargetWin2K = 2;

// The FileVersion text of a file's version resource, cut to `bufferSize` - 1
// characters; false when the file has none.
bool GetFileVersionString(Machine& machine, const std::string& path, std::string* version,
                          size_t bufferSize = 256);
// The installed Internet Explorer version, empty when none is registered.
std::string GetIEVersion(Machine& machine);
// Compares two version texts field by field as numbers; <0, 0 or >0.
int CompareVersions(const std::string& a, const std::string& b, bool ignoreCase);

// A path composed for a 260-byte buffer: true when it fits with its
// terminator; otherwise logs "path too long: %s\n" and returns false.
bool PathFits(CSetupContext& context, const std::string& path);

// Start-up component updates; non-zero on success.
int UpdateFlashControl(CSetupContext& context);
int IsFlashControlCurrent(CSetupContext& context);
int InstallFlashControl(CSetupContext& context);
int UpdateXmlParser(CSetupContext& context);
int IsXmlParserPresent(CSetupContext& context);
int InstallXmlParser(CSetupContext& context);
int UpdatePsapi(CSetupContext& context);
int RegisterServerDll(CSetupContext& context, const std::string& path);
// Deletes a directory with all its contents.
void DeleteDirectoryTree(CSetupContext& context, const std::string& path);
