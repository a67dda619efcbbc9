// The simulated Windows Installer against the built demo package: the
// transforms zentavo-mkmst wrote, an installation that writes what the package
// holds, its removal, and the failures Windows reports with their codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include <nlohmann/json.hpp>

#include "platform/sim/sim_msi.h"
#include "platform/sim/sim_msi_registration.h"
#include "support/harness.h"

namespace {

const char* const kProductCode = "{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93}";
const std::string kUninstallKey =
    std::string("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProductCode;
const std::string kInstallDir = "C:\\Program Files\\Zentavo\\";

std::string HostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> Properties(const MsiTables& tables) {
  std::map<std::string, std::string> out;
  const MsiTable& table = tables.at("Property");
  for (size_t r = 0; r < table.rows.size(); ++r) {
    out[table.Text(r, "Property")] = table.Text(r, "Value");
  }
  return out;
}

// Runs msiexec with these arguments to its end; returns the exit code. The
// dialog's title while it ran goes to *dialog ("" when none was shown).
DWORD RunMsiexec(SimMachine& machine, const std::string& arguments, std::string* dialog) {
  ProcessInformation info{};
  DWORD error = machine.processes().CreateProcess("msiexec.exe " + arguments, 0x20, &info);
  EXPECT_EQ(error, 0u) << arguments;
  if (error) return error;
  DWORD code = 0;
  EXPECT_EQ(machine.processes().GetExitCode(info.process, &code), 0u);
  EXPECT_EQ(code, 259u) << "msiexec ends at once: " << arguments;
  dialog->clear();
  for (const SimWindow& window : machine.simDesktop().windows()) {
    if (window.className == "MsiDialogCloseClass" && window.processId == info.processId) {
      *dialog = window.title;
    }
  }
  EXPECT_EQ(machine.processes().Wait(info.process, 0xFFFFFFFF), 0u);
  EXPECT_EQ(machine.processes().GetExitCode(info.process, &code), 0u);
  for (const SimWindow& window : machine.simDesktop().windows()) {
    EXPECT_NE(window.processId, info.processId) << "the dialog outlives msiexec";
  }
  machine.processes().CloseHandle(info.process);
  machine.processes().CloseHandle(info.thread);
  return code;
}

std::string FileVersion(SimMachine& machine, const std::string& path) {
  const SimFile* file = machine.simFiles().Node(path);
  if (!file || !file->version.is_object() || !file->version.contains("FileVersion")) return "";
  return file->version["FileVersion"].get<std::string>();
}

}  // namespace

// The transforms as Windows Installer reads them: 1031 changes the language
// and its display name and nothing else; names outside ASCII arrive in the
// package's code page; the base language's transform changes nothing.
TEST(SimMsi, TransformsChangeTheLanguageOfTheBuiltPackage) {
  const std::string package = HostFile(std::string(ZT_DEMO_MEDIUM_DIR) + "/Zentavo.msi");
  const std::vector<std::string> names = {"Property", "Registry", "File"};
  MsiTables base;
  std::string error;
  MsiSummary summary;
  ASSERT_TRUE(ReadMsiTables(package, names, &base, &error, &summary)) << error;
  EXPECT_EQ(summary.templateText, "Intel;1033");
  EXPECT_EQ(summary.codePage, 1252u);
  std::map<std::string, std::string> before = Properties(base);
  EXPECT_EQ(before["ProductCode"], kProductCode);
  EXPECT_EQ(before["ProductLanguage"], "1033");
  EXPECT_EQ(before["LANGUAGEDATA"], "English US");

  struct Expected {
    const char* language;
    const char* displayName;
  } expected[] = {{"1031", "Deutsch"},    {"1034", "Espa\xC3\xB1ol"}, {"1036", "Fran\xC3\xA7" "ais"},
                  {"1040", "Italiano"},   {"1041", "Japanese"},       {"2070", "Portugu\xC3\xAAs"},
                  {"1033", "English US"}};
  for (const Expected& e : expected) {
    MsiTables tables = base;
    std::string mst = HostFile(std::string(ZT_DEMO_MEDIUM_DIR) + "/" + e.language + ".mst");
    ASSERT_TRUE(ApplyMsiTransform(mst, &tables, &error)) << e.language << ": " << error;
    std::map<std::string, std::string> after = Properties(tables);
    EXPECT_EQ(after["ProductLanguage"], e.language);
    EXPECT_EQ(after["LANGUAGEDATA"], e.displayName) << e.language;
    after["ProductLanguage"] = before["ProductLanguage"];
    after["LANGUAGEDATA"] = before["LANGUAGEDATA"];
    EXPECT_EQ(after, before) << e.language << " changes other properties";
    EXPECT_EQ(tables.at("Registry").rows.size(), base.at("Registry").rows.size());
  }

  // The 64-bit package takes the same transforms.
  MsiTables x64;
  ASSERT_TRUE(ReadMsiTables(HostFile(std::string(ZT_PACKAGE_BUILD_DIR) + "/x64/Zentavo.msi"),
                            names, &x64, &error, &summary))
      << error;
  EXPECT_EQ(summary.templateText, "x64;1033");
  ASSERT_TRUE(ApplyMsiTransform(HostFile(std::string(ZT_DEMO_MEDIUM_DIR) + "/1031.mst"), &x64,
                                &error))
      << error;
  EXPECT_EQ(Properties(x64)["LANGUAGEDATA"], "Deutsch");
  EXPECT_FALSE(ApplyMsiTransform(package, &x64, &error)) << "a package is no transform";
}

// A whole life of the product on the default machine: install with 1031,
// install the same version again, remove it, remove it once more.
TEST(SimMsi, InstallsWhatThePackageHoldsAndRemovesIt) {
  std::unique_ptr<SimMachine> machine = MakeMachine();
  ASSERT_TRUE(machine);
  SimRegistry& registry = machine->simRegistry();
  SimFileSystem& files = machine->simFiles();
  std::string dialog;

  ASSERT_EQ(RunMsiexec(*machine, "/i \"D:\\Zentavo.msi\" TRANSFORMS=\"1031.mst\"", &dialog), 0u);
  EXPECT_EQ(dialog, "Zentavo 2.1");
  EXPECT_EQ(FileVersion(*machine, kInstallDir + "Zentavo.exe"), "2.1.240.0");
  EXPECT_TRUE(files.IsFile(kInstallDir + "Zentavo.mdb"));
  EXPECT_EQ(FileVersion(*machine, kInstallDir + "Zentavo.mdb"), "");
  EXPECT_TRUE(files.IsDirectory(kInstallDir + "www\\img"));
  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Installation", "InstallDir"),
            kInstallDir);
  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Language_Data"),
            "Deutsch");
  EXPECT_EQ(registry.GetDword("HKCU\\Software\\Corvane\\Zentavo\\Settings", "AutoAnswer"), 0u);
  EXPECT_EQ(registry.GetDword("HKCU\\Software\\Corvane\\Zentavo\\Speed Dial", "Entries"), 0u);
  EXPECT_EQ(registry.GetString("HKLM\\Software\\Corvane\\Zentavo", "Language"), "1031");
  EXPECT_EQ(registry.GetString("HKLM\\Software\\Corvane\\Zentavo", "Version"), "2.1.240");
  const std::string directories = "HKLM\\Software\\Corvane\\Zentavo\\WebServer\\Parameters\\Directories";
  EXPECT_EQ(registry.GetString(directories, "/"), kInstallDir + "www\\");
  EXPECT_EQ(registry.GetString(directories, "/img"), kInstallDir + "www\\img\\");
  EXPECT_EQ(registry.GetDword(kUninstallKey, "VersionMajor"), 2u);
  EXPECT_EQ(registry.GetDword(kUninstallKey, "VersionMinor"), 1u);
  EXPECT_EQ(registry.GetDword(kUninstallKey, "Version"), 0x020100F0u);
  EXPECT_EQ(registry.GetDword(kUninstallKey, "Language"), 1031u);
  EXPECT_EQ(registry.GetString(kUninstallKey, "DisplayName"), "Zentavo 2.1");
  EXPECT_EQ(registry.GetString(kUninstallKey, "DisplayVersion"), "2.1.240");
  EXPECT_EQ(registry.GetString(kUninstallKey, "Publisher"), "Corvane");
  EXPECT_EQ(registry.GetString(kUninstallKey, "InstallSource"), "D:\\");
  EXPECT_EQ(registry.GetString(kUninstallKey, "InstallDate"), "20260314");
  EXPECT_EQ(registry.GetString(kUninstallKey, "UninstallString"),
            std::string("MsiExec.exe /I") + kProductCode);
  const std::string registration =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
      "Products\\02A7C1F3D4B855E49A2CD6E0B1F7A439\\InstallProperties";
  std::optional<std::string> cached = registry.GetString(registration, "LocalPackage");
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->rfind("C:\\WINDOWS\\Installer\\", 0), 0u) << *cached;
  EXPECT_EQ(files.Contents(*cached), files.Contents("D:\\Zentavo.msi"));

  // The same version again, quietly: it succeeds and keeps the address book
  // the user has by now.
  ASSERT_TRUE(files.Put(kInstallDir + "Zentavo.mdb", "two entries"));
  ASSERT_EQ(RunMsiexec(*machine, "/i D:\\Zentavo.msi TRANSFORMS=1031.mst /qn", &dialog), 0u);
  EXPECT_EQ(dialog, "");
  EXPECT_EQ(files.Contents(kInstallDir + "Zentavo.mdb"), "two entries");
  EXPECT_EQ(registry.GetDword(kUninstallKey, "VersionMajor"), 2u);

  // Removal: everything the package wrote goes, with the keys it made; a
  // file of the user keeps the folder.
  ASSERT_TRUE(files.Put(kInstallDir + "calibrate.mi", "calibration"));
  ASSERT_TRUE(registry.SetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Mine", "x"));
  ASSERT_TRUE(registry.SetString("HKCU\\Software\\Other", "Kept", "y"));
  ASSERT_EQ(RunMsiexec(*machine, std::string("/x ") + kProductCode + " /q", &dialog), 0u);
  EXPECT_EQ(dialog, "");
  EXPECT_FALSE(files.Exists(kInstallDir + "Zentavo.exe"));
  EXPECT_FALSE(files.Exists(kInstallDir + "Zentavo.mdb"));
  EXPECT_FALSE(files.Exists(kInstallDir + "www"));
  EXPECT_TRUE(files.IsFile(kInstallDir + "calibrate.mi"));
  EXPECT_FALSE(registry.KeyExists("HKCU\\Software\\Corvane"));
  EXPECT_FALSE(registry.KeyExists("HKLM\\Software\\Corvane"));
  EXPECT_TRUE(registry.KeyExists("HKCU\\Software\\Other"));
  EXPECT_FALSE(registry.KeyExists(kUninstallKey));
  EXPECT_FALSE(registry.KeyExists(registration));
  EXPECT_FALSE(files.Exists(*cached));
  EXPECT_TRUE(registry.KeyExists("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));

  EXPECT_EQ(RunMsiexec(*machine, std::string("/x ") + kProductCode + " /qn", &dialog), 1605u);
}

// What a per-machine installation registers beside the Uninstall key, as
// Windows Installer 2.0 to 3.1 write it (the layout Wine's
// dlls/msi/tests/action.c checks on Windows), and the removal taking it away
// again: the published product with its source list and transforms, the
// features, the components' key paths and the upgrade code.
TEST(SimMsi, RegistersAndUnregistersAsWindowsInstallerDoes) {
  std::unique_ptr<SimMachine> machine = MakeMachine();
  ASSERT_TRUE(machine);
  SimRegistry& registry = machine->simRegistry();
  std::string dialog;
  ASSERT_EQ(RunMsiexec(*machine, "/i \"D:\\Zentavo.msi\" TRANSFORMS=\"1031.mst\" /qn", &dialog), 0u);

  const std::string packed = "02A7C1F3D4B855E49A2CD6E0B1F7A439";
  const std::string userData =
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
  const std::string published = "HKLM\\Software\\Classes\\Installer\\Products\\" + packed;
  const std::string features = "HKLM\\Software\\Classes\\Installer\\Features\\" + packed;
  const std::string upgradeCodes[] = {
      "HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\6A3D15E872C0F9B44A8E172DF6C0B5A3",
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
      "6A3D15E872C0F9B44A8E172DF6C0B5A3"};
  std::string packageCode;
  {
    MsiTables tables;
    MsiSummary summary;
    std::string error;
    ASSERT_TRUE(ReadMsiTables(*machine->simFiles().Contents("D:\\Zentavo.msi"), {"Property"},
                              &tables, &error, &summary))
        << error;
    packageCode = summary.packageCode;
  }
  ASSERT_EQ(packageCode.size(), 38u);

  struct Expected {
    std::string key, name;
    std::optional<std::string> text;  // a string's text; none: a DWORD
    DWORD number = 0;
  } expected[] = {
      {published, "ProductName", "Zentavo 2.1"},
      {published, "PackageCode", MsiPackedGuid(packageCode)},
      {published, "Language", std::nullopt, 1031},
      {published, "Version", std::nullopt, 0x020100F0},
      {published, "Assignment", std::nullopt, 1},
      {published, "AdvertiseFlags", std::nullopt, 0x184},
      {published, "InstanceType", std::nullopt, 0},
      {published + "\\SourceList", "PackageName", "Zentavo.msi"},
      {published + "\\SourceList", "LastUsedSource", "n;1;D:\\"},
      {published + "\\SourceList\\Net", "1", "D:\\"},
      // The one feature, its five components in their compressed form.
      {features, "Zentavo", ""},
      {userData + "Products\\" + packed + "\\Features", "Zentavo",
       MsiCompressedGuid("{5A0C3E17-9B62-4D8E-B1F4-3C7E9A20D615}") +
           MsiCompressedGuid("{C2E94B07-6D1A-4F35-8E0B-97A4D3C61F28}") +
           MsiCompressedGuid("{0F7B2D94-3A5C-4E1B-9D68-B5C2E7A41093}") +
           MsiCompressedGuid("{7D3F6A21-C84B-4B0E-A5D9-2E61F8B07C44}") +
           MsiCompressedGuid("{E4A1980C-5F3D-47B2-8C6E-0B9D2A7F1E56}")},
      // Each component's key path: a file, a registry value of HKCU and of
      // HKLM, a folder.
      {userData + "Components\\71E3C0A526B9E8D41B4FC3E7A9026D51", packed,
       kInstallDir + "Zentavo.exe"},
      {userData + "Components\\70B49E2CA1D653F4E8B0794A3D6CF182", packed,
       kInstallDir + "Zentavo.mdb"},
      {userData + "Components\\49D2B7F0C5A3B1E4D9865B2C7E4A0139", packed,
       "01:\\Software\\Corvane\\Zentavo\\Settings\\Language_Data"},
      {userData + "Components\\12A6F3D7B48CE0B45A9DE2168F0BC744", packed,
       "02:\\Software\\Corvane\\Zentavo\\Version"},
      {userData + "Components\\C0891A4ED3F52B74C8E6B0D9A2F7E165", packed,
       kInstallDir + "www\\img\\"},
      {upgradeCodes[0], packed, ""},
      {upgradeCodes[1], packed, ""},
  };
  for (const Expected& e : expected) {
    if (e.text) {
      EXPECT_EQ(registry.GetString(e.key, e.name), *e.text) << e.key << " " << e.name;
    } else {
      EXPECT_EQ(registry.GetDword(e.key, e.name), e.number) << e.key << " " << e.name;
    }
  }
  // The transform is cached in the Windows folder's Installer folder, named by
  // the published product and not by InstallProperties.
  std::optional<std::string> transforms = registry.GetString(published, "Transforms");
  ASSERT_TRUE(transforms);
  EXPECT_EQ(transforms->rfind("C:\\WINDOWS\\Installer\\", 0), 0u) << *transforms;
  EXPECT_EQ(machine->simFiles().Contents(*transforms), machine->simFiles().Contents("D:\\1031.mst"));
  const std::string properties = userData + "Products\\" + packed + "\\InstallProperties";
  EXPECT_FALSE(registry.GetString(properties, "Transforms"));
  // Windows Installer 2.0 (the default machine's) writes no AuthorizedLUAApp.
  EXPECT_FALSE(registry.GetDword(published, "AuthorizedLUAApp"));
  // EstimatedSize: the package and the files, in KB, rounded up.
  int64_t bytes = static_cast<int64_t>(machine->simFiles().Contents("D:\\Zentavo.msi")->size());
  for (const char* file : {"Zentavo.exe", "Zentavo.mdb"}) {
    bytes += static_cast<int64_t>(machine->simFiles().Contents(kInstallDir + file)->size());
  }
  EXPECT_EQ(registry.GetDword(kUninstallKey, "EstimatedSize"), static_cast<DWORD>((bytes + 1023) / 1024));

  // Another product's value in a shared component key stays with its key.
  const std::string shared = userData + "Components\\49D2B7F0C5A3B1E4D9865B2C7E4A0139";
  ASSERT_TRUE(registry.SetString(shared, "00000000000000000000000000000001", "C:\\other"));
  ASSERT_EQ(RunMsiexec(*machine, std::string("/x ") + kProductCode + " /qn", &dialog), 0u);
  for (const Expected& e : expected) {
    EXPECT_FALSE(registry.GetValue(e.key, e.name, nullptr, nullptr)) << e.key << " " << e.name;
    if (e.key != shared) {
      EXPECT_FALSE(registry.KeyExists(e.key)) << e.key;
    }
  }
  EXPECT_EQ(registry.GetString(shared, "00000000000000000000000000000001"), "C:\\other");
  EXPECT_FALSE(registry.KeyExists(published));
  EXPECT_FALSE(machine->simFiles().Exists(*transforms));
}

// Windows Installer's 20-character form of a GUID, as Wine's tests find it
// on Windows for {DF2CBABC-3BCC-47E5-A998-448D1C0C895B}, and the packed form,
// which keeps the letters' case (a PackageCode of lower-case digits stays so).
TEST(SimMsi, CompressesAndPacksGuidsAsWindowsInstaller) {
  EXPECT_EQ(MsiCompressedGuid("{DF2CBABC-3BCC-47E5-A998-448D1C0C895B}"), "VGtfp^p+,?82@JU1j_KE");
  EXPECT_EQ(MsiPackedGuid("{DF2CBABC-3BCC-47E5-A998-448D1C0C895B}"),
            "CBABC2FDCCB35E749A8944D8C1C098B5");
  EXPECT_EQ(MsiPackedGuid("{004757CA-5092-49c2-AD20-28E1CE0DF5F2}"),
            "AC75740029052c94DA02821EECD05F2F");
  EXPECT_EQ(MsiCompressedGuid("not a guid"), "");
  EXPECT_EQ(MsiPackedGuid("{3F1C7A20-8B4D}"), "");
}

// A transform named without a full path is looked for from msiexec's
// current folder first, then beside the package, as Windows Installer does at
// a first installation; the folder is the one msiexec was started in, else
// its starter's.
TEST(SimMsi, LooksForABareTransformInTheCurrentFolderFirst) {
  const std::string french = HostFile(std::string(ZT_DEMO_MEDIUM_DIR) + "/1036.mst");
  struct Case {
    const char* currentFolder;  // given to CreateProcess; "" for the starter's (the setup's)
    const char* plantedFrench;  // a French transform named 1031.mst there ("" for none)
    const char* languageData;
  } cases[] = {
      {"", "", "Deutsch"},                                       // the medium's, D:\1031.mst
      {"C:\\WINDOWS\\system32", "C:\\WINDOWS\\system32\\1031.mst", "Fran\xE7" "ais"},
      {"C:\\WINDOWS\\system32\\", "", "Deutsch"},                // none there: beside the package
      {"D:\\", "C:\\WINDOWS\\system32\\1031.mst", "Deutsch"},     // the setup's folder wins
  };
  for (const Case& c : cases) {
    std::unique_ptr<SimMachine> machine = MakeMachine();
    ASSERT_TRUE(machine);
    if (*c.plantedFrench) {
      ASSERT_TRUE(machine->simFiles().Put(c.plantedFrench, french));
    }
    ProcessInformation info{};
    ASSERT_EQ(machine->processes().CreateProcess(
                  "msiexec.exe /i D:\\Zentavo.msi TRANSFORMS=1031.mst /qn", 0x20, &info,
                  c.currentFolder),
              0u);
    ASSERT_EQ(machine->processes().Wait(info.process, 0xFFFFFFFF), 0u);
    DWORD code = 1;
    EXPECT_EQ(machine->processes().GetExitCode(info.process, &code), 0u);
    EXPECT_EQ(code, 0u) << c.currentFolder;
    EXPECT_EQ(machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings",
                                               "Language_Data"),
              c.languageData)
        << "started in \"" << c.currentFolder << "\" with " << c.plantedFrench;
    machine->processes().CloseHandle(info.process);
    machine->processes().CloseHandle(info.thread);
  }
}

// The codes Windows Installer ends with when it cannot do what it was asked.
TEST(SimMsi, FailuresEndWithWindowsInstallerCodes) {
  std::unique_ptr<SimMachine> machine = MakeMachine();
  ASSERT_TRUE(machine);
  std::string dialog;
  EXPECT_EQ(RunMsiexec(*machine, "/i \"D:\\Zentavo.msi\" TRANSFORMS=\"1049.mst\"", &dialog), 1624u);
  EXPECT_FALSE(machine->simRegistry().KeyExists(kUninstallKey));
  EXPECT_FALSE(machine->simFiles().Exists(kInstallDir));
  // A file that is no transform fails the same way.
  EXPECT_EQ(RunMsiexec(*machine, "/i D:\\Zentavo.msi TRANSFORMS=setup.ini /qn", &dialog), 1624u);
  EXPECT_EQ(RunMsiexec(*machine, "/i D:\\Missing.msi /qn", &dialog), 1619u);
  EXPECT_EQ(RunMsiexec(*machine, "/i D:\\setup.ini /qn", &dialog), 1620u);
  EXPECT_EQ(RunMsiexec(*machine, "/frobnicate", &dialog), 1639u);
  EXPECT_EQ(RunMsiexec(*machine, "/x {C47A1E05-2B9F-4D83-8E6A-5F1D0C3B9A28} /qn", &dialog), 1605u);

  // The 64-bit package does not install on this 32-bit Windows.
  std::string x64 = HostFile(std::string(ZT_PACKAGE_BUILD_DIR) + "/x64/Zentavo.msi");
  ASSERT_TRUE(machine->simFiles().Put("D:\\x64\\Zentavo.msi", x64));
  EXPECT_EQ(RunMsiexec(*machine, "/i D:\\x64\\Zentavo.msi /qn", &dialog), 1633u);

  // The earlier 2.0 build installs; the 2.1 package over it is another
  // version of the same product until 2.0 is removed.
  std::string earlier = HostFile(std::string(ZT_PACKAGE_BUILD_DIR) + "/earlier/Zentavo.msi");
  ASSERT_TRUE(machine->simFiles().Put("D:\\old\\Zentavo.msi", earlier));
  ASSERT_EQ(RunMsiexec(*machine, "/i D:\\old\\Zentavo.msi /qn", &dialog), 0u);
  EXPECT_EQ(machine->simRegistry().GetDword(kUninstallKey, "VersionMinor"), 0u);
  EXPECT_EQ(FileVersion(*machine, kInstallDir + "Zentavo.exe"), "2.0.180.0");
  EXPECT_EQ(RunMsiexec(*machine, "/i D:\\Zentavo.msi /qn", &dialog), 1638u);
  ASSERT_EQ(RunMsiexec(*machine, std::string("/x ") + kProductCode + " /q", &dialog), 0u);
  ASSERT_EQ(RunMsiexec(*machine, "/i D:\\Zentavo.msi TRANSFORMS=1033.mst", &dialog), 0u);
  EXPECT_EQ(FileVersion(*machine, kInstallDir + "Zentavo.exe"), "2.1.240.0");
  EXPECT_EQ(machine->simRegistry().GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings",
                                             "Language_Data"),
            "English US");
}

