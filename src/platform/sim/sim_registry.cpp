#include "platform/sim/sim_registry.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr REGSAM kDelete = 0x00010000u;
constexpr REGSAM kWriteDac = 0x00040000u;
constexpr REGSAM kWriteOwner = 0x00080000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kFullAccess = KEY_ALL_ACCESS | kWriteDac | kWriteOwner;
constexpr REGSAM kWriteBits =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDelete | kWriteDac | kWriteOwner;
constexpr LONG kErrorNoAccess = 998;  // ERROR_NOACCESS: a bad buffer

const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                   "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
const char* const kRootShortNames[4] = {"HKCR", "HKCU", "HKLM", "HKU"};

struct TypeName {
  DWORD type;
  const char* name;
};
const TypeName kTypeNames[] = {{0, "REG_NONE"},      {1, "REG_SZ"},
                               {2, "REG_EXPAND_SZ"}, {3, "REG_BINARY"},
                               {4, "REG_DWORD"},     {5, "REG_DWORD_BIG_ENDIAN"},
                               {6, "REG_LINK"},      {7, "REG_MULTI_SZ"},
                               {11, "REG_QWORD"}};

// Maps the generic rights onto the key rights, as the object manager does.
REGSAM MapAccess(REGSAM access) {
  REGSAM mapped = access & ~(kGenericAll | kGenericExecute | kGenericWrite | kGenericRead |
                             kMaximumAllowed);
  if (access & (kGenericAll | kMaximumAllowed)) mapped |= kFullAccess;
  if (access & (kGenericRead | kGenericExecute)) mapped |= KEY_READ;
  if (access & kGenericWrite) mapped |= KEY_WRITE;
  return mapped;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

int RootIndexOf(const std::string& name) {
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(name.c_str(), kRootNames[i]) == 0 ||
        strcasecmp(name.c_str(), kRootShortNames[i]) == 0) {
      return i;
    }
  }
  return -1;
}

