// What a run of the simulated Windows Installer installs, decided from the
// package's tables (with the transforms applied and the command line's
// properties over the package's): the folders, files and registry values it
// writes, with every folder resolved on this machine and every [Property]
// formatted, and what it registers of its features and components.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim_msi_registration.h"
#include "platform/wintypes.h"

class SimMachine;

// ERROR_INSTALL_TRANSFORM_FAILURE: a transform that is not there or does not apply.
inline constexpr DWORD kErrorTransformFailure = 1624;

// A resolved installation: what a run writes, and later removes.
struct MsiRegistryItem {
  std::string key;   // full path with its root, e.g. "HKLM\Software\..."
  std::string name;  // value name; "-" / "+" / "*" are key actions
  bool hasValue = false;
  DWORD type = REG_SZ;
  std::string data;
};

struct MsiFileItem {
  std::string path;
  std::string version;
  int32_t attributes = 0;
  int32_t size = 0;
};

struct MsiPlan {
  std::map<std::string, std::string> properties;  // by name, as in the package
  std::vector<std::string> folders;               // created, parents first
  std::vector<MsiFileItem> files;
  std::vector<MsiRegistryItem> registry;
  std::string productCode, productName, productVersion, manufacturer, language;
  std::string platform;  // of the summary's template, "Intel" for 32-bit packages
  std::string packageCode, upgradeCode;
  std::vector<MsiFeatureRecord> features;
  std::vector<MsiComponentRecord> components;
  std::string mediaDisk;  // "VolumeLabel;DiskPrompt" of the first disk
};

// A property of the plan ("" when the package has none).
std::string MsiProperty(const MsiPlan& plan, const std::string& name);
// The long target name of a DefaultDir or FileName: "target:source", "short|long".
std::string MsiLongName(const std::string& field);
// Upper case of the ASCII letters, as property names are compared.
std::string MsiUpper(std::string text);
// "C:\..." or "\\server\...".
bool MsiIsFullPath(const std::string& path);
// The folder with a backslash at its end (in the machine's code page).
std::string MsiWithBackslash(const SimMachine& machine, std::string folder);

// Reads the package (and transforms) into what a run installs; 0, or the
// error msiexec ends with (the package or a transform is invalid) and the
// problem in words.
DWORD MakeMsiPlan(SimMachine& machine, const std::string& packageBytes,
                  const std::vector<std::string>& transforms,
                  const std::map<std::string, std::string>& overrides, MsiPlan* plan,
                  std::string* problem);
