#include "analysis/medium_check.h"

#include <set>

namespace {

constexpr size_t kDigestDigits = 2 * CSha256::kDigestSize;
// A manifest of this size is no manifest of ours: refused before it fills memory.
constexpr uint64_t kManifestLimit = 1024 * 1024;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A name inside the setup folder: relative, no empty, "." or ".." component,
// no drive, no control characters. Slashes become backslashes.
bool ParseName(const std::string& text, std::string* name) {
  if (text.empty()) return false;
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '\\';
    if (static_cast<unsigned char>(c) < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|') {
      return false;
    }
    if (c != '\\' && c != '/') continue;
    const std::string part = text.substr(start, i - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (!out.empty()) out += '\\';
    out += part;
    start = i + 1;
  }
  *name = out;
  return true;
}

bool ParseLine(const std::string& line, MediumFile* file) {
  if (line.size() < kDigestDigits + 3) return false;
  for (size_t i = 0; i < kDigestDigits; ++i) {
    if (!IsHexDigit(line[i])) return false;
  }
  // sha256sum's text mode ("  ") or binary mode (" *").
  if (line[kDigestDigits] != ' ' ||
      (line[kDigestDigits + 1] != ' ' && line[kDigestDigits + 1] != '*')) {
    return false;
  }
  if (!ParseName(line.substr(kDigestDigits + 2), &file->name)) return false;
  file->digest.clear();
  for (size_t i = 0; i < kDigestDigits; ++i) file->digest += Lower(line[i]);
  return true;
}

}  // namespace

size_t ParseMediumManifest(const std::string& text, std::vector<MediumFile>* files) {
  std::vector<MediumFile> parsed;
  std::set<std::string> names;
  size_t number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    ++number;
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    MediumFile file;
    if (!ParseLine(line, &file) || !names.insert(UpperCase(file.name)).second) return number;
    parsed.push_back(std::move(file));
  }
  *files = std::move(parsed);
  return 0;
}

CMediumCheck::Result CMediumCheck::Fail(const std::string& name, DWORD error) {
  failedFile_ = name;
  failedError_ = error;
  open_.reset();
  current_ = static_cast<size_t>(-1);
  return kFailed;
}

CMediumCheck::Result CMediumCheck::Load() {
  UniqueRead manifest(files_);
  uint64_t size = 0;
  DWORD error = files_.OpenForRead(PathOf(kMediumManifestName), manifest.put(), &size);
  if (error == ERROR_FILE_NOT_FOUND) return kNoManifest;
  if (error != ERROR_SUCCESS) return Fail(kMediumManifestName, error);
  std::string text;
  for (;;) {
    std::string piece;
    error = files_.ReadPiece(manifest.get(), kPieceBytes, &piece);
    if (error != ERROR_SUCCESS) return Fail(kMediumManifestName, error);
    if (piece.empty()) break;
    text += piece;
    if (text.size() > kManifestLimit) {
      badLine_ = 1;
      return Fail(kMediumManifestName, 0);
    }
  }
  // An empty manifest lists nothing: a cut-off copy, not a medium to trust.
  badLine_ = text.empty() ? 1 : ParseMediumManifest(text, &entries_);
  if (badLine_ != 0) return Fail(kMediumManifestName, 0);
  checked_.assign(entries_.size(), false);
  return kPending;
}

CMediumCheck::Result CMediumCheck::CheckFile(size_t index, uint64_t* budget) {
  const MediumFile& entry = entries_[index];
  if (current_ != index) {
    open_.reset();
    current_ = index;
    done_ = 0;
    size_ = 0;
    hash_.Reset();
    DWORD error = files_.OpenForRead(PathOf(entry.name), open_.put(), &size_);
    if (error != ERROR_SUCCESS) return Fail(entry.name, error);
  }
  while (*budget > 0) {
    std::string piece;
    DWORD error = files_.ReadPiece(open_.get(), kPieceBytes, &piece);
    ++reads_;
    if (error != ERROR_SUCCESS) return Fail(entry.name, error);
    if (piece.empty()) {
      uint8_t digest[CSha256::kDigestSize];
      hash_.Final(digest);
      open_.reset();
      current_ = static_cast<size_t>(-1);
      if (CSha256::ToHex(digest) != entry.digest) return Fail(entry.name, 0);
      checked_[index] = true;
      return kPassed;
    }
    hash_.Update(piece.data(), piece.size());
    done_ += piece.size();
    bytesRead_ += piece.size();
    *budget = piece.size() >= *budget ? 0 : *budget - piece.size();
  }
  return kPending;
}

CMediumCheck::Result CMediumCheck::CheckNow(const std::vector<const char*>& names) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (checked_[i]) continue;
    bool wanted = false;
    for (const char* name : names) wanted = wanted || UpperCase(name) == UpperCase(entries_[i].name);
    if (!wanted) continue;
    uint64_t unlimited = UINT64_MAX;
    if (CheckFile(i, &unlimited) == kFailed) return kFailed;
  }
  return kPending;
}

CMediumCheck::Result CMediumCheck::Continue(uint64_t maxBytes) {
  uint64_t budget = maxBytes;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (checked_[i]) continue;
    Result result = CheckFile(i, &budget);
    if (result != kPassed) return result;
  }
  return kPassed;
}

std::string CMediumCheck::Progress() const {
  if (current_ >= entries_.size()) return std::string();
  const std::string& name = entries_[current_].name;
  const size_t slash = name.rfind('\\');
  const unsigned percent = size_ == 0 ? 0 : static_cast<unsigned>(done_ * 100 / size_);
  return name.substr(slash == std::string::npos ? 0 : slash + 1) + " " +
         std::to_string(percent) + "%";
}

bool MatchesManifest(FileSystem& files, const std::vector<MediumFile>& manifest,
                     const std::string& name, const std::string& path, DWORD* error) {
  *error = ERROR_SUCCESS;
  const MediumFile* wanted = nullptr;
  for (const MediumFile& file : manifest) {
    if (UpperCase(file.name) == UpperCase(name)) wanted = &file;
  }
  if (wanted == nullptr) return true;
  UniqueRead open(files);
  uint64_t size = 0;
  *error = files.OpenForRead(path, open.put(), &size);
  if (*error != ERROR_SUCCESS) return false;
  CSha256 hash;
  for (;;) {
    std::string piece;
    *error = files.ReadPiece(open.get(), CMediumCheck::kPieceBytes, &piece);
    if (*error != ERROR_SUCCESS) return false;
    if (piece.empty()) break;
    hash.Update(piece.data(), piece.size());
  }
  uint8_t digest[CSha256::kDigestSize];
  hash.Final(digest);
  return CSha256::ToHex(digest) == wanted->digest;
}
