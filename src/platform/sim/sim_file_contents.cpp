// The simulated file system's contents: what a file holds as the calls read
// it (whole, through a read handle, or as an INI file) and write it (whole,
// empty, or appended to as text).
#include <algorithm>
#include <memory>
#include <string>

#include "platform/sim/sim_files.h"

namespace {

std::string TrimBlanks(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

}  // namespace

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
