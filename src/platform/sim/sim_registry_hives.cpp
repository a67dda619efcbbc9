// The simulated registry's hive files: RegSaveKey and RegRestoreKey, and the
// hives that RegLoadKey loads and RegUnLoadKey unloads, kept in files of the
// simulated file system while the privileges they need are held.
//
// A hive file is JSON text: {"zentavoSimHive": 1, "class": "...", "values":
// {...}, "keys": {"Name": {"class", "values", "keys"}}}, values in the forms of
// the machine format.
#include <string>

#include "platform/sim/sim_files.h"
#include "platform/sim/sim_registry.h"

namespace {

constexpr DWORD kRegForceRestore = 8u;
constexpr uint64_t kHiveFormat = 1;

}  // namespace

SimJson SimRegistry::HiveToJson(const SimRegKey& key) const {
  SimJson out = SimJson::object();
  if (!key.keyClass.empty()) out["class"] = codePage_.ToUtf8(key.keyClass);
  SimJson values = SimJson::object();
  for (const SimRegValue& value : key.values) {
    values[codePage_.ToUtf8(value.name)] = ValueToJson(value);
  }
  out["values"] = std::move(values);
  SimJson keys = SimJson::object();
  for (const auto& [folded, child] : key.subkeys) {
    keys[codePage_.ToUtf8(child->name)] = HiveToJson(*child);
  }
  out["keys"] = std::move(keys);
  return out;
}

bool SimRegistry::HiveFromJson(const SimJson& json, const std::string& pointer, SimRegKey* key,
                               std::string* error) const {
  if (!CheckObject(json, pointer, {"zentavoSimHive", "class", "values", "keys"}, error)) {
    return false;
  }
  if (json.contains("class")) {
    std::string keyClass;
    if (!ReadString(json["class"], JsonPointer(pointer, "class"), &keyClass, error)) return false;
    key->keyClass = codePage_.FromUtf8(keyClass);
  }
  if (json.contains("values")) {
    const SimJson& values = json["values"];
    std::string valuesPointer = JsonPointer(pointer, "values");
    if (!values.is_object()) return Fail(valuesPointer, "expected an object", error);
    for (auto it = values.begin(); it != values.end(); ++it) {
      SimRegValue value;
      if (!ValueFromJson(it.value(), JsonPointer(valuesPointer, it.key()), &value, error)) {
        return false;
      }
      value.name = codePage_.FromUtf8(it.key());
      key->values.push_back(std::move(value));
    }
  }
  if (json.contains("keys")) {
    const SimJson& keys = json["keys"];
    std::string keysPointer = JsonPointer(pointer, "keys");
    if (!keys.is_object()) return Fail(keysPointer, "expected an object", error);
    for (auto it = keys.begin(); it != keys.end(); ++it) {
      auto child = std::make_shared<SimRegKey>();
      child->name = codePage_.FromUtf8(it.key());
      child->parent = key;
      if (!HiveFromJson(it.value(), JsonPointer(keysPointer, it.key()), child.get(), error)) {
        return false;
      }
      key->subkeys[Fold(child->name)] = child;
    }
  }
  return true;
}

LONG SimRegistry::ReadHive(const std::string& file, SimRegKey* into) const {
  if (!files_) return ERROR_FILE_NOT_FOUND;
  std::string bytes;
  DWORD rc = files_->ReadFile(file, &bytes);
  if (rc != ERROR_SUCCESS) return static_cast<LONG>(rc);
  SimJson json;
  std::string error;
  if (!ParseJsonText(bytes, &json, &error) || !json.is_object() ||
      !json.contains("zentavoSimHive") || json["zentavoSimHive"] != kHiveFormat) {
    return ERROR_BADDB;
  }
  SimRegKey parsed;
  if (!HiveFromJson(json, "", &parsed, &error)) return ERROR_BADDB;
  into->keyClass = parsed.keyClass;
  into->values = std::move(parsed.values);
  for (auto& [folded, child] : parsed.subkeys) child->parent = into;
  into->subkeys = std::move(parsed.subkeys);
  return ERROR_SUCCESS;
}

LONG SimRegistry::WriteHive(const SimRegKey& key, const std::string& file) {
  if (!files_) return ERROR_PATH_NOT_FOUND;
  SimJson json = SimJson::object();
  json["zentavoSimHive"] = kHiveFormat;
  SimJson body = HiveToJson(key);
  for (auto it = body.begin(); it != body.end(); ++it) json[it.key()] = it.value();
  return static_cast<LONG>(files_->WriteFile(file, json.dump(1) + "\n"));
}

