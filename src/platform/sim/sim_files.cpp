#include "platform/sim/sim_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/sim/sim_com.h"
#include "platform/sim/sim_versions.h"

namespace {

namespace fs = std::filesystem;
// A file of the host taken into a description (hostFile) is read whole.
constexpr uintmax_t kMaxHostFileBytes = 256u * 1024u * 1024u;

constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr int kJunctionDepth = 8;

bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

// A double-byte character is valid whatever its second byte: ポ ends in 0x7C, '|'.
bool IsValidComponent(const std::string& name, const PathChars& chars) {
  for (size_t i = 0; i < name.size(); i = chars.Next(name, i)) {
    const char c = name[i];
    unsigned char u = static_cast<unsigned char>(c);
    if (chars.IsLeadByte(u) && i + 1 < name.size()) continue;
    if (u < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|') return false;
  }
  return true;
}

// '*' any run, '?' one character, on upper-cased text.
bool MatchFrom(const std::string& mask, size_t m, const std::string& name, size_t n) {
  while (m < mask.size()) {
    if (mask[m] == '*') {
      for (size_t k = n; k <= name.size(); ++k) {
        if (MatchFrom(mask, m + 1, name, k)) return true;
      }
      return false;
    }
    if (n >= name.size()) return false;
    if (mask[m] != '?' && mask[m] != name[n]) return false;
    ++m;
    ++n;
  }
  return n == name.size();
}

// FindFirstFile's matching: "*" and "*.*" take every name, "x.*" also takes
// "x" and a mask ending in "." takes names without an extension.
bool WildcardMatch(const std::string& mask, const std::string& name) {
  if (mask == "*" || mask == "*.*") return true;
  if (MatchFrom(mask, 0, name, 0)) return true;
  if (name.find('.') == std::string::npos) {
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0) {
      return MatchFrom(mask.substr(0, mask.size() - 2), 0, name, 0);
    }
    if (!mask.empty() && mask.back() == '.') {
      return MatchFrom(mask.substr(0, mask.size() - 1), 0, name, 0);
    }
  }
  return false;
}

std::string TrimBlanks(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

}  // namespace

SimFileSystem::SimFileSystem(SimClock& clock, const SimCodePage& codePage)
    : clock_(clock), codePage_(codePage) {
  ticks_ = [this] { return static_cast<DWORD>(clock_.now()); };
}

SimFileSystem::~SimFileSystem() = default;

DWORD SimFileSystem::ParsePath(const std::string& input, Parsed* parsed) const {
  std::string path = input;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return ERROR_BAD_PATHNAME;
  std::string rest;
  if (path.size() >= 2 && path[1] == ':') {
    char letter = path[0];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) {
      return kErrorInvalidName;
    }
    parsed->drive = std::string(1, static_cast<char>(letter & ~0x20)) + ":";
    rest = path.substr(2);
  } else if (path[0] == '\\') {
    parsed->drive = currentDirectory_.substr(0, 2);
    rest = path;
  } else {
    parsed->drive = currentDirectory_.substr(0, 2);
    rest = currentDirectory_.substr(2) + "\\" + path;
  }
  parsed->parts.clear();
  const PathChars paths = codePage_.Paths();
  std::string current;
  auto flush = [&]() -> bool {
    if (current.empty() || current == ".") {
      current.clear();
      return true;
    }
    if (current == "..") {
      if (!parsed->parts.empty()) parsed->parts.pop_back();
      current.clear();
      return true;
    }
    size_t end = current.find_last_not_of(". ");
    if (end == std::string::npos) {
      current.clear();
      return true;
    }
    current.resize(end + 1);
    if (!IsValidComponent(current, paths)) return false;
    parsed->parts.push_back(current);
    current.clear();
    return true;
  };
  // Character by character: the second byte of 表 (0x95 0x5C) is no separator.
  for (size_t i = 0; i < rest.size();) {
    const size_t next = paths.Next(rest, i);
    if (rest[i] == '\\') {
      if (!flush()) return kErrorInvalidName;
    } else {
      current.append(rest, i, next - i);
    }
    i = next;
  }
  if (!flush()) return kErrorInvalidName;
  return ERROR_SUCCESS;
}

SimFile* SimFileSystem::Child(SimFile* folder, const std::string& name) const {
  std::string folded = codePage_.Upper(name);
  auto it = folder->children.find(folded);
  if (it != folder->children.end()) return it->second.get();
  for (auto& [key, child] : folder->children) {
    if (!child->shortName.empty() && codePage_.Upper(child->shortName) == folded) {
      return child.get();
    }
  }
  return nullptr;
}

