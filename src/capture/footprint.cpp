#include "capture/footprint.h"

#include <cctype>

#include "platform/owners.h"
#include "platform/path_chars.h"

namespace capture {
namespace {

// The product codes the setup looks for (src/actions/previous_versions.h):
// the 2.x product, the 1.x product and the view-only edition.
const char* const kProductCodes[] = {
    "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}",
    "{9D2E4B61-7C3A-11D4-8E21-00A0C4D5E6F7}",
    "{C47A1E05-2B9F-4D83-8E6A-5F1D0C3B9A28}",
};

const char kUninstall[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Windows Installer's own key, its registration of the installations (per
// user SID, S-1-5-18 for the machine's), and where it publishes products for
// the machine and for the user.
const char kInstaller[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\";
const char kRegistration[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
const char kPublished[] = "HKLM\\SOFTWARE\\Classes\\Installer\\";
const char kUserPublished[] = "HKCU\\Software\\Microsoft\\Installer\\";
const char kFlashServer[] = "HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32";
const char kShellFolders[] =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCommonShellFolders[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::vector<KeyPrint> MakeRegistryFootprint() {
  std::vector<KeyPrint> keys = {
      // The system profile: the browser, the program folder, the player.
      {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer", false, {"Version", "Build"}},
      {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false,
       {"ProgramFilesDir", "CommonFilesDir"}},
      {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe", false, {}},
      // The components the start-up updates register: Flash and MSXML 3.
      {"HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}", true, {}},
      {"HKCR\\CLSID\\{F5078F32-C551-11D3-89B9-0000F81FE221}", true, {}},
      {"HKCR\\Msxml2.DOMDocument.3.0", true, {}},
      // The resume value, and the commands a restart starts.
      {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", false, {}},
      {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", false, {}},
      {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false, {}},
      {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false, {}},
      // The folders of the shortcuts, the user's and every user's.
      {kShellFolders, false, {"Desktop", "Start Menu", "Programs", "Startup"}},
      {kCommonShellFolders, false, {"Common Desktop", "Common Programs", "Common Startup"}},
      // Every product's Add/Remove Programs entry: an installation may write
      // another one than the product codes the setup knows.
      {kUninstall, true, {}},
      // The product's own keys, the user's data among them, and the Save key.
      {"HKCU\\Software\\Corvane", true, {}},
      {"HKLM\\SOFTWARE\\Corvane", true, {}},
      // The type-of-service value the finishing step sets.
      {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters", false,
       {"DisableUserTOSSetting"}},
      // Files replaced or removed at the next start of Windows (NT).
      {"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", false,
       {"PendingFileRenameOperations"}},
  };
  // What Windows Installer registers of the product codes: each
  // installation's registration (for the machine and for any user), the
  // product and its features published for the machine and for the user,
  // and the product's values in the keys of its components and of its
  // upgrade code, which name the products that share them.
  std::vector<std::string> packed;
  for (const char* code : kProductCodes) {
    packed.push_back(PackedGuid(code));
    const std::string own = packed.back();
    keys.push_back({std::string(kInstaller) + "UserData\\*\\Products\\" + own, true, {}});
    keys.push_back({std::string(kPublished) + "Products\\" + own, true, {}});
    keys.push_back({std::string(kPublished) + "Features\\" + own, true, {}});
    keys.push_back({std::string(kUserPublished) + "Products\\" + own, true, {}});
    keys.push_back({std::string(kUserPublished) + "Features\\" + own, true, {}});
  }
  for (const std::string& shared :
       {std::string(kInstaller) + "UserData\\*\\Components\\*", std::string(kInstaller) + "UpgradeCodes\\*",
        std::string(kPublished) + "UpgradeCodes\\*", std::string(kUserPublished) + "UpgradeCodes\\*"}) {
    keys.push_back({shared, false, packed, false, true});
  }
  return keys;
}

std::vector<FilePrint> MakeFileFootprint() {
  std::vector<FilePrint> files = {
      // Windows Installer, its redistributables' targets.
      {"%SYSTEM%\\msiexec.exe", FileScope::kFile},
      {"%SYSTEM%\\msi.dll", FileScope::kFile},
      // The run-time libraries the analysis reads and vcredist.exe brings up to date.
      {"%SYSTEM%\\MSVCRT.DLL", FileScope::kFile},
      {"%SYSTEM%\\MFC42.DLL", FileScope::kFile},
      {"%SYSTEM%\\MFC42U.DLL", FileScope::kFile},
      {"%SYSTEM%\\MSVCP60.DLL", FileScope::kFile},
      {"%SYSTEM%\\MSVCIRT.DLL", FileScope::kFile},
      {"%SYSTEM%\\OLEAUT32.DLL", FileScope::kFile},
      {"%SYSTEM%\\ASYCFILT.DLL", FileScope::kFile},
      {"%SYSTEM%\\OLEPRO32.DLL", FileScope::kFile},
      {"%SYSTEM%\\COMCAT.DLL", FileScope::kFile},
      {"%SYSTEM%\\ATL.DLL", FileScope::kFile},
      {"%SYSTEM%\\ADVPACK.DLL", FileScope::kFile},
      // PSAPI (NT 4.0 gets it from the medium), MSXML 3, the Flash control.
      {"%SYSTEM%\\psapi.dll", FileScope::kFile},
      {"%SYSTEM%\\msxml3.dll", FileScope::kFile},
      {"%SYSTEM%\\msxml3a.dll", FileScope::kFile},
      {"%SYSTEM%\\msxml3r.dll", FileScope::kFile},
      {"%SYSTEM%\\swflash.ocx", FileScope::kFile},
      {std::string("{") + kFlashServer + "|}", FileScope::kFile},
      // The media player: where App Paths names it, else the system folder.
      {"{HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe|}",
       FileScope::kFile},
      {"%SYSTEM%\\wmplayer.exe", FileScope::kFile},
      // The installation folder, where the package puts it and where the
      // earlier edition says it is; the user's data files are read.
      {"{HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion|ProgramFilesDir}\\Zentavo\\",
       FileScope::kTree},
      {"{HKCU\\Software\\Corvane\\Zentavo\\Installation|InstallDir}", FileScope::kTree},
      {"{HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion|ProgramFilesDir}\\Zentavo\\Zentavo.mdb",
       FileScope::kContent},
      {"{HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion|ProgramFilesDir}\\Zentavo\\calibrate.mi",
       FileScope::kContent},
      {"{HKCU\\Software\\Corvane\\Zentavo\\Installation|InstallDir}\\Zentavo.mdb",
       FileScope::kContent},
      {"{HKCU\\Software\\Corvane\\Zentavo\\Installation|InstallDir}\\calibrate.mi",
       FileScope::kContent},
      // The user's data saved during an upgrade (the Save key names the folder).
      {"%TEMP%ztsv*", FileScope::kTreeContent},
      {"{HKCU\\Software\\Corvane\\Save|Folder}", FileScope::kTreeContent},
      // The log.
      {"%TEMP%ZentavoInstall.log", FileScope::kFile},
      // Windows Installer's cache: the packages, transforms and icons it
      // keeps of every product.
      {"%WINDOWS%\\Installer", FileScope::kTree},
      // Files replaced or removed at the next start of Windows (9x).
      {"%WINDOWS%\\WININIT.INI", FileScope::kContent},
  };
  // The shortcuts the setup removes and makes.
  for (const char* folder : {"Desktop", "Start Menu", "Programs", "Startup"}) {
    files.push_back({std::string("{") + kShellFolders + "|" + folder + "}", FileScope::kFile});
    files.push_back({std::string("{") + kShellFolders + "|" + folder + "}\\Zentavo.lnk",
                     FileScope::kContent});
  }
  // The product's entries in the Start menu and on the desktop, the user's
  // and every user's, which its package or its tools may make.
  for (const std::string& folder :
       {std::string(kShellFolders) + "|Programs", std::string(kShellFolders) + "|Desktop",
        std::string(kCommonShellFolders) + "|Common Programs",
        std::string(kCommonShellFolders) + "|Common Desktop"}) {
    files.push_back({"{" + folder + "}\\Zentavo*", FileScope::kTreeContent});
  }
  // The package and transforms Windows Installer keeps of each product.
  for (const char* code : kProductCodes) {
    const std::string key = std::string(kRegistration) + PackedGuid(code) + "\\InstallProperties";
    // Read whole by Windows Installer when it removes or repairs the product.
    files.push_back({"{" + key + "|LocalPackage}", FileScope::kContent});
    // The transforms the published product names (InstallProperties named
    // them in the simulation's earlier registration).
    files.push_back({std::string("{") + kPublished + "Products\\" + PackedGuid(code) + "|Transforms}",
                     FileScope::kContent});
    files.push_back({"{" + key + "|Transforms}", FileScope::kContent});
  }
  return files;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string WithoutTrailingBackslash(std::string path, const PathChars& paths) {
  paths.TrimSeparators(&path, 3);
  return path;
}

// Joins a folder and the rest of a path: one backslash between them. The
// folder's own last character may end in 0x5C (表 on code page 932).
std::string Join(const std::string& folder, const std::string& rest, const PathChars& paths) {
  std::string left = folder;
  paths.TrimSeparators(&left);
  size_t start = 0;
  while (start < rest.size() && rest[start] == '\\') ++start;
  if (start == rest.size()) return left;
  return left + "\\" + rest.substr(start);
}

// The strings a registry value holds: a REG_SZ or REG_EXPAND_SZ, split at ";",
// each without blanks and double quotes around it.
std::vector<std::string> RegistryPaths(Machine& machine, const std::string& keyPath,
                                       const std::string& value) {
  std::vector<std::string> paths;
  HKEY root = nullptr;
  std::string subKey;
  if (!SplitKeyPath(keyPath, &root, &subKey)) return paths;
  RegKey key(machine.registry());
  if (key.Open(root, subKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return paths;
  std::string text;
  DWORD type = 0;
  if (key.QueryString(value, 4096, &text, &type) != ERROR_SUCCESS) return paths;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return paths;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    size_t first = part.find_first_not_of(" \"");
    size_t last = part.find_last_not_of(" \"");
    if (first != std::string::npos) paths.push_back(part.substr(first, last - first + 1));
    start = end + 1;
  }
  return paths;
}

}  // namespace

const std::vector<KeyPrint>& RegistryFootprint() {
  static const std::vector<KeyPrint> keys = MakeRegistryFootprint();
  return keys;
}

const std::vector<FilePrint>& FileFootprint() {
  static const std::vector<FilePrint> files = MakeFileFootprint();
  return files;
}

const std::vector<std::string>& WindowClasses() {
  static const std::vector<std::string> classes = {"InstallShield_Win", "MsiDialogCloseClass"};
  return classes;
}

const std::vector<std::string>& DriverDevices() {
  static const std::vector<std::string> devices = {"crvnusb"};
  return devices;
}

const std::vector<std::string>& Privileges() {
  static const std::vector<std::string> privileges = {"SeBackupPrivilege", "SeRestorePrivilege",
                                                      "SeShutdownPrivilege"};
  return privileges;
}

const std::vector<std::string>& TransientKeys() {
  static const std::vector<std::string> keys = {"HKU\\TEMP_HIVE"};
  return keys;
}

namespace {

std::vector<std::string> KeyParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool FootprintKey(const std::string& path, KeyPrint* print) {
  const std::vector<std::string> parts = KeyParts(path);
  bool inTree = false;
  for (const KeyPrint& candidate : RegistryFootprint()) {
    const std::vector<std::string> own = KeyParts(candidate.key);
    if (parts.size() < own.size()) continue;
    bool matches = true;
    for (size_t i = 0; i < own.size() && matches; ++i) {
      matches = WildcardMatch(own[i], parts[i]);
    }
    if (!matches) continue;
    if (parts.size() == own.size()) {
      *print = candidate;
      print->key = path;
      print->tree = false;
      return true;
    }
    inTree = inTree || candidate.tree;
  }
  if (!inTree) return false;
  *print = KeyPrint{path, false, {}, false, false};
  return true;
}

bool SplitKeyPath(const std::string& path, HKEY* root, std::string* subKey) {
  size_t cut = path.find('\\');
  std::string head = Upper(path.substr(0, cut));
  if (head == "HKLM" || head == "HKEY_LOCAL_MACHINE") {
    *root = HKEY_LOCAL_MACHINE;
  } else if (head == "HKCU" || head == "HKEY_CURRENT_USER") {
    *root = HKEY_CURRENT_USER;
  } else if (head == "HKCR" || head == "HKEY_CLASSES_ROOT") {
    *root = HKEY_CLASSES_ROOT;
  } else if (head == "HKU" || head == "HKEY_USERS") {
    *root = HKEY_USERS;
  } else {
    return false;
  }
  *subKey = cut == std::string::npos ? std::string() : path.substr(cut + 1);
  return true;
}

std::string PackedGuid(const std::string& guid) {
  std::string hex;
  for (char c : guid) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
      hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  if (hex.size() != 32) return std::string();
  std::string packed;
  // The first three groups reversed whole, the rest byte by byte (nibbles swapped).
  for (auto [start, length] : {std::pair{0, 8}, {8, 4}, {12, 4}}) {
    packed += std::string(hex.rbegin() + (32 - start - length), hex.rbegin() + (32 - start));
  }
  for (int i = 16; i < 32; i += 2) {
    packed += hex[i + 1];
    packed += hex[i];
  }
  return packed;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || std::toupper(static_cast<unsigned char>(pattern[p])) ==
                                  std::toupper(static_cast<unsigned char>(name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> ExpandPath(Machine& machine, const std::string& path) {
  std::vector<std::string> out;
  Environment& environment = machine.environment();
  const PathChars paths = PathCharsOf(environment);
  auto expand = [&](const char* name, const std::string& folder) {
    const std::string placeholder = std::string("%") + name + "%";
    if (path.compare(0, placeholder.size(), placeholder) != 0) return false;
    if (!folder.empty()) out.push_back(Join(folder, path.substr(placeholder.size()), paths));
    return true;
  };
  std::string folder;
  if (path.rfind("%WINDOWS%", 0) == 0) {
    environment.GetWindowsDirectory(&folder);
    expand("WINDOWS", folder);
  } else if (path.rfind("%SYSTEM%", 0) == 0) {
    environment.GetSystemDirectory(&folder);
    expand("SYSTEM", folder);
  } else if (path.rfind("%TEMP%", 0) == 0) {
    environment.GetTempPath(&folder);
    expand("TEMP", folder);
  } else if (path.rfind("%SETUP%", 0) == 0) {
    std::string program;
    if (environment.GetModuleFileName(&program) == ERROR_SUCCESS) {
      folder = paths.Folder(program);
    }
    expand("SETUP", folder);
  } else if (!path.empty() && path[0] == '{') {
    size_t bar = path.find('|');
    size_t close = bar == std::string::npos ? bar : path.find('}', bar);
    if (bar == std::string::npos || close == std::string::npos || close < bar) return out;
    const std::string rest = path.substr(close + 1);
    for (const std::string& named :
         RegistryPaths(machine, path.substr(1, bar - 1), path.substr(bar + 1, close - bar - 1))) {
      out.push_back(Join(named, rest, paths));
    }
  } else {
    out.push_back(path);
  }
  for (std::string& expanded : out) expanded = WithoutTrailingBackslash(expanded, paths);
  return out;
}

}  // namespace capture
