#include "platform/sim/sim_msi.h"

// The machine's Windows types first: glib then keeps their TRUE and FALSE.
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_msi_registration.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace {

constexpr DWORD kErrorUnknownProduct = 1605;
constexpr DWORD kErrorInstallAlreadyRunning = 1618;
constexpr DWORD kErrorPackageOpenFailed = 1619;
constexpr DWORD kErrorPackageInvalid = 1620;
constexpr DWORD kErrorTransformFailure = 1624;
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
const char* const kTableNames[] = {"Property", "Directory",         "Component", "File",
                                   "Registry", "CreateFolder",      "Feature",   "FeatureComponents",
                                   "Media"};
// A component attribute: its key path names a row of the Registry table.
constexpr int32_t kRegistryKeyPath = 0x4;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

bool IsFullPath(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && path[2] == '\\') ||
         (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
}

// The folder of a path, with its backslash; the second byte of 表 is none.
std::string FolderOf(const SimMachine& machine, const std::string& path) {
  size_t cut = machine.codePage().Paths().FindLastSeparator(path);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string WithBackslash(const SimMachine& machine, std::string folder) {
  if (!machine.codePage().Paths().EndsWithSeparator(folder)) folder += '\\';
  return folder;
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
  std::string value = reboot == command.properties.end() ? std::string() : Upper(reboot->second);
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
      std::string option = Upper(token.substr(1));
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
      command.properties[Upper(token.substr(0, equals))] = token.substr(equals + 1);
      continue;
    }
    command.error = "unexpected argument " + token;
  }
  if (command.action == MsiCommand::kNone) command.error = "neither /i nor /x";
  if (command.target.empty() && command.error.empty()) command.error = "no package or product";
  return command;
}

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

std::string Property(const MsiPlan& plan, const std::string& name) {
  auto it = plan.properties.find(name);
  return it == plan.properties.end() ? std::string() : it->second;
}

// Formatted text: [Property], [#fileKey], [$component], [\c], [~].
std::string Format(const std::string& text, const MsiPlan& plan,
                   const std::map<std::string, std::string>& filePaths,
                   const std::map<std::string, std::string>& componentFolders) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '[') {
      out += text[i];
      continue;
    }
    size_t close = text.find(']', i);
    if (close == std::string::npos) {
      out += text.substr(i);
      break;
    }
    std::string inner = text.substr(i + 1, close - i - 1);
    i = close;
    if (inner.size() == 2 && inner[0] == '\\') {
      out += inner[1];
    } else if (inner == "~") {
      out += '\0';
    } else if (!inner.empty() && (inner[0] == '#' || inner[0] == '!')) {
      auto it = filePaths.find(inner.substr(1));
      if (it != filePaths.end()) out += it->second;
    } else if (!inner.empty() && inner[0] == '$') {
      auto it = componentFolders.find(inner.substr(1));
      if (it != componentFolders.end()) out += it->second;
    } else {
      out += Property(plan, inner);
    }
  }
  return out;
}

