// Component version checks: the file-version text of a file, the browser
// version, and the analysis steps that decide whether Windows Installer, the
// run-time libraries and the media player must be brought up to date.
#include "analysis/analysis.h"

#include "platform/ascii.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/context.h"

namespace {

const char kMsiRequiredVersion[] = "1.20.1827.0";
const char kMediaPlayerRequiredVersion[] = "7";
const char kMediaPlayerAppPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe";
// CheckRuntimeLibraries and CheckMediaPlayer read versions into 256 bytes.
constexpr size_t kVersionBufferSize = 256;
constexpr DWORD kPathBufferSize = MAX_PATH;

struct Translation {
  WORD language = 0;
  WORD codePage = 0;
};

// "\VarFileInfo\Translation": 4-byte entries, language then code page,
// little-endian; empty when the query fails.
std::vector<Translation> QueryTranslations(VersionResource& resource) {
  std::vector<Translation> list;
  std::string raw;
  if (!resource.QueryValue("\\VarFileInfo\\Translation", &raw)) return list;
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
    Translation entry;
    entry.language = static_cast<WORD>(bytes[i] | (bytes[i + 1] << 8));
    entry.codePage = static_cast<WORD>(bytes[i + 2] | (bytes[i + 3] << 8));
    list.push_back(entry);
  }
  return list;
}

std::string FileVersionKey(WORD language, WORD codePage) {
  char key[64];
  snprintf(key, sizeof(key), "\\StringFileInfo\\%04x%04x\\FileVersion",
           static_cast<unsigned>(language), static_cast<unsigned>(codePage));
  return key;
}

// One field of a version text: its leading digits and whatever follows them.
struct VersionField {
  std::string digits;  // without leading zeros
  std::string rest;
  bool numeric = false;  // the field begins with a digit
};

VersionField SplitField(const std::string& text) {
  VersionField field;
  size_t i = 0;
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) ++i;
  field.numeric = i > 0;
  size_t first = 0;
  while (first + 1 < i && text[first] == '0') ++first;
  field.digits = text.substr(first, i - first);
  field.rest = text.substr(i);
  return field;
}

