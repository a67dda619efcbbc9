#include "platform/sim/sim_msi_registration.h"

#include <cctype>

#include "platform/sim/sim_registry.h"

namespace {

const char kUserData[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
const char kClasses[] = "HKLM\\Software\\Classes\\Installer\\";
const char kInstallerUpgradeCodes[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";

// The 85 digits of the compressed form, in the order of their values.
const char kBase85[] =
    "!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";

// The 32 hex digits of a GUID in their order, or "" when the text is none.
std::string HexDigits(const std::string& guid) {
  std::string hex;
  for (char c : guid) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      hex += c;
    } else if (c != '{' && c != '}' && c != '-') {
      return std::string();
    }
  }
  return hex.size() == 32 ? hex : std::string();
}

std::string Text(const std::string& text) { return text + std::string(1, '\0'); }

std::string Dword(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

HKEY RootOf(const std::string& key) {
  std::string root = key.substr(0, key.find('\\'));
  return root == "HKLM" ? HKEY_LOCAL_MACHINE : root == "HKCU" ? HKEY_CURRENT_USER : HKEY_USERS;
}

std::string SubKeyOf(const std::string& key) { return key.substr(key.find('\\') + 1); }

std::vector<std::string> SubKeys(SimRegistry& registry, const std::string& key) {
  std::vector<std::string> names;
  HKEY handle = nullptr;
  if (registry.OpenKey(RootOf(key), SubKeyOf(key), KEY_READ, &handle) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD size = sizeof name;
    if (registry.EnumKey(handle, index, name, &size, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  registry.CloseKey(handle);
  return names;
}

// Deletes the value `name` of the key, and the key when that leaves it
// without values and subkeys.
void RemoveValueAndEmptyKey(SimRegistry& registry, const std::string& key,
                            const std::string& name) {
  HKEY handle = nullptr;
  if (registry.OpenKey(RootOf(key), SubKeyOf(key), KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
    return;
  }
  LONG removed = registry.DeleteValue(handle, name);
  DWORD subKeys = 0, values = 0;
  LONG counted = registry.QueryInfoKey(handle, &subKeys, nullptr, &values, nullptr, nullptr);
  registry.CloseKey(handle);
  if (removed == ERROR_SUCCESS && counted == ERROR_SUCCESS && subKeys == 0 && values == 0) {
    registry.RemoveTree(key);
  }
}

void WriteSourceList(SimRegistry& registry, const std::string& product,
                     const MsiPublication& publication) {
  const std::string sourceList = product + "\\SourceList";
  registry.SetValue(sourceList, "PackageName", REG_SZ, Text(publication.packageName));
  registry.SetValue(sourceList, "LastUsedSource", REG_SZ, Text("n;1;" + publication.sourceFolder));
  registry.SetValue(sourceList + "\\Net", "1", REG_EXPAND_SZ, Text(publication.sourceFolder));
  // The package's path on its media (at the root) and the disk prompt.
  registry.SetValue(sourceList + "\\Media", "MediaPackage", REG_SZ, Text(""));
  registry.SetValue(sourceList + "\\Media", "DiskPrompt", REG_SZ, Text(""));
  registry.SetValue(sourceList + "\\Media", "1", REG_SZ, Text(publication.mediaDisk));
}

}  // namespace

std::string MsiPackedGuid(const std::string& guid) {
  std::string hex = HexDigits(guid);
  if (hex.empty()) return hex;
  std::string packed;
  for (auto [start, length] : {std::pair{0, 8}, {8, 4}, {12, 4}}) {
    packed += std::string(hex.rbegin() + (32 - start - length), hex.rbegin() + (32 - start));
  }
  for (int i = 16; i < 32; i += 2) {
    packed += hex[i + 1];
    packed += hex[i];
  }
  return packed;
}

std::string MsiCompressedGuid(const std::string& guid) {
  std::string hex = HexDigits(guid);
  if (hex.empty()) return hex;
  auto field = [&](int start, int digits) {
    return static_cast<uint32_t>(std::stoul(hex.substr(start, digits), nullptr, 16));
  };
  // The GUID's bytes in memory: Data1, Data2 and Data3 little-endian, Data4 as written.
  uint32_t words[4] = {field(0, 8), field(8, 4) | field(12, 4) << 16, 0, 0};
  for (int i = 0; i < 8; ++i) words[2 + i / 4] |= field(16 + 2 * i, 2) << (8 * (i % 4));
  std::string out;
  for (uint32_t word : words) {
    for (int digit = 0; digit < 5; ++digit) {
      out += kBase85[word % 85];
      word /= 85;
    }
  }
  return out;
}

std::string MsiPublishedProductKey(const std::string& productCode) {
  return std::string(kClasses) + "Products\\" + MsiPackedGuid(productCode);
}

void PublishMsiProduct(SimRegistry& registry, const MsiPublication& publication) {
  UnpublishMsiProduct(registry, publication.productCode);
  const std::string packed = MsiPackedGuid(publication.productCode);

  // The features: in the installation's registration with their components,
  // and published with their parents (an absent one marked with 0x06).
  const std::string installedFeatures = std::string(kUserData) + "Products\\" + packed + "\\Features";
  const std::string publishedFeatures = std::string(kClasses) + "Features\\" + packed;
  for (const MsiFeatureRecord& feature : publication.features) {
    std::string components;
    for (const std::string& id : feature.componentIds) components += MsiCompressedGuid(id);
    if (!feature.parent.empty()) components += '\x02' + feature.parent;
    registry.SetValue(installedFeatures, feature.name, REG_SZ, Text(components));
    registry.SetValue(publishedFeatures, feature.name, REG_SZ,
                      Text((feature.installed ? "" : "\x06") + feature.parent));
  }

  // Each component names the products that installed it and where its key path is.
  for (const MsiComponentRecord& component : publication.components) {
    const std::string key = std::string(kUserData) + "Components\\" + MsiPackedGuid(component.id);
    registry.SetValue(key, packed, REG_SZ, Text(component.keyPath));
  }

  // The published product.
  const std::string product = MsiPublishedProductKey(publication.productCode);
  registry.SetValue(product, "ProductName", REG_SZ, Text(publication.productName));
  registry.SetValue(product, "PackageCode", REG_SZ, Text(MsiPackedGuid(publication.packageCode)));
  registry.SetValue(product, "Language", REG_DWORD, Dword(publication.language));
  registry.SetValue(product, "Version", REG_DWORD, Dword(publication.version));
  if (!publication.transforms.empty()) {
    registry.SetValue(product, "Transforms", REG_SZ, Text(publication.transforms));
  }
  registry.SetValue(product, "Assignment", REG_DWORD, Dword(1));  // per machine
  registry.SetValue(product, "AdvertiseFlags", REG_DWORD, Dword(0x184));
  registry.SetValue(product, "InstanceType", REG_DWORD, Dword(0));
  if (publication.luaValues) registry.SetValue(product, "AuthorizedLUAApp", REG_DWORD, Dword(0));
  registry.SetValue(product, "Clients", REG_MULTI_SZ, std::string(":\0\0", 3));
  WriteSourceList(registry, product, publication);

  // The upgrade code, published and in Windows Installer's own key.
  const std::string upgrade = MsiPackedGuid(publication.upgradeCode);
  if (!upgrade.empty()) {
    registry.SetValue(std::string(kClasses) + "UpgradeCodes\\" + upgrade, packed, REG_SZ, Text(""));
    registry.SetValue(std::string(kInstallerUpgradeCodes) + "\\" + upgrade, packed, REG_SZ, Text(""));
  }
}

void UnpublishMsiProduct(SimRegistry& registry, const std::string& productCode) {
  const std::string packed = MsiPackedGuid(productCode);
  if (packed.empty()) return;
  registry.RemoveTree(MsiPublishedProductKey(productCode));
  registry.RemoveTree(std::string(kClasses) + "Features\\" + packed);
  registry.RemoveTree(std::string(kUserData) + "Products\\" + packed + "\\Features");
  const std::string components = std::string(kUserData) + "Components";
  for (const std::string& name : SubKeys(registry, components)) {
    RemoveValueAndEmptyKey(registry, components + "\\" + name, packed);
  }
  for (const std::string& root :
       {std::string(kClasses) + "UpgradeCodes", std::string(kInstallerUpgradeCodes)}) {
    for (const std::string& name : SubKeys(registry, root)) {
      RemoveValueAndEmptyKey(registry, root + "\\" + name, packed);
    }
  }
}
