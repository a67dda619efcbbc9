#include "platform/sim/sim_diff.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "platform/sim/sim_machine.h"

namespace {

constexpr char kShellLinkHeader[] = "[ZentavoSimShellLink]";
const char* const kShellLinkFields[] = {"Target", "Arguments", "WorkingDirectory", "Description"};
constexpr size_t kShownBinaryBytes = 64;

// One line of a group; groups are sorted by key, then by text.
struct Line {
  std::string key;
  std::string text;
  bool operator<(const Line& other) const {
    return key != other.key ? key < other.key : text < other.text;
  }
};

// Names compare as Windows compares them: without regard to (ASCII) case.
std::string Fold(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

// Control characters escaped (\r, \n, \t, \xNN), and double quotes too when
// the text is to stand in quotes.
std::string Escape(const std::string& text, bool quotes) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' && quotes) {
      out += "\\\"";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof(hex), "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// A string as the report shows it: in double quotes, a quote inside as \",
// control characters escaped; backslashes stay as they are, so paths read
// as paths.
std::string Quote(const std::string& text) { return "\"" + Escape(text, true) + "\""; }

// A command line as it stands (its own quotes kept), control characters escaped.
std::string Raw(const std::string& text) { return Escape(text, false); }

std::string Hex32(uint64_t value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08llX", static_cast<unsigned long long>(value & 0xFFFFFFFFu));
  return text;
}

// Hex digits as spaced bytes, cut after kShownBinaryBytes.
std::string SpacedHex(const std::string& digits) {
  std::string out;
  size_t bytes = digits.size() / 2;
  for (size_t i = 0; i < bytes && i < kShownBinaryBytes; ++i) {
    if (i) out += ' ';
    out += digits.substr(2 * i, 2);
  }
  if (bytes > kShownBinaryBytes) out += " ... (" + std::to_string(bytes) + " bytes)";
  return bytes == 0 ? std::string("(empty)") : out;
}

std::string Compact(const SimJson& value) { return value.dump(); }

// ---- Registry ----

// A registry value in the description format, shown with its type.
std::string ShowValue(const SimJson& value) {
  if (value.is_string()) return "REG_SZ " + Quote(value.get<std::string>());
  if (value.is_number_unsigned() || value.is_number_integer()) {
    uint64_t number = value.is_number_unsigned() ? value.get<uint64_t>()
                                                 : static_cast<uint64_t>(value.get<int64_t>());
    return "REG_DWORD " + Hex32(number) + " (" + std::to_string(number) + ")";
  }
  if (!value.is_object() || !value.contains("type")) return Compact(value);
  std::string type = value["type"].is_string() ? value["type"].get<std::string>()
                                               : "type " + Compact(value["type"]);
  if (value.contains("hex") && value["hex"].is_string()) {
    std::string digits;
    for (char c : value["hex"].get<std::string>()) {
      if (c != ' ') digits += c;
    }
    return type + " bytes " + SpacedHex(digits);
  }
  if (!value.contains("data")) return Compact(value);
  const SimJson& data = value["data"];
  if (type == "REG_BINARY" && data.is_string()) return type + " " + SpacedHex(data.get<std::string>());
  if (type == "REG_DWORD" && (data.is_number_unsigned() || data.is_number_integer())) {
    return ShowValue(data);
  }
  if (data.is_string()) return type + " " + Quote(data.get<std::string>());
  if (data.is_array()) {
    std::string out = type;
    for (const SimJson& item : data) {
      out += " " + (item.is_string() ? Quote(item.get<std::string>()) : Compact(item));
    }
    return out;
  }
  return type + " " + Compact(data);
}

std::string ValueName(const std::string& name) { return name.empty() ? "@" : Quote(name); }

bool IsKeyAttribute(const std::string& member) {
  return member == "$deny" || member == "$class" || member == "$hive";
}

std::string KeyAttributes(const SimJson* members) {
  std::string out;
  if (!members) return out;
  for (const char* name : {"$class", "$hive", "$deny"}) {
    if (!members->contains(name)) continue;
    if (!out.empty()) out += ", ";
    const SimJson& value = (*members)[name];
    out += std::string(name + 1) + " " +
           (value.is_string() ? Quote(value.get<std::string>()) : Compact(value));
  }
  return out;
}

struct RegKeyEntry {
  std::string path;
  const SimJson* members = nullptr;  // null: exists only as a parent of described keys
};

std::map<std::string, RegKeyEntry> RegistryKeys(const SimJson& registry) {
  std::map<std::string, RegKeyEntry> keys;
  if (!registry.is_object()) return keys;
  for (auto it = registry.begin(); it != registry.end(); ++it) {
    const std::string& path = it.key();
    // The parents exist too; a root alone is not listed.
    size_t cut = path.find('\\');
    while (cut != std::string::npos) {
      size_t next = path.find('\\', cut + 1);
      if (next == std::string::npos) break;
      std::string parent = path.substr(0, next);
      keys.emplace(Fold(parent), RegKeyEntry{parent, nullptr});
      cut = next;
    }
    RegKeyEntry& entry = keys[Fold(path)];
    entry.path = path;
    entry.members = &it.value();
  }
  return keys;
}

// The values of a key by folded name: (name, value).
std::map<std::string, std::pair<std::string, const SimJson*>> KeyValues(const SimJson* members) {
  std::map<std::string, std::pair<std::string, const SimJson*>> values;
  if (!members || !members->is_object()) return values;
  for (auto it = members->begin(); it != members->end(); ++it) {
    if (IsKeyAttribute(it.key())) continue;
    values[Fold(it.key())] = {it.key(), &it.value()};
  }
  return values;
}

void CompareRegistry(const SimJson& before, const SimJson& after, std::vector<Line>* lines) {
  auto oldKeys = RegistryKeys(before);
  auto newKeys = RegistryKeys(after);
  std::set<std::string> all;
  for (const auto& [folded, entry] : oldKeys) all.insert(folded);
  for (const auto& [folded, entry] : newKeys) all.insert(folded);
  for (const std::string& folded : all) {
    auto oldKey = oldKeys.find(folded);
    auto newKey = newKeys.find(folded);
    const RegKeyEntry* was = oldKey == oldKeys.end() ? nullptr : &oldKey->second;
    const RegKeyEntry* is = newKey == newKeys.end() ? nullptr : &newKey->second;
    const std::string& path = is ? is->path : was->path;
    // A key's own line sorts before its values ("\x01" below any name).
    std::string keySort = folded + '\x01';
    std::string valueSort = folded + '\x02';
    if (!was || !is) {
      const RegKeyEntry& entry = was ? *was : *is;
      char sign = was ? '-' : '+';
      std::string attributes = KeyAttributes(entry.members);
      lines->push_back({keySort, std::string(1, sign) + " key " + path +
                                     (attributes.empty() ? "" : " (" + attributes + ")")});
      for (const auto& [name, value] : KeyValues(entry.members)) {
        lines->push_back({valueSort + name, std::string(1, sign) + " value " + path + " " +
                                                ValueName(value.first) + " = " +
                                                ShowValue(*value.second)});
      }
      continue;
    }
    std::string oldAttributes = KeyAttributes(was->members);
    std::string newAttributes = KeyAttributes(is->members);
    if (oldAttributes != newAttributes) {
      lines->push_back({keySort, "~ key " + path + ": " +
                                     (oldAttributes.empty() ? "(none)" : oldAttributes) + " -> " +
                                     (newAttributes.empty() ? "(none)" : newAttributes)});
    }
    auto oldValues = KeyValues(was->members);
    auto newValues = KeyValues(is->members);
    for (const auto& [name, value] : oldValues) {
      auto now = newValues.find(name);
      if (now == newValues.end()) {
        lines->push_back({valueSort + name, "- value " + path + " " + ValueName(value.first) +
                                                " = " + ShowValue(*value.second)});
      } else if (*now->second.second != *value.second) {
        lines->push_back({valueSort + name, "~ value " + path + " " + ValueName(value.first) +
                                                ": " + ShowValue(*value.second) + " -> " +
                                                ShowValue(*now->second.second)});
      }
    }
    for (const auto& [name, value] : newValues) {
      if (oldValues.count(name)) continue;
      lines->push_back({valueSort + name, "+ value " + path + " " + ValueName(value.first) +
                                              " = " + ShowValue(*value.second)});
    }
  }
}

// ---- Files and shell links ----

struct FileEntry {
  std::string path;
  bool folder = false;
  const SimJson* entry = nullptr;  // null: a folder that holds described entries
};

std::map<std::string, FileEntry> FileEntries(const SimJson& files) {
  std::map<std::string, FileEntry> entries;
  if (!files.is_object()) return entries;
  for (auto it = files.begin(); it != files.end(); ++it) {
    const std::string& path = it.key();
    size_t cut = path.find('\\');
    while (cut != std::string::npos && cut + 1 < path.size()) {
      std::string folder = path.substr(0, cut + 1);
      entries.emplace(Fold(folder), FileEntry{folder, true, nullptr});
      cut = path.find('\\', cut + 1);
    }
    FileEntry& entry = entries[Fold(path)];
    entry.path = path;
    entry.folder = !path.empty() && path.back() == '\\';
    entry.entry = &it.value();
  }
  return entries;
}

// The bytes of a described file; none when they cannot be read.
std::optional<std::string> FileBytes(const SimJson& entry) {
  if (entry.contains("text") && entry["text"].is_string()) return entry["text"].get<std::string>();
  if (entry.contains("hex")) {
    std::string bytes, error;
    if (ReadHex(entry["hex"], "", &bytes, &error)) return bytes;
    return std::nullopt;
  }
  // A file described by its size alone (a capture): its content is not known.
  if (entry.contains("size") && entry["size"].is_number_unsigned()) {
    return std::string(entry["size"].get<size_t>(), '\0');
  }
  if (entry.contains("hostFile") && entry["hostFile"].is_string()) {
    std::ifstream in(entry["hostFile"].get<std::string>(), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return std::string();
}

std::string VersionOf(const SimJson& entry) {
  if (!entry.contains("version")) return std::string();
  const SimJson& version = entry["version"];
  if (version.contains("FileVersion") && version["FileVersion"].is_string()) {
    return version["FileVersion"].get<std::string>();
  }
  if (version.contains("strings") && version["strings"].is_object()) {
    for (const auto& [table, strings] : version["strings"].items()) {
      if (strings.contains("FileVersion") && strings["FileVersion"].is_string()) {
        return strings["FileVersion"].get<std::string>();
      }
    }
  }
  return Compact(version);
}

std::string AttributesOf(const FileEntry& file) {
  bool archive = !file.folder;
  std::string out;
  if (file.entry) {
    auto flag = [&](const char* name) {
      return file.entry->contains(name) && (*file.entry)[name].is_boolean() &&
             (*file.entry)[name].get<bool>();
    };
    if (flag("readOnly")) out += 'R';
    if (flag("hidden")) out += 'H';
    if (flag("system")) out += 'S';
    if (file.entry->contains("archive") && (*file.entry)["archive"].is_boolean()) {
      archive = (*file.entry)["archive"].get<bool>();
    }
  }
  if (archive) out += 'A';
  return out.empty() ? "-" : out;
}

std::string MemberText(const FileEntry& file, const char* name) {
  if (!file.entry || !file.entry->contains(name)) return std::string();
  const SimJson& value = (*file.entry)[name];
  return value.is_string() ? value.get<std::string>() : Compact(value);
}

// A lock as it stands, without the time it still has to go.
std::string LockOf(const FileEntry& file) {
  if (!file.entry || !file.entry->contains("locked")) return std::string();
  const SimJson& lock = (*file.entry)["locked"];
  return lock.is_object() && lock.contains("error") ? Compact(lock["error"]) : Compact(lock);
}

// A shell link written by the simulation: its fields, UTF-8.
std::optional<std::map<std::string, std::string>> ShellLinkOf(const std::string& bytes,
                                                              const SimCodePage& codePage) {
  if (bytes.rfind(kShellLinkHeader, 0) != 0) return std::nullopt;
  std::string text = IsUtf8(bytes) ? bytes : codePage.ToUtf8(bytes);
  std::map<std::string, std::string> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

std::string ShowLink(const std::map<std::string, std::string>& link) {
  std::string out;
  for (const char* name : kShellLinkFields) {
    auto it = link.find(name);
    if (!out.empty()) out += ", ";
    out += std::string(name) + " " + Quote(it == link.end() ? std::string() : it->second);
  }
  return out;
}

std::string ShowFile(const std::optional<std::string>& bytes, const std::string& version) {
  std::string out = bytes ? std::to_string(bytes->size()) + " bytes" : "content not readable";
  if (!version.empty()) out += ", version " + version;
  return out;
}

UINT CodePageOf(const SimJson& machine) {
  if (machine.contains("locale") && machine["locale"].contains("codePage") &&
      machine["locale"]["codePage"].is_number_unsigned()) {
    return machine["locale"]["codePage"].get<UINT>();
  }
  return 1252;
}

void CompareFiles(const SimJson& before, const SimJson& after, const SimCodePage& oldPage,
                  const SimCodePage& newPage, std::vector<Line>* files,
                  std::vector<Line>* links) {
  auto oldFiles = FileEntries(before);
  auto newFiles = FileEntries(after);
  std::set<std::string> all;
  for (const auto& [folded, entry] : oldFiles) all.insert(folded);
  for (const auto& [folded, entry] : newFiles) all.insert(folded);
  for (const std::string& folded : all) {
    auto oldIt = oldFiles.find(folded);
    auto newIt = newFiles.find(folded);
    const FileEntry* was = oldIt == oldFiles.end() ? nullptr : &oldIt->second;
    const FileEntry* is = newIt == newFiles.end() ? nullptr : &newIt->second;
    const std::string& path = is ? is->path : was->path;
    bool folder = is ? is->folder : was->folder;
    if (was && is && was->folder != is->folder) {
      files->push_back({folded, "- " + std::string(was->folder ? "folder " : "file ") + was->path});
      was = nullptr;
    }
    if (folder) {
      if (!was || !is) {
        files->push_back({folded, std::string(was ? "- folder " : "+ folder ") + path});
        continue;
      }
      std::vector<std::string> changes;
      if (AttributesOf(*was) != AttributesOf(*is)) {
        changes.push_back("attributes " + AttributesOf(*was) + " -> " + AttributesOf(*is));
      }
      for (const char* member : {"shortName", "reparsePoint"}) {
        std::string a = MemberText(*was, member), b = MemberText(*is, member);
        if (a != b) changes.push_back(std::string(member) + " " + Quote(a) + " -> " + Quote(b));
      }
      if (changes.empty()) continue;
      std::string line = "~ folder " + path + ":";
      for (size_t i = 0; i < changes.size(); ++i) line += (i ? ", " : " ") + changes[i];
      files->push_back({folded, line});
      continue;
    }
    std::optional<std::string> oldBytes = was ? FileBytes(*was->entry) : std::nullopt;
    std::optional<std::string> newBytes = is ? FileBytes(*is->entry) : std::nullopt;
    auto oldLink = oldBytes ? ShellLinkOf(*oldBytes, oldPage) : std::nullopt;
    auto newLink = newBytes ? ShellLinkOf(*newBytes, newPage) : std::nullopt;
    if (oldLink || newLink) {
      if (oldLink && newLink) {
        std::string changes;
        for (const char* name : kShellLinkFields) {
          std::string a = (*oldLink)[name], b = (*newLink)[name];
          if (a == b) continue;
          changes += (changes.empty() ? " " : ", ") + std::string(name) + " " + Quote(a) + " -> " +
                     Quote(b);
        }
        if (!changes.empty()) links->push_back({folded, "~ link " + path + ":" + changes});
      } else if (newLink) {
        links->push_back({folded, "+ link " + path + ": " + ShowLink(*newLink)});
        if (was) files->push_back({folded, "- file " + path + ": " +
                                                 ShowFile(oldBytes, VersionOf(*was->entry))});
      } else {
        links->push_back({folded, "- link " + path + ": " + ShowLink(*oldLink)});
        if (is) files->push_back({folded, "+ file " + path + ": " +
                                                ShowFile(newBytes, VersionOf(*is->entry))});
      }
      continue;
    }
    if (!was) {
      files->push_back({folded, "+ file " + path + ": " + ShowFile(newBytes, VersionOf(*is->entry))});
      continue;
    }
    if (!is) {
      files->push_back({folded, "- file " + path + ": " + ShowFile(oldBytes, VersionOf(*was->entry))});
      continue;
    }
    std::vector<std::string> changes;
    size_t oldSize = oldBytes ? oldBytes->size() : 0, newSize = newBytes ? newBytes->size() : 0;
    if (oldSize != newSize) {
      changes.push_back("size " + std::to_string(oldSize) + " -> " + std::to_string(newSize) +
                        " bytes");
    } else if (oldBytes != newBytes && !(was->entry && was->entry->contains("size")) &&
               !(is->entry && is->entry->contains("size"))) {
      // (Of a file known by its size alone nothing more can be told.)
      changes.push_back("content changed (" + std::to_string(newSize) + " bytes)");
    }
    std::string oldVersion = VersionOf(*was->entry), newVersion = VersionOf(*is->entry);
    if (oldVersion != newVersion) {
      changes.push_back("version " + (oldVersion.empty() ? "(none)" : oldVersion) + " -> " +
                        (newVersion.empty() ? "(none)" : newVersion));
    }
    if (AttributesOf(*was) != AttributesOf(*is)) {
      changes.push_back("attributes " + AttributesOf(*was) + " -> " + AttributesOf(*is));
    }
    if (MemberText(*was, "shortName") != MemberText(*is, "shortName")) {
      changes.push_back("shortName " + Quote(MemberText(*was, "shortName")) + " -> " +
                        Quote(MemberText(*is, "shortName")));
    }
    if (MemberText(*was, "library") != MemberText(*is, "library")) {
      changes.push_back("library behaviour changed");
    }
    if (LockOf(*was) != LockOf(*is)) {
      std::string a = LockOf(*was), b = LockOf(*is);
      changes.push_back("lock " + (a.empty() ? "none" : "error " + a) + " -> " +
                        (b.empty() ? "none" : "error " + b));
    }
    if (changes.empty()) continue;
    std::string line = "~ file " + path + ":";
    for (size_t i = 0; i < changes.size(); ++i) line += (i ? ", " : " ") + changes[i];
    files->push_back({folded, line});
  }
}

// ---- Programs running, windows, the machine's own settings ----

// Two lists compared as multisets of their lines.
void CompareLists(const std::vector<std::string>& before, const std::vector<std::string>& after,
                  std::vector<Line>* lines) {
  std::map<std::string, long> balance;
  for (const std::string& line : before) --balance[line];
  for (const std::string& line : after) ++balance[line];
  for (const auto& [line, count] : balance) {
    for (long i = 0; i < (count < 0 ? -count : count); ++i) {
      lines->push_back({line, (count < 0 ? "- " : "+ ") + line});
    }
  }
}

std::string Text(const SimJson& object, const char* member) {
  if (!object.is_object() || !object.contains(member)) return std::string();
  const SimJson& value = object[member];
  return value.is_string() ? value.get<std::string>() : Compact(value);
}

std::vector<std::string> ProcessLines(const SimJson& processes) {
  std::vector<std::string> lines;
  if (!processes.is_array()) return lines;
  for (const SimJson& process : processes) {
    std::string line = "process " + Text(process, "program") + " (id " +
                       Text(process, "processId") + ")";
    std::string commandLine = Text(process, "commandLine");
    if (!commandLine.empty()) line += ": " + Raw(commandLine);
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> WindowLines(const SimJson& windows) {
  std::vector<std::string> lines;
  if (!windows.is_array()) return lines;
  for (const SimJson& window : windows) {
    lines.push_back("window " + Quote(Text(window, "title")) + " class " +
                    Quote(Text(window, "class")) + " of " + Text(window, "program"));
  }
  return lines;
}

void Flatten(const SimJson& value, const std::string& pointer,
             std::map<std::string, std::string>* out) {
  if (value.is_object() && !value.empty()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      Flatten(it.value(), JsonPointer(pointer, it.key()), out);
    }
  } else if (value.is_array() && !value.empty()) {
    for (size_t i = 0; i < value.size(); ++i) Flatten(value[i], JsonPointer(pointer, i), out);
  } else {
    (*out)[pointer] = Compact(value);
  }
}

// The machine's own settings: everything but the sections compared on their
// own, the clock (it always moves on), the label and the command line (the
// setup's arguments, not a state of the machine).
void CompareSettings(const SimJson& before, const SimJson& after, std::vector<Line>* lines) {
  static const std::set<std::string> kElsewhere = {"registry", "files",     "processes", "windows",
                                                   "clock",    "name",      "commandLine"};
  std::map<std::string, std::string> was, is;
  for (const auto* side : {&before, &after}) {
    if (!side->is_object()) continue;
    for (auto it = side->begin(); it != side->end(); ++it) {
      if (kElsewhere.count(it.key())) continue;
      Flatten(it.value(), JsonPointer("", it.key()), side == &before ? &was : &is);
    }
  }
  for (const auto& [pointer, value] : was) {
    auto now = is.find(pointer);
    if (now == is.end()) {
      lines->push_back({pointer, "- " + pointer + ": " + value});
    } else if (now->second != value) {
      lines->push_back({pointer, "~ " + pointer + ": " + value + " -> " + now->second});
    }
  }
  for (const auto& [pointer, value] : is) {
    if (!was.count(pointer)) lines->push_back({pointer, "+ " + pointer + ": " + value});
  }
}

// ---- Activity ----

std::string RestartFlags(UINT flags) {
  static const struct {
    UINT bit;
    const char* name;
  } kFlags[] = {{0x1, "EWX_SHUTDOWN"}, {0x2, "EWX_REBOOT"}, {0x4, "EWX_FORCE"},
                {0x8, "EWX_POWEROFF"}, {0x10, "EWX_FORCEIFHUNG"}};
  std::string names;
  UINT rest = flags;
  for (const auto& flag : kFlags) {
    if (!(flags & flag.bit)) continue;
    names += (names.empty() ? "" : " | ") + std::string(flag.name);
    rest &= ~flag.bit;
  }
  if (names.empty() && rest == 0) names = "EWX_LOGOFF";
  if (rest) names += (names.empty() ? "" : " | ") + Hex32(rest);
  return Hex32(flags) + " (" + names + ")";
}

std::string RestartAnswer(DWORD answer) {
  if (answer == ERROR_SUCCESS) return "accepted";
  std::string out = "refused with error " + std::to_string(answer);
  if (answer == 1314) out += " (the shutdown privilege was not enabled)";
  if (answer == ERROR_ACCESS_DENIED) out += " (the machine refuses to restart)";
  return out;
}

void AppendGroup(const std::string& name, std::vector<Line> lines, bool sorted,
                 const char* whenEmpty, std::string* out) {
  *out += "\n== " + name + " ==\n";
  if (sorted) std::sort(lines.begin(), lines.end());
  for (const Line& line : lines) *out += line.text + "\n";
  if (lines.empty()) *out += std::string(whenEmpty) + "\n";
}

const SimJson& Member(const SimJson& machine, const char* name) {
  static const SimJson kNull;
  return machine.is_object() && machine.contains(name) ? machine[name] : kNull;
}

SimJson Describe(const SimMachine& machine) {
  SimJson json;
  std::string error;
  ParseJsonText(machine.ToJson(), &json, &error);
  return json;
}

}  // namespace

std::string CompareMachineDescriptions(const SimJson& before, const SimJson& after,
                                       const SimActivity* activity, const std::string& title) {
  const char* kNone = "(no changes)";
  const char* kUnknown = "(not known from two descriptions)";
  std::vector<Line> registry, files, links, processes, windows, settings;
  CompareRegistry(Member(before, "registry"), Member(after, "registry"), &registry);
  SimCodePage oldPage(CodePageOf(before)), newPage(CodePageOf(after));
  CompareFiles(Member(before, "files"), Member(after, "files"), oldPage, newPage, &files, &links);
  CompareLists(ProcessLines(Member(before, "processes")), ProcessLines(Member(after, "processes")),
               &processes);
  CompareLists(WindowLines(Member(before, "windows")), WindowLines(Member(after, "windows")),
               &windows);
  CompareSettings(before, after, &settings);

  std::string out = title + "\n";
  AppendGroup("Registry", registry, true, kNone, &out);
  AppendGroup("Files", files, true, kNone, &out);
  AppendGroup("Shell links", links, true, kNone, &out);
  std::vector<Line> started, restarts, libraries;
  if (activity) {
    for (const std::string& library : activity->libraries) {
      libraries.push_back({std::string(), library});
    }
    for (const SimActivity::Program& program : activity->programs) {
      std::string result = program.running ? std::string("still running")
                                           : "exit code " + std::to_string(program.exitCode);
      started.push_back({std::string(), result + ": " + Raw(program.commandLine)});
    }
    for (const SimActivity::Restart& restart : activity->restarts) {
      restarts.push_back({std::string(), "restart asked, flags " + RestartFlags(restart.flags) +
                                             ": " + RestartAnswer(restart.answer)});
    }
  }
  // Programs and restarts keep the order they happened in.
  AppendGroup("Programs started", started, false, activity ? "(none)" : kUnknown, &out);
  AppendGroup("Libraries loaded from outside the system folder", libraries, false,
              activity ? "(none)" : kUnknown, &out);
  AppendGroup("Programs running", processes, true, kNone, &out);
  AppendGroup("Windows", windows, true, kNone, &out);
  AppendGroup("Restarts", restarts, false, activity ? "(none)" : kUnknown, &out);
  AppendGroup("Machine settings", settings, true, kNone, &out);
  return out;
}

std::string CompareMachines(const SimMachine& before, const SimMachine& after,
                            const std::string& title) {
  return CompareMachineDescriptions(Describe(before), Describe(after), nullptr, title);
}

SimRehearsalWatch::SimRehearsalWatch(SimMachine& machine)
    : before_(Describe(machine)),
      programsBefore_(machine.simProcesses().StartedProcesses().size()),
      restartsBefore_(machine.simProcesses().restartRequests().size()),
      librariesBefore_(machine.simProcesses().libraryLoads().size()) {}

SimActivity SimRehearsalWatch::Activity(SimMachine& machine) const {
  SimActivity activity;
  SimProcesses& processes = machine.simProcesses();
  const SimCodePage& codePage = machine.codePage();
  std::vector<const SimProcess*> started = processes.StartedProcesses();
  for (size_t i = programsBefore_; i < started.size(); ++i) {
    activity.programs.push_back(
        {codePage.ToUtf8(started[i]->commandLine), !started[i]->ended, started[i]->exitCode});
  }
  const std::vector<SimLibraryLoad>& loads = processes.libraryLoads();
  for (size_t i = librariesBefore_; i < loads.size(); ++i) {
    activity.libraries.push_back(codePage.ToUtf8(loads[i].library) + " by " +
                                 codePage.ToUtf8(loads[i].program));
  }
  const std::vector<UINT>& requests = processes.restartRequests();
  const std::vector<DWORD>& answers = processes.restartAnswers();
  for (size_t i = restartsBefore_; i < requests.size(); ++i) {
    DWORD answer = i < answers.size() ? answers[i] : static_cast<DWORD>(ERROR_SUCCESS);
    activity.restarts.push_back({requests[i], answer});
  }
  return activity;
}

std::string SimRehearsalWatch::Report(SimMachine& machine) {
  SimActivity activity = Activity(machine);
  return CompareMachineDescriptions(
      before_, Describe(machine), &activity,
      "Changes from the machine at the start of the rehearsal to the machine at its end");
}