std::vector<std::string> SplitVersion(const std::string& text) {
  std::vector<std::string> fields;
  if (text.empty()) return fields;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.' || text[i] == ',') {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

int CompareBytes(const std::string& a, const std::string& b, bool ignoreCase) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(a[i]);
    int cb = static_cast<unsigned char>(b[i]);
    if (ignoreCase) {
      ca = AsciiLower(ca);
      cb = AsciiLower(cb);
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Digit strings without leading zeros: the longer is the larger, so numbers
// of any length compare without overflow.
int CompareDigits(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return CompareBytes(a, b, false);
}

}  // namespace

// Versions are compared field by field (fields end at "." or ","), each by
// its number, so that "10.0" is above "4.71" and "6.00.8797.0" equals
// "6.0.8797.0". A missing field counts as 0. Text after a field's digits, as
// in "5.1.2600.2180 (xpsp.040803-2158)", decides only between equal numbers;
// a field that does not begin with a digit is compared byte by byte
// (without regard to case when asked).
int CompareVersions(const std::string& a, const std::string& b, bool ignoreCase) {
  std::vector<std::string> left = SplitVersion(a);
  std::vector<std::string> right = SplitVersion(b);
  size_t count = left.size() > right.size() ? left.size() : right.size();
  for (size_t i = 0; i < count; ++i) {
    std::string fieldA = i < left.size() ? left[i] : "0";
    std::string fieldB = i < right.size() ? right[i] : "0";
    VersionField x = SplitField(fieldA);
    VersionField y = SplitField(fieldB);
    int result;
    if (x.numeric && y.numeric) {
      result = CompareDigits(x.digits, y.digits);
      if (result == 0) result = CompareBytes(x.rest, y.rest, ignoreCase);
    } else {
      result = CompareBytes(fieldA, fieldB, ignoreCase);
    }
    if (result != 0) return result;
  }
  return 0;
}

// Tries each translation of the resource in turn: first its own code page,
// then the Western code page 04e4, which many files use for their string
// table whatever their translation entry says.
bool GetFileVersionString(Machine& machine, const std::string& path, std::string* version,
                          size_t bufferSize) {
  VersionInfo& versions = machine.versions();
  DWORD lastError = 0;
  if (versions.GetInfoSize(path, &lastError) == 0) return false;
  std::unique_ptr<VersionResource> resource;
  if (versions.GetInfo(path, &resource) != ERROR_SUCCESS || !resource) return false;

  for (const Translation& entry : QueryTranslations(*resource)) {
    std::string text;
    if (resource->QueryValue(FileVersionKey(entry.language, entry.codePage), &text) ||
        resource->QueryValue(FileVersionKey(entry.language, 0x04e4), &text)) {
      if (bufferSize > 0 && text.size() >= bufferSize) text.resize(bufferSize - 1);
      *version = text;
      return true;
    }
  }
  return false;
}

std::string GetIEVersion(Machine& machine) {
  RegKey key(machine.registry());
  std::string version;
  if (key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer", KEY_READ) ==
      ERROR_SUCCESS) {
    if (key.QueryString("Version", 256, &version) != ERROR_SUCCESS) version.clear();
  }
  return version;
}

bool PathFits(CSetupContext& context, const std::string& path) {
  if (path.size() < static_cast<size_t>(MAX_PATH)) return true;
  context.Log("path too long: %s\n", path.c_str());
  return false;
}

// Reads msiexec.exe's version from the first translation only. Every failure
// to read it leaves the update needed, on Windows 2000 and XP as well; a
// missing program also clears msiPresent.
int CSetupContext::CheckMsi() {
  msiPresent = 1;
  msiUpdateNeeded = 1;
  VersionInfo& versions = machine().versions();
  std::string path = systemDir + "\\msiexec.exe";
  std::unique_ptr<VersionResource> resource;
  std::string version;
  bool read = false;

  if (!PathFits(*this, path)) {
    msiVersion = "0";
  } else if (DWORD lastError = 0; versions.GetInfoSize(path, &lastError) == 0) {
    Log("unable to retrieve MSI version info size\n");
    if (lastError == ERROR_FILE_NOT_FOUND) {
      Log("MSI is not present on this system\n");
      msiPresent = 0;
    }
    msiVersion = "0";
  } else if (versions.GetInfo(path, &resource) != ERROR_SUCCESS || !resource) {
    Log("unable to retrieve MSI version information\n");
    msiVersion = "0";
  } else {
    std::vector<Translation> translations = QueryTranslations(*resource);
    if (!translations.empty() &&
        resource->QueryValue(
            FileVersionKey(translations[0].language, translations[0].codePage), &version)) {
      read = true;
    } else {
      Log("could not query MSI version information\n");
      msiVersion = "0";
    }
  }

  if (read) {
    msiVersion = version;
    if (isWin2000) {
      Log("existing MSI version is %s - MSI will not be updated on Windows 2000\n",
          msiVersion.c_str());
      msiUpdateNeeded = 0;
    } else {
      Log("existing MSI version is %s (%s required)\n", msiVersion.c_str(), kMsiRequiredVersion);
      if (CompareVersions(msiVersion, kMsiRequiredVersion, false) >= 0) msiUpdateNeeded = 0;
    }
  }
  Log(msiUpdateNeeded ? "MSI will be updated\n" : "MSI will not be updated\n");
  return 1;
}

namespace {

struct RuntimeLibrary {
  const char* fileName;
  const char* requiredVersion;
  int CSetupContext::*condition;  // the row is tested when this flag is 1
};

const RuntimeLibrary RuntimeLibraryTable[] = {
    {"OLEPRO32.DLL", "5.0.4275", &CSetupContext::needsRuntimeCheck},
    {"OLEAUT32.DLL", "2.40.4275", &CSetupContext::needsRuntimeCheck},
    {"MSVCRT.DLL", "6.0.8797.0", &CSetupContext::needsRuntimeCheck},
    {"MSVCP60.DLL", "6.0.8168.0", &CSetupContext::needsRuntimeCheck},
    {"MSVCIRT.DLL", "6.0.8168.0", &CSetupContext::needsRuntimeCheck},
    {"MFC42U.DLL", "6.0.8665.0", &CSetupContext::isWinNT4},
    {"MFC42.DLL", "6.0.8665.0", &CSetupContext::needsRuntimeCheck},
    {"COMCAT.DLL", "4.71", &CSetupContext::needsRuntimeCheck},
    {"ADVPACK.DLL", "4.71.1015.1", &CSetupContext::needsRuntimeCheck},
    {"ASYCFILT.DLL", "2.40.4275", &CSetupContext::needsRuntimeCheck},
    {"ATL.DLL", "3.0.8449", &CSetupContext::needsRuntimeCheck},
};

}  // namespace

// Checks every library whose row applies to this system (none on Me, 2000
// and XP) and logs each one, even after one has been found out of date.
int CSetupContext::CheckRuntimeLibraries() {
  runtimeUpdateNeeded = 0;
  for (const RuntimeLibrary& row : RuntimeLibraryTable) {
    if (this->*row.condition != 1) continue;
    std::string path = systemDir + "\\" + row.fileName;
    std::string version;
    if (PathFits(*this, path) &&
        GetFileVersionString(machine(), path, &version, kVersionBufferSize)) {
      Log("%s version %s (%s required)\n", path.c_str(), version.c_str(), row.requiredVersion);
      if (CompareVersions(version, row.requiredVersion, true) < 0) runtimeUpdateNeeded = 1;
    } else {
      Log("could not retrieve version information for %s\n", path.c_str());
      runtimeUpdateNeeded = 1;
    }
  }
  Log(runtimeUpdateNeeded ? "run-time libraries will be updated\n"
                          : "run-time libraries will not be updated\n");
  return 1;
}

// Finds the media player through its App Paths entry, or as wmplayer.exe in
// the system directory, and notes an update below version 7. NT 4.0 is left
// alone.
int CSetupContext::CheckMediaPlayer() {
  if (isWinNT4) {
    Log("MediaPlayer will not be updated on Windows NT\n");
    mediaPlayerUpdateNeeded = 0;
    return 1;
  }
  RegKey key(machine().registry());
  std::string path;
  if (key.Open(HKEY_LOCAL_MACHINE, kMediaPlayerAppPath, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    if (key.QueryString("", kPathBufferSize, &path) != ERROR_SUCCESS) path.clear();
  }
  if (path.empty()) path = systemDir + "\\wmplayer.exe";
  if (isWin9x) {
    std::string longPath;
    if (machine().files().GetLongPathName(path, &longPath) == ERROR_SUCCESS &&
        !longPath.empty()) {
      path = longPath;
    }
  }

  std::string version;
  bool fits = PathFits(*this, path);
  if (fits) Log("media player path: %s\n", path.c_str());
  if (fits && GetFileVersionString(machine(), path, &version, kVersionBufferSize)) {
    Log("MediaPlayer version %s installed\n", version.c_str());
    mediaPlayerVersion = version;
    if (CompareVersions(version, kMediaPlayerRequiredVersion, false) < 0) {
      Log("MediaPlayer must be updated\n");
      mediaPlayerUpdateNeeded = 1;
    }
  } else {
    Log("could not determine MediaPlayer version\n");
    mediaPlayerUpdateNeeded = 1;
  }
  return 1;
}

int CSetupContext::PassCheck() { return 1; }
