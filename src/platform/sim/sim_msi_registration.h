// The registration a per-machine installation leaves in the registry as
// Windows Installer 2.0 to 3.1 write it, beside the Uninstall key and
// InstallProperties: the published product (its SourceList with it), the
// published features, each feature's components in the installation's
// Features key, the components' key paths and the upgrade code. The
// simulated Windows Installer writes it after an installation and takes it
// away with the product. Layout: docs/machine-format.md, "Windows Installer".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SimRegistry;

struct MsiFeatureRecord {
  std::string name;
  std::string parent;                     // empty: a feature at the top
  std::vector<std::string> componentIds;  // the ComponentId GUIDs of its components
  bool installed = true;
};

struct MsiComponentRecord {
  std::string id;       // its ComponentId GUID
  std::string keyPath;  // a file's or folder's path, or "02:\Key\Name" for a registry value
};

// What is published of one installed product.
struct MsiPublication {
  std::string productCode;  // "{...}"
  std::string upgradeCode;  // empty: the package has none
  std::string packageCode;  // the summary's revision number, "{...}"
  std::string productName;
  uint32_t language = 0;
  uint32_t version = 0;       // major << 24 | minor << 16 | build
  std::string transforms;     // the cached copies of the transforms, separated by ";"
  std::string sourceFolder;   // where the package was installed from, with a trailing backslash
  std::string packageName;    // its file name there
  std::string mediaDisk;      // "VolumeLabel;DiskPrompt" of the package's first disk
  bool luaValues = false;     // AuthorizedLUAApp, which Windows Installer 3.0 added
  std::vector<MsiFeatureRecord> features;
  std::vector<MsiComponentRecord> components;
};

// A GUID as Windows Installer packs it into key and value names: each of the
// first three groups reversed, the rest byte by byte with the two digits of
// each byte swapped, the letters' case kept ("" when the text is no GUID).
std::string MsiPackedGuid(const std::string& guid);
// A GUID in Windows Installer's 20-character compressed form: its 16 bytes
// as four little-endian 32-bit numbers, each written as five base-85 digits,
// lowest first ("" when the text is no GUID).
std::string MsiCompressedGuid(const std::string& guid);

// HKLM\Software\Classes\Installer\Products\<packed code>.
std::string MsiPublishedProductKey(const std::string& productCode);

// Writes the registration (replacing an earlier one of the product).
void PublishMsiProduct(SimRegistry& registry, const MsiPublication& publication);
// Takes the product's registration away: the published product and
// features, the product's values in the component and upgrade code keys
// (each such key going with its last value), and the Features key of the
// installation's registration.
void UnpublishMsiProduct(SimRegistry& registry, const std::string& productCode);