// On x64 Windows both packages install, each into its own Program Files (on
// 32-bit Windows the x64 one ends with 1633, above); an unknown architecture
// is refused.
TEST(SimMsi, X64WindowsTakesBothPackagesIntoTheirOwnFolders) {
  std::unique_ptr<SimMachine> machine = MakeMachine(R"json({"os": {"architecture": "x64"},
      "registry": {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion":
        {"ProgramFilesDir (x86)": "C:\\Program Files (x86)"}}})json");
  ASSERT_TRUE(machine);
  std::string dialog;
  std::string x64 = HostFile(std::string(ZT_PACKAGE_BUILD_DIR) + "/x64/Zentavo.msi");
  ASSERT_TRUE(machine->simFiles().Put("D:\\x64\\Zentavo.msi", x64));
  ASSERT_EQ(RunMsiexec(*machine, "/i D:\\x64\\Zentavo.msi /qn", &dialog), 0u);
  EXPECT_TRUE(machine->simFiles().Exists(kInstallDir + "Zentavo.exe"));
  ASSERT_EQ(RunMsiexec(*machine, std::string("/x ") + kProductCode + " /qn", &dialog), 0u);
  ASSERT_EQ(RunMsiexec(*machine, "/i D:\\Zentavo.msi /qn", &dialog), 0u);
  EXPECT_TRUE(machine->simFiles().Exists("C:\\Program Files (x86)\\Zentavo\\Zentavo.exe"));
  EXPECT_FALSE(machine->simFiles().Exists(kInstallDir + "Zentavo.exe"));
  EXPECT_EQ(nlohmann::json::parse(machine->ToJson())["os"].value("architecture", ""), "x64")
      << "the state keeps the architecture";

  std::string error;
  EXPECT_FALSE(SimMachine::FromJson(R"({"os": {"architecture": "arm"}})", "bad", &error));
  EXPECT_NE(error.find("/os/architecture"), std::string::npos) << error;
}

