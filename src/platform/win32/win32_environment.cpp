// The environment over kernel32, user32 and the C run-time: version, memory,
// folders, the own program and command line, clock, locale and the ANSI code
// page conversions.
#include "platform/wintypes.h"

#include <mbstring.h>

#include <string>
#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {

const char* SkipProgramName(const char* commandLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    while (*++p && *p != '"') {
    }
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}

namespace {

class Win32Environment : public Environment {
 public:
  BOOL GetOsVersion(OsVersion* version) override {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExA(&info)) return FALSE;
    version->majorVersion = info.dwMajorVersion;
    version->minorVersion = info.dwMinorVersion;
    version->buildNumber = info.dwBuildNumber;
    version->platformId = info.dwPlatformId;
    version->csdVersion.assign(info.szCSDVersion,
                               strnlen(info.szCSDVersion, sizeof(info.szCSDVersion)));
    return TRUE;
  }

  WORD GetNativeProcessorArchitecture() override {
    // Looked up at run time: Windows 98 to 2000 have no GetNativeSystemInfo.
    using NativeInfo = void(WINAPI*)(LPSYSTEM_INFO);
    SYSTEM_INFO info{};
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    auto native = kernel ? reinterpret_cast<NativeInfo>(
                               reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo")))
                         : nullptr;
    if (native) {
      native(&info);
    } else {
      ::GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
  }

  uint64_t TotalPhysicalMemory() override {
    MEMORYSTATUS status{};
    status.dwLength = sizeof(status);
    ::GlobalMemoryStatus(&status);
    return status.dwTotalPhys;
  }

  DWORD GetWindowsDirectory(std::string* path) override {
    return ReadText([](char* buffer, DWORD size) { return ::GetWindowsDirectoryA(buffer, size); },
                    path);
  }

  DWORD GetSystemDirectory(std::string* path) override {
    return ReadText([](char* buffer, DWORD size) { return ::GetSystemDirectoryA(buffer, size); },
                    path);
  }

  DWORD GetTempPath(std::string* path) override {
    return ReadText([](char* buffer, DWORD size) { return ::GetTempPathA(size, buffer); }, path);
  }

  // GetModuleFileName cuts a path that does not fit and returns the buffer
  // size: the buffer grows until the path fits with its terminator.
  DWORD GetModuleFileName(std::string* path) override {
    std::vector<char> buffer(MAX_PATH, 0);
    for (;;) {
      DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) return LastError();
      if (length < buffer.size()) {
        path->assign(buffer.data(), length);
        return ERROR_SUCCESS;
      }
      if (buffer.size() >= 32768) return ERROR_INSUFFICIENT_BUFFER;
      buffer.assign(buffer.size() * 2, 0);
    }
  }

  std::string CommandLineArguments() override {
    const char* commandLine = ::GetCommandLineA();
    return commandLine ? SkipProgramName(commandLine) : std::string();
  }

  void GetLocalTime(LocalTime* time) override {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    time->year = now.wYear;
    time->month = now.wMonth;
    time->dayOfWeek = now.wDayOfWeek;
    time->day = now.wDay;
    time->hour = now.wHour;
    time->minute = now.wMinute;
    time->second = now.wSecond;
    time->milliseconds = now.wMilliseconds;
  }

  DWORD GetTickCount() override { return ::GetTickCount(); }

  // RtlGenRandom, exported by advapi32 as SystemFunction036 from Windows XP
  // on, else CryptGenRandom with a context that holds no keys; everything is
  // looked up at run time, as Windows 95 and NT 4.0 before its service packs
  // lack some of it. advapi32 is loaded already (the registry calls import it).
  DWORD GenRandom(void* buffer, size_t size) override {
    HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
    if (!advapi) return ERROR_NOT_SUPPORTED;
    typedef BOOLEAN(WINAPI * RtlGenRandomFn)(PVOID, ULONG);
    if (auto rtlGenRandom = ProcAddress<RtlGenRandomFn>(advapi, "SystemFunction036")) {
      if (rtlGenRandom(buffer, static_cast<ULONG>(size))) return ERROR_SUCCESS;
    }
    typedef BOOL(WINAPI * AcquireFn)(ULONG_PTR*, LPCSTR, LPCSTR, DWORD, DWORD);
    typedef BOOL(WINAPI * GenFn)(ULONG_PTR, DWORD, BYTE*);
    typedef BOOL(WINAPI * ReleaseFn)(ULONG_PTR, DWORD);
    auto acquire = ProcAddress<AcquireFn>(advapi, "CryptAcquireContextA");
    auto generate = ProcAddress<GenFn>(advapi, "CryptGenRandom");
    auto release = ProcAddress<ReleaseFn>(advapi, "CryptReleaseContext");
    if (!acquire || !generate || !release) return ERROR_NOT_SUPPORTED;
    const DWORD kProvRsaFull = 1;             // PROV_RSA_FULL
    const DWORD kVerifyContext = 0xF0000000;  // CRYPT_VERIFYCONTEXT
    ULONG_PTR provider = 0;
    if (!acquire(&provider, nullptr, nullptr, kProvRsaFull, kVerifyContext)) return LastError();
    DWORD rc = generate(provider, static_cast<DWORD>(size), static_cast<BYTE*>(buffer))
                   ? ERROR_SUCCESS
                   : LastError();
    release(provider, 0);
    return rc;
  }

  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }

  BOOL GetLocaleLanguage(std::string* code) override {
    char buffer[16] = {};
    int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE, buffer, sizeof(buffer));
    if (length <= 0) return FALSE;
    *code = std::string(buffer, strnlen(buffer, sizeof(buffer)));
    return TRUE;
  }

  UINT GetACP() override { return ::GetACP(); }
  // IsDBCSLeadByteEx with CP_ACP: the same answer as IsDBCSLeadByte, from the
  // import the C runtime already has.
  BOOL IsDBCSLeadByte(BYTE c) override { return ::IsDBCSLeadByteEx(CP_ACP, c); }

  bool AnsiToWide(const std::string& text, std::u16string* wide) override {
    if (text.empty()) {
      wide->clear();
      return true;
    }
    int count = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    if (count <= 0) return false;
    std::vector<wchar_t> buffer(count);
    if (::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                              buffer.data(), count) != count) {
      return false;
    }
    wide->assign(buffer.begin(), buffer.end());
    return true;
  }

  bool WideToAnsi(const std::u16string& wide, std::string* text) override {
    if (wide.empty()) {
      text->clear();
      return true;
    }
    std::vector<wchar_t> units(wide.begin(), wide.end());
    int count = ::WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (count <= 0) return false;
    std::vector<char> buffer(count);
    if (::WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()),
                              buffer.data(), count, nullptr, nullptr) != count) {
      return false;
    }
    text->assign(buffer.begin(), buffer.end());
    return true;
  }

  // CharUpperA works on the text up to its first zero, in place.
  void CharUpper(std::string* text) override {
    if (text->empty()) return;
    ::CharUpperA(text->data());
  }

  int CompareNoCase(const std::string& a, const std::string& b, size_t count) override {
    return ::_mbsnicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                       reinterpret_cast<const unsigned char*>(b.c_str()), count);
  }
};

}  // namespace

std::unique_ptr<Environment> NewEnvironment() { return std::make_unique<Win32Environment>(); }

}  // namespace win32
