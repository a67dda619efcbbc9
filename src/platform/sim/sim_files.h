// The simulated file system: drives of folders and files held in memory, with
// case-insensitive names that keep their case, 8.3 short names where the
// description gives them, attributes, files held open by other programs
// ("locked", optionally until a virtual time), junctions, and the file
// properties the other services read: version resources and library
// behaviour. Every call answers with the code Windows gives.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_json.h"

struct SimFile {
  std::string name;
  std::string shortName;  // the 8.3 alias, when described
  bool directory = false;
  DWORD attributes = 0;  // READONLY, HIDDEN, SYSTEM, ARCHIVE
  std::shared_ptr<const std::string> content;
  // A file described by its size alone (a capture does not take the bytes of
  // files the setup never reads): the zeros it was loaded with, as long as
  // `content` is still this very string. It is written back as "size".
  std::shared_ptr<const std::string> uncaptured;
  SimJson version;  // a version resource in the machine format, null when none
  SimJson library;  // LoadLibraryEx behaviour, null when the file is no library
  DWORD lockError = 0;
  std::optional<uint64_t> lockUntilMs;  // virtual time of the run when the lock goes
  // A folder made for Administrators and SYSTEM alone: no other user's
  // program can write in it.
  bool adminsOnly = false;
  std::string reparseTarget;            // a junction's target folder
  std::map<std::string, std::unique_ptr<SimFile>> children;  // by upper-cased name
  SimFile* parent = nullptr;
};

class SimFileSystem : public FileSystem {
 public:
  SimFileSystem(SimClock& clock, const SimCodePage& codePage);
  ~SimFileSystem() override;

  // Relative paths and paths without a drive are taken from here (the folder
  // of the setup program, as when it is started from Explorer or autorun).
  void SetCurrentDirectory(const std::string& folder) { currentDirectory_ = folder; }
  const std::string& currentDirectory() const { return currentDirectory_; }
  // GetPrivateProfileString looks for a file named without a folder here.
  void SetWindowsDirectory(const std::string& folder) { windowsDirectory_ = folder; }
  // GetTempFileName draws its first number from this counter (GetTickCount).
  void SetTickSource(std::function<DWORD()> ticks) { ticks_ = std::move(ticks); }

  // Adds the entries of a "files" section of the machine format.
  bool Load(const SimJson& section, const std::string& pointer, std::string* error);
  // Applies one file object of the machine format at `path` (created as
  // needed; members given replace what is there).
  bool LoadEntry(const std::string& path, const SimJson& entry, const std::string& pointer,
                 std::string* error);
  SimJson ToJson() const;
  // Copies the host folder's files recursively into `folder`.
  bool MountHostFolder(const std::string& hostDir, const std::string& folder,
                       std::string* error);

  // Direct access for tests, the runner and the other simulated services.
  // Paths are machine paths in the machine's code page.
  const SimFile* Node(const std::string& path) const;
  SimFile* MutableNode(const std::string& path);
  bool Exists(const std::string& path) const { return Node(path) != nullptr; }
  bool IsDirectory(const std::string& path) const;
  bool IsFile(const std::string& path) const;
  std::optional<std::string> Contents(const std::string& path) const;
  // Creates the file and the folders on its way; replaces an existing file.
  bool Put(const std::string& path, const std::string& bytes);
  bool MakeFolders(const std::string& path);
  // A program holds the file open: copies onto it and deletes fail with
  // `error` (reads too when it is ERROR_SHARING_VIOLATION) until released.
  bool Lock(const std::string& path, DWORD error, std::optional<uint64_t> untilMs);
  bool Unlock(const std::string& path);
  // Every lock goes: the programs that held the files have ended.
  void UnlockAll();
  DWORD ActiveLock(const SimFile& file) const;
  // Find handles handed out and not closed yet.
  size_t openFindCount() const { return finds_.size(); }
  // The error a path lookup gives (ERROR_SUCCESS, 2 or 3) and the node.
  DWORD Lookup(const std::string& path, const SimFile** node) const;

