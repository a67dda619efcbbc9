#include "actions/user_data.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "actions/fingerprints.h"
#include "actions/install_folder.h"
#include "actions/pending_renames.h"
#include "actions/private_folders.h"
#include "actions/registry_hives.h"
#include "analysis/analysis.h"
#include "app/context.h"
#include "app/exit_codes.h"
#include "app/unattended.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

namespace {

constexpr DWORD kPathBuffer = 260;       // MAX_PATH, terminator included
constexpr size_t kTempPathBuffer = 512;  // GetTempPath's buffer
constexpr char kDirectoriesKey[] = "SOFTWARE\\Corvane\\Zentavo\\WebServer\\Parameters\\Directories";

constexpr char kPendingValue[] = "UpgradePending";
// Beside an item's value once the new package is installed: what it put in
// the item's place ("absent", or the fingerprint of the file or key).
constexpr char kInstalledSuffix[] = " Installed";
constexpr char kAbsent[] = "absent";
// Beside an item's value: the SHA-256 of its copy, taken when it was saved.
// Only a copy that still has it is put back (NT 4.0's C:\TEMP lets every
// user rename the folder of the copies away and put another in its place).
constexpr char kDigestSuffix[] = " SHA-256";
// Beside the mark: the folder of the data and the version of the program of
// the edition being upgraded, so that a setup started again knows both even
// after the earlier edition has gone.
constexpr char kFolderValue[] = "Folder";
constexpr char kVersionValue[] = "Version";

// One piece of the user's data: a file of the installation folder or a
// registry key with everything below it, recorded under `item`.
struct DataItem {
  const char* item;      // the Save value
  const char* fileName;  // null for a key
  HKEY root;
  const char* subKey;
  const char* saveFailed;     // logged when a file item cannot be saved
  const char* restoreFailed;  // logged when it cannot be put back
};

const DataItem kItems[] = {
    {"AddressBook", "Zentavo.mdb", nullptr, nullptr, "save address book failed\n",
     "restore address book failed\n"},
    {"Calibration", "calibrate.mi", nullptr, nullptr, "save calibration failed\n",
     "restore calibration failed\n"},
    {"Settings", nullptr, HKEY_CURRENT_USER, "Software\\Corvane\\Zentavo\\Settings", nullptr,
     "read settings value failed\n"},
    {"Speed Dial", nullptr, HKEY_CURRENT_USER, "Software\\Corvane\\Zentavo\\Speed Dial", nullptr,
     "read settings value failed\n"},
    {"Globals", nullptr, HKEY_LOCAL_MACHINE, "Software\\Corvane\\Zentavo", nullptr,
     "read globals value failed\n"},
};
constexpr size_t kGlobalsIndex = 4;

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

// The Save key's value `name`, read without a log line.
bool ReadSaveValue(CSetupContext& context, const std::string& name, std::string* text) {
  RegKey key(context.machine().registry());
  return key.Open(HKEY_CURRENT_USER, kSaveKey, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
         key.QueryString(name, kSavedItemBuffer - 1, text) == ERROR_SUCCESS;
}

// The installation folder of the user's data: the one the analysis read,
// else the one the upgrade recorded ("Folder"), else the one registered now
// (after an earlier upgrade removed the product, the new package's).
void FindInstallDir(CSetupContext& context) {
  std::string folder;
  if (!context.previousInstallDir.empty()) return;
  if ((ReadSaveValue(context, kFolderValue, &folder) && !folder.empty()) ||
      ReadInstallDir(context.machine().registry(), &folder)) {
    context.previousInstallDir = folder;
  }
}

void DeleteSaveValue(CSetupContext& context, const std::string& name) {
  RegKey key(context.machine().registry());
  if (key.Open(HKEY_CURRENT_USER, kSaveKey, KEY_SET_VALUE) == ERROR_SUCCESS) {
    context.machine().registry().DeleteValue(key.get(), name);
  }
}

void SetUpgradeStage(CSetupContext& context, UpgradeStage stage) {
  RegKey save(context.machine().registry());
  LONG rc = save.Create(HKEY_CURRENT_USER, kSaveKey, KEY_ALL_ACCESS);
  if (rc == ERROR_SUCCESS) rc = save.SetDword(kPendingValue, static_cast<DWORD>(stage));
  if (rc != ERROR_SUCCESS) {
    context.Log("mark upgrade pending failed - error %d\n", static_cast<int>(rc));
  }
}

void ClearUpgradeStage(CSetupContext& context) {
  RegKey save(context.machine().registry());
  LONG rc = save.Open(HKEY_CURRENT_USER, kSaveKey, KEY_SET_VALUE);
  if (rc == ERROR_SUCCESS) rc = context.machine().registry().DeleteValue(save.get(), kPendingValue);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    context.Log("clear upgrade pending failed - error %d\n", static_cast<int>(rc));
    return;
  }
  for (const DataItem& item : kItems) {
    DeleteSaveValue(context, std::string(item.item) + kInstalledSuffix);
    DeleteSaveValue(context, std::string(item.item) + kDigestSuffix);
  }
  DeleteSaveValue(context, kFolderValue);
  DeleteSaveValue(context, kVersionValue);
}

// The copy an unfinished upgrade saved for this item and never put back:
// only while the mark is set, and only while the copy is still there.
bool LeftoverCopy(CSetupContext& context, const DataItem& item, std::string* path) {
  std::string saved;
  DWORD attributes = 0;
  if (!ReadSaveValue(context, item.item, &saved) || saved.empty() ||
      context.machine().files().GetAttributes(saved, &attributes) != ERROR_SUCCESS) {
    return false;
  }
  *path = saved;
  return true;
}

// True when the item is there to be saved: the file in the known folder, or
// the key.
bool ItemPresent(CSetupContext& context, const DataItem& item) {
  if (item.fileName == nullptr) {
    RegKey probe(context.machine().registry());
    return probe.Open(item.root, item.subKey, KEY_READ) == ERROR_SUCCESS;
  }
  if (context.previousInstallDir.empty()) return false;
  DWORD attributes = 0;
  return context.machine().files().GetAttributes(
             context.previousInstallDir + "\\" + item.fileName, &attributes) == ERROR_SUCCESS;
}

// What is in the item's place now: "absent", or its fingerprint. False when
// it could not be read.
bool Fingerprint(CSetupContext& context, const DataItem& item, std::string* print) {
  if (!ItemPresent(context, item)) {
    *print = kAbsent;
    return true;
  }
  uint64_t hash = 14695981039346656037ull;
  if (item.fileName != nullptr) {
    std::string bytes;
    if (context.machine().files().ReadFile(context.previousInstallDir + "\\" + item.fileName,
                                           &bytes) != ERROR_SUCCESS) {
      return false;
    }
    Mix(&hash, bytes.data(), bytes.size());
  } else {
    RegKey key(context.machine().registry());
    if (key.Open(item.root, item.subKey, KEY_READ) != ERROR_SUCCESS ||
        !MixKey(context, key.get(), 0, &hash)) {
      return false;
    }
  }
  char text[24];
  snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
  *print = text;
  return true;
}

// Copies the item as it is now into a new temporary file. Logs as the
// preservation always has; false when it could not be saved.
bool SaveItemTo(CSetupContext& context, const DataItem& item, std::string* file) {
  if (item.fileName != nullptr) {
    context.Log("preserving %s %s\n", item.item, item.fileName);
    std::string source;
    if (!PreviousInstallFile(context, item.fileName, &source)) return false;
    DWORD rc = NewTemporaryFile(context, file);
    if (rc != ERROR_SUCCESS) {
      context.Log("copy failed - error %d\n", static_cast<int>(rc));
      return false;
    }
    context.Log("copy %s to %s\n", source.c_str(), file->c_str());
    FileSystem& files = context.machine().files();
    rc = files.Copy(source, *file, false);
    if (rc != ERROR_SUCCESS) {
      context.Log("copy failed - error %d\n", static_cast<int>(rc));
      DeleteMadeFile(files, *file);  // the empty placeholder made for the copy
      return false;
    }
    return true;
  }
  LONG rc = static_cast<LONG>(NewTemporaryFile(context, file));
  if (rc == ERROR_SUCCESS) rc = SaveRegKey(context, item.root, item.subKey, *file);
  if (rc != ERROR_SUCCESS) {
    context.Log("save reg key failed - error %d\n", static_cast<int>(rc));
    DeleteMadeFile(context.machine().files(), *file);
    return false;
  }
  return true;
}

// Records the digest of the copy just made for `item`, before the item's
// value names the copy. A copy that could not be checked later does not
// count as saved.
bool RecordDigest(CSetupContext& context, const DataItem& item, const std::string& copy) {
  FileSystem& files = context.machine().files();
  UniqueRead open(files);
  std::string hex;
  DWORD rc = OpenAndDigest(files, copy, &open, &hex);
  if (rc != ERROR_SUCCESS) {
    context.Log("digest of %s failed - error %d\n", copy.c_str(), static_cast<int>(rc));
    return false;
  }
  return SetSavedItem(context, std::string(item.item) + kDigestSuffix, hex);
}

// Whether `copy` is still the copy saved for `item`: its SHA-256 is the one
// recorded then. It stays open in `open` (readers only) until the caller has
// put it back, so nobody can replace it in between. A copy that an earlier
// setup made records no digest and is taken as it is.
bool VerifyCopy(CSetupContext& context, const DataItem& item, const std::string& copy,
                UniqueRead* open) {
  std::string recorded;
  if (!ReadSaveValue(context, std::string(item.item) + kDigestSuffix, &recorded) ||
      recorded.empty()) {
    context.Log("saved %s has no digest - it was saved by an earlier setup\n", item.item);
    return true;
  }
  std::string now;
  DWORD rc = OpenAndDigest(context.machine().files(), copy, open, &now);
  if (rc != ERROR_SUCCESS) {
    context.Log("saved %s cannot be read - error %d\n", item.item, static_cast<int>(rc));
    open->reset();
    return false;
  }
  if (now != recorded) {
    context.Log("saved %s at %s is not the copy that was saved - it is not restored\n", item.item,
                copy.c_str());
    open->reset();
    return false;
  }
  return true;
}

// Saves the item and records its copy.
bool PreserveItem(CSetupContext& context, const DataItem& item) {
  std::string file;
  if (!SaveItemTo(context, item, &file)) {
    if (item.saveFailed != nullptr) context.Log("%s", item.saveFailed);
    return false;
  }
  if (!RecordDigest(context, item, file)) {
    DeleteMadeFile(context.machine().files(), file);
    if (item.saveFailed != nullptr) context.Log("%s", item.saveFailed);
    return false;
  }
  return SetSavedItem(context, item.item, file);
}

// Whether an unfinished upgrade's copy, rather than what is in place now, is
// the user's data. What is absent cannot be; before the new package ran what
// is in place is the user's own; once it ran, what is in place is the
// package's unless it changed since. While the package was being installed
// nothing tells which: the copy wins, and what is in place is kept beside it.
bool PreferLeftover(CSetupContext& context, const DataItem& item, UpgradeStage stage,
                    bool* keepCurrent) {
  *keepCurrent = false;
  if (!ItemPresent(context, item)) return true;
  if (stage == UpgradeStage::kSaved) return false;
  // Without the edition that was being installed, what is in place is the
  // user's: no 2.x program now, or still the one the upgrade started from.
  std::string earlier;
  if (stage == UpgradeStage::kInstalling &&
      (context.previousExeVersion.empty() ||
       (ReadSaveValue(context, kVersionValue, &earlier) && earlier == context.previousExeVersion))) {
    return false;
  }
  std::string installed, now;
  if (stage == UpgradeStage::kInstalled &&
      ReadSaveValue(context, std::string(item.item) + kInstalledSuffix, &installed) &&
      Fingerprint(context, item, &now)) {
    return installed == now;
  }
  *keepCurrent = true;
  return true;
}

// Keeps the saved copy of an unfinished upgrade as the item's copy (or not),
// logging what happens to each. True when the item needs no saving now.
bool HandleLeftover(CSetupContext& context, const DataItem& item, UpgradeStage stage) {
  std::string leftover;
  if (stage == UpgradeStage::kNone || !LeftoverCopy(context, item, &leftover)) return false;
  bool keepCurrent = false;
  if (!PreferLeftover(context, item, stage, &keepCurrent)) {
    // The user's data in place is saved now; the earlier copy stays on the
    // disk, no longer named.
    context.Log("%s saved by an unfinished upgrade kept at %s\n", item.item, leftover.c_str());
    return false;
  }
  context.Log("keeping %s saved by an unfinished upgrade: %s\n", item.item, leftover.c_str());
  std::string aside;
  if (keepCurrent && SaveItemTo(context, item, &aside)) {
    context.Log("%s found in place kept at %s\n", item.item, aside.c_str());
  }
  return true;
}

// What became of one item at RESTOREDATA.
enum class Outcome {
  kBack,           // in place, its copy and value gone
  kNothingSaved,   // no copy to put back
  kBackUntilRestart,  // in place, but Windows deletes or replaces it at the restart
  kInUse,          // held by another program
  kFailed,         // could not be put back for another reason
};

// The place of an item: its file, or its key, as the user is told.
std::string PlaceOf(CSetupContext& context, const DataItem& item) {
  if (item.fileName != nullptr) return context.previousInstallDir + "\\" + item.fileName;
  return std::string(item.root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER\\"
                                                    : "HKEY_LOCAL_MACHINE\\") +
         item.subKey;
}

bool InUseError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Copies a file item back from its copy. Before a restart that Windows will
// use to delete or replace the file, the copy stays after it is put back: it
// is put back again once the restart is over.
Outcome RestoreFileItem(CSetupContext& context, const DataItem& item, bool beforeRestart) {
  std::string saved;
  if (!GetSavedItem(context, item.item, &saved)) {
    context.Log("read value failed\n");
    return Outcome::kNothingSaved;
  }
  std::string destination;
  if (!PreviousInstallFile(context, item.fileName, &destination)) return Outcome::kFailed;
  FileSystem& files = context.machine().files();
  UniqueRead held(files);
  if (!VerifyCopy(context, item, saved, &held)) return Outcome::kFailed;
  context.Log("copy %s to %s\n", saved.c_str(), destination.c_str());
  DWORD rc = files.Copy(saved, destination, false);
  if (rc != ERROR_SUCCESS) {
    // The temporary copy stays: it is the only one left.
    context.Log("copy failed - error %d\n", static_cast<int>(rc));
    return InUseError(rc) ? Outcome::kInUse : Outcome::kFailed;
  }
  if (beforeRestart && RestartChangesFile(context, destination)) {
    context.Log("%s is put back again after the restart - Windows deletes or replaces %s when "
                "it next starts\n",
                item.item, destination.c_str());
    return Outcome::kBackUntilRestart;
  }
  held.reset();
  DeleteMadeFile(files, saved);
  return Outcome::kBack;
}

// Puts one item back from its copy. Once it is back, the copy and its value
// go; a copy that did not come back stays, and so does its value. A file
// that Windows was told to delete or replace at the next start keeps its
// copy too, when the restart is still to come: the copy is put back again
// after it. `afterRestart` leaves out items with nothing saved, silently.
Outcome RestoreItem(CSetupContext& context, const DataItem& item, bool afterRestart) {
  std::string saved, copy;
  const bool named = ReadSaveValue(context, item.item, &copy) && !copy.empty();
  if (afterRestart && !named) return Outcome::kNothingSaved;
  Outcome outcome = Outcome::kFailed;
  if (item.fileName != nullptr) {
    outcome = RestoreFileItem(context, item, !afterRestart);
    if (outcome != Outcome::kBack && outcome != Outcome::kBackUntilRestart) {
      context.Log("%s", item.restoreFailed);
    }
  } else if (!GetSavedItem(context, item.item, &saved)) {
    context.Log("%s", item.restoreFailed);
    outcome = Outcome::kNothingSaved;
  } else {
    UniqueRead held(context.machine().files());
    if (!VerifyCopy(context, item, saved, &held)) {
      context.Log("%s", item.restoreFailed);
    } else {
      // Windows 9x's hive loader opens the file itself and keeps it while
      // the hive is loaded, and there is no other user there to guard
      // against: the copy is let go before it is loaded there.
      const bool win9x = IsWin9xPlatform(context.machine().environment());
      if (win9x) held.reset();
      LONG rc = win9x ? LoadRegKey9x(context, item.root, item.subKey, saved)
                      : LoadRegKeyNt(context, item.root, item.subKey, saved);
      held.reset();
      if (rc != ERROR_SUCCESS) {
        context.Log("load reg key failed - error %d\n", static_cast<int>(rc));
      } else {
        DeleteMadeFile(context.machine().files(), saved);  // the hive file is spent
        outcome = Outcome::kBack;
      }
    }
  }
  if (outcome == Outcome::kBack) {
    DeleteSaveValue(context, item.item);
    DeleteSaveValue(context, std::string(item.item) + kInstalledSuffix);
    DeleteSaveValue(context, std::string(item.item) + kDigestSuffix);
  } else if (named && outcome != Outcome::kBackUntilRestart) {
    context.Log("saved %s kept at %s - it was not restored\n", item.item, copy.c_str());
  }
  // The setup's folder of the copies goes with its last copy (a folder that
  // still holds one is not removed).
  const size_t slash = copy.rfind('\\');
  if (outcome == Outcome::kBack && slash != std::string::npos && slash >= 4 &&
      copy.compare(copy.rfind('\\', slash - 1) + 1, 4, "ztsv") == 0) {
    (void)context.machine().files().RemoveDirectory(copy.substr(0, slash));
  }
  return outcome;
}

// True when some item's value still names a copy that exists.
bool AnyCopyLeft(CSetupContext& context) {
  for (const DataItem& item : kItems) {
    std::string path;
    if (LeftoverCopy(context, item, &path)) return true;
  }
  return false;
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
  // The copies go into a folder of the setup's own: in the temporary folder
  // itself (on NT 4.0 everybody's C:\TEMP) another user could replace a
  // hive before it is restored into HKEY_LOCAL_MACHINE.
  FileSystem& files = context.machine().files();
  DWORD attributes = 0;
  if (!context.saveFolder.empty() &&
      files.GetAttributes(context.saveFolder, &attributes) != ERROR_SUCCESS) {
    context.saveFolder.clear();  // removed with its last restored copy
  }
  if (context.saveFolder.empty() && !MakePrivateFolder(context, folder, "ztsv", &context.saveFolder)) {
    return ERROR_CANNOT_MAKE;
  }
  std::string made;
  rc = files.GetTempFileName(context.saveFolder, "crv", 0, &made);
  if (rc != ERROR_SUCCESS) return rc;
  // The Save value is read back with at most 256 bytes, its terminator
  // included: a longer name would record a copy that could never be found
  // again.
  if (made.size() + 1 > kSavedItemBuffer - 1) {
    context.Log("path too long: %s\n", made.c_str());
    DeleteMadeFile(files, made);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  *path = made;
  return ERROR_SUCCESS;
}

bool PreserveFile(CSetupContext& context, const std::string& item, const std::string& fileName) {
  const DataItem file = {item.c_str(), fileName.c_str(), nullptr, nullptr, nullptr, nullptr};
  std::string copy;
  return SaveItemTo(context, file, &copy) && RecordDigest(context, file, copy) &&
         SetSavedItem(context, item, copy);
}

bool RestoreFile(CSetupContext& context, const std::string& item, const std::string& fileName) {
  const DataItem file = {item.c_str(), fileName.c_str(), nullptr, nullptr, nullptr, nullptr};
  return RestoreFileItem(context, file, false) == Outcome::kBack;
}

UpgradeStage ReadUpgradeStage(CSetupContext& context) {
  RegKey save(context.machine().registry());
  DWORD stage = 0;
  if (save.Open(HKEY_CURRENT_USER, kSaveKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      save.QueryDword(kPendingValue, &stage) != ERROR_SUCCESS || stage == 0) {
    return UpgradeStage::kNone;
  }
  // Earlier setups wrote 1 for any stage.
  return stage > static_cast<DWORD>(UpgradeStage::kInstalled) ? UpgradeStage::kSaved
                                                             : static_cast<UpgradeStage>(stage);
}

bool FindUnfinishedUpgrade(CSetupContext& context) {
  if (ReadUpgradeStage(context) == UpgradeStage::kNone) return false;
  if (AnyCopyLeft(context)) {
    context.Log("an earlier upgrade left the user's data saved - it is put back after the "
                "installation\n");
    return true;
  }
  ClearUpgradeStage(context);
  return false;
}

void NoteProductInstalling(CSetupContext& context) {
  if (ReadUpgradeStage(context) == UpgradeStage::kSaved) {
    SetUpgradeStage(context, UpgradeStage::kInstalling);
  }
}

void NoteProductInstalled(CSetupContext& context) {
  if (ReadUpgradeStage(context) == UpgradeStage::kNone) return;
  FindInstallDir(context);
  for (const DataItem& item : kItems) {
    std::string print;
    // An item that cannot be read leaves no record: it then counts as the
    // user's, never as the package's.
    if (Fingerprint(context, item, &print)) {
      SetSavedItem(context, std::string(item.item) + kInstalledSuffix, print);
    }
  }
  SetUpgradeStage(context, UpgradeStage::kInstalled);
}

void EndUpgrade(CSetupContext& context) {
  if (ReadUpgradeStage(context) != UpgradeStage::kNone && !AnyCopyLeft(context)) {
    ClearUpgradeStage(context);
  }
}

int CSetupContext::PreserveUserData(int action) {
  if (action != 0) return 1;
  Log("preserving user data\n");
  // The analysis may have failed to read the folder that a later look finds.
  FindInstallDir(*this);
  const UpgradeStage stage = ReadUpgradeStage(*this);
  std::vector<const DataItem*> toSave;
  for (const DataItem& item : kItems) {
    if (!HandleLeftover(*this, item, stage)) toSave.push_back(&item);
  }
  while (true) {
    std::vector<const DataItem*> unsaved;
    for (const DataItem* item : toSave) {
      if (PreserveItem(*this, *item)) continue;
      if (ItemPresent(*this, *item)) {
        unsaved.push_back(item);
      } else {
        // Nothing to save, and nothing saved by an earlier upgrade is ever
        // restored over what the user has now.
        ClearSavedItem(*this, item->item);
      }
    }
    if (unsaved.empty()) break;
    // Removing the previous version now would take with it what could not
    // be saved: nothing is removed until it is saved or the user gives up.
    Log("user data could not be saved - the previous version is not removed\n");
    std::string names;
    for (const DataItem* item : unsaved) {
      std::string name = item->fileName != nullptr
                             ? previousInstallDir + "\\" + item->fileName
                             : std::string(item->root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER\\"
                                                                           : "HKEY_LOCAL_MACHINE\\") +
                                   item->subKey;
      Log("%s could not be saved: %s\n", item->item, name.c_str());
      names += "\n" + name;
    }
    if (unattended().Active()) {
      Log("unattended: the user data could not be saved - ending with 1603\n");
      failureShown = 1;
      EndSetup(kExitFailure);
      return 0;
    }
    // Retry saves what is still unsaved; Cancel leaves everything as it is.
    if (MessageBox(GetText(PRESERVEDATA) + ":\n" + names, MB_RETRYCANCEL | MB_ICONWARNING) !=
        IDRETRY) {
      Log("user data not saved - setup cancelled\n");
      EndSetup(kExitUserCancel);
      return 0;
    }
    Log("saving the user data again\n");
    toSave = unsaved;
  }
  // From here until the data is back, the saved copies may be the only ones.
  if (stage == UpgradeStage::kNone) {
    if (!previousInstallDir.empty()) SetSavedItem(*this, kFolderValue, previousInstallDir);
    SetSavedItem(*this, kVersionValue, previousExeVersion);
    SetUpgradeStage(*this, UpgradeStage::kSaved);
  }
  return 1;
}

int CSetupContext::RestoreUserData(int) {
  Log("restoring user data\n");
  // After an earlier upgrade removed the product, the folder is the new one.
  FindInstallDir(*this);
  // Resumed here after the restart that the data waited for: only what is
  // still saved is put back, and no further restart is asked for.
  const bool afterRestart = resumedAt != 0 && resumedAt == currentStep;
  std::vector<const DataItem*> toRestore;
  for (const DataItem& item : kItems) toRestore.push_back(&item);
  while (true) {
    std::vector<const DataItem*> left;
    bool restartHelps = false;
    DirectoryValues directories;
    for (const DataItem* item : toRestore) {
      if (item == &kItems[kGlobalsIndex]) directories = ReadDirectoryValues(*this);
      const Outcome outcome = RestoreItem(*this, *item, afterRestart);
      if (item == &kItems[kGlobalsIndex]) WriteDirectoryValues(*this, directories);
      if (outcome == Outcome::kBack || outcome == Outcome::kNothingSaved) continue;
      left.push_back(item);
      restartHelps = restartHelps || outcome == Outcome::kInUse ||
                     outcome == Outcome::kBackUntilRestart;
    }
    if (left.empty()) break;
    // A program holds a file, or Windows replaces it when it starts again:
    // after the restart the holds are gone and the operations done. The
    // restart that comes anyway is also the one more try for the rest.
    if (!afterRestart && (restartHelps || rebootRequired)) {
      for (const DataItem* item : left) {
        Log("%s is put back after the restart\n", item->item);
      }
      rebootRequired = 1;
      dataWaitsForRestart = 1;
      break;
    }
    // Nothing more will put it back: the user is told where the copies are,
    // and the installation does not end as complete.
    Log("user data could not be put back\n");
    std::string names;
    for (const DataItem* item : left) {
      std::string copy;
      if (!ReadSaveValue(*this, item->item, &copy)) copy.clear();
      Log("%s could not be put back: %s - its copy is %s\n", item->item,
          PlaceOf(*this, *item).c_str(), copy.c_str());
      names += "\n" + PlaceOf(*this, *item) + "\n    " + copy;
    }
    if (unattended().Active()) {
      Log("unattended: the user data could not be put back - ending with 1603\n");
      failureShown = 1;
      EndSetup(kExitFailure);
      return 0;
    }
    if (MessageBox(GetText(RESTOREDATA) + ":\n" + names, MB_RETRYCANCEL | MB_ICONWARNING) !=
        IDRETRY) {
      Log("user data not put back - setup ended\n");
      failureShown = 1;
      EndSetup(kExitFailure);
      return 0;
    }
    Log("putting the user data back again\n");
    toRestore = left;
  }
  if (startupLinkExisted && comHolder) {
    HRESULT hr = comHolder->CreateStartupLink();
    if (FAILED(hr)) Log("create startup link failed - error 0x%x\n", static_cast<unsigned>(hr));
  }
  EndUpgrade(*this);
  return 1;
}
