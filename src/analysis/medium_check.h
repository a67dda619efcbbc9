// The check of the installation medium against its manifest, "medium.sha"
// beside setup.exe (its format: platform/medium_manifest.h). Every file named
// there is read once, in pieces, and its digest compared before the setup
// uses any of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/medium_manifest.h"
#include "platform/owners.h"
#include "platform/sha256.h"


// Whether the file at `path` still has the digest the manifest gives the
// medium file `name` (without regard to case), read in pieces with writing
// refused meanwhile. True when the manifest does not name the file (a medium
// without a manifest is used unchecked); false when it does not match or
// cannot be read (`error`: the Windows error, 0 when it was read).
bool MatchesManifest(FileSystem& files, const std::vector<MediumFile>& manifest,
                     const std::string& name, const std::string& path, DWORD* error);

class CMediumCheck {
 public:
  enum Result { kPassed, kPending, kFailed, kNoManifest };
  // Bytes asked for by one read.
  static constexpr size_t kPieceBytes = 64 * 1024;

  CMediumCheck(FileSystem& files, const std::string& setupDir)
      : files_(files), setupDir_(setupDir), open_(files) {}

  // Reads and parses the manifest: kNoManifest when the medium has none,
  // kFailed when it cannot be read or a line does not parse (the manifest is
  // then the damaged file), else kPending.
  Result Load();
  // Checks the files of `names` that the manifest lists, each whole, now.
  Result CheckNow(const char* const* names, size_t count);
  // Goes on with the files not checked yet, in the manifest's order, until
  // all are checked (kPassed), one fails (kFailed) or `maxBytes` have been
  // read in this call (kPending).
  Result Continue(uint64_t maxBytes);

  // The failure: the file's name on the medium, and the Windows error that
  // kept it from being read (0: it was read and does not match).
  const std::string& failedFile() const { return failedFile_; }
  DWORD failedError() const { return failedError_; }
  // The manifest's line that did not parse (0 when all did).
  size_t badLine() const { return badLine_; }

  size_t fileCount() const { return entries_.size(); }
  // The manifest's files with their digests.
  const std::vector<MediumFile>& files() const { return entries_; }
  // The file being read and how far, "Zentavo.msi 37%", for the message line.
  std::string Progress() const;
  // What the check cost: bytes read, and the reads (pieces) it took.
  uint64_t bytesRead() const { return bytesRead_; }
  uint64_t reads() const { return reads_; }

 private:
  // Reads pieces of file `index` until it ends or the budget is spent.
  Result CheckFile(size_t index, uint64_t* budget);
  Result Fail(const std::string& name, DWORD error);
  std::string PathOf(const std::string& name) const { return setupDir_ + "\\" + name; }

  FileSystem& files_;
  std::string setupDir_;
  std::vector<MediumFile> entries_;
  // One flag a file, in bytes: the bit vector would bring its own code.
  std::vector<char> checked_;
  // The file being read: its index (or npos), handle, size, digest so far.
  size_t current_ = static_cast<size_t>(-1);
  UniqueRead open_;
  uint64_t size_ = 0;
  uint64_t done_ = 0;
  CSha256 hash_;
  std::string failedFile_;
  DWORD failedError_ = 0;
  size_t badLine_ = 0;
  uint64_t bytesRead_ = 0;
  uint64_t reads_ = 0;
};