SimFile* SimFileSystem::FollowJunction(SimFile* folder, int depth) const {
  if (folder->reparseTarget.empty()) return folder;
  if (depth >= kJunctionDepth) return nullptr;
  Found target;
  if (Find(folder->reparseTarget, &target) != ERROR_SUCCESS || !target.node ||
      !target.node->directory) {
    return nullptr;
  }
  return FollowJunction(target.node, depth + 1);
}

DWORD SimFileSystem::Find(const std::string& path, Found* found) const {
  Parsed parsed;
  DWORD rc = ParsePath(path, &parsed);
  if (rc != ERROR_SUCCESS) return rc;
  auto drive = drives_.find(parsed.drive);
  if (drive == drives_.end()) return ERROR_PATH_NOT_FOUND;
  SimFile* folder = drive->second.get();
  if (parsed.parts.empty()) {
    found->parent = nullptr;
    found->node = folder;
    found->leaf.clear();
    return ERROR_SUCCESS;
  }
  for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    if (HasWildcard(parsed.parts[i])) return kErrorInvalidName;
    SimFile* child = Child(folder, parsed.parts[i]);
    if (!child || !child->directory) return ERROR_PATH_NOT_FOUND;
    child = FollowJunction(child, 0);
    if (!child) return ERROR_PATH_NOT_FOUND;
    folder = child;
  }
  found->parent = folder;
  found->leaf = parsed.parts.back();
  if (HasWildcard(found->leaf)) return kErrorInvalidName;
  found->node = Child(folder, found->leaf);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::Lookup(const std::string& path, const SimFile** node) const {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  *node = found.node;
  return ERROR_SUCCESS;
}

const SimFile* SimFileSystem::Node(const std::string& path) const {
  const SimFile* node = nullptr;
  return Lookup(path, &node) == ERROR_SUCCESS ? node : nullptr;
}

SimFile* SimFileSystem::MutableNode(const std::string& path) {
  return const_cast<SimFile*>(Node(path));
}

std::string SimFileSystem::ShortPath(const std::string& path) const {
  Parsed parsed;
  if (ParsePath(path, &parsed) != ERROR_SUCCESS || !Exists(path)) return path;
  auto drive = drives_.find(parsed.drive);
  if (drive == drives_.end()) return path;
  std::string out = parsed.drive;
  SimFile* folder = drive->second.get();
  for (const std::string& part : parsed.parts) {
    SimFile* child = folder ? Child(folder, part) : nullptr;
    out += "\\" + (child && !child->shortName.empty() ? child->shortName : part);
    folder = child && child->directory ? FollowJunction(child, 0) : nullptr;
  }
  return parsed.parts.empty() ? out + "\\" : out;
}

bool SimFileSystem::IsDirectory(const std::string& path) const {
  const SimFile* node = Node(path);
  return node && node->directory;
}

bool SimFileSystem::IsFile(const std::string& path) const {
  const SimFile* node = Node(path);
  return node && !node->directory;
}

std::optional<std::string> SimFileSystem::Contents(const std::string& path) const {
  const SimFile* node = Node(path);
  if (!node || node->directory) return std::nullopt;
  return *node->content;
}

SimFile* SimFileSystem::NewChild(SimFile* folder, const std::string& name, bool directory) {
  auto child = std::make_unique<SimFile>();
  child->name = name;
  child->directory = directory;
  child->parent = folder;
  if (!directory) {
    child->attributes = FILE_ATTRIBUTE_ARCHIVE;
    child->content = std::make_shared<const std::string>();
  }
  SimFile* raw = child.get();
  folder->children[codePage_.Upper(name)] = std::move(child);
  return raw;
}

bool SimFileSystem::MakeFolders(const std::string& path) {
  Parsed parsed;
  if (ParsePath(path, &parsed) != ERROR_SUCCESS) return false;
  auto& root = drives_[parsed.drive];
  if (!root) {
    root = std::make_unique<SimFile>();
    root->name = parsed.drive;
    root->directory = true;
  }
  SimFile* folder = root.get();
  for (const std::string& part : parsed.parts) {
    if (HasWildcard(part)) return false;
    SimFile* child = Child(folder, part);
    if (!child) child = NewChild(folder, part, true);
    if (!child->directory) return false;
    child = FollowJunction(child, 0);
    if (!child) return false;
    folder = child;
  }
  return true;
}