// The transform tool on a copy edited with msibuild: a deleted row, an
// inserted one and changed cells come back when the transform is applied to
// the base, and the tables then equal the edited copy's.
TEST(SimMsi, TransformToolWritesInsertsDeletesAndUpdates) {
  const std::string dir = std::string(ZT_PACKAGE_BUILD_DIR) + "/test-mkmst";
  const std::string base = std::string(ZT_DEMO_MEDIUM_DIR) + "/Zentavo.msi";
  const std::string edited = dir + "/edited.msi";
  const std::string mst = dir + "/edited.mst";
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "' && cp '" + base + "' '" + edited + "'").c_str()), 0);
  std::string edit = std::string(ZT_MSIBUILD) + " '" + edited + "'" +
                     " -q \"DELETE FROM Registry WHERE Name = 'Entries'\"" +
                     " -q \"INSERT INTO Property (Property, Value) VALUES ('ARPCONTACT', 'Corvane')\"" +
                     " -q \"UPDATE File SET Version = '2.1.241.0', FileSize = 99 WHERE File = 'ZentavoExe'\"" +
                     " -q \"UPDATE Registry SET Value = '#8081' WHERE Name = 'Port'\"";
  ASSERT_EQ(std::system(edit.c_str()), 0) << edit;
  std::string tool = std::string(ZT_MKMST_BINARY) + " '" + base + "' '" + edited + "' '" + mst + "'";
  ASSERT_EQ(std::system(tool.c_str()), 0) << tool;

  const std::vector<std::string> names = {"Property", "Registry", "File", "Component"};
  MsiTables transformed, expected;
  std::string error;
  ASSERT_TRUE(ReadMsiTables(HostFile(base), names, &transformed, &error)) << error;
  ASSERT_TRUE(ReadMsiTables(HostFile(edited), names, &expected, &error)) << error;
  ASSERT_TRUE(ApplyMsiTransform(HostFile(mst), &transformed, &error)) << error;
  for (const std::string& name : names) {
    auto rows = [](const MsiTable& table) {
      std::set<std::string> out;
      for (size_t r = 0; r < table.rows.size(); ++r) {
        std::string row;
        for (const MsiColumn& column : table.columns) row += table.Text(r, column.name) + "|";
        out.insert(row);
      }
      return out;
    };
    EXPECT_EQ(rows(transformed.at(name)), rows(expected.at(name))) << name;
  }
  EXPECT_EQ(Properties(transformed)["ARPCONTACT"], "Corvane");
  const MsiTable& registry = transformed.at("Registry");
  bool port = false, entries = false;
  for (size_t r = 0; r < registry.rows.size(); ++r) {
    if (registry.Text(r, "Name") == "Port") port = registry.Text(r, "Value") == "#8081";
    if (registry.Text(r, "Name") == "Entries") entries = true;
  }
  EXPECT_TRUE(port);
  EXPECT_FALSE(entries);

  // A file that is no package is refused, and no transform is left behind.
  std::string refused = std::string(ZT_MKMST_BINARY) + " '" + base + "' '" + std::string(ZT_PACKAGE_BUILD_DIR) +
                        "/transforms/1031.mst' '" + dir + "/refused.mst' 2>/dev/null";
  EXPECT_NE(std::system(refused.c_str()), 0);
  EXPECT_FALSE(std::ifstream(dir + "/refused.mst").good());
}

