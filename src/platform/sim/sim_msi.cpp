#include "platform/sim/sim_msi.h"

// The machine's Windows types first: glib then keeps their TRUE and FALSE.
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_msi_plan.h"
#include "platform/sim/sim_msi_registration.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr DWORD kErrorUnknownProduct = 1605;
constexpr DWORD kErrorInstallAlreadyRunning = 1618;
constexpr DWORD kErrorPackageOpenFailed = 1619;
constexpr DWORD kErrorPlatformUnsupported = 1633;
constexpr DWORD kErrorProductVersion = 1638;
constexpr DWORD kErrorInvalidCommandLine = 1639;

// Virtual time a run takes: reading and checking, then the installation proper.
constexpr uint64_t kFailureMs = 1500;
constexpr uint64_t kInstallMs = 4000;
constexpr uint64_t kPerFileMs = 500;
constexpr uint64_t kUninstallMs = 3000;

const char* const kUninstallRoot = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char* const kProductsRoot =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

// The folder of a path, with its backslash; the second byte of 表 is none.
std::string FolderOf(const SimMachine& machine, const std::string& path) {
  size_t cut = machine.codePage().Paths().FindLastSeparator(path);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// What msiexec was asked to do.
struct MsiCommand {
  enum Action { kNone, kInstall, kUninstall } action = kNone;
  std::string target;  // the package path or product code
  bool visibleUi = true;
  // Without its dialogs (/q, /qn, /quiet, /qb- and /qb!-, /passive) Windows
  // Installer restarts Windows by itself when the run needs it; with them
  // it asks (the rehearsal's user declines).
  bool restartsItself = false;
  bool norestart = false;     // /norestart
  bool forceRestart = false;  // /forcerestart
  std::map<std::string, std::string> properties;  // by upper-cased name
  std::string error;
};

// REBOOT=ReallySuppress (R) and Suppress (S), or /norestart: the run ends
// with 3010 instead of restarting.
bool RestartSuppressed(const MsiCommand& command) {
  auto reboot = command.properties.find("REBOOT");
  std::string value = reboot == command.properties.end() ? std::string() : MsiUpper(reboot->second);
  return command.norestart || value == "R" || value == "REALLYSUPPRESS" || value == "S" ||
         value == "SUPPRESS";
}

// What a run does when it needs a restart (or is told to make one).
void PlanRestart(const MsiCommand& command, bool needed, SimProgramRun* run) {
  run->restartNeeded = needed || command.forceRestart;
  run->restartAutomatic =
      !RestartSuppressed(command) && (command.restartsItself || command.forceRestart);
}

// The non-empty parts of a ";"-separated list.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find(';', from);
    if (end == std::string::npos) end = text.size();
    if (end > from) out.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return out;
}

MsiCommand ParseCommand(const std::string& arguments) {
  MsiCommand command;
  std::vector<std::string> tokens = SplitArguments(arguments);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token.size() >= 2 && (token[0] == '/' || token[0] == '-')) {
      std::string option = MsiUpper(token.substr(1));
      char letter = option[0];
      if (letter == 'I' || letter == 'X') {
        command.action = letter == 'I' ? MsiCommand::kInstall : MsiCommand::kUninstall;
        if (option.size() > 1) {
          command.target = token.substr(2);  // "/I{code}", as the Uninstall key writes it
        } else if (i + 1 < tokens.size()) {
          command.target = tokens[++i];
        }
      } else if (option == "QUIET") {
        command.visibleUi = false;
        command.restartsItself = true;
      } else if (letter == 'Q') {
        std::string level = option.substr(1);
        command.visibleUi = !(level.empty() || level == "N" || level == "N+" || level == "N-");
        command.restartsItself = !command.visibleUi ||
                                 (level[0] == 'B' && level.find('-') != std::string::npos);
      } else if (letter == 'L') {
        ++i;  // the log file
      } else if (option == "NORESTART" || option == "PASSIVE" || option == "PROMPTRESTART" ||
                 option == "FORCERESTART") {
        if (option == "PASSIVE") {
          command.visibleUi = true;
          command.restartsItself = true;
        }
        if (option == "NORESTART") command.norestart = true;
        if (option == "FORCERESTART") command.forceRestart = true;
      } else {
        command.error = "unknown option " + token;
      }
      continue;
    }
    size_t equals = token.find('=');
    if (equals != std::string::npos && equals > 0) {
      command.properties[MsiUpper(token.substr(0, equals))] = token.substr(equals + 1);
      continue;
    }
    command.error = "unexpected argument " + token;
  }
  if (command.action == MsiCommand::kNone) command.error = "neither /i nor /x";
  if (command.target.empty() && command.error.empty()) command.error = "no package or product";
  return command;
}


