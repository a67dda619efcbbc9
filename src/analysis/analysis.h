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
// Physical memory in megabytes, rounded up from just below a whole megabyte.
DWORD GetPhysicalMemoryMB(Environment& environment);

// The FileVersion text of a file's version resource, cut to `bufferSize` - 1
// characters; false when the file has none.
bool GetFileVersionString(Machine& machine, const std::string& path, std::string* version,
                          size_t bufferSize = 256);
// The installed Internet Explorer version, empty when none is registered.
std::string GetIEVersion(Machine& machine);
// Compares two version texts; <0, 0 or >0.
int CompareVersions(const std::string& a, const std::string& b, bool ignoreCase);

// Start-up component updates; non-zero on success.
int UpdateFlashControl(CSetupContext& context);
int UpdateXmlParser(CSetupContext& context);
int UpdatePsapi(CSetupContext& context);
int RegisterServerDll(CSetupContext& context, const std::string& path);
// Deletes a directory with all its contents.
void DeleteDirectoryTree(CSetupContext& context, const std::string& path);
