// Start-up component updates: the Flash control, the MSXML 3 parser and, on
// NT 4.0, PSAPI are copied from the medium into the system directory before
// the setup window opens; and the recursive delete of the clean-up mode.
// These run before the analysis has filled the context, so they ask the
// system for its directory and version themselves.
#include <iterator>

#include "analysis/analysis.h"
#include "analysis/medium_check.h"

#include "app/context.h"
#include "app/setup_app.h"
#include "lang/language_strings.h"
#include "platform/path_chars.h"

namespace {

const char kFlashClassKey[] =
    "CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32";
const char kFlashMinimumVersion[] = "5,0,42,0";
// The Flash check reads the control's version into 64 bytes.
constexpr size_t kFlashVersionBufferSize = 64;
constexpr DWORD kFlashPathBufferSize = MAX_PATH - 1;
const char* const kXmlParserFiles[] = {"msxml3r.dll", "msxml3a.dll", "msxml3.dll"};
// The other components' files, as the medium's manifest names them.
const char* const kFlashControlFile = "System32\\swflash.ocx";
const char* const kPsapiFile = "psapi.dll";
constexpr UINT kXmlParserFailedMessage = 156;
constexpr int kDeleteAttempts = 5;
constexpr DWORD kDeleteRetryMs = 1000;

std::string SystemDirectory(Environment& environment) {
  std::string directory;
  environment.GetSystemDirectory(&directory);
  return directory;
}

bool IsNtBefore5(Environment& environment) {
  OsVersion version;
  environment.GetOsVersion(&version);
  return version.platformId == VER_PLATFORM_WIN32_NT && version.majorVersion < 5;
}

bool IsNt5OrLater(Environment& environment) {
  OsVersion version;
  environment.GetOsVersion(&version);
  return version.platformId == VER_PLATFORM_WIN32_NT && version.majorVersion >= 5;
}

// OleInitialize and, when it succeeded, the matching OleUninitialize on
// every way out. A failed OleInitialize must not be balanced: that would
// undo the COM initialisation the setup context holds on this thread.
class OleScope {
 public:
  explicit OleScope(Com& com) : com_(com), initialized_(SUCCEEDED(com.OleInitialize())) {}
  ~OleScope() {
    if (initialized_) com_.OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;

 private:
  Com& com_;
  bool initialized_;
};

}  // namespace

int UpdateFlashControl(CSetupContext& context) {
  if (IsFlashControlCurrent(context)) return 1;
  return InstallFlashControl(context);
}

// The registered control counts when its file has a version of 5,0,42,0 or
// later.
int IsFlashControlCurrent(CSetupContext& context) {
  Machine& machine = context.machine();
  RegKey key(machine.registry());
  if (key.Open(HKEY_CLASSES_ROOT, kFlashClassKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    context.Log("failed to open Flash class key\n");
    return 0;
  }
  std::string path;
  if (key.QueryString("", kFlashPathBufferSize, &path) != ERROR_SUCCESS) {
    context.Log("could not determine Flash OCX version\n");
    return 0;
  }
  context.Log("Flash path: %s\n", path.c_str());
  std::string version;
  if (!GetFileVersionString(machine, path, &version, kFlashVersionBufferSize)) {
    context.Log("could not determine Flash OCX version\n");
    return 0;
  }
  if (CompareVersions(version, kFlashMinimumVersion, true) >= 0) {
    context.Log("existing Flash OCX is up-to-date (%s)\n", version.c_str());
    return 1;
  }
  context.Log("existing Flash OCX is out-of-date (%s)\n", version.c_str());
  return 0;
}

namespace {

// A file start-up copied from the medium into the system folder is compared
// with the manifest before it is loaded or registered: the medium was
// checked moments before, but a share can change in between. A copy that
// does not match is logged and counts as a failed update. CopyFile keeps a
// CD's read-only attribute, which would refuse the next update of the file:
// the copy loses it.
bool CopyMatchesMedium(CSetupContext& context, const std::string& name,
                       const std::string& copy) {
  FileSystem& files = context.machine().files();
  DWORD attributes = 0;
  if (files.GetAttributes(copy, &attributes) == ERROR_SUCCESS &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    files.SetAttributes(copy, attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  DWORD error = ERROR_SUCCESS;
  if (MatchesManifest(files, context.checkedMedium, name, copy, &error)) return true;
  if (error != ERROR_SUCCESS) {
    context.Log("copy %s cannot be read - error %d\n", copy.c_str(), static_cast<int>(error));
  } else {
    context.Log("copy of medium file %s does not match its manifest - not loaded\n",
                name.c_str());
  }
  return false;
}

}  // namespace

// Copies the control from the medium into the system directory and registers
// the copy there. A copy refused because the control in the system directory
// is in use registers that file instead: Windows refuses a copy onto a control
// that a running program has loaded with a sharing violation, and a read-only
// control or missing rights with access denied.
int InstallFlashControl(CSetupContext& context) {
  Machine& machine = context.machine();
  context.Log("installing Macromedia Flash OCX\n");
  std::string systemDir = SystemDirectory(machine.environment());
  if (systemDir.empty()) return 0;
  std::string source = GetSetupDirectory(machine.environment()) + "\\System32\\swflash.ocx";
  std::string destination = systemDir + "\\swflash.ocx";
  if (!PathFits(context, source) || !PathFits(context, destination)) return 0;

  if (!context.app().CheckMediumFilesBeforeUse(&kFlashControlFile, 1)) return 0;
  context.Log("copy %s %s\n", source.c_str(), destination.c_str());
  DWORD error = machine.files().Copy(source, destination, false);
  if (error != ERROR_SUCCESS) {
    context.Log("CopyFile failed error %d\n", static_cast<int>(error));
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return 0;
  } else {
    context.mediumChanges.push_back("copied " + source + " to " + destination);
    if (!CopyMatchesMedium(context, kFlashControlFile, destination)) return 0;
  }
  if (RegisterServerDll(context, destination)) {
    context.mediumChanges.push_back("registered " + destination);
    context.Log("Flash OCX registered successfully\n");
    return 1;
  }
  context.Log("Flash OCX registration failed\n");
  return 0;
}

// The language table is read through MSXML 3, so without it the setup cannot
// go on; the user is told with the program's own resource text.
int UpdateXmlParser(CSetupContext& context) {
  if (IsXmlParserPresent(context) || InstallXmlParser(context)) return 1;
  CSetupApp& app = context.app();
  if (app.MediumDamaged()) return 0;
  app.MessageBox(app.frontEnd().LoadResourceString(kXmlParserFailedMessage), MB_ICONSTOP);
  return 0;
}

// Windows 2000 and later carry the parser; elsewhere any version of
// msxml3.dll in the system directory will do.
int IsXmlParserPresent(CSetupContext& context) {
  Machine& machine = context.machine();
  std::string systemDir = SystemDirectory(machine.environment());
  if (systemDir.empty()) {
    context.Log("could not get system directory\n");
    return 0;
  }
  if (IsNt5OrLater(machine.environment())) {
    context.Log("XML will not be updated on Windows 2000\n");
    return 1;
  }
  std::string path = systemDir + "\\msxml3.dll";
  if (!PathFits(context, path)) return 0;
  std::string version;
  if (GetFileVersionString(machine, path, &version)) {
    context.Log("installed XML parser version is %s\n", version.c_str());
    context.Log("XML parser will not be updated\n");
    return 1;
  }
  context.Log("no version of XML parser found at %s\n", path.c_str());
  return 0;
}

// Copies the three parser files in order and registers msxml3.dll. A failed
// copy stops there; files already copied stay.
int InstallXmlParser(CSetupContext& context) {
  Machine& machine = context.machine();
  context.Log("updating XML parser\n");
  std::string systemDir = SystemDirectory(machine.environment());
  if (systemDir.empty()) {
    context.Log("could not determine system directory\n");
    return 0;
  }
  // All three are checked before the first is copied: a damaged medium
  // leaves no part of the parser behind.
  if (!context.app().CheckMediumFilesBeforeUse(kXmlParserFiles, std::size(kXmlParserFiles))) {
    return 0;
  }
  std::string destination;
  for (const char* name : kXmlParserFiles) {
    std::string source = context.setupDir + "\\" + name;
    destination = systemDir + "\\" + name;
    if (!PathFits(context, source) || !PathFits(context, destination)) return 0;
    context.Log("copying %s to %s\n", source.c_str(), destination.c_str());
    DWORD error = machine.files().Copy(source, destination, false);
    if (error != ERROR_SUCCESS) {
      context.Log("copy %s to %s failed error %d\n", source.c_str(), destination.c_str(),
                  static_cast<int>(error));
      return 0;
    }
    context.mediumChanges.push_back("copied " + source + " to " + destination);
    if (!CopyMatchesMedium(context, name, destination)) return 0;
  }
  context.Log("registering updated XML parser\n");
  if (!RegisterServerDll(context, destination)) return 0;
  context.mediumChanges.push_back("registered " + destination);
  return 1;
}

// Only NT 4.0 (and earlier NT) lacks PSAPI. The file is copied when it is
// missing; any other doubt about it is left alone. A failed copy is shown to
// the user in the chosen language: the language table is loaded by now.
int UpdatePsapi(CSetupContext& context) {
  Machine& machine = context.machine();
  if (!IsNtBefore5(machine.environment())) return 1;

  std::string systemDir = SystemDirectory(machine.environment());
  std::string destination = systemDir + "\\psapi.dll";
  std::string source = context.setupDir + "\\psapi.dll";
  if (systemDir.empty()) {
    context.Log("could not get system directory\n");
  } else if (PathFits(context, destination) && PathFits(context, source)) {
    context.Log("checking for PSAPI.DLL at %s\n", destination.c_str());
    DWORD attributes = 0;
    // Present, or unknown for any reason other than its absence: leave it.
    if (machine.files().GetAttributes(destination, &attributes) != ERROR_FILE_NOT_FOUND) return 1;
    if (!context.app().CheckMediumFilesBeforeUse(&kPsapiFile, 1)) return 0;
    DWORD error = machine.files().Copy(source, destination, false);
    if (error == ERROR_SUCCESS) {
      context.mediumChanges.push_back("copied " + source + " to " + destination);
      if (CopyMatchesMedium(context, kPsapiFile, destination)) return 1;
      // Missing before, it is not left behind to be loaded by the next program.
      machine.files().SetAttributes(destination, FILE_ATTRIBUTE_NORMAL);
      machine.files().Delete(destination);
    } else {
      context.Log("copy %s to %s failed - error %d\n", source.c_str(), destination.c_str(),
                  static_cast<int>(error));
    }
  }
  context.app().MessageBox(context.GetText(INITERROR), MB_ICONSTOP);
  return 0;
}

// Loads the library (its own dependencies searched in its folder) and calls
// its DllRegisterServer inside OLE.
int RegisterServerDll(CSetupContext& context, const std::string& path) {
  Com& com = context.machine().com();
  OleScope ole(com);
  UniqueLibrary library(com);
  DWORD error = com.LoadLibraryEx(path, LOAD_WITH_ALTERED_SEARCH_PATH, library.put());
  if (error != ERROR_SUCCESS || !library) {
    context.Log("LoadLibraryEx %s failed - error %d\n", path.c_str(), static_cast<int>(error));
    return 0;
  }
  if (!com.HasExport(library.get(), "DllRegisterServer")) {
    context.Log("DllRegisterServer entry point not found in %s\n", path.c_str());
    return 0;
  }
  if (FAILED(com.CallDllRegisterServer(library.get()))) {
    context.Log("call to DllRegisterServer in %s failed\n", path.c_str());
    return 0;
  }
  return 1;
}

// Deletes a folder with everything in it. A file that stays locked is tried
// five times a second apart and then left, with its folder. A junction or
// other link is removed itself, never followed: what it points at belongs to
// someone else. Folders whose names begin with a full stop are left in place.
void DeleteDirectoryTree(CSetupContext& context, const std::string& path) {
  FileSystem& files = context.machine().files();
  // One trailing backslash is dropped, except from a drive's root (C:\),
  // where "C:" alone would name the drive's current directory instead. The
  // last character is looked at whole: on code page 932 the second byte of
  // 表 (0x95 0x5C) is no backslash.
  const PathChars paths = PathCharsOf(context.machine().environment());
  std::string base = path;
  if (base.size() > 1 && paths.EndsWithSeparator(base) && base[base.size() - 2] != ':') {
    base.pop_back();
  }
  const std::string folder = paths.EndsWithSeparator(base) ? base : base + "\\";

  DWORD attributes = 0;
  if (files.GetAttributes(base, &attributes) == ERROR_SUCCESS &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    files.RemoveDirectory(base);
    return;
  }
  files.SetAttributes(path, FILE_ATTRIBUTE_NORMAL);

  std::string pattern = folder + "*.*";
  UniqueFind search(files);
  FindData entry;
  if (!PathFits(context, pattern) ||
      files.FindFirst(pattern, search.put(), &entry) != ERROR_SUCCESS || !search) {
    context.Log("couldn't read %s directory\n", path.c_str());
    return;
  }
  do {
    std::string fullName = folder + entry.name;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!entry.name.empty() && entry.name[0] == '.') continue;
      if (!PathFits(context, fullName)) continue;
      if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (files.RemoveDirectory(fullName) != ERROR_SUCCESS) {
          context.Log("could not delete %s\n", fullName.c_str());
        }
      } else {
        DeleteDirectoryTree(context, fullName);
      }
      continue;
    }
    if (!PathFits(context, fullName)) continue;
    files.SetAttributes(fullName, FILE_ATTRIBUTE_NORMAL);
    bool deleted = false;
    for (int attempt = 0; attempt < kDeleteAttempts && !deleted; ++attempt) {
      deleted = files.Delete(fullName) == ERROR_SUCCESS;
      if (!deleted) context.machine().environment().Sleep(kDeleteRetryMs);
    }
    if (!deleted) context.Log("could not delete %s\n", fullName.c_str());
  } while (files.FindNext(search.get(), &entry) == ERROR_SUCCESS);
  search.reset();
  files.RemoveDirectory(base);
}
