#include "actions/registry_hives.h"

#include <memory>
#include <new>

#include "actions/launch.h"
#include "analysis/analysis.h"
#include "app/context.h"

namespace {

constexpr char kHiveName[] = "TEMP_HIVE";

}  // namespace

LONG EnumSubKey(Registry& registry, HKEY key, DWORD index, std::string* name,
                std::string* keyClass) {
  char nameBuffer[kKeyNameBuffer] = {};
  char classBuffer[kKeyNameBuffer] = {};
  DWORD nameSize = kKeyNameBuffer;
  DWORD classSize = kKeyNameBuffer;
  LONG rc = registry.EnumKey(key, index, nameBuffer, &nameSize, classBuffer, &classSize);
  if (rc == ERROR_SUCCESS) {
    name->assign(nameBuffer, nameSize);
    keyClass->assign(classBuffer, classSize);
  }
  return rc;
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
    char name[kKeyNameBuffer] = {};
    DWORD nameSize = kKeyNameBuffer;
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
    std::string subKey, keyClass;
    LONG rc = EnumSubKey(registry, source, index, &subKey, &keyClass);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    RegKey copy(registry);
    rc = copy.Create(destination, subKey, KEY_ALL_ACCESS, keyClass);
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