// The long target name of a DefaultDir or FileName: "target:source", "short|long".
std::string LongName(const std::string& field) {
  std::string target = field.substr(0, field.find(':'));
  size_t bar = target.find('|');
  return bar == std::string::npos ? target : target.substr(bar + 1);
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

// Folders of the Directory table, each ending with a backslash. Standard
// folders come from the machine; the rest from their parents. On x64
// Windows the machine's own folders (as a 64-bit program reads them) are the
// 64-bit ones, and ProgramFilesFolder is "ProgramFilesDir (x86)".
std::map<std::string, std::string> ResolveFolders(SimMachine& machine, const MsiTables& tables,
                                                  const std::map<std::string, std::string>& props) {
  const SimEnvironment& env = machine.simEnvironment();
  std::string drive = env.windowsDirectory.substr(0, 2) + "\\";
  std::string programFiles = WithBackslash(machine,
      machine.simRegistry()
          .GetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir")
          .value_or(drive + "Program Files"));
  std::map<std::string, std::string> standard = {
      {"TARGETDIR", drive},
      {"WindowsFolder", WithBackslash(machine, env.windowsDirectory)},
      {"SystemFolder", WithBackslash(machine, env.systemDirectory)},
      {"TempFolder", WithBackslash(machine, env.tempDirectory)},
      {"ProgramFilesFolder", programFiles},
      {"CommonFilesFolder", programFiles + "Common Files\\"}};
  if (env.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
    standard["ProgramFiles64Folder"] = programFiles;
    standard["CommonFiles64Folder"] = programFiles + "Common Files\\";
    standard["System64Folder"] = WithBackslash(machine, env.systemDirectory);
    std::string x86 = WithBackslash(machine,
        machine.simRegistry()
            .GetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion",
                       "ProgramFilesDir (x86)")
            .value_or(drive + "Program Files (x86)"));
    standard["ProgramFilesFolder"] = x86;
    standard["CommonFilesFolder"] = x86 + "Common Files\\";
    standard["SystemFolder"] = WithBackslash(machine, env.windowsDirectory) + "SysWOW64\\";
  }
  std::map<std::string, std::string> folders;
  auto directory = tables.find("Directory");
  if (directory == tables.end()) return folders;
  const MsiTable& table = directory->second;
  std::map<std::string, size_t> byId;
  for (size_t r = 0; r < table.rows.size(); ++r) byId[table.Text(r, "Directory")] = r;
  std::function<std::string(const std::string&, int)> resolve = [&](const std::string& id,
                                                                    int depth) -> std::string {
    auto known = folders.find(id);
    if (known != folders.end()) return known->second;
    std::string path;
    auto given = props.find(id);
    if (given != props.end() && IsFullPath(given->second)) {
      path = WithBackslash(machine, given->second);
    } else if (standard.count(id)) {
      path = standard[id];
    } else if (byId.count(id) && depth < 64) {
      size_t r = byId[id];
      std::string parent = table.Text(r, "Directory_Parent");
      std::string base = parent.empty() || parent == id ? drive : resolve(parent, depth + 1);
      std::string name = LongName(table.Text(r, "DefaultDir"));
      path = name == "." || name.empty() || parent.empty() ? base : base + name + "\\";
    } else {
      path = drive;
    }
    folders[id] = path;
    return path;
  };
  for (const auto& [id, row] : byId) resolve(id, 0);
  return folders;
}

const char* RootName(int32_t root, const MsiPlan& plan) {
  switch (root) {
    case 0: return "HKCR";
    case 1: return "HKCU";
    case 2: return "HKLM";
    case 3: return "HKU";
    default: return Property(plan, "ALLUSERS").empty() ? "HKCU" : "HKLM";
  }
}

// A Registry table value: "#123" a DWORD, "#x.." binary, "#%.." expandable,
// "##.." a string beginning with "#", "[~]" parts a multi-string.
void RegistryData(const std::string& value, MsiRegistryItem* item) {
  if (value.size() >= 2 && value[0] == '#' && value[1] == '#') {
    item->type = REG_SZ;
    item->data = value.substr(1) + std::string(1, '\0');
  } else if (value.size() >= 2 && value[0] == '#' && (value[1] == 'x' || value[1] == 'X')) {
    item->type = REG_BINARY;
    item->data.clear();
    for (size_t i = 2; i + 1 < value.size(); i += 2) {
      item->data += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
    }
  } else if (value.size() >= 2 && value[0] == '#' && value[1] == '%') {
    item->type = REG_EXPAND_SZ;
    item->data = value.substr(2) + std::string(1, '\0');
  } else if (!value.empty() && value[0] == '#') {
    item->type = REG_DWORD;
    uint32_t number = static_cast<uint32_t>(std::strtol(value.c_str() + 1, nullptr, 10));
    item->data.assign(reinterpret_cast<const char*>(&number), 4);
  } else if (value.find('\0') != std::string::npos) {
    item->type = REG_MULTI_SZ;
    std::string data;
    size_t start = 0;
    while (start <= value.size()) {
      size_t end = value.find('\0', start);
      std::string part = value.substr(start, end == std::string::npos ? std::string::npos
                                                                       : end - start);
      if (!part.empty()) data += part + std::string(1, '\0');
      if (end == std::string::npos) break;
      start = end + 1;
    }
    item->data = data + std::string(1, '\0');
  } else {
    item->type = REG_SZ;
    item->data = value + std::string(1, '\0');
  }
}

