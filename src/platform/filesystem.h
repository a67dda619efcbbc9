// The file service: the Win32 file calls the setup makes. Paths are
// drive-letter paths with backslashes, byte strings in the ANSI code page.
// Every operation returns a Win32 error code (ERROR_SUCCESS on success) where
// Win32 would set the thread's last error; out-parameters are untouched on
// failure.
#pragma once

#include <string>

#include "platform/wintypes.h"

struct FindData {
  DWORD attributes = 0;
  std::string name;  // cFileName: the entry's name without its folder
  uint64_t size = 0;
};

// A search handle of FindFirst; closed by FindClose.
typedef struct FindHandle__* FindHandle;
// A file opened for reading in pieces by OpenForRead; closed by CloseRead.
typedef struct ReadHandle__* ReadHandle;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // CopyFile: `failIfExists` gives ERROR_FILE_EXISTS for an existing target.
  virtual DWORD Copy(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual DWORD Delete(const std::string& path) = 0;  // DeleteFile
  virtual DWORD GetAttributes(const std::string& path, DWORD* attributes) = 0;
  virtual DWORD SetAttributes(const std::string& path, DWORD attributes) = 0;
  // FindFirstFile with a pattern such as "C:\dir\*.*"; ERROR_FILE_NOT_FOUND
  // when nothing matches, ERROR_PATH_NOT_FOUND when the folder is missing.
  virtual DWORD FindFirst(const std::string& pattern, FindHandle* handle, FindData* data) = 0;
  virtual DWORD FindNext(FindHandle handle, FindData* data) = 0;  // ERROR_NO_MORE_FILES at the end
  virtual DWORD FindClose(FindHandle handle) = 0;
  virtual DWORD CreateDirectory(const std::string& path) = 0;
  // CreateDirectory with a security descriptor that admits only the
  // Administrators group and SYSTEM on the NT family (Windows 9x has no file
  // security: a plain folder there). ERROR_ALREADY_EXISTS when the path
  // exists: a folder someone else made is never taken for ours.
  virtual DWORD CreatePrivateDirectory(const std::string& path) = 0;
  // Deletes the file, or the empty folder, when Windows next starts:
  // MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT on NT, a "NUL=" line of
  // WININIT.INI's [rename] section (files only) on Windows 9x.
  virtual DWORD DeleteAtRestart(const std::string& path) = 0;
  virtual DWORD RemoveDirectory(const std::string& path) = 0;
  // GetTempFileName: creates the empty file and returns its full path.
  virtual DWORD GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique,
                                std::string* path) = 0;
  // GetLongPathName: the long form of an existing path.
  virtual DWORD GetLongPathName(const std::string& path, std::string* longPath) = 0;
  // Creates the file empty, or truncates it (fopen "w" and fclose).
  virtual DWORD CreateEmpty(const std::string& path) = 0;
  // Appends in text mode (fopen "a" text): each "\n" becomes CR LF in the file.
  virtual DWORD AppendText(const std::string& path, const std::string& text) = 0;
  // Reads a whole file as bytes.
  virtual DWORD ReadFile(const std::string& path, std::string* bytes) = 0;
  // CreateFile for reading (others may read it too, no one may write it
  // meanwhile), for reading in pieces with ReadPiece; `size` is its size then.
  virtual DWORD OpenForRead(const std::string& path, ReadHandle* handle, uint64_t* size) = 0;
  // ReadFile of at most `maxBytes` bytes from where the last piece ended;
  // an empty piece at the end of the file.
  virtual DWORD ReadPiece(ReadHandle handle, size_t maxBytes, std::string* bytes) = 0;
  virtual DWORD CloseRead(ReadHandle handle) = 0;
  // Creates or replaces a file with these bytes.
  virtual DWORD WriteFile(const std::string& path, const std::string& bytes) = 0;
  // GetPrivateProfileString: `size` is the caller's buffer size in bytes.
  // It cannot fail (a missing file, section or key gives the default) and,
  // unlike the other operations, returns what Windows returns: the number of
  // characters copied.
  virtual DWORD GetPrivateProfileString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue, std::string* value,
                                        DWORD size, const std::string& file) = 0;
};