void PutDword(std::string* data, DWORD value) {
  for (int i = 0; i < 4; ++i) data->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

DWORD GetDwordLe(const std::string& data) {
  DWORD value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

bool IsCString(const std::string& data) {
  return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1;
}

}  // namespace

SimRegistry::SimRegistry(const SimCodePage& codePage) : codePage_(codePage) {
  for (int i = 0; i < 4; ++i) {
    roots_[i] = std::make_shared<SimRegKey>();
    roots_[i]->name = kRootNames[i];
  }
}

SimRegistry::~SimRegistry() = default;

std::shared_ptr<SimRegKey> SimRegistry::Root(HKEY key) const {
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  if (value >= 0x80000000u && value <= 0x80000003u) return roots_[value - 0x80000000u];
  return nullptr;
}

LONG SimRegistry::Resolve(HKEY key, std::shared_ptr<SimRegKey>* node, REGSAM* access) const {
  if (auto root = Root(key)) {
    *node = root;
    *access = kFullAccess;
    return ERROR_SUCCESS;
  }
  auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  if (it->second.key->deleted) return ERROR_KEY_DELETED;
  *node = it->second.key;
  *access = NineX() ? kFullAccess : it->second.access;
  return ERROR_SUCCESS;
}

std::shared_ptr<SimRegKey> SimRegistry::Walk(const std::shared_ptr<SimRegKey>& from,
                                             const std::vector<std::string>& parts) const {
  std::shared_ptr<SimRegKey> node = from;
  for (const std::string& part : parts) {
    auto it = node->subkeys.find(Fold(part));
    if (it == node->subkeys.end()) return nullptr;
    node = it->second;
  }
  return node;
}

std::shared_ptr<SimRegKey> SimRegistry::FindPath(const std::string& keyPath) const {
  std::vector<std::string> parts = SplitKeyPath(keyPath);
  if (parts.empty()) return nullptr;
  int root = RootIndexOf(parts[0]);
  if (root < 0) return nullptr;
  parts.erase(parts.begin());
  return Walk(roots_[root], parts);
}

std::shared_ptr<SimRegKey> SimRegistry::CreatePath(const std::string& keyPath) {
  std::vector<std::string> parts = SplitKeyPath(keyPath);
  if (parts.empty()) return nullptr;
  int root = RootIndexOf(parts[0]);
  if (root < 0) return nullptr;
  std::shared_ptr<SimRegKey> node = roots_[root];
  for (size_t i = 1; i < parts.size(); ++i) {
    auto& slot = node->subkeys[Fold(parts[i])];
    if (!slot) {
      slot = std::make_shared<SimRegKey>();
      slot->name = parts[i];
      slot->parent = node.get();
    }
    node = slot;
  }
  return node;
}

HKEY SimRegistry::NewHandle(const std::shared_ptr<SimRegKey>& key, REGSAM access) {
  uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_[value] = Handle{key, access};
  return reinterpret_cast<HKEY>(value);
}

SimRegValue* SimRegistry::FindValue(SimRegKey& key, const std::string& name) const {
  std::string folded = Fold(name);
  for (SimRegValue& value : key.values) {
    if (Fold(value.name) == folded) return &value;
  }
  return nullptr;
}

// Replaces the value of that name in place (keeping its position and the
// case of its name) or adds it at the end.
void SimRegistry::PutValue(SimRegKey& key, SimRegValue value) const {
  if (SimRegValue* existing = FindValue(key, value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    key.values.push_back(std::move(value));
  }
}

// Opening with rights the key's "$deny" (or an ancestor's) withholds.
bool SimRegistry::Denied(const SimRegKey* key, REGSAM mapped) const {
  int deny = EffectiveDeny(key);
  return deny == SimRegKey::kDenyAll || (deny == SimRegKey::kDenyWrite && (mapped & kWriteBits));
}

int SimRegistry::EffectiveDeny(const SimRegKey* key) const {
  int deny = SimRegKey::kDenyNone;
  for (const SimRegKey* k = key; k; k = k->parent) deny = std::max(deny, k->deny);
  return deny;
}

bool SimRegistry::HandlesAtOrBelow(const SimRegKey* key, HKEY except) const {
  for (const auto& [value, handle] : handles_) {
    if (value == reinterpret_cast<uintptr_t>(except)) continue;
    for (const SimRegKey* k = handle.key.get(); k; k = k->parent) {
      if (k == key) return true;
    }
  }
  return false;
}

// A removed key stays alive while handles hold it; it is cut from the tree
// so that no handle can reach a parent that has gone.
void SimRegistry::MarkDeleted(SimRegKey* key) {
  key->deleted = true;
  key->parent = nullptr;
  for (auto& [name, child] : key->subkeys) MarkDeleted(child.get());
}

LONG SimRegistry::OpenKey(HKEY key, const std::string& subKey, REGSAM access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<SimRegKey> parent;
  REGSAM parentAccess = 0;
  LONG rc = Resolve(key, &parent, &parentAccess);
  if (rc != ERROR_SUCCESS) return rc;
  if (!subKey.empty() && subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  std::shared_ptr<SimRegKey> node = Walk(parent, SplitKeyPath(subKey));
  if (!node) return ERROR_FILE_NOT_FOUND;
  REGSAM mapped = MapAccess(access);
  if (Denied(node.get(), mapped)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(node, mapped);
  return ERROR_SUCCESS;
}

LONG SimRegistry::CreateKey(HKEY key, const std::string& subKey, const std::string& keyClass,
                            DWORD /*options*/, REGSAM access, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<SimRegKey> node;
  REGSAM parentAccess = 0;
  LONG rc = Resolve(key, &node, &parentAccess);
  if (rc != ERROR_SUCCESS) return rc;
  if (!subKey.empty() && subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  bool created = false;
  for (const std::string& part : SplitKeyPath(subKey)) {
    auto it = node->subkeys.find(Fold(part));
    if (it != node->subkeys.end()) {
      node = it->second;
      continue;
    }
    if (EffectiveDeny(node.get()) != SimRegKey::kDenyNone) return ERROR_ACCESS_DENIED;
    auto child = std::make_shared<SimRegKey>();
    child->name = part;
    child->parent = node.get();
    node->subkeys[Fold(part)] = child;
    node = child;
    created = true;
  }
  REGSAM mapped = MapAccess(access);
  if (Denied(node.get(), mapped)) return ERROR_ACCESS_DENIED;
  if (created) node->keyClass = keyClass;
  *result = NewHandle(node, mapped);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG SimRegistry::CloseKey(HKEY key) {
  if (Root(key)) return ERROR_SUCCESS;
  auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  handles_.erase(it);
  return ERROR_SUCCESS;
}

LONG SimRegistry::QueryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data,
                             DWORD* size) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  const SimRegValue* value = FindValue(*node, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  DWORD length = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (data && *size < length) {
    *size = length;
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, value->data.data(), length);
  if (size) *size = length;
  return ERROR_SUCCESS;
}

LONG SimRegistry::SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data,
                           DWORD size) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!data && size > 0) return kErrorNoAccess;
  std::string bytes = size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  PutValue(*node, SimRegValue{name, type, std::move(bytes)});
  return ERROR_SUCCESS;
}

LONG SimRegistry::DeleteValue(HKEY key, const std::string& name) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const SimRegValue* value = FindValue(*node, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  node->values.erase(node->values.begin() + (value - node->values.data()));
  return ERROR_SUCCESS;
}

LONG SimRegistry::DeleteKey(HKEY key, const std::string& subKey) {
  std::shared_ptr<SimRegKey> parent;
  REGSAM access = 0;
  LONG rc = Resolve(key, &parent, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!subKey.empty() && subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  std::shared_ptr<SimRegKey> node = Walk(parent, SplitKeyPath(subKey));
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (!node->parent || !node->hiveFile.empty()) return ERROR_ACCESS_DENIED;
  if (EffectiveDeny(node.get()) != SimRegKey::kDenyNone) return ERROR_ACCESS_DENIED;
  if (!node->subkeys.empty() && !NineX()) return ERROR_ACCESS_DENIED;
  node->parent->subkeys.erase(Fold(node->name));
  MarkDeleted(node.get());
  return ERROR_SUCCESS;
}

LONG SimRegistry::EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize, char* keyClass,
                          DWORD* classSize) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (!name || !nameSize || (keyClass && !classSize)) return ERROR_INVALID_PARAMETER;
  if (index >= node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  const SimRegKey& child = *it->second;
  if (child.name.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  if (keyClass && child.keyClass.size() + 1 > *classSize) return ERROR_MORE_DATA;
  memcpy(name, child.name.c_str(), child.name.size() + 1);
  *nameSize = static_cast<DWORD>(child.name.size());
  if (keyClass) {
    memcpy(keyClass, child.keyClass.c_str(), child.keyClass.size() + 1);
    *classSize = static_cast<DWORD>(child.keyClass.size());
  }
  return ERROR_SUCCESS;
}

LONG SimRegistry::EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type,
                            BYTE* data, DWORD* dataSize) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!name || !nameSize || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const SimRegValue& value = node->values[index];
  if (value.name.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameSize = static_cast<DWORD>(value.name.size());
  if (type) *type = value.type;
  DWORD length = static_cast<DWORD>(value.data.size());
  if (data && *dataSize < length) {
    *dataSize = length;
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, value.data.data(), length);
  if (dataSize) *dataSize = length;
  return ERROR_SUCCESS;
}

LONG SimRegistry::QueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                               DWORD* maxValueNameLen, DWORD* maxValueLen) {
  std::shared_ptr<SimRegKey> node;
  REGSAM access = 0;
  LONG rc = Resolve(key, &node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  size_t longestKey = 0, longestName = 0, longestData = 0;
  for (const auto& [folded, child] : node->subkeys) {
    longestKey = std::max(longestKey, child->name.size());
  }
  for (const SimRegValue& value : node->values) {
    longestName = std::max(longestName, value.name.size());
    longestData = std::max(longestData, value.data.size());
  }
  if (subKeys) *subKeys = static_cast<DWORD>(node->subkeys.size());
  if (maxSubKeyLen) *maxSubKeyLen = static_cast<DWORD>(longestKey);
  if (values) *values = static_cast<DWORD>(node->values.size());
  if (maxValueNameLen) *maxValueNameLen = static_cast<DWORD>(longestName);
  if (maxValueLen) *maxValueLen = static_cast<DWORD>(longestData);
  return ERROR_SUCCESS;
}

// ---- The machine format ----

bool SimRegistry::ValueFromJson(const SimJson& json, const std::string& pointer,
                                SimRegValue* out, std::string* error) const {
  if (json.is_string()) {
    out->type = REG_SZ;
    out->data = codePage_.FromUtf8(json.get<std::string>()) + std::string(1, '\0');
    return true;
  }
  if (json.is_number_integer()) {
    uint64_t number = 0;
    if (!ReadUnsigned(json, pointer, 0xFFFFFFFFu, &number, error)) return false;
    out->type = REG_DWORD;
    out->data.clear();
    PutDword(&out->data, static_cast<DWORD>(number));
    return true;
  }
  if (!json.is_object()) {
    return Fail(pointer, "expected a string, an unsigned integer or {\"type\", \"data\"}", error);
  }
  if (!CheckObject(json, pointer, {"type", "data", "hex"}, error)) return false;
  if (!json.contains("type")) return Fail(pointer, "missing member \"type\"", error);
  const SimJson& typeJson = json["type"];
  std::string typePointer = JsonPointer(pointer, "type");
  bool typeKnown = false;
  if (typeJson.is_string()) {
    for (const TypeName& t : kTypeNames) {
      if (typeJson.get<std::string>() == t.name) {
        out->type = t.type;
        typeKnown = true;
      }
    }
    if (!typeKnown) return Fail(typePointer, "unknown value type", error);
  } else {
    uint64_t type = 0;
    if (!ReadUnsigned(typeJson, typePointer, 0xFFFFFFFFu, &type, error)) return false;
    out->type = static_cast<DWORD>(type);
  }
  bool hasData = json.contains("data"), hasHex = json.contains("hex");
  if (hasData == hasHex) return Fail(pointer, "expected exactly one of \"data\" and \"hex\"", error);
  if (hasHex) return ReadHex(json["hex"], JsonPointer(pointer, "hex"), &out->data, error);
  const SimJson& data = json["data"];
  std::string dataPointer = JsonPointer(pointer, "data");
  std::string text;
  switch (out->type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (!ReadString(data, dataPointer, &text, error)) return false;
      out->data = codePage_.FromUtf8(text) + std::string(1, '\0');
      return true;
    case REG_DWORD: {
      uint64_t number = 0;
      if (!ReadUnsigned(data, dataPointer, 0xFFFFFFFFu, &number, error)) return false;
      out->data.clear();
      PutDword(&out->data, static_cast<DWORD>(number));
      return true;
    }
    case REG_BINARY:
      return ReadHex(data, dataPointer, &out->data, error);
    case REG_MULTI_SZ: {
      if (!data.is_array()) return Fail(dataPointer, "expected an array of strings", error);
      out->data.clear();
      for (size_t i = 0; i < data.size(); ++i) {
        if (!ReadString(data[i], JsonPointer(dataPointer, i), &text, error)) return false;
        if (text.empty()) return Fail(JsonPointer(dataPointer, i), "empty string in a list", error);
        out->data += codePage_.FromUtf8(text) + std::string(1, '\0');
      }
      out->data += '\0';
      return true;
    }
    default:
      return Fail(pointer, "this type takes \"hex\"", error);
  }
}

SimJson SimRegistry::ValueToJson(const SimRegValue& value) const {
  SimJson json;
  switch (value.type) {
    case REG_SZ:
      if (IsCString(value.data)) {
        json = codePage_.ToUtf8(value.data.substr(0, value.data.size() - 1));
      }
      break;
    case REG_EXPAND_SZ:
      if (IsCString(value.data)) {
        json = {{"type", "REG_EXPAND_SZ"},
                {"data", codePage_.ToUtf8(value.data.substr(0, value.data.size() - 1))}};
      }
      break;
    case REG_DWORD:
      if (value.data.size() == 4) json = GetDwordLe(value.data);
      break;
    case REG_BINARY:
      json = {{"type", "REG_BINARY"}, {"data", ToHex(value.data)}};
      break;
    case REG_MULTI_SZ: {
      SimJson list = SimJson::array();
      size_t start = 0;
      bool wellFormed = !value.data.empty() && value.data.back() == '\0';
      while (wellFormed && start < value.data.size() - 1) {
        size_t end = value.data.find('\0', start);
        if (end == start) {
          wellFormed = false;
          break;
        }
        list.push_back(codePage_.ToUtf8(value.data.substr(start, end - start)));
        start = end + 1;
      }
      if (wellFormed && start == value.data.size() - 1) {
        json = {{"type", "REG_MULTI_SZ"}, {"data", list}};
      }
      break;
    }
    default:
      break;
  }
  // Whatever does not read back to the same bytes is written as hex.
  SimRegValue check;
  std::string error;
  if (!json.is_null() && ValueFromJson(json, "", &check, &error) && check.type == value.type &&
      check.data == value.data) {
    return json;
  }
  SimJson raw = SimJson::object();
  raw["type"] = SimJson();
  for (const TypeName& t : kTypeNames) {
    if (t.type == value.type) raw["type"] = t.name;
  }
  if (raw["type"].is_null()) raw["type"] = value.type;
  raw["hex"] = ToHex(value.data);
  return raw;
}

bool SimRegistry::Load(const SimJson& section, const std::string& pointer, std::string* error) {
  if (!section.is_object()) return Fail(pointer, "expected an object", error);
  for (auto it = section.begin(); it != section.end(); ++it) {
    std::string keyPointer = JsonPointer(pointer, it.key());
    std::string path = codePage_.FromUtf8(it.key());
    std::vector<std::string> parts = SplitKeyPath(path);
    if (parts.empty() || RootIndexOf(parts[0]) < 0) {
      return Fail(keyPointer, "the key path must begin with HKLM, HKCU, HKCR or HKU", error);
    }
    if (!it.value().is_object()) return Fail(keyPointer, "expected an object of values", error);
    std::shared_ptr<SimRegKey> key = CreatePath(path);
    const SimJson& members = it.value();
    for (auto member = members.begin(); member != members.end(); ++member) {
      std::string memberPointer = JsonPointer(keyPointer, member.key());
      std::string text;
      if (member.key() == "$deny") {
        if (!ReadString(member.value(), memberPointer, &text, error)) return false;
        if (text == "write") {
          key->deny = SimRegKey::kDenyWrite;
        } else if (text == "all") {
          key->deny = SimRegKey::kDenyAll;
        } else if (text == "none") {
          key->deny = SimRegKey::kDenyNone;
        } else {
          return Fail(memberPointer, "expected \"write\", \"all\" or \"none\"", error);
        }
      } else if (member.key() == "$class") {
        if (!ReadString(member.value(), memberPointer, &text, error)) return false;
        key->keyClass = codePage_.FromUtf8(text);
      } else if (member.key() == "$hive") {
        if (!ReadString(member.value(), memberPointer, &text, error)) return false;
        if (!key->parent || key->parent->parent ||
            (key->parent != roots_[2].get() && key->parent != roots_[3].get())) {
          return Fail(memberPointer, "only a key right under HKLM or HKU can be a loaded hive",
                      error);
        }
        key->hiveFile = codePage_.FromUtf8(text);
      } else if (!member.key().empty() && member.key()[0] == '$') {
        return Fail(memberPointer, "unknown member", error);
      } else {
        SimRegValue value;
        if (!ValueFromJson(member.value(), memberPointer, &value, error)) return false;
        value.name = codePage_.FromUtf8(member.key());
        PutValue(*key, std::move(value));
      }
    }
  }
  return true;
}

void SimRegistry::KeyToJson(const SimRegKey& key, const std::string& path, SimJson* out) const {
  bool isRoot = key.parent == nullptr;
  bool describe = !key.values.empty() || key.deny != SimRegKey::kDenyNone ||
                  !key.keyClass.empty() || !key.hiveFile.empty() ||
                  (key.subkeys.empty() && !isRoot);
  if (describe) {
    SimJson members = SimJson::object();
    if (key.deny == SimRegKey::kDenyWrite) members["$deny"] = "write";
    if (key.deny == SimRegKey::kDenyAll) members["$deny"] = "all";
    if (!key.keyClass.empty()) members["$class"] = codePage_.ToUtf8(key.keyClass);
    if (!key.hiveFile.empty()) members["$hive"] = codePage_.ToUtf8(key.hiveFile);
    for (const SimRegValue& value : key.values) {
      members[codePage_.ToUtf8(value.name)] = ValueToJson(value);
    }
    (*out)[codePage_.ToUtf8(path)] = std::move(members);
  }
  for (const auto& [folded, child] : key.subkeys) {
    KeyToJson(*child, path + "\\" + child->name, out);
  }
}

SimJson SimRegistry::ToJson() const {
  SimJson out = SimJson::object();
  for (int root : {2, 1, 0, 3}) {  // HKLM, HKCU, HKCR, HKU
    KeyToJson(*roots_[root], kRootShortNames[root], &out);
  }
  return out;
}

bool SimRegistry::KeyExists(const std::string& keyPath) const {
  return FindPath(keyPath) != nullptr;
}

bool SimRegistry::GetValue(const std::string& keyPath, const std::string& name, DWORD* type,
                           std::string* data) const {
  std::shared_ptr<SimRegKey> key = FindPath(keyPath);
  const SimRegValue* value = key ? FindValue(*key, name) : nullptr;
  if (!value) return false;
  if (type) *type = value->type;
  if (data) *data = value->data;
  return true;
}

std::optional<std::string> SimRegistry::GetString(const std::string& keyPath,
                                                  const std::string& name) const {
  DWORD type = 0;
  std::string data;
  if (!GetValue(keyPath, name, &type, &data) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  return data.substr(0, data.find('\0'));
}

std::optional<DWORD> SimRegistry::GetDword(const std::string& keyPath,
                                           const std::string& name) const {
  DWORD type = 0;
  std::string data;
  if (!GetValue(keyPath, name, &type, &data) || type != REG_DWORD || data.size() != 4) {
    return std::nullopt;
  }
  return GetDwordLe(data);
}

bool SimRegistry::SetValue(const std::string& keyPath, const std::string& name, DWORD type,
                           const std::string& data) {
  std::shared_ptr<SimRegKey> key = CreatePath(keyPath);
  if (!key) return false;
  PutValue(*key, SimRegValue{name, type, data});
  return true;
}

bool SimRegistry::RemoveTree(const std::string& keyPath) {
  std::shared_ptr<SimRegKey> key = FindPath(keyPath);
  if (!key || !key->parent) return false;
  key->parent->subkeys.erase(Fold(key->name));
  MarkDeleted(key.get());
  return true;
}
