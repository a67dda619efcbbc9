// The simulated file system in the machine format: the "files" section read
// into the tree and written back from it, and a host folder mounted as the
// medium.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/sim/sim_com.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_versions.h"

namespace {

namespace fs = std::filesystem;
// A file of the host taken into a description (hostFile) is read whole.
constexpr uintmax_t kMaxHostFileBytes = 256u * 1024u * 1024u;

}  // namespace

bool SimFileSystem::LoadEntry(const std::string& path, const SimJson& entry,
                              const std::string& pointer, std::string* error) {
  const PathChars paths = codePage_.Paths();
  bool folder = paths.EndsWithSeparator(path, true);
  Parsed parsed;
  if (ParsePath(path, &parsed) != ERROR_SUCCESS || path.size() < 3 || path[1] != ':' ||
      (path[2] != '\\' && path[2] != '/')) {
    return Fail(pointer, "expected a full path such as \"C:\\\\folder\\\\file\"", error);
  }
  if (folder) {
    if (!CheckObject(entry, pointer,
                     {"readOnly", "hidden", "system", "archive", "shortName", "reparsePoint"},
                     error)) {
      return false;
    }
  } else if (!CheckObject(entry, pointer,
                          {"text", "hex", "hostFile", "size", "readOnly", "hidden", "system",
                           "archive", "shortName", "version", "locked", "library"},
                          error)) {
    return false;
  }
  const size_t cut = paths.FindLastSeparator(path, true);
  std::string folderPath = folder ? path : path.substr(0, cut == std::string::npos ? 0 : cut + 1);
  if (!MakeFolders(folderPath)) {
    return Fail(pointer, "a file stands where a folder of this path should be", error);
  }
  SimFile* node = nullptr;
  if (folder) {
    Found found;
    Find(path, &found);
    node = found.node;
  } else {
    Found found;
    if (Find(path, &found) != ERROR_SUCCESS) return Fail(pointer, "not a valid file path", error);
    if (found.node && found.node->directory) {
      return Fail(pointer, "a folder of this name exists (end a folder's path with \\)", error);
    }
    node = found.node ? found.node : NewChild(found.parent, found.leaf, false);
  }
  int contentMembers = entry.contains("text") + entry.contains("hex") + entry.contains("hostFile") +
                       entry.contains("size");
  if (contentMembers > 1) {
    return Fail(pointer, "give only one of \"text\", \"hex\", \"hostFile\" and \"size\"", error);
  }
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    const std::string& name = it.key();
    const SimJson& value = it.value();
    std::string memberPointer = JsonPointer(pointer, name);
    std::string text;
    bool flag = false;
    if (name == "text") {
      if (!ReadString(value, memberPointer, &text, error)) return false;
      node->content = std::make_shared<const std::string>(text);
    } else if (name == "hex") {
      if (!ReadHex(value, memberPointer, &text, error)) return false;
      node->content = std::make_shared<const std::string>(text);
    } else if (name == "hostFile") {
      if (!ReadString(value, memberPointer, &text, error)) return false;
      // Only an ordinary file of a sensible size: a device such as /dev/zero
      // would never end.
      std::error_code status;
      if (!fs::is_regular_file(text, status)) {
        return Fail(memberPointer, "the host file " + text + " is not a regular file", error);
      }
      if (fs::file_size(text, status) > kMaxHostFileBytes || status) {
        return Fail(memberPointer, "the host file " + text + " is larger than 256 MB", error);
      }
      std::ifstream in(text, std::ios::binary);
      if (!in) return Fail(memberPointer, "cannot read the host file " + text, error);
      // One read of the whole file (a character at a time through the stream
      // buffer's iterators cost a tenth of a rehearsal).
      std::string bytes(static_cast<size_t>(fs::file_size(text, status)), '\0');
      if (status || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
          in.peek() != std::ifstream::traits_type::eof()) {
        return Fail(memberPointer, "cannot read the host file " + text, error);
      }
      node->content = std::make_shared<const std::string>(std::move(bytes));
    } else if (name == "size") {
      uint64_t size = 0;
      if (!ReadUnsigned(value, memberPointer, kMaxHostFileBytes, &size, error)) return false;
      node->content = std::make_shared<const std::string>(static_cast<size_t>(size), '\0');
      node->uncaptured = node->content;
    } else if (name == "readOnly" || name == "hidden" || name == "system" || name == "archive") {
      if (!ReadBool(value, memberPointer, &flag, error)) return false;
      DWORD bit = name == "readOnly" ? FILE_ATTRIBUTE_READONLY
                  : name == "hidden" ? FILE_ATTRIBUTE_HIDDEN
                  : name == "system" ? FILE_ATTRIBUTE_SYSTEM
                                     : FILE_ATTRIBUTE_ARCHIVE;
      node->attributes = flag ? (node->attributes | bit) : (node->attributes & ~bit);
    } else if (name == "shortName") {
      if (!ReadString(value, memberPointer, &text, error)) return false;
      // Checked as the machine holds it: a character its code page lacks becomes "?".
      std::string shortName = codePage_.FromUtf8(text);
      if (shortName.empty() || shortName.size() > 12 ||
          shortName.find_first_of("\\/*?") != std::string::npos) {
        return Fail(memberPointer, "expected an 8.3 name such as \"DOCUME~1\"", error);
      }
      node->shortName = shortName;
    } else if (name == "reparsePoint") {
      if (!ReadString(value, memberPointer, &text, error)) return false;
      if (!node->children.empty()) {
        return Fail(memberPointer, "a junction cannot hold files of its own", error);
      }
      node->reparseTarget = codePage_.FromUtf8(text);
    } else if (name == "version") {
      if (!ValidateVersionResource(value, memberPointer, error)) return false;
      node->version = value;
    } else if (name == "library") {
      if (!ValidateLibrary(value, memberPointer, codePage_, error)) return false;
      node->library = value;
    } else if (name == "locked") {
      uint64_t code = 0;
      if (value.is_object()) {
        if (!CheckObject(value, memberPointer, {"error", "untilMs"}, error)) return false;
        if (!value.contains("error")) return Fail(memberPointer, "missing member \"error\"", error);
        if (!ReadUnsigned(value["error"], JsonPointer(memberPointer, "error"), 0xFFFFFFFFu, &code,
                          error)) {
          return false;
        }
        node->lockUntilMs.reset();
        if (value.contains("untilMs")) {
          uint64_t until = 0;
          if (!ReadUnsigned(value["untilMs"], JsonPointer(memberPointer, "untilMs"), UINT64_MAX,
                            &until, error)) {
            return false;
          }
          node->lockUntilMs = until;
        }
      } else {
        if (!ReadUnsigned(value, memberPointer, 0xFFFFFFFFu, &code, error)) return false;
        node->lockUntilMs.reset();
      }
      node->lockError = static_cast<DWORD>(code);
    }
  }
  return true;
}

