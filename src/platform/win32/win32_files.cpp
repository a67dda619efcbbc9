// The file system over kernel32 and the C run-time. Text appends go through
// the run-time's text mode, which writes each "\n" as CR LF; binary reads and
// writes go through CreateFile so that their errors are the system's own.
#include "platform/wintypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"
#include "platform/wininit.h"

namespace win32 {
namespace {

struct CrtFileTraits {
  using Type = FILE*;
  static Type Invalid() { return nullptr; }
  static void Close(Type file) { fclose(file); }
};
using UniqueCrtFile = UniqueAny<CrtFileTraits>;

// The system error behind a failed C run-time file call: the run-time keeps the
// code of the failing Win32 call in _doserrno.
DWORD CrtError() {
  DWORD error = static_cast<DWORD>(_doserrno);
  return error != ERROR_SUCCESS ? error : LastError();
}

// Opens with the run-time after clearing its error slot, so a failure reports
// this call's cause and not an earlier one.
DWORD CrtOpen(const std::string& path, const char* mode, UniqueCrtFile* file) {
  _doserrno = 0;
  ::SetLastError(ERROR_SUCCESS);
  FILE* opened = fopen(path.c_str(), mode);
  if (!opened) return CrtError();
  file->reset(opened);
  return ERROR_SUCCESS;
}

// Closes a written file and reports a failed flush.
DWORD CrtClose(UniqueCrtFile* file) {
  _doserrno = 0;
  ::SetLastError(ERROR_SUCCESS);
  if (fclose(file->release()) != 0) return CrtError();
  return ERROR_SUCCESS;
}

FindData ToFindData(const WIN32_FIND_DATAA& found) {
  FindData data;
  data.attributes = found.dwFileAttributes;
  data.name = found.cFileName;
  data.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  return data;
}

HANDLE ToHandle(FindHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsNt() { return (::GetVersion() & 0x80000000u) == 0; }

// A security descriptor whose DACL grants full control to BUILTIN\Administrators
// and to LOCAL SYSTEM alone. From Windows 2000 on, a new folder's DACL also
// takes the inheritable entries of its parent unless the DACL is marked
// protected: in a temporary folder that others may write (NT 4.0's C:\TEMP
// kept through an upgrade, the Windows folder's Temp of a run as SYSTEM)
// they could then create files in ours. The mark is set with
// SetSecurityDescriptorControl (Windows 2000 and later); NT 4.0 uses an
// explicit DACL as given. The advapi32 calls are looked up at run time:
// Windows 95 lacks some of them, and the setup must load there.
class PrivateFolderSecurity {
 public:
  ~PrivateFolderSecurity() {
    if (administrators_ && freeSid_) freeSid_(administrators_);
    if (system_ && freeSid_) freeSid_(system_);
  }
  DWORD Make() {
    HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
    if (!advapi) advapi = ::LoadLibraryA("advapi32.dll");
    if (!advapi) return LastError();
    auto allocate = ProcAddress<AllocateFn>(advapi, "AllocateAndInitializeSid");
    freeSid_ = ProcAddress<FreeSidFn>(advapi, "FreeSid");
    auto length = ProcAddress<LengthFn>(advapi, "GetLengthSid");
    auto initAcl = ProcAddress<InitAclFn>(advapi, "InitializeAcl");
    auto addAce = ProcAddress<AddAceFn>(advapi, "AddAccessAllowedAce");
    auto initSd = ProcAddress<InitSdFn>(advapi, "InitializeSecurityDescriptor");
    auto setDacl = ProcAddress<SetDaclFn>(advapi, "SetSecurityDescriptorDacl");
    if (!allocate || !freeSid_ || !length || !initAcl || !addAce || !initSd || !setDacl) {
      return ERROR_PROC_NOT_FOUND;
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!allocate(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                  &administrators_) ||
        !allocate(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_)) {
      return LastError();
    }
    const DWORD size = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                       length(administrators_) + length(system_);
    acl_.assign(size, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    if (!initAcl(acl, size, ACL_REVISION) ||
        !AddAce(addAce, acl, administrators_, inherit) || !AddAce(addAce, acl, system_, inherit) ||
        !initSd(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !setDacl(&descriptor_, TRUE, acl, FALSE)) {
      return LastError();
    }
    auto setControl = ProcAddress<SetControlFn>(advapi, "SetSecurityDescriptorControl");
    if (setControl && !setControl(&descriptor_, kDaclProtected, kDaclProtected)) {
      return LastError();
    }
    return ERROR_SUCCESS;
  }
  PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }

 private:
  typedef BOOL(WINAPI* AllocateFn)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD,
                                   DWORD, DWORD, DWORD, DWORD, PSID*);
  typedef PVOID(WINAPI* FreeSidFn)(PSID);
  typedef DWORD(WINAPI* LengthFn)(PSID);
  typedef BOOL(WINAPI* InitAclFn)(PACL, DWORD, DWORD);
  typedef BOOL(WINAPI* AddAceFn)(PACL, DWORD, DWORD, PSID);
  typedef BOOL(WINAPI* InitSdFn)(PSECURITY_DESCRIPTOR, DWORD);
  typedef BOOL(WINAPI* SetDaclFn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  typedef BOOL(WINAPI* SetControlFn)(PSECURITY_DESCRIPTOR, WORD, WORD);
  static constexpr WORD kDaclProtected = 0x1000;  // SE_DACL_PROTECTED

  // Full control, passed on to what is made inside. AddAccessAllowedAce
  // makes an ACE without inheritance flags, so they are set on it after.
  static BOOL AddAce(AddAceFn add, PACL acl, PSID sid, DWORD inherit) {
    if (!add(acl, ACL_REVISION, GENERIC_ALL, sid)) return FALSE;
    ACE_HEADER* ace = nullptr;
    BYTE* walk = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
      ace = reinterpret_cast<ACE_HEADER*>(walk);
      walk += ace->AceSize;
    }
    if (ace) ace->AceFlags = static_cast<BYTE>(inherit);
    return TRUE;
  }

  PSID administrators_ = nullptr;
  PSID system_ = nullptr;
  FreeSidFn freeSid_ = nullptr;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

class Win32FileSystem : public FileSystem {
 public:
  Win32FileSystem() {
    // GetLongPathNameA is missing from Windows 95 and NT 4.0: looked up at run time.
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel) getLongPathName_ = ProcAddress<GetLongPathNameFn>(kernel, "GetLongPathNameA");
  }

  DWORD Copy(const std::string& from, const std::string& to, bool failIfExists) override {
    if (!::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE)) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD Delete(const std::string& path) override {
    if (!::DeleteFileA(path.c_str())) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD GetAttributes(const std::string& path, DWORD* attributes) override {
    DWORD found = ::GetFileAttributesA(path.c_str());
    if (found == INVALID_FILE_ATTRIBUTES) return LastError();
    *attributes = found;
    return ERROR_SUCCESS;
  }

  DWORD SetAttributes(const std::string& path, DWORD attributes) override {
    if (!::SetFileAttributesA(path.c_str(), attributes)) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD FindFirst(const std::string& pattern, FindHandle* handle, FindData* data) override {
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return LastError();
    *handle = reinterpret_cast<FindHandle>(search);
    *data = ToFindData(found);
    return ERROR_SUCCESS;
  }

  DWORD FindNext(FindHandle handle, FindData* data) override {
    WIN32_FIND_DATAA found{};
    if (!::FindNextFileA(ToHandle(handle), &found)) return LastError();
    *data = ToFindData(found);
    return ERROR_SUCCESS;
  }

  DWORD FindClose(FindHandle handle) override {
    if (!::FindClose(ToHandle(handle))) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD CreateDirectory(const std::string& path) override {
    if (!::CreateDirectoryA(path.c_str(), nullptr)) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD CreatePrivateDirectory(const std::string& path) override {
    if (!IsNt()) return CreateDirectory(path);
    PrivateFolderSecurity security;
    DWORD rc = security.Make();
    if (rc != ERROR_SUCCESS) return rc;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = security.descriptor();
    attributes.bInheritHandle = FALSE;
    if (!::CreateDirectoryA(path.c_str(), &attributes)) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD DeleteAtRestart(const std::string& path) override {
    if (IsNt()) {
      if (!::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return LastError();
      return ERROR_SUCCESS;
    }
    // Windows 9x: WININIT.INI in the Windows folder, short names, files only.
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_NOT_SUPPORTED;
    std::string shortPath;
    DWORD rc = ReadText(
        [&path](char* buffer, DWORD size) {
          return ::GetShortPathNameA(path.c_str(), buffer, size);
        },
        &shortPath);
    if (rc != ERROR_SUCCESS) return rc;
    std::string windows;
    rc = ReadText([](char* buffer, DWORD size) { return ::GetWindowsDirectoryA(buffer, size); },
                  &windows);
    if (rc != ERROR_SUCCESS) return rc;
    const std::string ini = windows + (windows.back() == '\\' ? "" : "\\") + "WININIT.INI";
    std::string text;
    if (ReadFile(ini, &text) != ERROR_SUCCESS) text.clear();
    // Several "NUL=" lines may stand in the section: each is added, none replaced.
    text = AddWininitLine(text, "NUL=" + shortPath);
    return WriteFile(ini, text);
  }

  DWORD RemoveDirectory(const std::string& path) override {
    if (!::RemoveDirectoryA(path.c_str())) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD GetTempFileName(const std::string& dir, const std::string& prefix, UINT unique,
                        std::string* path) override {
    char buffer[MAX_PATH] = {};
    if (!::GetTempFileNameA(dir.c_str(), prefix.c_str(), unique, buffer)) return LastError();
    *path = buffer;
    return ERROR_SUCCESS;
  }

  DWORD GetLongPathName(const std::string& path, std::string* longPath) override {
    if (!getLongPathName_) return ERROR_PROC_NOT_FOUND;
    return ReadText(
        [&](char* buffer, DWORD size) { return getLongPathName_(path.c_str(), buffer, size); },
        longPath);
  }

  DWORD CreateEmpty(const std::string& path) override {
    UniqueCrtFile file;
    DWORD error = CrtOpen(path, "w", &file);
    if (error != ERROR_SUCCESS) return error;
    return CrtClose(&file);
  }

  DWORD AppendText(const std::string& path, const std::string& text) override {
    UniqueCrtFile file;
    DWORD error = CrtOpen(path, "a", &file);
    if (error != ERROR_SUCCESS) return error;
    if (!text.empty() && fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
      return CrtError();
    }
    return CrtClose(&file);
  }

  DWORD ReadFile(const std::string& path, std::string* bytes) override {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    std::string content;
    char chunk[4096];
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr)) return LastError();
      if (read == 0) break;
      content.append(chunk, read);
    }
    *bytes = std::move(content);
    return ERROR_SUCCESS;
  }

  DWORD OpenForRead(const std::string& path, ReadHandle* handle, uint64_t* size) override {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return LastError();
    DWORD high = 0;
    DWORD low = ::GetFileSize(file.get(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return LastError();
    *size = (uint64_t{high} << 32) | low;
    *handle = reinterpret_cast<ReadHandle>(file.release());
    return ERROR_SUCCESS;
  }

  DWORD ReadPiece(ReadHandle handle, size_t maxBytes, std::string* bytes) override {
    std::string piece(maxBytes, '\0');
    DWORD read = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle), piece.data(),
                    static_cast<DWORD>(maxBytes), &read, nullptr)) {
      return LastError();
    }
    piece.resize(read);
    *bytes = std::move(piece);
    return ERROR_SUCCESS;
  }

  DWORD CloseRead(ReadHandle handle) override {
    if (!::CloseHandle(reinterpret_cast<HANDLE>(handle))) return LastError();
    return ERROR_SUCCESS;
  }

  DWORD WriteFile(const std::string& path, const std::string& bytes) override {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(file.get(), bytes.data() + done, part, &written, nullptr)) {
        return LastError();
      }
      if (written == 0) return ERROR_WRITE_FAULT;
      done += written;
    }
    if (!::CloseHandle(file.release())) return LastError();
    return ERROR_SUCCESS;
  }

  // GetPrivateProfileString cannot fail: a missing file, section or key gives
  // the default. Returns what Windows returns, the number of characters copied.
  DWORD GetPrivateProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, std::string* value, DWORD size,
                                const std::string& file) override {
    if (size == 0) return 0;
    std::vector<char> buffer(size + 1, 0);
    DWORD length = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                              buffer.data(), size, file.c_str());
    if (length >= size) length = size - 1;
    value->assign(buffer.data(), length);
    return length;
  }

 private:
  typedef DWORD(WINAPI* GetLongPathNameFn)(LPCSTR, LPSTR, DWORD);
  GetLongPathNameFn getLongPathName_ = nullptr;
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace win32
