#include "analysis/medium_check.h"

#include <set>

namespace {

// A manifest of this size is no manifest of ours: refused before it fills memory.
constexpr uint64_t kManifestLimit = 1024 * 1024;

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

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

CMediumCheck::Result CMediumCheck::CheckNow(const char* const* names, size_t count) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (checked_[i]) continue;
    bool wanted = false;
    for (size_t n = 0; n < count && !wanted; ++n) {
      wanted = UpperCase(names[n]) == UpperCase(entries_[i].name);
    }
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