// A registry value as a component's key path names it: the root's number
// (0 HKCR, 1 HKCU, 2 HKLM, 3 HKU) in two digits, a colon, then the key and
// the value's name.
std::string RegistryKeyPath(const MsiRegistryItem& item) {
  static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  const std::string root = item.key.substr(0, item.key.find('\\'));
  int number = 2;
  for (int i = 0; i < 4; ++i) {
    if (root == kRoots[i]) number = i;
  }
  return "0" + std::to_string(number) + ":\\" + item.key.substr(root.size() + 1) + "\\" +
         item.name;
}

// What the installation registers of its features and components: each
// component with a ComponentId and its key path (the key path file, the
// registry value, or else the component's folder), each feature with its
// parent and its components. A feature is installed when its level is
// between 1 and INSTALLLEVEL.
void PlanRegistration(const MsiTables& tables,
                      const std::map<std::string, std::string>& componentFolders,
                      const std::map<std::string, std::string>& filePaths,
                      const std::map<std::string, std::string>& registryKeyPaths, MsiPlan* plan) {
  auto lookup = [](const std::map<std::string, std::string>& map, const std::string& key) {
    auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
  };
  std::map<std::string, std::string> componentIds;  // by the Component column
  if (auto found = tables.find("Component"); found != tables.end()) {
    const MsiTable& components = found->second;
    for (size_t r = 0; r < components.rows.size(); ++r) {
      const std::string name = components.Text(r, "Component");
      const std::string id = components.Text(r, "ComponentId");
      if (id.empty()) continue;
      componentIds[name] = id;
      const std::string keyPath = components.Text(r, "KeyPath");
      std::string resolved;
      if (components.Number(r, "Attributes", 0) & kRegistryKeyPath) {
        resolved = lookup(registryKeyPaths, keyPath);
      } else if (!keyPath.empty()) {
        resolved = lookup(filePaths, keyPath);
      }
      if (resolved.empty()) resolved = lookup(componentFolders, name);
      plan->components.push_back({Upper(id), resolved});
    }
  }
  int installLevel = std::atoi(Property(*plan, "INSTALLLEVEL").c_str());
  if (installLevel <= 0) installLevel = 1;
  auto features = tables.find("Feature");
  auto links = tables.find("FeatureComponents");
  if (features != tables.end()) {
    for (size_t r = 0; r < features->second.rows.size(); ++r) {
      MsiFeatureRecord feature;
      feature.name = features->second.Text(r, "Feature");
      feature.parent = features->second.Text(r, "Feature_Parent");
      int32_t level = features->second.Number(r, "Level", 0);
      feature.installed = level >= 1 && level <= installLevel;
      if (links != tables.end()) {
        for (size_t l = 0; l < links->second.rows.size(); ++l) {
          if (links->second.Text(l, "Feature_") != feature.name) continue;
          std::string id = lookup(componentIds, links->second.Text(l, "Component_"));
          if (!id.empty()) feature.componentIds.push_back(id);
        }
      }
      plan->features.push_back(feature);
    }
  }
  if (auto media = tables.find("Media"); media != tables.end()) {
    for (size_t r = 0; r < media->second.rows.size(); ++r) {
      if (media->second.Number(r, "DiskId", 0) != 1) continue;
      plan->mediaDisk =
          media->second.Text(r, "VolumeLabel") + ";" + media->second.Text(r, "DiskPrompt");
    }
  }
}

