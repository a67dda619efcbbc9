#include "platform/sim/sim_versions.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/sim/sim_files.h"

namespace {

constexpr DWORD kErrorResourceTypeNotFound = 1813;
const char kDefaultTable[] = "040904b0";

bool IsHex8(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

bool IsShorthand(const SimJson& version) {
  return !version.contains("translations") && !version.contains("strings");
}

// A version resource read from its description: translations and string tables.
struct ParsedVersion {
  std::vector<std::pair<WORD, WORD>> translations;
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> tables;
};

ParsedVersion Parse(const SimJson& version) {
  ParsedVersion parsed;
  auto addTable = [&parsed](const std::string& key, const SimJson& strings) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (auto it = strings.begin(); it != strings.end(); ++it) {
      entries.emplace_back(it.key(), it.value().get<std::string>());
    }
    parsed.tables.emplace_back(Lower(key), std::move(entries));
  };
  if (IsShorthand(version)) {
    parsed.translations.emplace_back(0x0409, 0x04b0);
    addTable(kDefaultTable, version);
    return parsed;
  }
  if (version.contains("translations")) {
    for (const SimJson& t : version["translations"]) {
      unsigned long value = strtoul(t.get<std::string>().c_str(), nullptr, 16);
      parsed.translations.emplace_back(static_cast<WORD>(value >> 16),
                                       static_cast<WORD>(value & 0xFFFF));
    }
  }
  if (version.contains("strings")) {
    const SimJson& strings = version["strings"];
    for (auto it = strings.begin(); it != strings.end(); ++it) addTable(it.key(), it.value());
  }
  return parsed;
}

// "1,2,3,4" or "1.2.3.4" (blanks allowed) into the two DWORDs of VS_FIXEDFILEINFO.
void ParseNumbers(const std::string& text, DWORD* ms, DWORD* ls) {
  unsigned parts[4] = {0, 0, 0, 0};
  int n = 0;
  const char* p = text.c_str();
  while (*p && n < 4) {
    while (*p == ' ') ++p;
    char* end = nullptr;
    unsigned long value = strtoul(p, &end, 10);
    if (end == p) break;
    parts[n++] = static_cast<unsigned>(value & 0xFFFF);
    p = end;
    while (*p == ' ') ++p;
    if (*p != ',' && *p != '.') break;
    ++p;
  }
  *ms = (parts[0] << 16) | parts[1];
  *ls = (parts[2] << 16) | parts[3];
}

class SimVersionResource : public VersionResource {
 public:
  explicit SimVersionResource(ParsedVersion version) : version_(std::move(version)) {}

  // VerQueryValue: block names compare without regard to case, as Windows does.
  bool QueryValue(const std::string& subBlock, std::string* value) override {
    std::vector<std::string> parts;
    std::string current;
    for (char c : subBlock) {
      if (c == '\\' || c == '/') {
        if (!current.empty()) parts.push_back(Lower(current));
        current.clear();
      } else {
        current += c;
      }
    }
    if (!current.empty()) parts.push_back(Lower(current));
    if (parts.empty()) return FixedInfo(value);
    if (parts.size() == 2 && parts[0] == "varfileinfo" && parts[1] == "translation") {
      if (version_.translations.empty()) return false;
      std::string bytes;
      for (auto [language, codePage] : version_.translations) {
        bytes.push_back(static_cast<char>(language & 0xFF));
        bytes.push_back(static_cast<char>(language >> 8));
        bytes.push_back(static_cast<char>(codePage & 0xFF));
        bytes.push_back(static_cast<char>(codePage >> 8));
      }
      *value = bytes;
      return true;
    }
    if (parts.size() == 3 && parts[0] == "stringfileinfo") {
      for (const auto& [table, entries] : version_.tables) {
        if (table != parts[1]) continue;
        for (const auto& [name, text] : entries) {
          if (Lower(name) == parts[2]) {
            *value = text;
            return true;
          }
        }
      }
    }
    return false;
  }

