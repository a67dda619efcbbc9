#include "platform/sim/sim_files.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr int kJunctionDepth = 8;

bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

// A double-byte character is valid whatever its second byte: ポ ends in 0x7C, '|'.
bool IsValidComponent(const std::string& name, const PathChars& chars) {
  const bool doubleByte = chars.DoubleByte();
  for (size_t i = 0; i < name.size(); i = doubleByte ? chars.Next(name, i) : i + 1) {
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
  // Separators found character by character: the second byte of 表 (0x95
  // 0x5C) is no separator.
  for (size_t i = 0; i < rest.size();) {
    size_t separator = paths.FindSeparator(rest, i);
    if (separator == PathChars::npos) separator = rest.size();
    current.assign(rest, i, separator - i);
    if (!flush()) return kErrorInvalidName;
    i = separator + 1;
  }
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