// Another machine: its own folders, a basic user interface, one installation
// at a time, and the product installed again by its code from the cache.
TEST(SimMsi, FollowsTheMachinesFoldersAndRunsOneAtATime) {
  std::unique_ptr<SimMachine> machine = MakeMachine(R"({
    "directories": {"windows": "C:\\WIN98", "system": "C:\\WIN98\\SYSTEM"},
    "registry": {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion":
                 {"ProgramFilesDir": "E:\\Programme"}},
    "files": {"C:\\WIN98\\SYSTEM\\msiexec.exe": {"text": "msiexec"}}
  })");
  ASSERT_TRUE(machine);
  SimRegistry& registry = machine->simRegistry();

  ProcessInformation first{};
  ASSERT_EQ(machine->processes().CreateProcess("msiexec.exe /qb /i D:\\Zentavo.msi TRANSFORMS=1036.mst",
                                               0x20, &first),
            0u);
  std::string dialog;
  EXPECT_EQ(RunMsiexec(*machine, "/x {3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93} /qn", &dialog), 1618u);
  bool shown = false;
  for (const SimWindow& window : machine->simDesktop().windows()) {
    shown = shown || (window.className == "MsiDialogCloseClass" && window.title == "Zentavo 2.1" &&
                      window.processId == first.processId);
  }
  EXPECT_TRUE(shown) << "/qb shows the basic user interface";
  ASSERT_EQ(machine->processes().Wait(first.process, 0xFFFFFFFF), 0u);
  DWORD code = 1;
  EXPECT_EQ(machine->processes().GetExitCode(first.process, &code), 0u);
  EXPECT_EQ(code, 0u);
  machine->processes().CloseHandle(first.process);
  machine->processes().CloseHandle(first.thread);

  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Installation", "InstallDir"),
            "E:\\Programme\\Zentavo\\");
  EXPECT_EQ(FileVersion(*machine, "E:\\Programme\\Zentavo\\Zentavo.exe"), "2.1.240.0");
  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Language_Data"),
            "Fran\xE7" "ais");  // in the machine's code page, 1252
  std::optional<std::string> cached = registry.GetString(
      "HKLM\\Software\\Classes\\Installer\\Products\\02A7C1F3D4B855E49A2CD6E0B1F7A439",
      "Transforms");
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->rfind("C:\\WIN98\\Installer\\", 0), 0u) << *cached;

  // "/I{code}", as the Uninstall key names it: the product again, with the
  // transform it was installed with.
  ASSERT_TRUE(registry.SetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Language_Data", "x"));
  EXPECT_EQ(RunMsiexec(*machine, "/I{3F1C7A20-8B4D-4E55-A9C2-6D0E1B7F4A93} /qn", &dialog), 0u);
  EXPECT_EQ(registry.GetString("HKCU\\Software\\Corvane\\Zentavo\\Settings", "Language_Data"),
            "Fran\xE7" "ais");
  EXPECT_EQ(RunMsiexec(*machine, "/I{C47A1E05-2B9F-4D83-8E6A-5F1D0C3B9A28} /qn", &dialog), 1605u);
}

// A package damaged anywhere (a run of 0xFF over ten bytes, as a bad copy or
// a hand-edited medium gives it) is read or refused with a message, never a
// crash: libmsi trusts the compound file's directory, so a damaged one is
// caught before it gets there.
TEST(SimMsi, ADamagedPackageIsReadOrRefusedNeverACrash) {
  const std::string package = HostFile(std::string(ZT_DEMO_MEDIUM_DIR) + "/Zentavo.msi");
  ASSERT_GT(package.size(), 1024u);
  const std::vector<std::string> wanted = {"Property", "File", "Registry"};
  int refused = 0;
  for (size_t at = 0; at + 10 <= package.size(); at += 16) {
    std::string damaged = package;
    damaged.replace(at, 10, 10, '\xff');
    MsiTables tables;
    std::string error;
    if (ReadMsiTables(damaged, wanted, &tables, &error)) {
      EXPECT_TRUE(tables.count("Property")) << "damaged at " << at;
    } else {
      EXPECT_FALSE(error.empty()) << "damaged at " << at;
      ++refused;
    }
  }
  EXPECT_GT(refused, 0) << "a damaged header is refused";
}
