#include "capture/capture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "capture/device_tree.h"
#include "capture/footprint.h"
#include "capture/json_text.h"
#include "capture/values.h"
#include "platform/owners.h"

namespace capture {
namespace {

constexpr int kTitleBuffer = 1024;
constexpr int kMaxFolderDepth = 32;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class Capturer {
 public:
  Capturer(Machine& machine, const CaptureOptions& options)
      : machine_(machine),
        environment_(machine.environment()),
        options_(options),
        texts_(environment_),
        paths_(PathCharsOf(environment_)) {}

  bool Run(std::string* text, std::string* error) {
    std::vector<std::string> earlierKeys, earlierFiles;
    if (!options_.earlier.empty() &&
        !DescribedNames(options_.earlier, &earlierKeys, &earlierFiles)) {
      *error = "the earlier capture is no machine description (JSON object)";
      return false;
    }
    OsVersion os;
    if (environment_.GetOsVersion(&os)) nt_ = os.platformId == VER_PLATFORM_WIN32_NT;
    JsonValue out = JsonValue::Object();
    out["name"] = JsonValue::String(options_.name.empty() ? "captured by zentavo-capture"
                                                          : options_.name);
    System(os, &out);
    JsonValue registry = JsonValue::Object();
    for (const KeyPrint& print : RegistryFootprint()) {
      if (print.key.find_first_of("*?") == std::string::npos) {
        Key(print, &registry);
        continue;
      }
      for (const std::string& path : KeysOf(print.key)) {
        KeyPrint concrete = print;
        concrete.key = path;
        Key(concrete, &registry);
      }
    }
    for (const std::string& key : earlierKeys) Key(EarlierKey(texts_.FromUtf8(key)), &registry);
    out["registry"] = std::move(registry);
    for (const FilePrint& print : FileFootprint()) {
      for (const std::string& path : ExpandPath(machine_, print.path)) Entry(path, print.scope);
    }
    for (const std::string& path : earlierFiles) {
      std::string ansi = texts_.FromUtf8(path);
      Entry(ansi, ansi.size() > 3 && paths_.EndsWithSeparator(ansi) ? FileScope::kFile
                                                                    : ContentScope(ansi));
    }
    JsonValue files = JsonValue::Object();
    for (auto& [upper, entry] : files_) files[entry.first] = std::move(entry.second);
    out["files"] = std::move(files);
    out["windows"] = Windows();
    JsonValue usb = CaptureUsb(machine_, texts_);
    if (!usb.empty()) out["usb"] = std::move(usb);
    *text = out.Text();
    return true;
  }

 private:
  // ---- the system ----

  void System(const OsVersion& os, JsonValue* out) {
    JsonValue& system = (*out)["os"];
    system = JsonValue::Object();
    system["platformId"] = JsonValue::Number(os.platformId);
    system["major"] = JsonValue::Number(os.majorVersion);
    system["minor"] = JsonValue::Number(os.minorVersion);
    system["build"] = JsonValue::Number(os.buildNumber);
    system["servicePack"] = JsonValue::String(texts_.Utf8(os.csdVersion));
    system["architecture"] = JsonValue::String(
        environment_.GetNativeProcessorArchitecture() == PROCESSOR_ARCHITECTURE_AMD64 ? "x64"
                                                                                     : "x86");
    (*out)["memoryBytes"] = JsonValue::Number(environment_.TotalPhysicalMemory());
    JsonValue& locale = (*out)["locale"];
    locale = JsonValue::Object();
    std::string language;
    locale["language"] = environment_.GetLocaleLanguage(&language) ? JsonValue::String(language)
                                                                   : JsonValue();
    locale["codePage"] = JsonValue::Number(environment_.GetACP());

    std::string windows, system32, temp, program;
    environment_.GetWindowsDirectory(&windows);
    environment_.GetSystemDirectory(&system32);
    environment_.GetTempPath(&temp);
    environment_.GetModuleFileName(&program);
    JsonValue& directories = (*out)["directories"];
    directories = JsonValue::Object();
    directories["windows"] = JsonValue::String(texts_.Utf8(windows));
    directories["system"] = JsonValue::String(texts_.Utf8(system32));
    directories["temp"] = JsonValue::String(texts_.Utf8(temp));
    // The capture sits on the medium beside setup.exe.
    const std::string folder = paths_.Folder(program);
    (*out)["setupProgram"] = JsonValue::String(texts_.Utf8(folder + "\\setup.exe"));
    for (const std::string& path : {windows, system32, temp, folder}) NoteShortNames(path);

    LocalTime now;
    environment_.GetLocalTime(&now);
    char time[96];
    std::snprintf(time, sizeof(time), "%04u-%02u-%02uT%02u:%02u:%02u.%03u", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, now.milliseconds);
    JsonValue& clock = (*out)["clock"];
    clock = JsonValue::Object();
    clock["localTime"] = JsonValue::String(time);
    clock["tickCount"] = JsonValue::Number(environment_.GetTickCount());

    if (nt_) {
      // Enabling a privilege changes this program's own token, nothing of the machine.
      JsonValue privileges = JsonValue::Object();
      for (const std::string& name : Privileges()) {
        DWORD adjust = 0;
        if (machine_.processes().EnablePrivilege(name, &adjust) == ERROR_SUCCESS &&
            adjust == 1300 /* ERROR_NOT_ALL_ASSIGNED */) {
          privileges[name] = JsonValue::Bool(false);
        }
      }
      if (!privileges.empty()) (*out)["privileges"] = std::move(privileges);
    }
  }

  // The short names of the folders on one of the system's paths, kept for
  // the folders' entries.
  void NoteShortNames(const std::string& path) {
    std::string longPath;
    if (machine_.files().GetLongPathName(path, &longPath) != ERROR_SUCCESS) return;
    for (auto& [folder, shortName] : ShortNamesOf(path, longPath, paths_)) {
      shortNames_[Upper(folder)] = shortName;
      Folder(folder);
    }
  }

  // ---- the registry ----

  // A key an earlier capture holds: taken as the footprint takes it, or (a
  // key above the footprint's) for its existence alone. A key taken because
  // it held a product's value is taken again whatever it holds now, so that
  // the value shows as removed where the key stays with other products'.
  KeyPrint EarlierKey(const std::string& key) {
    KeyPrint print;
    if (!FootprintKey(key, &print)) return KeyPrint{key, false, {}, true, false};
    print.onlyHolding = false;
    return print;
  }

  // The keys that a footprint path with "*" components names on this machine.
  std::vector<std::string> KeysOf(const std::string& pattern) {
    std::vector<std::string> found;
    HKEY root = nullptr;
    std::string rest;
    if (!SplitKeyPath(pattern, &root, &rest)) return found;
    const std::string rootName = pattern.substr(0, pattern.size() - rest.size());
    std::vector<std::string> parts;
    for (size_t start = 0; start <= rest.size();) {
      size_t end = rest.find('\\', start);
      if (end == std::string::npos) end = rest.size();
      parts.push_back(rest.substr(start, end - start));
      start = end + 1;
    }
    std::vector<std::string> level = {std::string()};
    for (const std::string& part : parts) {
      std::vector<std::string> next;
      for (const std::string& key : level) {
        const std::string prefix = key.empty() ? key : key + "\\";
        if (part.find_first_of("*?") == std::string::npos) {
          next.push_back(prefix + part);
          continue;
        }
        RegKey open(machine_.registry());
        if (open.Open(root, key, KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) continue;
        for (DWORD index = 0; index < 1000000; ++index) {
          char child[1024];
          DWORD size = sizeof(child);
          if (machine_.registry().EnumKey(open.get(), index, child, &size, nullptr, nullptr) !=
              ERROR_SUCCESS) {
            break;
          }
          const std::string name(child, size);
          if (WildcardMatch(part, name)) next.push_back(prefix + name);
        }
      }
      level = std::move(next);
    }
    for (const std::string& key : level) found.push_back(rootName + key);
    return found;
  }

  // Whether the key holds one of the named values.
  bool Holds(HKEY root, const std::string& subKey, const std::vector<std::string>& values) {
    RegKey key(machine_.registry());
    if (key.Open(root, subKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
    for (const std::string& name : values) {
      DWORD type = 0, size = 0;
      if (machine_.registry().QueryValue(key.get(), name, &type, nullptr, &size) == ERROR_SUCCESS) {
        return true;
      }
    }
    return false;
  }

  void Key(const KeyPrint& print, JsonValue* registry) {
    HKEY root = nullptr;
    std::string subKey;
    if (!SplitKeyPath(print.key, &root, &subKey)) return;
    for (const std::string& transient : TransientKeys()) {
      if (Upper(print.key).rfind(Upper(transient), 0) == 0) return;
    }
    if (print.onlyHolding && !Holds(root, subKey, print.values)) return;
    // The keys above it, that they exist: a run that creates the first of
    // them shows it as added, as the simulation's report does.
    for (size_t cut = subKey.find('\\'); cut != std::string::npos;
         cut = subKey.find('\\', cut + 1)) {
      RegKey above(machine_.registry());
      if (above.Open(root, subKey.substr(0, cut), KEY_QUERY_VALUE) != ERROR_SUCCESS) break;
      JsonValue& entry = (*registry)[texts_.Utf8(print.key.substr(0, print.key.size() - subKey.size() + cut))];
      if (entry.kind() != JsonValue::Kind::kObject) entry = JsonValue::Object();
    }
    KeyTree(root, subKey, print.key, print, 0, registry);
  }

  void KeyTree(HKEY root, const std::string& subKey, const std::string& path,
               const KeyPrint& print, int depth, JsonValue* registry) {
    Registry& reg = machine_.registry();
    RegKey key(reg);
    LONG rc = key.Open(root, subKey, KEY_READ);
    if (rc == ERROR_ACCESS_DENIED) {
      (*registry)[texts_.Utf8(path)]["$deny"] = JsonValue::String("all");
      return;
    }
    if (rc != ERROR_SUCCESS) return;
    JsonValue& values = (*registry)[texts_.Utf8(path)];
    if (values.kind() != JsonValue::Kind::kObject) values = JsonValue::Object();
    if (print.existence) return;
    DWORD maxName = 0, maxData = 0;
    reg.QueryInfoKey(key.get(), nullptr, nullptr, nullptr, &maxName, &maxData);
    std::vector<char> name(static_cast<size_t>(maxName) + 2 > 16384 ? maxName + 2 : 16384);
    std::vector<BYTE> data(static_cast<size_t>(maxData) + 16);
    for (DWORD index = 0; index < 100000; ++index) {
      DWORD nameSize = static_cast<DWORD>(name.size());
      DWORD dataSize = static_cast<DWORD>(data.size());
      DWORD type = 0;
      rc = reg.EnumValue(key.get(), index, name.data(), &nameSize, &type, data.data(), &dataSize);
      if (rc == ERROR_MORE_DATA) {
        data.resize(static_cast<size_t>(dataSize) + 16);
        --index;
        continue;
      }
      if (rc != ERROR_SUCCESS) break;
      std::string valueName(name.data(), nameSize);
      if (!print.values.empty()) {
        bool wanted = false;
        for (const std::string& v : print.values) wanted = wanted || Upper(v) == Upper(valueName);
        if (!wanted) continue;
      }
      values[texts_.Utf8(valueName)] =
          RegistryData(type, std::string(reinterpret_cast<const char*>(data.data()), dataSize),
                       texts_);
    }
    if (!print.tree || depth >= 64) return;
    for (DWORD index = 0; index < 100000; ++index) {
      char child[1024];
      char keyClass[1024];
      DWORD childSize = sizeof(child), classSize = sizeof(keyClass);
      if (reg.EnumKey(key.get(), index, child, &childSize, keyClass, &classSize) !=
          ERROR_SUCCESS) {
        break;
      }
      const std::string childName(child, childSize);
      const std::string childPath = path + "\\" + childName;
      KeyTree(root, subKey.empty() ? childName : subKey + "\\" + childName, childPath, print,
              depth + 1, registry);
      if (classSize > 0) {
        JsonValue& entry = (*registry)[texts_.Utf8(childPath)];
        if (entry.kind() == JsonValue::Kind::kObject) {
          entry["$class"] = JsonValue::String(texts_.Utf8(std::string(keyClass, classSize)));
        }
      }
    }
  }

  // ---- files ----

  // What is taken of a path named by an earlier capture: the content where
  // the footprint takes it.
  FileScope ContentScope(const std::string& path) {
    for (const FilePrint& print : FileFootprint()) {
      if (print.scope != FileScope::kContent && print.scope != FileScope::kTreeContent) continue;
      for (const std::string& expanded : ExpandPath(machine_, print.path)) {
        const std::string upper = Upper(path), prefix = Upper(expanded);
        if (upper == prefix || (print.scope == FileScope::kTreeContent &&
                                upper.rfind(prefix + "\\", 0) == 0)) {
          return FileScope::kContent;
        }
      }
    }
    return FileScope::kFile;
  }

  // A path of the footprint: its last component may hold wildcards.
  void Entry(const std::string& path, FileScope scope) {
    size_t cut = paths_.FindLastSeparator(path);
    if (cut == std::string::npos) return;
    if (path.find_first_of("*?", cut) == std::string::npos) {
      Take(path, scope, 0);
      return;
    }
    const std::string folder = path.substr(0, cut);
    FileSystem& files = machine_.files();
    UniqueFind find(files);
    FindData data;
    if (files.FindFirst(path, find.put(), &data) != ERROR_SUCCESS) return;
    std::vector<std::string> names;
    do {
      if (data.name != "." && data.name != "..") names.push_back(data.name);
    } while (files.FindNext(find.get(), &data) == ERROR_SUCCESS);
    find.reset();
    for (const std::string& name : names) Take(folder + "\\" + name, scope, 0);
  }

  // A file or folder, and (for a tree) what is below it.
  void Take(const std::string& given, FileScope scope, int depth) {
    FileSystem& files = machine_.files();
    DWORD attributes = 0;
    if (files.GetAttributes(given, &attributes) != ERROR_SUCCESS) {
      // The folders above it that exist: a run that makes the first missing
      // one shows it as added.
      const size_t cut = paths_.FindLastSeparator(given);
      if (cut != std::string::npos && cut > 2) Folder(ExistingFolder(given.substr(0, cut)));
      return;
    }
    std::string path = given;
    std::string longPath;
    if (files.GetLongPathName(given, &longPath) == ERROR_SUCCESS && !longPath.empty()) {
      path = longPath;
    }
    paths_.TrimSeparators(&path, 3);
    const size_t cut = paths_.FindLastSeparator(path);
    if (cut != std::string::npos && cut > 2) Folder(path.substr(0, cut));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      Folder(path);
      if ((scope != FileScope::kTree && scope != FileScope::kTreeContent) ||
          depth >= kMaxFolderDepth || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
      }
      UniqueFind find(files);
      FindData data;
      std::vector<std::string> names;
      if (files.FindFirst(path + "\\*.*", find.put(), &data) == ERROR_SUCCESS) {
        do {
          if (data.name != "." && data.name != "..") names.push_back(data.name);
        } while (files.FindNext(find.get(), &data) == ERROR_SUCCESS);
      }
      find.reset();
      for (const std::string& name : names) Take(path + "\\" + name, scope, depth + 1);
      return;
    }
    File(path, attributes, scope == FileScope::kContent || scope == FileScope::kTreeContent);
  }

  // The folder itself when it exists, else the nearest one above it that does.
  std::string ExistingFolder(std::string path) {
    DWORD attributes = 0;
    while (path.size() > 3 && (machine_.files().GetAttributes(path, &attributes) != ERROR_SUCCESS ||
                               !(attributes & FILE_ATTRIBUTE_DIRECTORY))) {
      const size_t cut = paths_.FindLastSeparator(path);
      if (cut == std::string::npos) return std::string();
      path = path.substr(0, cut);
    }
    std::string longPath;
    if (machine_.files().GetLongPathName(path, &longPath) == ERROR_SUCCESS && !longPath.empty()) {
      path = longPath;
    }
    paths_.TrimSeparators(&path, 3);
    return path;
  }

  JsonValue& Described(const std::string& path, bool folder) {
    const std::string key = Upper(path) + (folder ? "\\" : "");
    auto it = files_.find(key);
    if (it == files_.end()) {
      it = files_.emplace(key, std::make_pair(texts_.Utf8(path) + (folder ? "\\" : ""),
                                              JsonValue::Object())).first;
    }
    return it->second.second;
  }

  void Attributes(DWORD attributes, bool folder, JsonValue* entry) {
    if (attributes & FILE_ATTRIBUTE_READONLY) (*entry)["readOnly"] = JsonValue::Bool(true);
    if (attributes & FILE_ATTRIBUTE_HIDDEN) (*entry)["hidden"] = JsonValue::Bool(true);
    if (attributes & FILE_ATTRIBUTE_SYSTEM) (*entry)["system"] = JsonValue::Bool(true);
    const bool archive = (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
    if (archive == folder) (*entry)["archive"] = JsonValue::Bool(archive);
  }

  // A folder's entry (not its drive's root), and those of the folders above it.
  void Folder(const std::string& path) {
    if (path.size() <= 3) return;
    const std::string key = Upper(path) + "\\";
    if (files_.count(key)) return;
    const size_t cut = paths_.FindLastSeparator(path);
    if (cut != std::string::npos && cut > 2) Folder(path.substr(0, cut));
    DWORD attributes = 0;
    if (machine_.files().GetAttributes(path, &attributes) != ERROR_SUCCESS ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return;
    }
    JsonValue& entry = Described(path, true);
    Attributes(attributes, true, &entry);
    auto shortName = shortNames_.find(Upper(path));
    if (shortName != shortNames_.end()) entry["shortName"] = JsonValue::String(texts_.Utf8(shortName->second));
  }

  void File(const std::string& path, DWORD attributes, bool withContent) {
    FileSystem& files = machine_.files();
    JsonValue& entry = Described(path, false);
    if (entry.Find("size") || entry.Find("text") || entry.Find("hex")) {
      if (!withContent || !entry.Find("size")) return;
      entry = JsonValue::Object();
    }
    std::string bytes;
    if (withContent && files.ReadFile(path, &bytes) == ERROR_SUCCESS) {
      // A shell link, in the form the machine format gives links.
      std::string link;
      if (ShellLinkAsText(bytes, [this](const std::u16string& wide) {
            std::string ansi;
            return environment_.WideToAnsi(wide, &ansi) ? ansi : std::string();
          }, &link)) {
        bytes = link;
      }
      if (IsValidUtf8(bytes)) {
        entry["text"] = JsonValue::String(bytes);
      } else {
        entry["hex"] = JsonValue::String(Hex(bytes));
      }
    } else {
      UniqueFind find(files);
      FindData data;
      uint64_t size = 0;
      if (files.FindFirst(path, find.put(), &data) == ERROR_SUCCESS) size = data.size;
      entry["size"] = JsonValue::Number(size);
    }
    Attributes(attributes, false, &entry);
    JsonValue version = Version(path);
    if (version.kind() != JsonValue::Kind::kNull) entry["version"] = std::move(version);
  }

  JsonValue Version(const std::string& path) {
    VersionInfo& versions = machine_.versions();
    DWORD lastError = 0;
    if (versions.GetInfoSize(path, &lastError) == 0) return JsonValue();
    std::unique_ptr<VersionResource> resource;
    if (versions.GetInfo(path, &resource) != ERROR_SUCCESS || !resource) return JsonValue();
    JsonValue out = JsonValue::Object();
    JsonValue translations = JsonValue::Array();
    JsonValue strings = JsonValue::Object();
    std::string raw;
    if (resource->QueryValue("\\VarFileInfo\\Translation", &raw)) {
      for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
        auto byte = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(raw[i + k])); };
        char key[16];
        std::snprintf(key, sizeof(key), "%04x%04x", byte(0) | byte(1) << 8, byte(2) | byte(3) << 8);
        translations.Push(JsonValue::String(key));
        JsonValue table = JsonValue::Object();
        for (const char* name : {"FileVersion", "ProductVersion"}) {
          std::string value;
          if (resource->QueryValue(std::string("\\StringFileInfo\\") + key + "\\" + name, &value)) {
            table[name] = JsonValue::String(texts_.Utf8(value.substr(0, value.find('\0'))));
          }
        }
        if (!table.empty() && !strings.Find(key)) strings[key] = std::move(table);
      }
    }
    out["translations"] = std::move(translations);
    out["strings"] = std::move(strings);
    return out;
  }

  // ---- windows ----

  JsonValue Windows() {
    Desktop& desktop = machine_.desktop();
    JsonValue list = JsonValue::Array();
    for (HWND window : desktop.EnumWindows()) {
      std::string title, className;
      if (!desktop.GetWindowText(window, &title, kTitleBuffer)) title.clear();
      if (!desktop.GetClassName(window, &className)) className.clear();
      bool looked = false;
      for (const std::string& name : WindowClasses()) looked = looked || Upper(name) == Upper(className);
      // Untitled windows of other classes: nothing of the setup's can tell
      // them apart. Nor the input method's windows that Windows gives every
      // program's thread ("Default IME").
      if (title.empty() && !looked) continue;
      if (!looked && (Upper(className) == "IME" || Upper(className) == "MSCTFIME UI")) continue;
      JsonValue entry = JsonValue::Object();
      entry["title"] = JsonValue::String(texts_.Utf8(title));
      if (!className.empty()) entry["class"] = JsonValue::String(texts_.Utf8(className));
      DWORD processId = 0;
      desktop.GetWindowThreadProcessId(window, &processId);
      std::string program;
      bool known = nt_ ? machine_.processes().GetProcessImagePath(processId, &program) ==
                             ERROR_SUCCESS
                       : desktop.GetWindowModuleFileName(window, &program);
      if (known && !program.empty()) entry["program"] = JsonValue::String(texts_.Utf8(program));
      if (processId != 0) entry["processId"] = JsonValue::Number(processId);
      list.Push(std::move(entry));
    }
    return list;
  }

  Machine& machine_;
  Environment& environment_;
  const CaptureOptions& options_;
  const MachineText texts_;
  // Paths are split character by character: on code page 932 the second
  // byte of 表 is 0x5C.
  const PathChars paths_;
  bool nt_ = false;
  std::map<std::string, std::string> shortNames_;  // upper-cased long folder path -> 8.3 name
  // The "files" section by upper-cased path (folders end with "\"), so that
  // a folder comes before what it holds: the path as written and its entry.
  std::map<std::string, std::pair<std::string, JsonValue>> files_;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> ShortNamesOf(const std::string& path,
                                                             const std::string& longPath,
                                                             const PathChars& paths) {
  auto split = [&paths](const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = paths.FindSeparator(text, start);
      if (end == std::string::npos) end = text.size();
      if (end > start) parts.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return parts;
  };
  std::vector<std::pair<std::string, std::string>> out;
  const std::vector<std::string> given = split(path), full = split(longPath);
  if (given.size() != full.size() || given.empty()) return out;
  std::string folder = full[0];
  for (size_t i = 1; i < full.size(); ++i) {
    folder += "\\" + full[i];
    if (Upper(given[i]) != Upper(full[i])) out.emplace_back(folder, given[i]);
  }
  return out;
}

bool ShellLinkAsText(const std::string& bytes,
                     const std::function<std::string(const std::u16string&)>& toAnsi,
                     std::string* text) {
  auto u16 = [&](size_t at) -> uint32_t {
    return at + 2 <= bytes.size() ? static_cast<unsigned char>(bytes[at]) |
                                        static_cast<unsigned char>(bytes[at + 1]) << 8
                                  : 0;
  };
  auto u32 = [&](size_t at) -> uint32_t { return u16(at) | u16(at + 2) << 16; };
  // The header: its size 0x4C and the class of shell links, 00021401-0000-0000-C000-000000000046.
  static const unsigned char kClass[] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  if (bytes.size() < 0x4C || u32(0) != 0x4C ||
      bytes.compare(4, sizeof(kClass), reinterpret_cast<const char*>(kClass), sizeof(kClass)) != 0) {
    return false;
  }
  const uint32_t flags = u32(0x14);
  const bool unicode = (flags & 0x80) != 0;
  size_t at = 0x4C;
  if (flags & 0x01) at += 2 + u16(at);  // the item ID list
  auto ansiAt = [&](size_t offset) {
    std::string out;
    while (offset < bytes.size() && bytes[offset] != 0) out += bytes[offset++];
    return out;
  };
  std::string target;
  if (flags & 0x02) {  // LinkInfo: the local base path and the common suffix
    const size_t info = at;
    const uint32_t size = u32(info), infoFlags = u32(info + 8);
    if ((infoFlags & 0x01) && info + size <= bytes.size()) {
      target = ansiAt(info + u32(info + 16)) + ansiAt(info + u32(info + 24));
    }
    at += size;
  }
  // The strings: description, relative path, working folder, arguments, icon.
  std::string strings[5];
  for (int i = 0; i < 5; ++i) {
    if (!(flags & (0x04u << i))) continue;
    const uint32_t count = u16(at);
    at += 2;
    if (unicode) {
      std::u16string wide;
      for (uint32_t k = 0; k < count && at + 1 < bytes.size(); ++k, at += 2) {
        wide.push_back(static_cast<char16_t>(u16(at)));
      }
      strings[i] = toAnsi(wide);
    } else {
      strings[i] = bytes.substr(std::min(at, bytes.size()), count);
      at += count;
    }
    // (Some writers count the terminating zero.)
    strings[i] = strings[i].substr(0, strings[i].find('\0'));
  }
  if (target.empty()) return false;
  *text = "[ZentavoSimShellLink]\r\nTarget=" + target + "\r\nWorkingDirectory=" + strings[2] +
          "\r\nDescription=" + strings[0] + "\r\nArguments=" + strings[3] + "\r\n";
  return true;
}

bool DescribedNames(const std::string& json, std::vector<std::string>* keys,
                    std::vector<std::string>* files) {
  JsonValue description;
  if (!JsonValue::Parse(json, &description) ||
      description.kind() != JsonValue::Kind::kObject) {
    return false;
  }
  if (const JsonValue* registry = description.Find("registry")) {
    for (const auto& [name, value] : registry->members()) keys->push_back(name);
  }
  if (const JsonValue* section = description.Find("files")) {
    for (const auto& [name, value] : section->members()) files->push_back(name);
  }
  return true;
}

std::string CaptureMachine(Machine& machine, const CaptureOptions& options, std::string* error) {
  std::string text;
  Capturer capturer(machine, options);
  if (!capturer.Run(&text, error)) return std::string();
  return text;
}

}  // namespace capture
