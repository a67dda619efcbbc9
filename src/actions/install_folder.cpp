#include "actions/install_folder.h"

#include "app/context.h"
#include "platform/path_chars.h"

namespace {

enum class LinkPath { kRead, kUnreadable, kTooLong };

// The Startup folder's shortcut path, without logging.
LinkPath StartupLinkPathOf(Registry& registry, std::string* path) {
  RegKey key(registry);
  std::string folder;
  if (key.Open(HKEY_CURRENT_USER, kShellFoldersKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.QueryString("Startup", MAX_PATH, &folder) != ERROR_SUCCESS || folder.empty()) {
    return LinkPath::kUnreadable;
  }
  // Too long or not, the path is given back: the caller names it in the log.
  *path = folder + kProductLinkName;
  return path->size() >= static_cast<size_t>(MAX_PATH) ? LinkPath::kTooLong : LinkPath::kRead;
}

}  // namespace

bool ReadInstallDir(Registry& registry, std::string* installDir) {
  RegKey key(registry);
  std::string dir;
  if (key.Open(HKEY_CURRENT_USER, kInstallationKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
      key.QueryString("InstallDir", MAX_PATH, &dir) != ERROR_SUCCESS || dir.empty()) {
    return false;
  }
  *installDir = dir;
  return true;
}

bool GetStartupLinkPath(CSetupContext& context, std::string* path) {
  std::string link;
  switch (StartupLinkPathOf(context.machine().registry(), &link)) {
    case LinkPath::kRead:
      *path = link;
      return true;
    case LinkPath::kTooLong:
      context.Log("path too long: %s\n", link.c_str());
      return false;
    case LinkPath::kUnreadable:
      return false;
  }
  return false;
}

bool StartupLinkExists(CSetupContext& context) {
  std::string path;
  if (!GetStartupLinkPath(context, &path)) return false;
  FileSystem& files = context.machine().files();
  UniqueFind search(files);
  FindData found;
  return files.FindFirst(path, search.put(), &found) == ERROR_SUCCESS;
}

HRESULT CComHolder::CreateStartupLink() {
  const std::string description = std::string("Shortcut to ") + kProductProgram;
  std::string installDir;
  if (!ReadInstallDir(machine_.registry(), &installDir)) return E_FAIL;
  // The stored folder ends with a backslash; a second one is not added.
  std::string target = installDir;
  if (!PathCharsOf(machine_.environment()).EndsWithSeparator(target)) target += '\\';
  target += kProductProgram;
  std::string linkPath;
  if (StartupLinkPathOf(machine_.registry(), &linkPath) != LinkPath::kRead) return E_FAIL;
  std::u16string wideLinkPath;
  if (!machine_.environment().AnsiToWide(linkPath, &wideLinkPath)) return E_INVALIDARG;
  return machine_.com().CreateShellLink(target, installDir, description, "AutoStart",
                                        wideLinkPath);
}