// Reads the package (and transform) into what a run installs.
DWORD MakePlan(SimMachine& machine, const std::string& packageBytes,
               const std::vector<std::string>& transforms,
               const std::map<std::string, std::string>& overrides, MsiPlan* plan,
               std::string* problem) {
  MsiTables tables;
  std::vector<std::string> names(std::begin(kTableNames), std::end(kTableNames));
  MsiSummary summary;
  if (!ReadMsiTables(packageBytes, names, &tables, problem, &summary)) {
    return kErrorPackageInvalid;
  }
  plan->platform = summary.templateText.substr(0, summary.templateText.find(';'));
  for (const std::string& transform : transforms) {
    if (!ApplyMsiTransform(transform, &tables, problem)) return kErrorTransformFailure;
  }
  // libmsi gives UTF-8; the machine keeps its texts in its ANSI code page.
  for (auto& [name, table] : tables) {
    for (auto& row : table.rows) {
      for (MsiCell& cell : row) {
        if (!cell.text.empty()) cell.text = machine.codePage().FromUtf8(cell.text);
      }
    }
  }
  const MsiTable& property = tables["Property"];
  for (size_t r = 0; r < property.rows.size(); ++r) {
    plan->properties[property.Text(r, "Property")] = property.Text(r, "Value");
  }
  for (const auto& [name, value] : overrides) {
    bool replaced = false;
    for (auto& [existing, old] : plan->properties) {
      if (Upper(existing) == name) {
        old = value;
        replaced = true;
      }
    }
    if (!replaced) plan->properties[name] = value;
  }
  plan->productCode = Property(*plan, "ProductCode");
  plan->productName = Property(*plan, "ProductName");
  plan->productVersion = Property(*plan, "ProductVersion");
  plan->manufacturer = Property(*plan, "Manufacturer");
  plan->language = Property(*plan, "ProductLanguage");
  plan->upgradeCode = Property(*plan, "UpgradeCode");
  plan->packageCode = summary.packageCode;
  if (plan->productCode.empty()) {
    *problem = "the package names no ProductCode";
    return kErrorPackageInvalid;
  }

  std::map<std::string, std::string> folders = ResolveFolders(machine, tables, plan->properties);
  for (const auto& [id, path] : folders) plan->properties[id] = path;
  std::map<std::string, std::string> componentFolders;
  const MsiTable& components = tables["Component"];
  for (size_t r = 0; r < components.rows.size(); ++r) {
    componentFolders[components.Text(r, "Component")] = folders[components.Text(r, "Directory_")];
  }
  std::map<std::string, std::string> filePaths;
  const MsiTable& files = tables["File"];
  for (size_t r = 0; r < files.rows.size(); ++r) {
    MsiFileItem item;
    item.path = componentFolders[files.Text(r, "Component_")] + LongName(files.Text(r, "FileName"));
    item.version = files.Text(r, "Version");
    // A Version that names another file (a companion file) is no version.
    if (!item.version.empty() && !std::isdigit(static_cast<unsigned char>(item.version[0]))) {
      item.version.clear();
    }
    item.attributes = files.Number(r, "Attributes", 0);
    item.size = files.Number(r, "FileSize", 0);
    filePaths[files.Text(r, "File")] = item.path;
    plan->files.push_back(item);
  }
  std::set<std::string> folderSet;
  for (const auto& [component, folder] : componentFolders) folderSet.insert(folder);
  const MsiTable& createFolder = tables["CreateFolder"];
  for (size_t r = 0; r < createFolder.rows.size(); ++r) {
    folderSet.insert(folders[createFolder.Text(r, "Directory_")]);
  }
  plan->folders.assign(folderSet.begin(), folderSet.end());  // a parent sorts before its children

  const MsiTable& registry = tables["Registry"];
  std::map<std::string, std::string> registryKeyPaths;  // by the Registry column
  for (size_t r = 0; r < registry.rows.size(); ++r) {
    MsiRegistryItem item;
    std::string key = Format(registry.Text(r, "Key"), *plan, filePaths, componentFolders);
    while (!key.empty() && key.back() == '\\') key.pop_back();
    item.key = std::string(RootName(registry.Number(r, "Root", -1), *plan)) + "\\" + key;
    item.name = Format(registry.Text(r, "Name"), *plan, filePaths, componentFolders);
    int valueColumn = registry.Column("Value");
    item.hasValue = valueColumn >= 0 && !registry.rows[r][static_cast<size_t>(valueColumn)].null;
    if (item.hasValue) {
      RegistryData(Format(registry.Text(r, "Value"), *plan, filePaths, componentFolders), &item);
    }
    registryKeyPaths[registry.Text(r, "Registry")] = RegistryKeyPath(item);
    plan->registry.push_back(item);
  }
  PlanRegistration(tables, componentFolders, filePaths, registryKeyPaths, plan);
  return ERROR_SUCCESS;
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
    std::string content = LongName(machine.codePage().Paths().LastName(item.path)) + " (" +
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
                                 [&](const std::string& f) { return Upper(f) == Upper(folder); });
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
  return kProductsRoot + MsiPackedGuid(Upper(code)) + "\\InstallProperties";
}

