#include "actions/user_data.h"

#include <memory>
#include <new>

#include "actions/launch.h"
#include "actions/previous_versions.h"
#include "analysis/analysis.h"
#include "app/context.h"
#include "app/exit_codes.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

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

constexpr char kPendingValue[] = "UpgradePending";

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

// True when there is nothing of this file to save: the installation folder
// is known and the file is not in it (the user never calibrated).
bool FileAbsent(CSetupContext& context, const std::string& fileName) {
  if (context.previousInstallDir.empty()) return true;  // nothing can be found, or removed
  DWORD attributes = 0;
  DWORD rc = context.machine().files().GetAttributes(
      context.previousInstallDir + "\\" + fileName, &attributes);
  return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND;
}

// True when the key does not exist (the user has no speed dial yet).
bool KeyAbsent(CSetupContext& context, const KeyItem& key) {
  RegKey probe(context.machine().registry());
  return probe.Open(key.root, key.subKey, KEY_READ) == ERROR_FILE_NOT_FOUND;
}

// True when an upgrade that removed the previous version saved the user's
// data and ended before it put it back.
bool UpgradePending(CSetupContext& context) {
  RegKey save(context.machine().registry());
  DWORD pending = 0;
  return save.Open(HKEY_CURRENT_USER, kSaveKey, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
         save.QueryDword(kPendingValue, &pending) == ERROR_SUCCESS && pending != 0;
}

// The copy an unfinished upgrade saved for this item, when it is still there:
// what is in place now may be the new package's, the user's is in the copy.
bool KeepEarlierCopy(CSetupContext& context, const std::string& item) {
  std::string saved;
  DWORD attributes = 0;
  if (!GetSavedItem(context, item, &saved) ||
      context.machine().files().GetAttributes(saved, &attributes) != ERROR_SUCCESS) {
    return false;
  }
  context.Log("keeping %s saved by an unfinished upgrade: %s\n", item.c_str(), saved.c_str());
  return true;
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
  // A hive left loaded would stop the next item's load, and stays until
  // Windows restarts: an unload that fails (a handle another program still
  // holds for a moment) is tried once more.
  LONG unloaded = registry.UnLoadKey(HKEY_USERS, kHiveName);
  if (unloaded != ERROR_SUCCESS) {
    context.Log("unload hive failed - error %d, trying again\n", static_cast<int>(unloaded));
    unloaded = registry.UnLoadKey(HKEY_USERS, kHiveName);
  }
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
  FileSystem& files = context.machine().files();
  std::string made;
  rc = files.GetTempFileName(folder, "crv", 0, &made);
  if (rc != ERROR_SUCCESS) return rc;
  // The Save value is read back with at most 256 bytes, its terminator
  // included: a longer name would record a copy that could never be found
  // again.
  if (made.size() + 1 > kSavedItemBuffer - 1) {
    context.Log("path too long: %s\n", made.c_str());
    files.Delete(made);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  *path = made;
  return ERROR_SUCCESS;
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

int CSetupContext::PreserveUserData(int action) {
  // OK on the stop below: the previous version stays, and so does the data.
  if (action == 1) {
    EndSetup(kExitFailure);
    return 0;
  }
  if (action != 0) return 1;
  Log("preserving user data\n");
  // The analysis may have failed to read the folder that a later look finds.
  if (previousInstallDir.empty()) ReadPreviousInstallDir(*this);
  const bool pending = UpgradePending(*this);
  bool unsaved = false;
  struct FileItem {
    const char* item;
    const char* fileName;
    const char* failed;
  };
  for (const FileItem& file : {FileItem{"AddressBook", "Zentavo.mdb", "save address book failed\n"},
                               FileItem{"Calibration", "calibrate.mi", "save calibration failed\n"}}) {
    if (pending && KeepEarlierCopy(*this, file.item)) continue;
    if (PreserveFile(*this, file.item, file.fileName)) continue;
    Log("%s", file.failed);
    // An item not preserved now is never restored from an earlier upgrade.
    ClearSavedItem(*this, file.item);
    if (!FileAbsent(*this, file.fileName)) unsaved = true;
  }
  for (const KeyItem* key : {&kSettings, &kSpeedDial, &kGlobals}) {
    if (pending && KeepEarlierCopy(*this, key->item)) continue;
    if (PreserveKey(*this, *key)) continue;
    ClearSavedItem(*this, key->item);
    if (!KeyAbsent(*this, *key)) unsaved = true;
  }
  if (!unsaved) return 1;
  // Removing the previous version now would take with it what could not be
  // saved: the setup stops here, before anything is removed.
  Log("user data could not be saved - the previous version is not removed\n");
  window().SetText(1, ABORTINSTALL);
  window().SetText(2, ABORTINSTALLHELP);
  window().SetConfirmText(OK);
  window().ShowConfirm(true);
  window().ShowCancel(false);
  waitForInput = 1;
  return 0;
}

void MarkUpgradePending(CSetupContext& context) {
  RegKey save(context.machine().registry());
  LONG rc = save.Create(HKEY_CURRENT_USER, kSaveKey, KEY_ALL_ACCESS);
  if (rc == ERROR_SUCCESS) rc = save.SetDword(kPendingValue, 1);
  if (rc != ERROR_SUCCESS) {
    context.Log("mark upgrade pending failed - error %d\n", static_cast<int>(rc));
  }
}

void ClearUpgradePending(CSetupContext& context) {
  RegKey save(context.machine().registry());
  LONG rc = save.Open(HKEY_CURRENT_USER, kSaveKey, KEY_SET_VALUE);
  if (rc == ERROR_SUCCESS) rc = context.machine().registry().DeleteValue(save.get(), kPendingValue);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    context.Log("clear upgrade pending failed - error %d\n", static_cast<int>(rc));
  }
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
  ClearUpgradePending(*this);
  return 1;
}