// Whether Windows Installer installs a package of the summary's template
// platform on Windows of this processor architecture: a 32-bit package
// ("Intel", or none) everywhere, an x64 one ("x64", or "AMD64" as Windows
// Installer 3.0 wrote it) on x64 Windows only, an Itanium one nowhere here.
bool PlatformSupported(const std::string& platform, WORD architecture) {
  if (platform.empty() || platform == "Intel") return true;
  return (platform == "x64" || platform == "AMD64") &&
         architecture == PROCESSOR_ARCHITECTURE_AMD64;
}

std::string VersionField(const std::string& version, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    start = version.find('.', start);
    if (start == std::string::npos) return "0";
    ++start;
  }
  return version.substr(start, version.find('.', start) - start);
}

uint32_t VersionNumber(const std::string& version, int index) {
  return static_cast<uint32_t>(std::strtoul(VersionField(version, index).c_str(), nullptr, 10));
}

// Field-by-field comparison of two dotted versions.
int CompareVersions(const std::string& a, const std::string& b) {
  for (int i = 0; i < 4; ++i) {
    uint32_t x = VersionNumber(a, i), y = VersionNumber(b, i);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

std::string Dword(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// A file of the package that a running program holds: it can be neither
// replaced nor deleted until Windows starts again.
bool InUse(SimFileSystem& files, const std::string& path) {
  const SimFile* node = files.Node(path);
  return node != nullptr && !node->directory && files.ActiveLock(*node) != 0;
}

bool AnyFileInUse(SimMachine& machine, const MsiPlan& plan) {
  return std::any_of(plan.files.begin(), plan.files.end(), [&machine](const MsiFileItem& item) {
    return InUse(machine.simFiles(), item.path);
  });
}

void WriteFiles(SimMachine& machine, const MsiPlan& plan, const std::string& packageName) {
  SimFileSystem& files = machine.simFiles();
  for (const std::string& folder : plan.folders) files.MakeFolders(folder);
  for (const MsiFileItem& item : plan.files) {
    if (const SimFile* existing = files.Node(item.path)) {
      // Windows keeps an unversioned file that is there (the user may have
      // changed it) and a versioned one that is newer than the package's.
      if (item.version.empty()) continue;
      std::string installed =
          existing->version.is_object() && existing->version.contains("FileVersion")
              ? existing->version["FileVersion"].get<std::string>()
              : std::string();
      if (!installed.empty() && CompareVersions(installed, item.version) > 0) continue;
    }
    std::string content = MsiLongName(machine.codePage().Paths().LastName(item.path)) + " (" +
                          std::to_string(item.size) + " bytes in " + packageName + ")\r\n";
    // The cabinet is not unpacked: the text stands in for the bytes, as
    // many of them as the File table gives, so that the file has its size.
    if (item.size > 0) content.resize(static_cast<size_t>(item.size), '\0');
    // A file in use is written beside it and takes its place at the restart.
    std::string target = item.path;
    if (InUse(files, item.path)) {
      target = FolderOf(machine, item.path) + "~zt" + std::to_string(machine.clock().now() % 100000) + ".tmp";
      machine.ScheduleFileOperation(target, item.path);
    }
    if (!files.Put(target, content)) continue;
    SimFile* node = files.MutableNode(target);
    if (!item.version.empty()) node->version = SimJson{{"FileVersion", item.version}};
    else node->version = SimJson();
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (item.attributes & 1) attributes |= FILE_ATTRIBUTE_READONLY;
    if (item.attributes & 2) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (item.attributes & 4) attributes |= FILE_ATTRIBUTE_SYSTEM;
    files.SetAttributes(target, attributes);
  }
}

HKEY RootOf(const std::string& key) {
  std::string root = key.substr(0, key.find('\\'));
  return root == "HKLM" ? HKEY_LOCAL_MACHINE
         : root == "HKCU" ? HKEY_CURRENT_USER
         : root == "HKCR" ? HKEY_CLASSES_ROOT
                          : HKEY_USERS;
}

std::string SubKeyOf(const std::string& key) {
  size_t cut = key.find('\\');
  return cut == std::string::npos ? std::string() : key.substr(cut + 1);
}

void WriteRegistry(SimMachine& machine, const MsiPlan& plan) {
  SimRegistry& registry = machine.simRegistry();
  for (const MsiRegistryItem& item : plan.registry) {
    if (item.hasValue) {
      registry.SetValue(item.key, item.name, item.type, item.data);
    } else if (item.name == "+" || item.name == "*" || item.name.empty()) {
      // The key itself, without values.
      HKEY handle = nullptr;
      DWORD disposition = 0;
      if (registry.CreateKey(RootOf(item.key), SubKeyOf(item.key), std::string(), 0,
                             KEY_ALL_ACCESS, &handle, &disposition) == ERROR_SUCCESS) {
        registry.CloseKey(handle);
      }
    }
  }
}

// Removes a key when it holds nothing, and its parents while they hold
// nothing, stopping below the root's first level ("HKLM\Software").
void RemoveEmptyKeys(SimRegistry& registry, std::string key) {
  while (std::count(key.begin(), key.end(), '\\') >= 2) {
    HKEY handle = nullptr;
    if (registry.OpenKey(RootOf(key), SubKeyOf(key), KEY_READ, &handle) != ERROR_SUCCESS) {
      key = key.substr(0, key.rfind('\\'));
      continue;
    }
    DWORD subKeys = 0, values = 0;
    LONG result = registry.QueryInfoKey(handle, &subKeys, nullptr, &values, nullptr, nullptr);
    registry.CloseKey(handle);
    if (result != ERROR_SUCCESS || subKeys != 0 || values != 0) return;
    registry.RemoveTree(key);
    key = key.substr(0, key.rfind('\\'));
  }
}

void RemoveInstalled(SimMachine& machine, const MsiPlan& plan) {
  SimFileSystem& files = machine.simFiles();
  SimRegistry& registry = machine.simRegistry();
  for (const MsiFileItem& item : plan.files) {
    if (InUse(files, item.path)) {
      machine.ScheduleFileOperation(item.path, std::string());
      continue;
    }
    files.SetAttributes(item.path, FILE_ATTRIBUTE_NORMAL);
    files.Delete(item.path);
  }
  for (auto it = plan.folders.rbegin(); it != plan.folders.rend(); ++it) {
    std::string folder = *it;
    // The folder and the parents it brought, while they are empty.
    while (folder.size() > 3) {
      folder.pop_back();  // the trailing backslash: a whole character
      if (files.RemoveDirectory(folder) != ERROR_SUCCESS) break;
      folder = FolderOf(machine, folder);
      bool created = std::any_of(plan.folders.begin(), plan.folders.end(),
                                 [&](const std::string& f) { return MsiUpper(f) == MsiUpper(folder); });
      if (!created) break;
    }
  }
  std::vector<std::string> touched;
  for (const MsiRegistryItem& item : plan.registry) {
    if (!item.hasValue && (item.name == "-" || item.name == "*")) {
      registry.RemoveTree(item.key);
    } else if (item.hasValue) {
      HKEY handle = nullptr;
      if (registry.OpenKey(RootOf(item.key), SubKeyOf(item.key), KEY_SET_VALUE, &handle) ==
          ERROR_SUCCESS) {
        registry.DeleteValue(handle, item.name);
        registry.CloseKey(handle);
      }
    }
    touched.push_back(item.key);
  }
  // Deepest keys first, so that a parent is looked at after its children.
  std::sort(touched.begin(), touched.end(), [](const std::string& a, const std::string& b) {
    return a.size() > b.size();
  });
  for (const std::string& key : touched) RemoveEmptyKeys(registry, key);
}

std::string UninstallKey(const std::string& code) { return kUninstallRoot + code; }
std::string RegistrationKey(const std::string& code) {
  return kProductsRoot + MsiPackedGuid(MsiUpper(code)) + "\\InstallProperties";
}

// The cached transforms of a product: the published product names them
// ("Transforms"); a machine described before that names them in
// InstallProperties.
std::vector<std::string> CachedTransforms(SimRegistry& registry, const std::string& code) {
  std::optional<std::string> list =
      registry.GetString(MsiPublishedProductKey(MsiUpper(code)), "Transforms");
  if (!list) list = registry.GetString(RegistrationKey(code), "Transforms");
  return SplitList(list.value_or(""));
}

// The FileVersion of a file's version resource, in either form of the
// machine format; "" when it has none.
std::string FileVersionOf(const SimFile* file) {
  if (file == nullptr || !file->version.is_object()) return std::string();
  const SimJson& version = file->version;
  if (version.contains("FileVersion") && version["FileVersion"].is_string()) {
    return version["FileVersion"].get<std::string>();
  }
  if (version.contains("strings") && version["strings"].is_object()) {
    for (const auto& [table, strings] : version["strings"].items()) {
      if (strings.contains("FileVersion") && strings["FileVersion"].is_string()) {
        return strings["FileVersion"].get<std::string>();
      }
    }
  }
  return std::string();
}

// A new file name under the Windows folder's "Installer" folder.
std::string CacheName(SimMachine& machine, const std::string& extension) {
  SimFileSystem& files = machine.simFiles();
  std::string folder = MsiWithBackslash(machine, machine.simEnvironment().windowsDirectory) + "Installer\\";
  files.MakeFolders(folder);
  uint32_t seed = machine.simEnvironment().GetTickCount();
  for (uint32_t i = 0; i < 0x10000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%x", (seed + i * 0x1F3) & 0xFFFFFF);
    std::string path = folder + name + extension;
    if (!files.Exists(path)) return path;
  }
  return folder + "zentavo" + extension;
}

void Register(SimMachine& machine, const MsiPlan& plan, const std::string& packagePath,
              const std::string& packageBytes, const std::vector<std::string>& transformBytes) {
  SimRegistry& registry = machine.simRegistry();
  SimFileSystem& files = machine.simFiles();
  std::string registration = RegistrationKey(plan.productCode);
  // A reinstall replaces the cached copies of the earlier run.
  if (auto old = registry.GetString(registration, "LocalPackage")) files.Delete(*old);
  for (const std::string& path : CachedTransforms(registry, plan.productCode)) files.Delete(path);
  // The package is cached, and so are the transforms: unsecured transforms
  // of a per-machine installation go to the Windows folder's Installer
  // folder, and the published product names them.
  std::string cached = CacheName(machine, ".msi");
  files.Put(cached, packageBytes);
  std::string transformList;
  for (const std::string& bytes : transformBytes) {
    std::string path = CacheName(machine, ".mst");
    files.Put(path, bytes);
    transformList += (transformList.empty() ? "" : ";") + path;
  }
  registry.RemoveTree(registration);
  registry.SetString(registration, "LocalPackage", cached);

  uint32_t major = VersionNumber(plan.productVersion, 0);
  uint32_t minor = VersionNumber(plan.productVersion, 1);
  uint32_t build = VersionNumber(plan.productVersion, 2);
  // The size in KB, rounded up, of the package and the files it installs:
  // what Windows Installer's own tests expect (Wine's dlls/msi/tests/action.c).
  int64_t size = static_cast<int64_t>(packageBytes.size());
  for (const MsiFileItem& item : plan.files) size += item.size;
  LocalTime now{};
  machine.simEnvironment().GetLocalTime(&now);
  char date[16];
  std::snprintf(date, sizeof date, "%04u%02u%02u", now.year, now.month, now.day);
  std::string key = UninstallKey(plan.productCode);
  registry.RemoveTree(key);
  std::string invoke = "MsiExec.exe /I" + plan.productCode;
  struct Text {
    const char* name;
    std::string value;
  } texts[] = {{"AuthorizedCDFPrefix", ""},
               {"Comments", MsiProperty(plan, "ARPCOMMENTS")},
               {"Contact", MsiProperty(plan, "ARPCONTACT")},
               {"DisplayName", plan.productName},
               {"DisplayVersion", plan.productVersion},
               {"HelpLink", MsiProperty(plan, "ARPHELPLINK")},
               {"HelpTelephone", MsiProperty(plan, "ARPHELPTELEPHONE")},
               {"InstallDate", date},
               {"InstallLocation", MsiProperty(plan, "ARPINSTALLLOCATION")},
               {"InstallSource", FolderOf(machine, packagePath)},
               {"Publisher", plan.manufacturer},
               {"Readme", MsiProperty(plan, "ARPREADME")},
               {"Size", ""},
               {"URLInfoAbout", MsiProperty(plan, "ARPURLINFOABOUT")},
               {"URLUpdateInfo", MsiProperty(plan, "ARPURLUPDATEINFO")}};
  // The values of the Add/Remove Programs entry; Windows Installer keeps
  // them in the product's registration too.
  auto set = [&](const char* name, DWORD type, const std::string& data) {
    registry.SetValue(key, name, type, data);
    registry.SetValue(registration, name, type, data);
  };
  for (const Text& text : texts) set(text.name, REG_SZ, text.value + std::string(1, '\0'));
  set("EstimatedSize", REG_DWORD, Dword(static_cast<uint32_t>((size + 1023) / 1024)));
  set("Language", REG_DWORD,
      Dword(static_cast<uint32_t>(std::strtoul(plan.language.c_str(), nullptr, 10))));
  set("ModifyPath", REG_EXPAND_SZ, invoke + std::string(1, '\0'));
  set("UninstallString", REG_EXPAND_SZ, invoke + std::string(1, '\0'));
  set("Version", REG_DWORD, Dword((major << 24) | ((minor & 0xFF) << 16) | (build & 0xFFFF)));
  set("VersionMajor", REG_DWORD, Dword(major));
  set("VersionMinor", REG_DWORD, Dword(minor));
  set("WindowsInstaller", REG_DWORD, Dword(1));

  MsiPublication publication;
  publication.productCode = plan.productCode;
  publication.upgradeCode = plan.upgradeCode;
  publication.packageCode = plan.packageCode;
  publication.productName = plan.productName;
  publication.language = static_cast<uint32_t>(std::strtoul(plan.language.c_str(), nullptr, 10));
  publication.version = (major << 24) | ((minor & 0xFF) << 16) | (build & 0xFFFF);
  publication.transforms = transformList;
  publication.sourceFolder = FolderOf(machine, packagePath);
  publication.packageName = machine.codePage().Paths().LastName(packagePath);
  publication.mediaDisk = plan.mediaDisk;
  // AuthorizedLUAApp came with Windows Installer 3.0.
  publication.luaValues =
      VersionNumber(FileVersionOf(files.Node(MsiWithBackslash(machine,
                        machine.simEnvironment().systemDirectory) + "msi.dll")), 0) >= 3;
  publication.features = plan.features;
  publication.components = plan.components;
  PublishMsiProduct(registry, publication);
}

// The registration of an installed product: its cached package and transforms.
bool LoadRegistered(SimMachine& machine, const std::string& code, std::string* packagePath,
                    std::string* packageBytes, std::vector<std::string>* transforms) {
  SimRegistry& registry = machine.simRegistry();
  std::string registration = RegistrationKey(code);
  std::optional<std::string> local = registry.GetString(registration, "LocalPackage");
  if (!local) return false;
  std::optional<std::string> bytes = machine.simFiles().Contents(*local);
  if (!bytes) return false;
  *packagePath = *local;
  *packageBytes = *bytes;
  for (const std::string& path : CachedTransforms(registry, code)) {
    if (std::optional<std::string> transform = machine.simFiles().Contents(path)) {
      transforms->push_back(*transform);
    }
  }
  return true;
}

void Unregister(SimMachine& machine, const std::string& code) {
  SimRegistry& registry = machine.simRegistry();
  std::string registration = RegistrationKey(code);
  if (auto local = registry.GetString(registration, "LocalPackage")) {
    machine.simFiles().Delete(*local);
  }
  for (const std::string& path : CachedTransforms(registry, code)) machine.simFiles().Delete(path);
  UnpublishMsiProduct(registry, code);
  registry.RemoveTree(registration.substr(0, registration.rfind('\\')));
  registry.RemoveTree(UninstallKey(code));
}

// The current folder msiexec was started in: the one its starter gave, else
// the starter's own.
std::string CurrentFolder(SimMachine& machine, const SimProcessStart& start) {
  return start.currentDirectory.empty() ? machine.simFiles().currentDirectory()
                                        : start.currentDirectory;
}

// The window a run with a visible user interface shows.
void ShowDialog(SimMachine& machine, const SimProcessStart& start, const std::string& title) {
  SimWindow window;
  window.title = title;
  window.className = "MsiDialogCloseClass";
  window.program = start.program;
  window.processId = start.processId;
  window.closesOnRequest = false;
  machine.simDesktop().AddWindow(window);
}

SimProgramRun Failed(SimMachine& machine, const SimProcessStart& start, const MsiCommand& command,
                   DWORD code) {
  if (command.visibleUi) ShowDialog(machine, start, "Windows Installer");
  SimProgramRun run;
  run.exitCode = code;
  run.durationMs = kFailureMs;
  return run;
}

SimProgramRun Install(SimMachine& machine, const SimProcessStart& start,
                      const MsiCommand& command) {
  SimFileSystem& files = machine.simFiles();
  std::string packagePath = command.target;
  std::string packageBytes;
  std::vector<std::string> transforms;
  bool byCode = !packagePath.empty() && packagePath[0] == '{';
  if (byCode) {
    // "/i {code}": the installed product again, from its cached package.
    if (!LoadRegistered(machine, MsiUpper(packagePath), &packagePath, &packageBytes, &transforms)) {
      return Failed(machine, start, command, kErrorUnknownProduct);
    }
  } else {
    const std::string current = MsiWithBackslash(machine, CurrentFolder(machine, start));
    if (!MsiIsFullPath(packagePath)) packagePath = current + packagePath;
    std::optional<std::string> bytes = files.Contents(packagePath);
    if (!bytes) return Failed(machine, start, command, kErrorPackageOpenFailed);
    packageBytes = *bytes;
    auto named = command.properties.find("TRANSFORMS");
    if (named != command.properties.end()) {
      // Several transforms are separated by semicolons.
      for (const std::string& name : SplitList(named->second)) {
        if (name[0] == ':') return Failed(machine, start, command, kErrorTransformFailure);
        std::optional<std::string> transform;
        if (MsiIsFullPath(name)) {
          transform = files.Contents(name);
        } else {
          // A first installation looks for it where the name leads from the
          // current folder, then beside the package.
          transform = files.Contents(current + name);
          if (!transform) transform = files.Contents(FolderOf(machine, packagePath) + name);
        }
        if (!transform) return Failed(machine, start, command, kErrorTransformFailure);
        transforms.push_back(*transform);
      }
    }
  }
  std::map<std::string, std::string> overrides = command.properties;
  overrides.erase("TRANSFORMS");
  auto plan = std::make_shared<MsiPlan>();
  std::string problem;
  DWORD result = MakeMsiPlan(machine, packageBytes, transforms, overrides, plan.get(), &problem);
  if (result != ERROR_SUCCESS) return Failed(machine, start, command, result);
  if (!PlatformSupported(plan->platform, machine.simEnvironment().processorArchitecture)) {
    return Failed(machine, start, command, kErrorPlatformUnsupported);
  }
  std::string code = MsiUpper(plan->productCode);
  std::string registeredVersion =
      machine.simRegistry().GetString(UninstallKey(code), "DisplayVersion").value_or("");
  if (machine.simRegistry().KeyExists(RegistrationKey(code)) && !registeredVersion.empty() &&
      registeredVersion != plan->productVersion) {
    return Failed(machine, start, command, kErrorProductVersion);
  }
  if (command.visibleUi) ShowDialog(machine, start, plan->productName);
  std::string packageName = machine.codePage().Paths().LastName(packagePath);
  SimProgramRun run;
  run.exitCode = ERROR_SUCCESS;
  run.durationMs = kInstallMs + kPerFileMs * plan->files.size();
  PlanRestart(command, AnyFileInUse(machine, *plan), &run);
  SimMachine* target = &machine;
  run.onExit = [target, plan, packagePath, packageBytes, transforms, packageName]() {
    WriteFiles(*target, *plan, packageName);
    WriteRegistry(*target, *plan);
    plan->productCode = MsiUpper(plan->productCode);
    Register(*target, *plan, packagePath, packageBytes, transforms);
  };
  return run;
}

SimProgramRun Uninstall(SimMachine& machine, const SimProcessStart& start,
                        const MsiCommand& command) {
  std::string code = MsiUpper(command.target);
  std::string packagePath, packageBytes;
  std::vector<std::string> transforms;
  if (code.empty() || code[0] != '{') {
    // "/x package.msi": the product that package installs.
    std::string path = MsiIsFullPath(command.target)
                           ? command.target
                           : MsiWithBackslash(machine, CurrentFolder(machine, start)) + command.target;
    std::optional<std::string> bytes = machine.simFiles().Contents(path);
    if (!bytes) return Failed(machine, start, command, kErrorPackageOpenFailed);
    MsiPlan probe;
    std::string problem;
    DWORD result = MakeMsiPlan(machine, *bytes, {}, {}, &probe, &problem);
    if (result != ERROR_SUCCESS) return Failed(machine, start, command, result);
    code = MsiUpper(probe.productCode);
  }
  if (!LoadRegistered(machine, code, &packagePath, &packageBytes, &transforms)) {
    return Failed(machine, start, command, kErrorUnknownProduct);
  }
  auto plan = std::make_shared<MsiPlan>();
  std::string problem;
  DWORD result = MakeMsiPlan(machine, packageBytes, transforms, {}, plan.get(), &problem);
  if (result != ERROR_SUCCESS) return Failed(machine, start, command, result);
  if (command.visibleUi) ShowDialog(machine, start, plan->productName);
  SimProgramRun run;
  run.exitCode = ERROR_SUCCESS;
  run.durationMs = kUninstallMs;
  PlanRestart(command, AnyFileInUse(machine, *plan), &run);
  SimMachine* target = &machine;
  run.onExit = [target, plan, code]() {
    RemoveInstalled(*target, *plan);
    Unregister(*target, code);
  };
  return run;
}

}  // namespace

SimProgramBehaviour SimWindowsInstaller() {
  // One installation at a time, as Windows Installer's execution mutex allows.
  auto running = std::make_shared<DWORD>(0);
  return [running](SimMachine& m, const SimProcessStart& start) {
    MsiCommand command = ParseCommand(start.arguments);
    if (*running && m.simProcesses().IsRunning(*running)) {
      return Failed(m, start, command, kErrorInstallAlreadyRunning);
    }
    if (!command.error.empty()) return Failed(m, start, command, kErrorInvalidCommandLine);
    SimProgramRun run = command.action == MsiCommand::kInstall ? Install(m, start, command)
                                                               : Uninstall(m, start, command);
    *running = start.processId;
    return run;
  };
}
