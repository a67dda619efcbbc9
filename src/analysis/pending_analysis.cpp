// Placeholders that keep the tree linking while the environment analysis is
// being written; this file is deleted when the real operations land.
#include "analysis/analysis.h"
#include "app/context.h"

int IsWin9xPlatform(Environment&) { return 0; }
DWORD GetPhysicalMemoryMB(Environment&) { return 0; }
bool GetFileVersionString(Machine&, const std::string&, std::string*, size_t) { return false; }
std::string GetIEVersion(Machine&) { return std::string(); }
int CompareVersions(const std::string& a, const std::string& b, bool) { return a.compare(b); }
int UpdateFlashControl(CSetupContext&) { return 1; }
int UpdateXmlParser(CSetupContext&) { return 1; }
int UpdatePsapi(CSetupContext&) { return 1; }
int RegisterServerDll(CSetupContext&, const std::string&) { return 0; }
void DeleteDirectoryTree(CSetupContext&, const std::string&) {}

int CSetupContext::CheckOsVersion() { return 1; }
int CSetupContext::CheckRam() { return 1; }
int CSetupContext::CheckPrerequisites(int) { return 1; }
void CSetupContext::ReadPackageInfo() {}
std::string CSetupContext::FormatPackageDescription() const { return std::string(); }
int CSetupContext::CheckMsi() { return 1; }
int CSetupContext::CheckRuntimeLibraries() { return 1; }
int CSetupContext::CheckMediaPlayer() { return 1; }
int CSetupContext::PassCheck() { return 1; }
