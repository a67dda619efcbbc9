// The footprint of the setup: every registry key and value, file, folder,
// window class and device of a machine that the setup can look at or change,
// and that the programs it starts (as the simulation knows them: Windows
// Installer with the product's package, the redistributables, the product)
// look at or change. zentavo-capture writes exactly this of a machine; the
// native test CaptureFootprint.* rehearses every example machine and checks
// that each key and path the setup asked the seam for is in it, so that the
// list grows with the setup.
#pragma once

#include <string>
#include <vector>

#include "platform/machine.h"

namespace capture {

// A registry key: its values (all of them, or only those named), and with
// `tree` every key below it with all their values. A component of `key` that
// is "*" stands for every subkey there (Windows Installer's per-user keys
// under UserData, its component and upgrade code keys).
struct KeyPrint {
  std::string key;  // full path, beginning with HKLM, HKCU, HKCR or HKU
  bool tree = false;
  std::vector<std::string> values;  // empty: every value
  bool existence = false;           // only that the key exists, none of its values
  // Only a key that holds one of `values` is taken (of a component's key,
  // the values of the product codes among those of every other product).
  bool onlyHolding = false;
};

// How much of a file or folder is taken.
enum class FileScope {
  kFile,         // the file: size, attributes, version resource
  kContent,      // the file with its bytes (the setup or a program reads them)
  kTree,         // the folder and everything below it, files as kFile
  kTreeContent,  // the folder and everything below it, files with their bytes
};

// A file or folder. `path` may begin with a placeholder: %WINDOWS%, %SYSTEM%
// (no trailing backslash), %TEMP% (with one), %SETUP% (the setup program's
// folder), or {KEY|VALUE}: the path a registry value holds (several when it
// holds a list separated by ";"). The last component may hold "*" and "?".
struct FilePrint {
  std::string path;
  FileScope scope = FileScope::kFile;
};

const std::vector<KeyPrint>& RegistryFootprint();
const std::vector<FilePrint>& FileFootprint();
// The window classes the setup looks for with FindWindow.
const std::vector<std::string>& WindowClasses();
// Devices that drivers offer by name, opened as \\.\NAME.
const std::vector<std::string>& DriverDevices();
// The privileges the setup enables.
const std::vector<std::string>& Privileges();
// What the setup makes and removes again within one run and never finds on
// a machine: keys (HKU\TEMP_HIVE, its loaded copy of saved data). Not captured.
const std::vector<std::string>& TransientKeys();

// The machine's folder for a placeholder path: the paths it stands for now
// (none when a registry value it names is missing or empty). Paths are in the
// machine's code page, folders without a trailing backslash.
std::vector<std::string> ExpandPath(Machine& machine, const std::string& path);

// How the footprint takes a key of this path: as the print that names it
// (its "*" components matching), as part of a tree, or (false) not at all.
// `print` receives the print for that key alone.
bool FootprintKey(const std::string& path, KeyPrint* print);

// A registry path split into its root and the rest ("HKLM\\A\\B": HKEY_LOCAL_MACHINE, "A\\B").
bool SplitKeyPath(const std::string& path, HKEY* root, std::string* subKey);

// The packed form of a product code, as Windows Installer names its keys
// ("{3F1C7A20-8B4D-...}" -> "02A7C1F3D4B855E49A2CD6E0B1F7A439").
std::string PackedGuid(const std::string& guid);

// True when `name` matches the wildcard `pattern` ("*" and "?"), without
// regard to ASCII case.
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace capture
