#include "actions/user_data.h"

#include <memory>
#include <new>

#include "actions/launch.h"
#include "analysis/analysis.h"
#include "app/context.h"

namespace {

constexpr DWORD kPathBuffer = 260;       // MAX_PATH, terminator included
constexpr size_t kTempPathBuffer = 512;  // GetTempPath's buffer
constexpr DWORD kNameBuffer = 512;       // value, subkey and class names while copying
constexpr char kHiveName[] = "TEMP_HIVE";
constexpr char kDirectoriesKey[] = "SOFTWARE\\Corvane\\Zentavo\\WebServer\\Parameters\\Directories";

struct KeyItem {
  const char* item;  // the Save value
  HKEY root;
  const char* subKey;
};

const KeyItem kSettings = {"Settings", HKEY_CURRENT_USER, "Software\\Corvane\\Zentavo\\Settings"};
const KeyItem kSpeedDial = {"Speed Dial", HKEY_CURRENT_USER,
                            "Software\\Corvane\\Zentavo\\Speed Dial"};
const KeyItem kGlobals = {"Globals", HKEY_LOCAL_MACHINE, "Software\\Corvane\\Zentavo"};

// A file of the previous installation folder ("%s\%s"), or false when that
// folder was never read: nothing is copied to or from a folder not known.
bool PreviousInstallFile(CSetupContext& context, const std::string& fileName, std::string* path) {
  if (context.previousInstallDir.empty()) {
    context.Log("install dir unknown - %s not copied\n", fileName.c_str());
    return false;
  }
  *path = context.previousInstallDir + "\\" + fileName;
  return true;
}

// Saves one registry item into a new hive file and records it.
bool PreserveKey(CSetupContext& context, const KeyItem& key) {
  std::string file;
  LONG rc = static_cast<LONG>(NewTemporaryFile(context, &file));
  if (rc == ERROR_SUCCESS) rc = SaveRegKey(context, key.root, key.subKey, file);
  if (rc != ERROR_SUCCESS) {
    context.Log("save reg key failed - error %d\n", static_cast<int>(rc));
    return false;
  }
  return SetSavedItem(context, key.item, file);
}

// Loads one registry item back from the hive file recorded for it.
void RestoreKey(CSetupContext& context, const KeyItem& key, const char* readFailed) {
  std::string file;
  if (!GetSavedItem(context, key.item, &file)) {
    context.Log("%s", readFailed);
    return;
  }
  LONG rc = LoadRegKey(context, key.root, key.subKey, file);
  if (rc != ERROR_SUCCESS) context.Log("load reg key failed - error %d\n", static_cast<int>(rc));
}

// The web server's two directory values that the new package wrote, read
// before the Globals key is put back and written over it afterwards.
struct DirectoryValues {
  bool rootRead = false, imagesRead = false;
  std::string root, images;
};

DirectoryValues ReadDirectoryValues(CSetupContext& context) {
  DirectoryValues values;
  RegKey key(context.machine().registry());
  if (key.Open(HKEY_LOCAL_MACHINE, kDirectoriesKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    return values;
  }
  values.rootRead = key.QueryString("/", kPathBuffer, &values.root) == ERROR_SUCCESS;
  values.imagesRead = key.QueryString("/img", kPathBuffer, &values.images) == ERROR_SUCCESS;
  return values;
}

// Only what was read is written back; the key is made again when the
// restored Globals tree lacks it.
void WriteDirectoryValues(CSetupContext& context, const DirectoryValues& values) {
  if (!values.rootRead && !values.imagesRead) return;
  RegKey key(context.machine().registry());
  if (key.Create(HKEY_LOCAL_MACHINE, kDirectoriesKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
  if (values.rootRead) (void)key.SetString("/", values.root);
  if (values.imagesRead) (void)key.SetString("/img", values.images);
}

LONG LoadRegKeyNt(CSetupContext& context, HKEY root, const std::string& subKey,
                  const std::string& file) {
  RegKey target(context.machine().registry());
  LONG rc = target.Create(root, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) {
    context.Log("LoadRegKey: create key failed\n");
    return rc;
  }
  EnablePrivilege(context, "SeRestorePrivilege");
  rc = context.machine().registry().RestoreKey(target.get(), file, REG_NO_LAZY_FLUSH);
  if (rc != ERROR_SUCCESS) context.Log("LoadRegKey: restore key failed\n");
  return rc;
}

// Windows 9x has no key restore: the hive is mounted and merged over the key.
LONG LoadRegKey9x(CSetupContext& context, HKEY root, const std::string& subKey,
                  const std::string& file) {
  Registry& registry = context.machine().registry();
  registry.UnLoadKey(HKEY_USERS, kHiveName);  // a leftover of an earlier run
  LONG rc = registry.LoadKey(HKEY_USERS, kHiveName, file);
  if (rc != ERROR_SUCCESS) return rc;
  {
    RegKey target(registry);
    RegKey source(registry);
    rc = target.Create(root, subKey, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
      context.Log("LoadRegKey: create key failed\n");
    } else {
      rc = source.Open(HKEY_USERS, kHiveName, KEY_READ);
      if (rc == ERROR_SUCCESS) rc = CopyKeyValues(context, HKEY_USERS, kHiveName, target.get());
      if (rc == ERROR_SUCCESS) rc = CopyKeyTree(context, target.get(), source.get());
    }
  }  // both keys are closed before the hive can be unloaded
  LONG unloaded = registry.UnLoadKey(HKEY_USERS, kHiveName);
  return rc != ERROR_SUCCESS ? rc : unloaded;
}

}  // namespace

bool SetSavedItem(CSetupContext& context, const std::string& item, const std::string& text) {
  RegKey key(context.machine().registry());
  if (key.Create(HKEY_CURRENT_USER, kSaveKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    context.Log("create key failed");
    return false;
  }
  if (key.SetString(item, text) != ERROR_SUCCESS) {
    context.Log("set registry value %s=%s failed", item.c_str(), text.c_str());
    return false;
  }
  return true;
}

bool GetSavedItem(CSetupContext& context, const std::string& item, std::string* text) {
  RegKey key(context.machine().registry());
  if (key.Open(HKEY_CURRENT_USER, kSaveKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    context.Log("open key failed\n");
    return false;
  }
  std::string value;
  if (key.QueryString(item, kSavedItemBuffer - 1, &value) != ERROR_SUCCESS) {
    context.Log("query value %s failed\n", item.c_str());
    return false;
  }
  *text = value;
  return true;
}

void ClearSavedItem(CSetupContext& context, const std::string& item) {
  RegKey key(context.machine().registry());
  LONG rc = key.Open(HKEY_CURRENT_USER, kSaveKey, KEY_SET_VALUE);
  if (rc == ERROR_SUCCESS) rc = context.machine().registry().DeleteValue(key.get(), item);
  if (rc == ERROR_SUCCESS) {
    context.Log("saved %s of an earlier upgrade cleared\n", item.c_str());
  } else if (rc != ERROR_FILE_NOT_FOUND) {
    context.Log("clear saved %s failed - error %d\n", item.c_str(), static_cast<int>(rc));
  }
}

DWORD NewTemporaryFile(CSetupContext& context, std::string* path) {
  std::string folder;
  DWORD rc = context.machine().environment().GetTempPath(&folder);
  if (rc != ERROR_SUCCESS) return rc;
  if (folder.size() + 1 > kTempPathBuffer) return ERROR_INSUFFICIENT_BUFFER;
  return context.machine().files().GetTempFileName(folder, "crv", 0, path);
}

bool PreserveFile(CSetupContext& context, const std::string& item, const std::string& fileName) {
  context.Log("preserving %s %s\n", item.c_str(), fileName.c_str());
  std::string source;
  if (!PreviousInstallFile(context, fileName, &source)) return false;
  std::string destination;
  DWORD rc = NewTemporaryFile(context, &destination);
  if (rc != ERROR_SUCCESS) {
    context.Log("copy failed - error %d\n", static_cast<int>(rc));
    return false;
  }
  context.Log("copy %s to %s\n", source.c_str(), destination.c_str());
  FileSystem& files = context.machine().files();
  rc = files.Copy(source, destination, false);
  if (rc != ERROR_SUCCESS) {
    context.Log("copy failed - error %d\n", static_cast<int>(rc));
    files.Delete(destination);  // the empty placeholder made for the copy
    return false;
  }
  return SetSavedItem(context, item, destination);
}

bool RestoreFile(CSetupContext& context, const std::string& item, const std::string& fileName) {
  std::string saved;
  if (!GetSavedItem(context, item, &saved)) {
    context.Log("read value failed\n");
    return false;
  }
  std::string destination;
  if (!PreviousInstallFile(context, fileName, &destination)) return false;
  context.Log("copy %s to %s\n", saved.c_str(), destination.c_str());
  FileSystem& files = context.machine().files();
  DWORD rc = files.Copy(saved, destination, false);
  if (rc != ERROR_SUCCESS) {
    // The temporary copy stays: it is the only one left.
    context.Log("copy failed - error %d\n", static_cast<int>(rc));
    return false;
  }
  files.Delete(saved);
  return true;
}

LONG SaveRegKey(CSetupContext& context, HKEY root, const std::string& subKey,
                const std::string& file) {
  FileSystem& files = context.machine().files();
  // The hive writer needs a file that does not exist yet.
  files.SetAttributes(file, FILE_ATTRIBUTE_NORMAL);
  files.Delete(file);
  RegKey key(context.machine().registry());
  LONG rc = key.Open(root, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) return rc;
  if (!IsWin9xPlatform(context.machine().environment())) {
    EnablePrivilege(context, "SeBackupPrivilege");
  }
  return context.machine().registry().SaveKey(key.get(), file);
}

LONG LoadRegKey(CSetupContext& context, HKEY root, const std::string& subKey,
                const std::string& file) {
  if (IsWin9xPlatform(context.machine().environment())) {
    return LoadRegKey9x(context, root, subKey, file);
  }
  return LoadRegKeyNt(context, root, subKey, file);
}

LONG CopyKeyValues(CSetupContext& context, HKEY parent, const std::string& subKey,
                   HKEY destination) {
  Registry& registry = context.machine().registry();
  RegKey key(registry);
  LONG rc = key.Open(parent, subKey, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD count = 0, longestData = 0;
  rc = registry.QueryInfoKey(key.get(), nullptr, nullptr, &count, nullptr, &longestData);
  if (rc != ERROR_SUCCESS || count == 0) return rc;
  std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[longestData ? longestData : 1]());
  if (!data) return ERROR_SUCCESS;
  for (DWORD index = 0; index < count; ++index) {
    char name[kNameBuffer] = {};
    DWORD nameSize = kNameBuffer;
    DWORD dataSize = longestData;
    DWORD type = REG_NONE;
    rc = registry.EnumValue(key.get(), index, name, &nameSize, &type, data.get(), &dataSize);
    if (rc != ERROR_SUCCESS) return rc;
    rc = registry.SetValue(destination, std::string(name, nameSize), type, data.get(), dataSize);
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG CopyKeyTree(CSetupContext& context, HKEY destination, HKEY source) {
  Registry& registry = context.machine().registry();
  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer] = {};
    char keyClass[kNameBuffer] = {};
    DWORD nameSize = kNameBuffer;
    DWORD classSize = kNameBuffer;
    LONG rc = registry.EnumKey(source, index, name, &nameSize, keyClass, &classSize);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    std::string subKey(name, nameSize);
    RegKey copy(registry);
    rc = copy.Create(destination, subKey, KEY_ALL_ACCESS, std::string(keyClass, classSize));
    if (rc != ERROR_SUCCESS) return rc;
    rc = CopyKeyValues(context, source, subKey, copy.get());
    if (rc != ERROR_SUCCESS) return rc;
    RegKey child(registry);
    rc = child.Open(source, subKey, KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) return rc;
    rc = CopyKeyTree(context, copy.get(), child.get());
    if (rc != ERROR_SUCCESS) return rc;
  }
}

int CSetupContext::PreserveUserData(int) {
  Log("preserving user data\n");
  // An item not preserved now is never restored from an earlier upgrade.
  if (!PreserveFile(*this, "AddressBook", "Zentavo.mdb")) {
    Log("save address book failed\n");
    ClearSavedItem(*this, "AddressBook");
  }
  if (!PreserveFile(*this, "Calibration", "calibrate.mi")) {
    Log("save calibration failed\n");
    ClearSavedItem(*this, "Calibration");
  }
  for (const KeyItem* key : {&kSettings, &kSpeedDial, &kGlobals}) {
    if (!PreserveKey(*this, *key)) ClearSavedItem(*this, key->item);
  }
  return 1;
}

int CSetupContext::RestoreUserData(int) {
  Log("restoring user data\n");
  if (!RestoreFile(*this, "AddressBook", "Zentavo.mdb")) Log("restore address book failed\n");
  if (!RestoreFile(*this, "Calibration", "calibrate.mi")) Log("restore calibration failed\n");
  RestoreKey(*this, kSettings, "read settings value failed\n");
  RestoreKey(*this, kSpeedDial, "read settings value failed\n");
  DirectoryValues directories = ReadDirectoryValues(*this);
  RestoreKey(*this, kGlobals, "read globals value failed\n");
  WriteDirectoryValues(*this, directories);
  if (startupLinkExisted && comHolder) {
    HRESULT hr = comHolder->CreateStartupLink();
    if (FAILED(hr)) Log("create startup link failed - error 0x%x\n", static_cast<unsigned>(hr));
  }
  return 1;
}