  // FileSystem
  DWORD Copy(const std::string& from, const std::string& to, bool failIfExists) override;
  DWORD Delete(const std::string& path) override;
  DWORD GetAttributes(const std::string& path, DWORD* attributes) override;
  DWORD SetAttributes(const std::string& path, DWORD attributes) override;
  DWORD FindFirst(const std::string& pattern, FindHandle* handle, FindData* data) override;
  DWORD FindNext(FindHandle handle, FindData* data) override;
  DWORD FindClose(FindHandle handle) override;
  DWORD CreateDirectory(const std::string& path) override;
  DWORD CreatePrivateDirectory(const std::string& path) override;
  DWORD DeleteAtRestart(const std::string& path) override;
  // Where DeleteAtRestart records its operation (the machine's restart list).
  void AttachRestartOperations(std::function<DWORD(const std::string& path)> schedule) {
    scheduleDelete_ = std::move(schedule);
  }
  DWORD RemoveDirectory(const std::string& path) override;
  DWORD GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique,
                        std::string* path) override;
  DWORD GetLongPathName(const std::string& path, std::string* longPath) override;
  DWORD CreateEmpty(const std::string& path) override;
  DWORD AppendText(const std::string& path, const std::string& text) override;
  DWORD ReadFile(const std::string& path, std::string* bytes) override;
  DWORD OpenForRead(const std::string& path, ReadHandle* handle, uint64_t* size) override;
  DWORD ReadPiece(ReadHandle handle, size_t maxBytes, std::string* bytes) override;
  DWORD CloseRead(ReadHandle handle) override;
  // Files opened for reading and not closed yet.
  size_t openReadCount() const { return reads_.size(); }
  DWORD WriteFile(const std::string& path, const std::string& bytes) override;
  // Returns the number of characters copied, as Windows does.
  DWORD GetPrivateProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, std::string* value, DWORD size,
                                const std::string& file) override;

 private:
  struct Parsed {
    std::string drive;               // "C:"
    std::vector<std::string> parts;  // components after the root
  };
  struct Found {
    SimFile* parent = nullptr;  // the folder that holds (or would hold) the leaf
    SimFile* node = nullptr;    // null when the leaf does not exist
    std::string leaf;
  };
  struct Search {
    std::vector<FindData> entries;
    size_t next = 0;
  };
  // A file open for reading shares reading only: writing or deleting it
  // fails with ERROR_SHARING_VIOLATION until it is closed.
  struct OpenRead {
    const SimFile* node = nullptr;
    std::shared_ptr<const std::string> content;
    size_t offset = 0;
  };

  DWORD ParsePath(const std::string& path, Parsed* parsed) const;
  SimFile* Child(SimFile* folder, const std::string& name) const;
  SimFile* FollowJunction(SimFile* folder, int depth) const;
  DWORD Find(const std::string& path, Found* found) const;
  // The file at `path` as a reader opens it: an existing file, not a folder,
  // not held by a program that shares no reading.
  DWORD FindReadable(const std::string& path, SimFile** file) const;
  SimFile* NewChild(SimFile* folder, const std::string& name, bool directory);
  // Opening an existing file for writing: the lock, read-only and
  // hidden/system checks of CreateFile.
  DWORD CheckWritable(const SimFile& file, bool replacing) const;
  bool OpenForReading(const SimFile& file) const;
  DWORD OpenForWrite(const std::string& path, bool truncate, SimFile** file);
  static DWORD AttributesOf(const SimFile& file);
  void EntryToJson(const SimFile& node, const std::string& path, SimJson* out) const;
  std::string DisplayPath(const SimFile& node) const;

  SimClock& clock_;
  const SimCodePage& codePage_;
  std::map<std::string, std::unique_ptr<SimFile>> drives_;
  std::function<DWORD(const std::string&)> scheduleDelete_;  // "C:" -> root folder
  std::string currentDirectory_ = "C:\\";
  std::string windowsDirectory_ = "C:\\WINDOWS";
  std::function<DWORD()> ticks_;
  std::map<uintptr_t, Search> finds_;
  uintptr_t nextFind_ = 0x100;
  std::map<uintptr_t, OpenRead> reads_;
  uintptr_t nextRead_ = 0x100;
};