bool SimFileSystem::Load(const SimJson& section, const std::string& pointer, std::string* error) {
  if (!section.is_object()) return Fail(pointer, "expected an object", error);
  // Junctions last, so that their targets exist when they are checked.
  for (int pass = 0; pass < 2; ++pass) {
    for (auto it = section.begin(); it != section.end(); ++it) {
      bool junction = it.value().is_object() && it.value().contains("reparsePoint");
      if (junction != (pass == 1)) continue;
      if (!LoadEntry(codePage_.FromUtf8(it.key()), it.value(), JsonPointer(pointer, it.key()),
                     error)) {
        return false;
      }
    }
  }
  return true;
}

std::string SimFileSystem::DisplayPath(const SimFile& node) const {
  if (!node.parent) return node.name + "\\";
  std::string parent = DisplayPath(*node.parent);
  return parent + node.name;
}

void SimFileSystem::EntryToJson(const SimFile& node, const std::string& path,
                                SimJson* out) const {
  SimJson entry = SimJson::object();
  if (!node.directory) {
    // The bytes go with the description, also those of files mounted from
    // the host, so that it does not depend on host folders that may be gone.
    if (node.uncaptured && node.uncaptured == node.content) {
      entry["size"] = node.content->size();
    } else if (IsUtf8(*node.content)) {
      entry["text"] = *node.content;
    } else {
      entry["hex"] = ToHex(*node.content);
    }
  }
  if (node.attributes & FILE_ATTRIBUTE_READONLY) entry["readOnly"] = true;
  if (node.attributes & FILE_ATTRIBUTE_HIDDEN) entry["hidden"] = true;
  if (node.attributes & FILE_ATTRIBUTE_SYSTEM) entry["system"] = true;
  bool archive = (node.attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
  if (archive == node.directory) entry["archive"] = archive;
  if (!node.shortName.empty()) entry["shortName"] = codePage_.ToUtf8(node.shortName);
  if (!node.reparseTarget.empty()) entry["reparsePoint"] = codePage_.ToUtf8(node.reparseTarget);
  if (!node.version.is_null()) entry["version"] = node.version;
  if (!node.library.is_null()) entry["library"] = node.library;
  if (DWORD lock = ActiveLock(node)) {
    if (node.lockUntilMs) {
      entry["locked"] = {{"error", lock}, {"untilMs", *node.lockUntilMs - clock_.now()}};
    } else {
      entry["locked"] = lock;
    }
  }
  bool describe = !node.directory || node.children.empty() || entry.size() > 0;
  if (describe) (*out)[codePage_.ToUtf8(path)] = std::move(entry);
  for (const auto& [folded, child] : node.children) {
    EntryToJson(*child, path + child->name + (child->directory ? "\\" : ""), out);
  }
}

SimJson SimFileSystem::ToJson() const {
  SimJson out = SimJson::object();
  for (const auto& [drive, root] : drives_) EntryToJson(*root, drive + "\\", &out);
  return out;
}

bool SimFileSystem::MountHostFolder(const std::string& hostDir, const std::string& folder,
                                    std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(hostDir, ec)) {
    *error = hostDir + ": not a folder";
    return false;
  }
  std::string base = folder;
  if (!codePage_.Paths().EndsWithSeparator(base)) base += '\\';
  if (!MakeFolders(base)) {
    *error = base + ": cannot create the folder";
    return false;
  }
  const std::string kPropertiesFile = ".sim-files.json";
  fs::recursive_directory_iterator it(hostDir, ec), end;
  if (ec) {
    *error = hostDir + ": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *error = hostDir + ": " + ec.message();
      return false;
    }
    // The iterator's paths start with hostDir: its name inside the folder is
    // the rest, without resolving links on the host at every entry.
    fs::path relative = it->path().lexically_relative(hostDir);
    std::string machinePath = base + codePage_.FromUtf8(relative.generic_string());
    std::replace(machinePath.begin(), machinePath.end(), '/', '\\');
    if (it->is_directory(ec)) {
      if (!MakeFolders(machinePath + "\\")) {
        *error = it->path().string() + ": cannot create " + machinePath;
        return false;
      }
      continue;
    }
    if (relative.generic_string() == kPropertiesFile) continue;
    SimJson entry = {{"hostFile", fs::absolute(it->path(), ec).string()}};
    std::string entryError;
    if (!LoadEntry(machinePath, entry, "", &entryError)) {
      *error = it->path().string() + ": " + entryError;
      return false;
    }
  }
  fs::path properties = fs::path(hostDir) / kPropertiesFile;
  if (fs::exists(properties, ec)) {
    std::ifstream in(properties, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SimJson json;
    std::string parseError;
    if (!ParseJsonText(text, &json, &parseError)) {
      *error = properties.string() + ": " + parseError;
      return false;
    }
    if (!json.is_object()) {
      *error = properties.string() + ": /: expected an object";
      return false;
    }
    for (auto entry = json.begin(); entry != json.end(); ++entry) {
      std::string relative = codePage_.FromUtf8(entry.key());
      std::replace(relative.begin(), relative.end(), '/', '\\');
      std::string entryError;
      if (!LoadEntry(base + relative, entry.value(), JsonPointer("", entry.key()), &entryError)) {
        *error = properties.string() + ": " + entryError;
        return false;
      }
    }
  }
  return true;
}