void SimFileSystem::MarkReadOnly(const std::string& folder) {
  SimFile* root = MutableNode(folder);
  if (root == nullptr) return;
  std::vector<SimFile*> pending = {root};
  while (!pending.empty()) {
    SimFile* node = pending.back();
    pending.pop_back();
    if (!node->directory) node->attributes |= FILE_ATTRIBUTE_READONLY;
    for (auto& [name, child] : node->children) pending.push_back(child.get());
  }
}

DWORD SimFileSystem::RenameFolder(const std::string& folder, const std::string& newName) {
  Found found;
  DWORD rc = Find(folder, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  if (!found.parent || !found.node->directory) return ERROR_ACCESS_DENIED;
  if (Child(found.parent, newName)) return ERROR_ALREADY_EXISTS;
  std::vector<const SimFile*> pending = {found.node};
  while (!pending.empty()) {
    const SimFile* node = pending.back();
    pending.pop_back();
    if (!node->directory && (ActiveLock(*node) || OpenForReading(*node))) return ERROR_ACCESS_DENIED;
    for (const auto& [name, child] : node->children) pending.push_back(child.get());
  }
  std::unique_ptr<SimFile> moved = std::move(found.parent->children[codePage_.Upper(found.node->name)]);
  found.parent->children.erase(codePage_.Upper(moved->name));
  moved->name = newName;
  moved->shortName.clear();
  found.parent->children[codePage_.Upper(newName)] = std::move(moved);
  return ERROR_SUCCESS;
}

bool SimFileSystem::Put(const std::string& path, const std::string& bytes) {
  Parsed parsed;
  if (ParsePath(path, &parsed) != ERROR_SUCCESS || parsed.parts.empty()) return false;
  size_t cut = codePage_.Paths().FindLastSeparator(path, true);
  if (cut == std::string::npos || !MakeFolders(path.substr(0, cut + 1))) return false;
  Found found;
  if (Find(path, &found) != ERROR_SUCCESS) return false;
  SimFile* file = found.node ? found.node : NewChild(found.parent, found.leaf, false);
  if (file->directory) return false;
  file->content = std::make_shared<const std::string>(bytes);
  file->version = SimJson();
  file->library = SimJson();
  return true;
}

bool SimFileSystem::Lock(const std::string& path, DWORD error, std::optional<uint64_t> untilMs) {
  SimFile* node = MutableNode(path);
  if (!node || node->directory) return false;
  node->lockError = error;
  node->lockUntilMs = untilMs;
  return true;
}

bool SimFileSystem::Unlock(const std::string& path) {
  SimFile* node = MutableNode(path);
  if (!node || node->lockError == 0) return false;
  node->lockError = 0;
  node->lockUntilMs.reset();
  return true;
}

void SimFileSystem::UnlockAll() {
  std::vector<SimFile*> pending;
  for (auto& [drive, root] : drives_) pending.push_back(root.get());
  while (!pending.empty()) {
    SimFile* node = pending.back();
    pending.pop_back();
    node->lockError = 0;
    node->lockUntilMs.reset();
    for (auto& [name, child] : node->children) pending.push_back(child.get());
  }
}

DWORD SimFileSystem::ActiveLock(const SimFile& file) const {
  if (file.lockError == 0) return 0;
  if (file.lockUntilMs && clock_.now() >= *file.lockUntilMs) return 0;
  return file.lockError;
}

DWORD SimFileSystem::AttributesOf(const SimFile& file) {
  if (file.directory) {
    return file.attributes | FILE_ATTRIBUTE_DIRECTORY |
           (file.reparseTarget.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
  }
  return file.attributes ? file.attributes : FILE_ATTRIBUTE_NORMAL;
}

DWORD SimFileSystem::CheckWritable(const SimFile& file, bool replacing) const {
  if (file.directory) return ERROR_ACCESS_DENIED;
  if (DWORD lock = ActiveLock(file)) return lock;
  if (OpenForReading(file)) return ERROR_SHARING_VIOLATION;
  if (file.attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  // CREATE_ALWAYS with normal attributes refuses a hidden or system file.
  if (replacing && (file.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::OpenForWrite(const std::string& path, bool truncate, SimFile** file) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.parent) return ERROR_ACCESS_DENIED;  // a drive root
  if (found.node) {
    rc = CheckWritable(*found.node, truncate);
    if (rc != ERROR_SUCCESS) return rc;
    *file = found.node;
  } else {
    *file = NewChild(found.parent, found.leaf, false);
  }
  if (truncate) {
    (*file)->content = std::make_shared<const std::string>();
    (*file)->version = SimJson();
    (*file)->library = SimJson();
  }
  (*file)->attributes |= FILE_ATTRIBUTE_ARCHIVE;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::Copy(const std::string& from, const std::string& to, bool failIfExists) {
  SimFile* source = nullptr;
  DWORD rc = FindReadable(from, &source);
  if (rc != ERROR_SUCCESS) return rc;
  Found target;
  rc = Find(to, &target);
  if (rc != ERROR_SUCCESS) return rc;
  if (!target.parent) return ERROR_ACCESS_DENIED;
  const SimFile& src = *source;
  SimFile* dst = target.node;
  if (dst) {
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (dst == &src) return ERROR_SHARING_VIOLATION;
    // A loaded program image (lock 5) cannot be opened for writing: Windows
    // refuses the copy with a sharing violation; only deleting it is denied.
    if (ActiveLock(*dst) == ERROR_ACCESS_DENIED) return ERROR_SHARING_VIOLATION;
    rc = CheckWritable(*dst, true);
    if (rc != ERROR_SUCCESS) return rc;
  } else {
    dst = NewChild(target.parent, target.leaf, false);
  }
  dst->content = src.content;
  dst->uncaptured = src.uncaptured;
  dst->version = src.version;
  dst->library = src.library;
  dst->attributes = src.attributes | FILE_ATTRIBUTE_ARCHIVE;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::Delete(const std::string& path) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  if (found.node->directory) return ERROR_ACCESS_DENIED;
  if (DWORD lock = ActiveLock(*found.node)) return lock;
  if (OpenForReading(*found.node)) return ERROR_SHARING_VIOLATION;
  if (found.node->attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  found.parent->children.erase(codePage_.Upper(found.node->name));
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::GetAttributes(const std::string& path, DWORD* attributes) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  *attributes = AttributesOf(*found.node);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::SetAttributes(const std::string& path, DWORD attributes) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  found.node->attributes = attributes & kSettableAttributes;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::FindFirst(const std::string& pattern, FindHandle* handle, FindData* data) {
  const PathChars paths = codePage_.Paths();
  size_t cut = paths.FindLastSeparator(pattern, true);
  std::string folderPath, mask;
  if (cut == std::string::npos) {
    folderPath = currentDirectory_;
    mask = pattern;
  } else {
    folderPath = pattern.substr(0, cut + 1);
    mask = pattern.substr(cut + 1);
  }
  Found found;
  DWORD rc = Find(folderPath, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_PATH_NOT_FOUND;
  if (!found.node->directory) return ERROR_DIRECTORY;
  SimFile* folder = FollowJunction(found.node, 0);
  if (!folder) return ERROR_PATH_NOT_FOUND;
  if (mask.empty()) return ERROR_FILE_NOT_FOUND;
  if (!IsValidComponent(mask, paths)) return kErrorInvalidName;
  std::string foldedMask = codePage_.Upper(mask);
  Search search;
  if (folder->parent) {
    for (const char* dots : {".", ".."}) {
      if (WildcardMatch(foldedMask, dots)) {
        search.entries.push_back(FindData{FILE_ATTRIBUTE_DIRECTORY, dots, 0});
      }
    }
  }
  for (const auto& [folded, child] : folder->children) {
    bool match = WildcardMatch(foldedMask, folded) ||
                 (!child->shortName.empty() &&
                  WildcardMatch(foldedMask, codePage_.Upper(child->shortName)));
    if (!match) continue;
    search.entries.push_back(FindData{AttributesOf(*child), child->name,
                                      child->directory ? 0 : child->content->size()});
  }
  if (search.entries.empty()) return ERROR_FILE_NOT_FOUND;
  *data = search.entries[0];
  search.next = 1;
  uintptr_t value = nextFind_;
  nextFind_ += 4;
  finds_[value] = std::move(search);
  *handle = reinterpret_cast<FindHandle>(value);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::FindNext(FindHandle handle, FindData* data) {
  auto it = finds_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == finds_.end()) return ERROR_INVALID_HANDLE;
  Search& search = it->second;
  if (search.next >= search.entries.size()) return ERROR_NO_MORE_FILES;
  *data = search.entries[search.next++];
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::FindClose(FindHandle handle) {
  auto it = finds_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == finds_.end()) return ERROR_INVALID_HANDLE;
  finds_.erase(it);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::CreateDirectory(const std::string& path) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (found.node) return found.parent ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
  NewChild(found.parent, found.leaf, true);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::CreatePrivateDirectory(const std::string& path) {
  DWORD rc = CreateDirectory(path);
  if (rc == ERROR_SUCCESS) MutableNode(path)->adminsOnly = true;
  return rc;
}

DWORD SimFileSystem::DeleteAtRestart(const std::string& path) {
  if (!Exists(path)) return ERROR_FILE_NOT_FOUND;
  if (!scheduleDelete_) return ERROR_CALL_NOT_IMPLEMENTED;
  return scheduleDelete_(path);
}

DWORD SimFileSystem::RemoveDirectory(const std::string& path) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  if (!found.parent) return ERROR_ACCESS_DENIED;
  SimFile* node = found.node;
  if (!node->directory) return ERROR_DIRECTORY;
  if (node->attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  // A junction goes by itself; its target stays.
  if (node->reparseTarget.empty() && !node->children.empty()) return ERROR_DIR_NOT_EMPTY;
  found.parent->children.erase(codePage_.Upper(node->name));
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::GetTempFileName(const std::string& dir, const std::string& prefix,
                                     UINT unique, std::string* path) {
  Found found;
  DWORD rc = Find(dir, &found);
  if (rc != ERROR_SUCCESS || !found.node || !found.node->directory) return ERROR_DIRECTORY;
  std::string base = dir;
  if (!codePage_.Paths().EndsWithSeparator(base, true)) base += '\\';
  base += prefix.substr(0, 3);
  auto nameFor = [&base](unsigned number) {
    char digits[16];
    snprintf(digits, sizeof(digits), "%X", number);
    return base + digits + ".tmp";
  };
  if (unique != 0) {
    *path = nameFor(unique & 0xFFFF);
    return ERROR_SUCCESS;
  }
  unsigned number = ticks_() & 0xFFFF;
  if (number == 0) number = 1;
  for (unsigned tries = 0; tries < 0xFFFF; ++tries) {
    std::string candidate = nameFor(number);
    Found slot;
    rc = Find(candidate, &slot);
    if (rc != ERROR_SUCCESS) return rc;
    if (!slot.node) {
      NewChild(slot.parent, slot.leaf, false);
      *path = candidate;
      return ERROR_SUCCESS;
    }
    number = number == 0xFFFF ? 1 : number + 1;
  }
  return ERROR_FILE_EXISTS;
}

DWORD SimFileSystem::GetLongPathName(const std::string& path, std::string* longPath) {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  // Walk the path as written, putting each described short name's long name in its place.
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  std::string out;
  size_t pos = 0;
  if (text.size() >= 2 && text[1] == ':') {
    out = text.substr(0, 2);
    pos = 2;
  }
  bool rooted = pos < text.size() && text[pos] == '\\';
  std::string folderPath = rooted ? out + "\\" : currentDirectory_;
  Found folderFound;
  Find(folderPath, &folderFound);
  SimFile* folder = folderFound.node;
  std::vector<std::string> parts;
  std::string current;
  const PathChars paths = codePage_.Paths();
  for (size_t i = pos; i < text.size(); i = paths.Next(text, i)) {
    if (text[i] == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.append(text, i, paths.Next(text, i) - i);
    }
  }
  if (!current.empty()) parts.push_back(current);
  if (rooted) out += "\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name = parts[i];
    SimFile* child = folder && name != "." && name != ".." ? Child(folder, name) : nullptr;
    if (child && codePage_.Upper(child->name) != codePage_.Upper(name)) name = child->name;
    out += name;
    if (i + 1 < parts.size()) out += "\\";
    folder = child ? FollowJunction(child, 0) : nullptr;
  }
  if (paths.EndsWithSeparator(text) && !parts.empty()) out += "\\";
  *longPath = out;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::CreateEmpty(const std::string& path) {
  SimFile* file = nullptr;
  return OpenForWrite(path, true, &file);
}

DWORD SimFileSystem::AppendText(const std::string& path, const std::string& text) {
  SimFile* file = nullptr;
  DWORD rc = OpenForWrite(path, false, &file);
  if (rc != ERROR_SUCCESS) return rc;
  std::string bytes = *file->content;
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  file->content = std::make_shared<const std::string>(std::move(bytes));
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::FindReadable(const std::string& path, SimFile** file) const {
  Found found;
  DWORD rc = Find(path, &found);
  if (rc != ERROR_SUCCESS) return rc;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  if (found.node->directory) return ERROR_ACCESS_DENIED;
  if (ActiveLock(*found.node) == ERROR_SHARING_VIOLATION) return ERROR_SHARING_VIOLATION;
  *file = found.node;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::ReadFile(const std::string& path, std::string* bytes) {
  SimFile* file = nullptr;
  DWORD rc = FindReadable(path, &file);
  if (rc != ERROR_SUCCESS) return rc;
  *bytes = *file->content;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::OpenForRead(const std::string& path, ReadHandle* handle, uint64_t* size) {
  SimFile* file = nullptr;
  DWORD rc = FindReadable(path, &file);
  if (rc != ERROR_SUCCESS) return rc;
  const uintptr_t id = nextRead_++;
  reads_[id] = OpenRead{file, file->content, 0};
  *size = file->content ? file->content->size() : 0;
  *handle = reinterpret_cast<ReadHandle>(id);
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::ReadPiece(ReadHandle handle, size_t maxBytes, std::string* bytes) {
  auto it = reads_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == reads_.end()) return ERROR_INVALID_HANDLE;
  OpenRead& open = it->second;
  const size_t size = open.content ? open.content->size() : 0;
  const size_t take = std::min(maxBytes, size - std::min(open.offset, size));
  *bytes = take ? open.content->substr(open.offset, take) : std::string();
  open.offset += take;
  return ERROR_SUCCESS;
}

bool SimFileSystem::OpenForReading(const SimFile& file) const {
  for (const auto& [id, open] : reads_) {
    if (open.node == &file) return true;
  }
  return false;
}

DWORD SimFileSystem::CloseRead(ReadHandle handle) {
  if (reads_.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

DWORD SimFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  SimFile* file = nullptr;
  DWORD rc = OpenForWrite(path, true, &file);
  if (rc != ERROR_SUCCESS) return rc;
  file->content = std::make_shared<const std::string>(bytes);
  return ERROR_SUCCESS;
}

// Reads the INI file the way GetPrivateProfileString does: the first section
// of the name and the first key of the name in it (both without regard to
// case, blanks around them dropped), lines without "=" skipped, blanks around
// the value dropped, one pair of matching quotes around the value
// removed, ";" lines skipped, and the default (without trailing blanks) when
// the file, section or key is missing. The text is cut to size - 1 characters.
DWORD SimFileSystem::GetPrivateProfileString(const std::string& section, const std::string& key,
                                             const std::string& defaultValue, std::string* value,
                                             DWORD size, const std::string& file) {
  std::string result = defaultValue;
  size_t keep = result.find_last_not_of(' ');
  result.resize(keep == std::string::npos ? 0 : keep + 1);

  std::string path = file;
  if (path.find_first_of("\\/") == std::string::npos && path.find(':') == std::string::npos) {
    path = windowsDirectory_ + "\\" + path;
  }
  std::string bytes;
  if (ReadFile(path, &bytes) == ERROR_SUCCESS) {
    std::string wantSection = codePage_.Upper(TrimBlanks(section));
    std::string wantKey = codePage_.Upper(TrimBlanks(key));
    std::istringstream lines(bytes);
    std::string line;
    bool inSection = false, sectionSeen = false, found = false;
    while (!found && std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string trimmed = TrimBlanks(line);
      if (trimmed.empty() || trimmed[0] == ';') continue;
      if (trimmed[0] == '[') {
        if (sectionSeen) break;
        size_t close = trimmed.find(']');
        std::string name = TrimBlanks(
            trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        inSection = codePage_.Upper(name) == wantSection;
        sectionSeen = inSection;
        continue;
      }
      if (!inSection) continue;
      size_t equals = trimmed.find('=');
      if (equals == std::string::npos) continue;
      std::string name = TrimBlanks(trimmed.substr(0, equals));
      if (codePage_.Upper(name) != wantKey) continue;
      std::string text = TrimBlanks(trimmed.substr(equals + 1));
      if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
        text = text.substr(1, text.size() - 2);
      }
      result = text;
      found = true;
    }
  }
  if (size == 0) return 0;
  if (result.size() > size - 1) result.resize(size - 1);
  *value = result;
  return static_cast<DWORD>(result.size());
}

// ---- The machine format ----

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
    fs::path relative = fs::relative(it->path(), hostDir, ec);
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
