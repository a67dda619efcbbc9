#include "actions/pending_renames.h"

#include <cstring>
#include <vector>

#include "analysis/analysis.h"
#include "app/context.h"
#include "platform/path_chars.h"

namespace {

constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingOperations[] = "PendingFileRenameOperations";

// The names of the pending operations of the next start of Windows, sources
// and targets alike: on NT the pairs of "PendingFileRenameOperations" (a
// source, then its new name or an empty string to delete it; with "\??\" and
// "!" before the names), on Windows 9x the lines "target=source" of
// WININIT.INI's [rename] section ("NUL" as the target deletes; the names are
// short ones, and the section's name is matched without regard to case).
std::vector<std::string> RestartFileNames(CSetupContext& context) {
  std::vector<std::string> names;
  if (!IsWin9xPlatform(context.machine().environment())) {
    Registry& registry = context.machine().registry();
    RegKey key(registry);
    DWORD type = 0, size = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        registry.QueryValue(key.get(), kPendingOperations, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0) {
      return names;
    }
    std::vector<BYTE> data(size + 2, 0);
    if (registry.QueryValue(key.get(), kPendingOperations, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      return names;
    }
    const char* text = reinterpret_cast<const char*>(data.data());
    for (size_t at = 0; at < size && at < data.size();) {
      std::string name(text + at, strnlen(text + at, data.size() - at));
      at += name.size() + 1;
      if (!name.empty() && name[0] == '!') name.erase(0, 1);
      if (name.rfind("\\??\\", 0) == 0) name.erase(0, 4);
      if (!name.empty()) names.push_back(name);
    }
    return names;
  }
  std::string ini;
  if (context.windowsDir.empty() ||
      context.machine().files().ReadFile(context.windowsDir + "\\WININIT.INI", &ini) !=
          ERROR_SUCCESS) {
    return names;
  }
  Environment& environment = context.machine().environment();
  bool inRename = false;
  size_t from = 0;
  while (from < ini.size()) {
    size_t end = ini.find('\n', from);
    if (end == std::string::npos) end = ini.size();
    std::string line = ini.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inRename = line.size() == 8 && environment.CompareNoCase(line, "[rename]", 8) == 0;
      continue;
    }
    const size_t equals = line.find('=');
    if (!inRename || equals == std::string::npos) continue;
    names.push_back(line.substr(equals + 1));
    const std::string target = line.substr(0, equals);
    if (!(target.size() == 3 && environment.CompareNoCase(target, "NUL", 3) == 0)) {
      names.push_back(target);
    }
  }
  return names;
}

// A path in its long form where Windows can give it, with runs of
// backslashes made one ("%s\%s" of a folder that ends with one), for
// comparing.
std::string LongForm(CSetupContext& context, const std::string& path) {
  std::string longPath;
  if (context.machine().files().GetLongPathName(path, &longPath) != ERROR_SUCCESS ||
      longPath.empty()) {
    longPath = path;
  }
  // Character by character: the backslash after 表 (0x95 0x5C) is a separator of its own.
  const PathChars paths = PathCharsOf(context.machine().environment());
  std::string single;
  for (size_t i = 0; i < longPath.size();) {
    const size_t next = paths.Next(longPath, i);
    if (!(longPath[i] == '\\' && paths.EndsWithSeparator(single))) single.append(longPath, i, next - i);
    i = next;
  }
  return single;
}

}  // namespace

bool RestartChangesFile(CSetupContext& context, const std::string& path) {
  const std::vector<std::string> names = RestartFileNames(context);
  if (names.empty()) return false;
  Environment& environment = context.machine().environment();
  const std::string wanted = LongForm(context, path);
  for (const std::string& name : names) {
    const std::string candidate = LongForm(context, name);
    if (candidate.size() == wanted.size() &&
        environment.CompareNoCase(candidate, wanted, wanted.size()) == 0) {
      return true;
    }
  }
  return false;
}
