// The environment service: what the process learns about the system it runs
// on, the clock, and the ANSI code page conversions.
#pragma once

#include <string>

#include "platform/wintypes.h"

struct OsVersion {  // OSVERSIONINFO
  DWORD majorVersion = 0;
  DWORD minorVersion = 0;
  DWORD buildNumber = 0;  // as reported: on 9x the high word holds major.minor
  DWORD platformId = 0;
  std::string csdVersion;  // service pack text, up to 127 characters
};

struct LocalTime {  // SYSTEMTIME
  WORD year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0,
       milliseconds = 0;
};

class Environment {
 public:
  virtual ~Environment() = default;

  virtual BOOL GetOsVersion(OsVersion* version) = 0;  // GetVersionEx
  // The processor architecture of Windows itself, not of the process:
  // GetNativeSystemInfo's wProcessorArchitecture (Windows XP and later),
  // GetSystemInfo's before it (no 64-bit Windows runs a 32-bit program
  // without GetNativeSystemInfo). PROCESSOR_ARCHITECTURE_INTEL or _AMD64.
  virtual WORD GetNativeProcessorArchitecture() = 0;
  // GlobalMemoryStatus's dwTotalPhys as the process sees it (SIZE_T widened).
  virtual uint64_t TotalPhysicalMemory() = 0;
  virtual DWORD GetWindowsDirectory(std::string* path) = 0;
  virtual DWORD GetSystemDirectory(std::string* path) = 0;
  // GetTempPath: ends with a backslash.
  virtual DWORD GetTempPath(std::string* path) = 0;
  // GetModuleFileName of the process: the program's own full path.
  virtual DWORD GetModuleFileName(std::string* path) = 0;
  // The command line after the program name (what the framework hands to the application).
  virtual std::string CommandLineArguments() = 0;
  virtual void GetLocalTime(LocalTime* time) = 0;
  virtual DWORD GetTickCount() = 0;
  // The system's random source: RtlGenRandom (advapi32's SystemFunction036,
  // Windows XP and later), else CryptGenRandom (NT 4.0, 2000, 98, Me);
  // ERROR_NOT_SUPPORTED where neither can be had.
  virtual DWORD GenRandom(void* buffer, size_t size) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  // GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE): four hex digits.
  virtual BOOL GetLocaleLanguage(std::string* code) = 0;
  virtual UINT GetACP() = 0;
  // IsDBCSLeadByte: true when `c` begins a double-byte character in the ANSI
  // code page (never on a single-byte page such as 1252).
  virtual BOOL IsDBCSLeadByte(BYTE c) = 0;
  // MultiByteToWideChar / WideCharToMultiByte with the ANSI code page.
  virtual bool AnsiToWide(const std::string& text, std::u16string* wide) = 0;
  virtual bool WideToAnsi(const std::u16string& wide, std::string* text) = 0;
  // CharUpperA: locale-aware upper-casing of ANSI text in place.
  virtual void CharUpper(std::string* text) = 0;
  // _mbsnicmp: compares at most `count` characters without regard to case,
  // keeping double-byte characters whole; <0, 0, >0.
  virtual int CompareNoCase(const std::string& a, const std::string& b, size_t count) = 0;
};