// The cached transforms of a product: the published product names them
// ("Transforms"); a machine described before that names them in
// InstallProperties.
std::vector<std::string> CachedTransforms(SimRegistry& registry, const std::string& code) {
  std::optional<std::string> list =
      registry.GetString(MsiPublishedProductKey(Upper(code)), "Transforms");
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
  std::string folder = WithBackslash(machine, machine.simEnvironment().windowsDirectory) + "Installer\\";
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
               {"Comments", Property(plan, "ARPCOMMENTS")},
               {"Contact", Property(plan, "ARPCONTACT")},
               {"DisplayName", plan.productName},
               {"DisplayVersion", plan.productVersion},
               {"HelpLink", Property(plan, "ARPHELPLINK")},
               {"HelpTelephone", Property(plan, "ARPHELPTELEPHONE")},
               {"InstallDate", date},
               {"InstallLocation", Property(plan, "ARPINSTALLLOCATION")},
               {"InstallSource", FolderOf(machine, packagePath)},
               {"Publisher", plan.manufacturer},
               {"Readme", Property(plan, "ARPREADME")},
               {"Size", ""},
               {"URLInfoAbout", Property(plan, "ARPURLINFOABOUT")},
               {"URLUpdateInfo", Property(plan, "ARPURLUPDATEINFO")}};
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
      VersionNumber(FileVersionOf(files.Node(WithBackslash(machine,
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
    if (!LoadRegistered(machine, Upper(packagePath), &packagePath, &packageBytes, &transforms)) {
      return Failed(machine, start, command, kErrorUnknownProduct);
    }
  } else {
    const std::string current = WithBackslash(machine, CurrentFolder(machine, start));
    if (!IsFullPath(packagePath)) packagePath = current + packagePath;
    std::optional<std::string> bytes = files.Contents(packagePath);
    if (!bytes) return Failed(machine, start, command, kErrorPackageOpenFailed);
    packageBytes = *bytes;
    auto named = command.properties.find("TRANSFORMS");
    if (named != command.properties.end()) {
      // Several transforms are separated by semicolons.
      for (const std::string& name : SplitList(named->second)) {
        if (name[0] == ':') return Failed(machine, start, command, kErrorTransformFailure);
        std::optional<std::string> transform;
        if (IsFullPath(name)) {
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
  DWORD result = MakePlan(machine, packageBytes, transforms, overrides, plan.get(), &problem);
  if (result != ERROR_SUCCESS) return Failed(machine, start, command, result);
  if (!PlatformSupported(plan->platform, machine.simEnvironment().processorArchitecture)) {
    return Failed(machine, start, command, kErrorPlatformUnsupported);
  }
  std::string code = Upper(plan->productCode);
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
    plan->productCode = Upper(plan->productCode);
    Register(*target, *plan, packagePath, packageBytes, transforms);
  };
  return run;
}

SimProgramRun Uninstall(SimMachine& machine, const SimProcessStart& start,
                        const MsiCommand& command) {
  std::string code = Upper(command.target);
  std::string packagePath, packageBytes;
  std::vector<std::string> transforms;
  if (code.empty() || code[0] != '{') {
    // "/x package.msi": the product that package installs.
    std::string path = IsFullPath(command.target)
                           ? command.target
                           : WithBackslash(machine, CurrentFolder(machine, start)) + command.target;
    std::optional<std::string> bytes = machine.simFiles().Contents(path);
    if (!bytes) return Failed(machine, start, command, kErrorPackageOpenFailed);
    MsiPlan probe;
    std::string problem;
    DWORD result = MakePlan(machine, *bytes, {}, {}, &probe, &problem);
    if (result != ERROR_SUCCESS) return Failed(machine, start, command, result);
    code = Upper(probe.productCode);
  }
  if (!LoadRegistered(machine, code, &packagePath, &packageBytes, &transforms)) {
    return Failed(machine, start, command, kErrorUnknownProduct);
  }
  auto plan = std::make_shared<MsiPlan>();
  std::string problem;
  DWORD result = MakePlan(machine, packageBytes, transforms, {}, plan.get(), &problem);
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
