#include "platform/sim/sim_msi_plan.h"

#include "platform/sim/sim_machine.h"

#include <cctype>
#include <iterator>
#include <set>

#include "platform/sim/sim_msi_tables.h"

namespace {

constexpr DWORD kErrorPackageInvalid = 1620;

const char* const kTableNames[] = {"Property", "Directory",         "Component", "File",
                                   "Registry", "CreateFolder",      "Feature",   "FeatureComponents",
                                   "Media"};
// A component attribute: its key path names a row of the Registry table.
constexpr int32_t kRegistryKeyPath = 0x4;

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
      out += MsiProperty(plan, inner);
    }
  }
  return out;
}

// Folders of the Directory table, each ending with a backslash. Standard
// folders come from the machine; the rest from their parents. On x64
// Windows the machine's own folders (as a 64-bit program reads them) are the
// 64-bit ones, and ProgramFilesFolder is "ProgramFilesDir (x86)".
std::map<std::string, std::string> ResolveFolders(SimMachine& machine, const MsiTables& tables,
                                                  const std::map<std::string, std::string>& props) {
  const SimEnvironment& env = machine.simEnvironment();
  std::string drive = env.windowsDirectory.substr(0, 2) + "\\";
  std::string programFiles = MsiWithBackslash(machine,
      machine.simRegistry()
          .GetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir")
          .value_or(drive + "Program Files"));
  std::map<std::string, std::string> standard = {
      {"TARGETDIR", drive},
      {"WindowsFolder", MsiWithBackslash(machine, env.windowsDirectory)},
      {"SystemFolder", MsiWithBackslash(machine, env.systemDirectory)},
      {"TempFolder", MsiWithBackslash(machine, env.tempDirectory)},
      {"ProgramFilesFolder", programFiles},
      {"CommonFilesFolder", programFiles + "Common Files\\"}};
  if (env.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
    standard["ProgramFiles64Folder"] = programFiles;
    standard["CommonFiles64Folder"] = programFiles + "Common Files\\";
    standard["System64Folder"] = MsiWithBackslash(machine, env.systemDirectory);
    std::string x86 = MsiWithBackslash(machine,
        machine.simRegistry()
            .GetString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion",
                       "ProgramFilesDir (x86)")
            .value_or(drive + "Program Files (x86)"));
    standard["ProgramFilesFolder"] = x86;
    standard["CommonFilesFolder"] = x86 + "Common Files\\";
    standard["SystemFolder"] = MsiWithBackslash(machine, env.windowsDirectory) + "SysWOW64\\";
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
    if (given != props.end() && MsiIsFullPath(given->second)) {
      path = MsiWithBackslash(machine, given->second);
    } else if (standard.count(id)) {
      path = standard[id];
    } else if (byId.count(id) && depth < 64) {
      size_t r = byId[id];
      std::string parent = table.Text(r, "Directory_Parent");
      std::string base = parent.empty() || parent == id ? drive : resolve(parent, depth + 1);
      std::string name = MsiLongName(table.Text(r, "DefaultDir"));
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
    default: return MsiProperty(plan, "ALLUSERS").empty() ? "HKCU" : "HKLM";
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
      plan->components.push_back({MsiUpper(id), resolved});
    }
  }
  int installLevel = std::atoi(MsiProperty(*plan, "INSTALLLEVEL").c_str());
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

}  // namespace

std::string MsiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

bool MsiIsFullPath(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && path[2] == '\\') ||
         (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
}

std::string MsiWithBackslash(const SimMachine& machine, std::string folder) {
  if (!machine.codePage().Paths().EndsWithSeparator(folder)) folder += '\\';
  return folder;
}

std::string MsiProperty(const MsiPlan& plan, const std::string& name) {
  auto it = plan.properties.find(name);
  return it == plan.properties.end() ? std::string() : it->second;
}

std::string MsiLongName(const std::string& field) {
  std::string target = field.substr(0, field.find(':'));
  size_t bar = target.find('|');
  return bar == std::string::npos ? target : target.substr(bar + 1);
}

DWORD MakeMsiPlan(SimMachine& machine, const std::string& packageBytes,
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
      if (MsiUpper(existing) == name) {
        old = value;
        replaced = true;
      }
    }
    if (!replaced) plan->properties[name] = value;
  }
  plan->productCode = MsiProperty(*plan, "ProductCode");
  plan->productName = MsiProperty(*plan, "ProductName");
  plan->productVersion = MsiProperty(*plan, "ProductVersion");
  plan->manufacturer = MsiProperty(*plan, "Manufacturer");
  plan->language = MsiProperty(*plan, "ProductLanguage");
  plan->upgradeCode = MsiProperty(*plan, "UpgradeCode");
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
    item.path = componentFolders[files.Text(r, "Component_")] + MsiLongName(files.Text(r, "FileName"));
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