 private:
  // The root block: VS_FIXEDFILEINFO with the numbers of the first FileVersion.
  bool FixedInfo(std::string* value) {
    std::string fileVersion, productVersion;
    for (const auto& [table, entries] : version_.tables) {
      for (const auto& [name, text] : entries) {
        if (Lower(name) == "fileversion" && fileVersion.empty()) fileVersion = text;
        if (Lower(name) == "productversion" && productVersion.empty()) productVersion = text;
      }
    }
    if (productVersion.empty()) productVersion = fileVersion;
    DWORD fields[13] = {0xFEEF04BDu, 0x00010000u, 0, 0, 0, 0, 0x3Fu, 0, 0x00040004u, 1, 0, 0, 0};
    ParseNumbers(fileVersion, &fields[2], &fields[3]);
    ParseNumbers(productVersion, &fields[4], &fields[5]);
    std::string bytes(sizeof(fields), '\0');
    memcpy(bytes.data(), fields, sizeof(fields));
    *value = bytes;
    return true;
  }

  ParsedVersion version_;
};

// A plausible block size for GetFileVersionInfoSize: what the resource's
// UTF-16 layout would take, rounded to four bytes.
DWORD BlockSize(const ParsedVersion& version) {
  size_t size = 92 + 68 + 4 * version.translations.size() + 36;
  for (const auto& [table, entries] : version.tables) {
    size += 24;
    for (const auto& [name, text] : entries) size += 8 + 2 * (name.size() + 1 + text.size() + 1);
  }
  return static_cast<DWORD>((size + 3) & ~static_cast<size_t>(3));
}

}  // namespace

bool ValidateVersionResource(const SimJson& version, const std::string& pointer,
                             std::string* error) {
  if (!version.is_object()) return Fail(pointer, "expected an object", error);
  auto checkStrings = [error](const SimJson& strings, const std::string& at) {
    if (!strings.is_object()) return Fail(at, "expected an object of strings", error);
    for (auto it = strings.begin(); it != strings.end(); ++it) {
      if (!it.value().is_string()) {
        return Fail(JsonPointer(at, it.key()), "expected a string", error);
      }
    }
    return true;
  };
  if (IsShorthand(version)) return checkStrings(version, pointer);
  if (!CheckObject(version, pointer, {"translations", "strings"}, error)) return false;
  if (version.contains("translations")) {
    const SimJson& list = version["translations"];
    std::string at = JsonPointer(pointer, "translations");
    if (!list.is_array()) return Fail(at, "expected an array such as [\"040904b0\"]", error);
    for (size_t i = 0; i < list.size(); ++i) {
      if (!list[i].is_string() || !IsHex8(list[i].get<std::string>())) {
        return Fail(JsonPointer(at, i), "expected eight hex digits such as \"040904b0\"", error);
      }
    }
  }
  if (version.contains("strings")) {
    const SimJson& tables = version["strings"];
    std::string at = JsonPointer(pointer, "strings");
    if (!tables.is_object()) return Fail(at, "expected an object of string tables", error);
    for (auto it = tables.begin(); it != tables.end(); ++it) {
      if (!IsHex8(it.key())) {
        return Fail(JsonPointer(at, it.key()), "a table is named by eight hex digits", error);
      }
      if (!checkStrings(it.value(), JsonPointer(at, it.key()))) return false;
    }
  }
  return true;
}

DWORD SimVersionInfo::GetInfoSize(const std::string& path, DWORD* lastError) {
  const SimFile* file = nullptr;
  DWORD rc = files_.Lookup(path, &file);
  if (rc == ERROR_SUCCESS && file->directory) rc = ERROR_ACCESS_DENIED;
  if (rc == ERROR_SUCCESS && file->version.is_null()) rc = kErrorResourceTypeNotFound;
  if (rc != ERROR_SUCCESS) {
    if (lastError) *lastError = rc;
    return 0;
  }
  if (lastError) *lastError = ERROR_SUCCESS;
  return BlockSize(Parse(file->version));
}

DWORD SimVersionInfo::GetInfo(const std::string& path,
                              std::unique_ptr<VersionResource>* resource) {
  const SimFile* file = nullptr;
  DWORD rc = files_.Lookup(path, &file);
  if (rc != ERROR_SUCCESS) return rc;
  if (file->directory) return ERROR_ACCESS_DENIED;
  if (file->version.is_null()) return kErrorResourceTypeNotFound;
  *resource = std::make_unique<SimVersionResource>(Parse(file->version));
  return ERROR_SUCCESS;
}
