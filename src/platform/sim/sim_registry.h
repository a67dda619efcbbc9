// The simulated registry: four independent trees (HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS) with case-insensitive
// names that keep their case, typed values in insertion order, per-handle
// access rights, keys that refuse access ("$deny"), and hive files kept in
// the simulated file system. Every call answers with the code Windows gives.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_json.h"

class SimFileSystem;

struct SimRegValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // the raw bytes, as RegSetValueEx received them
};

struct SimRegKey {
  enum Deny { kDenyNone = 0, kDenyWrite = 1, kDenyAll = 2 };
  std::string name;
  std::string keyClass;
  std::vector<SimRegValue> values;
  std::map<std::string, std::shared_ptr<SimRegKey>> subkeys;  // by upper-cased name
  SimRegKey* parent = nullptr;
  bool deleted = false;
  int deny = kDenyNone;  // applies to this key and everything below it
  std::string hiveFile;  // the file of a loaded hive (its top key only)
};

class SimRegistry : public Registry {
 public:
  explicit SimRegistry(const SimCodePage& codePage);
  ~SimRegistry() override;
  // Hive files of SaveKey, RestoreKey, LoadKey and UnLoadKey live here.
  void AttachFiles(SimFileSystem* files) { files_ = files; }

  // Adds the keys of a "registry" section of the machine format.
  bool Load(const SimJson& section, const std::string& pointer, std::string* error);
  SimJson ToJson() const;

  // Handles handed out and not closed yet (a test asserts none leaked).
  size_t openKeyCount() const { return handles_.size(); }

  // Direct access by full path ("HKLM\SOFTWARE\..."), for tests and the runner.
  bool KeyExists(const std::string& keyPath) const;
  bool GetValue(const std::string& keyPath, const std::string& name, DWORD* type,
                std::string* data) const;
  // REG_SZ / REG_EXPAND_SZ text up to its first zero; nullopt when absent.
  std::optional<std::string> GetString(const std::string& keyPath, const std::string& name) const;
  std::optional<DWORD> GetDword(const std::string& keyPath, const std::string& name) const;
  // Creates the key path as needed; false for an unknown root.
  bool SetValue(const std::string& keyPath, const std::string& name, DWORD type,
                const std::string& data);
  bool SetString(const std::string& keyPath, const std::string& name, const std::string& text) {
    return SetValue(keyPath, name, REG_SZ, text + std::string(1, '\0'));
  }
  // Removes a key with everything below it; false when absent.
  bool RemoveTree(const std::string& keyPath);

  // Registry
  LONG OpenKey(HKEY key, const std::string& subKey, REGSAM access, HKEY* result) override;
  LONG CreateKey(HKEY key, const std::string& subKey, const std::string& keyClass, DWORD options,
                 REGSAM access, HKEY* result, DWORD* disposition) override;
  LONG CloseKey(HKEY key) override;
  LONG QueryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data,
                  DWORD* size) override;
  LONG SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data,
                DWORD size) override;
  LONG DeleteValue(HKEY key, const std::string& name) override;
  LONG DeleteKey(HKEY key, const std::string& subKey) override;
  LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize, char* keyClass,
               DWORD* classSize) override;
  LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                 DWORD* dataSize) override;
  LONG QueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                    DWORD* maxValueNameLen, DWORD* maxValueLen) override;
  LONG SaveKey(HKEY key, const std::string& file) override;
  LONG RestoreKey(HKEY key, const std::string& file, DWORD flags) override;
  LONG LoadKey(HKEY key, const std::string& subKey, const std::string& file) override;
  LONG UnLoadKey(HKEY key, const std::string& subKey) override;

  // The value forms of the machine format, shared with hive files and with
  // a library's "registers" section.
  bool ValueFromJson(const SimJson& value, const std::string& pointer, SimRegValue* out,
                     std::string* error) const;
  SimJson ValueToJson(const SimRegValue& value) const;

 // On the NT family the hive operations need privileges of the caller's
  // token: RegSaveKey SeBackupPrivilege, RegRestoreKey SeRestorePrivilege,
  // RegLoadKey and RegUnLoadKey both; without them they fail with 1314
  // (ERROR_PRIVILEGE_NOT_HELD). `held` answers whether a privilege is
  // enabled; none attached (Windows 9x, or a registry of its own) checks nothing.
  void AttachPrivileges(std::function<bool(const char* privilege)> held) {
    privilegeHeld_ = std::move(held);
  }
  // Windows 95, 98 and Me keep no security on keys: a handle may do whatever
  // its key allows, whatever rights it was opened with, and RegDeleteKey
  // removes a key with everything below it. `nineX` answers whether the
  // machine is one of them; none attached acts as the NT family.
  void AttachPlatform(std::function<bool()> nineX) { nineX_ = std::move(nineX); }

 private:
  // 0, or ERROR_PRIVILEGE_NOT_HELD when one of the privileges is not enabled.
  LONG CheckPrivileges(bool backup, bool restore) const;
  std::function<bool(const char*)> privilegeHeld_;
  std::function<bool()> nineX_;
  bool NineX() const { return nineX_ && nineX_(); }
  struct Handle {
    std::shared_ptr<SimRegKey> key;
    REGSAM access = 0;
  };

  std::shared_ptr<SimRegKey> Root(HKEY key) const;
  // The key behind a handle or root, with the access it was opened with.
  LONG Resolve(HKEY key, std::shared_ptr<SimRegKey>* node, REGSAM* access) const;
  std::shared_ptr<SimRegKey> Walk(const std::shared_ptr<SimRegKey>& from,
                                  const std::vector<std::string>& parts) const;
  std::shared_ptr<SimRegKey> FindPath(const std::string& keyPath) const;
  std::shared_ptr<SimRegKey> CreatePath(const std::string& keyPath);
  HKEY NewHandle(const std::shared_ptr<SimRegKey>& key, REGSAM access);
  int EffectiveDeny(const SimRegKey* key) const;
  bool Denied(const SimRegKey* key, REGSAM mapped) const;
  // The value of that name, without regard to case; null when absent.
  SimRegValue* FindValue(SimRegKey& key, const std::string& name) const;
  void PutValue(SimRegKey& key, SimRegValue value) const;
  bool HandlesAtOrBelow(const SimRegKey* key, HKEY except) const;
  static void MarkDeleted(SimRegKey* key);
  SimJson HiveToJson(const SimRegKey& key) const;
  bool HiveFromJson(const SimJson& json, const std::string& pointer, SimRegKey* key,
                    std::string* error) const;
  LONG ReadHive(const std::string& file, SimRegKey* into) const;
  LONG WriteHive(const SimRegKey& key, const std::string& file);
  void KeyToJson(const SimRegKey& key, const std::string& path, SimJson* out) const;
  std::string Fold(const std::string& name) const { return codePage_.Upper(name); }

  const SimCodePage& codePage_;
  SimFileSystem* files_ = nullptr;
  std::shared_ptr<SimRegKey> roots_[4];
  std::map<uintptr_t, Handle> handles_;
  uintptr_t nextHandle_ = 0x1000;
};