LONG SimRegistry::CheckPrivileges(bool backup, bool restore) const {
  if (!privilegeHeld_) return ERROR_SUCCESS;
  if ((backup && !privilegeHeld_("SeBackupPrivilege")) ||
      (restore && !privilegeHeld_("SeRestorePrivilege"))) {
    return 1314;  // ERROR_PRIVILEGE_NOT_HELD
  }
  return ERROR_SUCCESS;
}

LONG SimRegistry::SaveKey(HKEY key, const std::string& file) {
  if (LONG rc = CheckPrivileges(true, false)) return rc;
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!files_) return ERROR_PATH_NOT_FOUND;
  DWORD attributes = 0;
  DWORD probe = files_->GetAttributes(file, &attributes);
  if (probe == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;
  if (probe != ERROR_FILE_NOT_FOUND) return static_cast<LONG>(probe);
  rc = WriteHive(*node, file);
  // Windows 9x's RegSaveKey leaves its file read-only, hidden and system.
  if (rc == ERROR_SUCCESS && NineX()) {
    files_->SetAttributes(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  }
  return rc;
}

LONG SimRegistry::RestoreKey(HKEY key, const std::string& file, DWORD flags) {
  if (LONG rc = CheckPrivileges(false, true)) return rc;
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (EffectiveDeny(node.get()) != SimRegKey::kDenyNone) return ERROR_ACCESS_DENIED;
  SimRegKey restored;
  rc = ReadHive(file, &restored);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(flags & kRegForceRestore) && HandlesAtOrBelow(node.get(), key)) {
    return ERROR_ACCESS_DENIED;
  }
  for (auto& [folded, child] : node->subkeys) MarkDeleted(child.get());
  node->values = std::move(restored.values);
  node->subkeys = std::move(restored.subkeys);
  for (auto& [folded, child] : node->subkeys) child->parent = node.get();
  if (!restored.keyClass.empty()) node->keyClass = restored.keyClass;
  return ERROR_SUCCESS;
}

LONG SimRegistry::LoadKey(HKEY key, const std::string& subKey, const std::string& file) {
  if (LONG rc = CheckPrivileges(true, true)) return rc;
  if (key != HKEY_USERS && key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
  if (subKey.empty() || subKey.find('\\') != std::string::npos) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<SimRegKey> root = Root(key);
  if (root->subkeys.count(Fold(subKey))) return ERROR_ALREADY_EXISTS;
  auto hive = std::make_shared<SimRegKey>();
  LONG rc = ReadHive(file, hive.get());
  if (rc != ERROR_SUCCESS) return rc;
  hive->name = subKey;
  hive->parent = root.get();
  hive->hiveFile = file;
  root->subkeys[Fold(subKey)] = hive;
  // Windows keeps a loaded hive's file open without sharing.
  files_->Lock(file, ERROR_SHARING_VIOLATION, std::nullopt);
  return ERROR_SUCCESS;
}

LONG SimRegistry::UnLoadKey(HKEY key, const std::string& subKey) {
  if (LONG rc = CheckPrivileges(true, true)) return rc;
  if (key != HKEY_USERS && key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<SimRegKey> root = Root(key);
  auto it = root->subkeys.find(Fold(subKey));
  if (subKey.empty() || it == root->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  std::shared_ptr<SimRegKey> hive = it->second;
  if (hive->hiveFile.empty()) return ERROR_INVALID_PARAMETER;
  if (HandlesAtOrBelow(hive.get(), nullptr)) return ERROR_ACCESS_DENIED;
  files_->Unlock(hive->hiveFile);
  // The hive's file was opened for writing when it was loaded: its
  // attributes (RegSaveKey's read-only, hidden and system on 9x) do not stop
  // the write-back, and stay as they were.
  DWORD attributes = 0;
  const bool kept = files_->GetAttributes(hive->hiveFile, &attributes) == ERROR_SUCCESS;
  if (kept) files_->SetAttributes(hive->hiveFile, FILE_ATTRIBUTE_NORMAL);
  LONG rc = WriteHive(*hive, hive->hiveFile);
  if (kept) files_->SetAttributes(hive->hiveFile, attributes);
  if (rc != ERROR_SUCCESS) {
    files_->Lock(hive->hiveFile, ERROR_SHARING_VIOLATION, std::nullopt);
    return rc;
  }
  root->subkeys.erase(it);
  MarkDeleted(hive.get());
  return ERROR_SUCCESS;
}
