// The simulation's environment service: the system facts of the description,
// the virtual clock, and the code page conversions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"

class SimEnvironment : public Environment {
 public:
  SimEnvironment(SimClock& clock, const SimCodePage& codePage)
      : clock_(clock), codePage_(codePage) {}

  // The described machine; SimMachine fills these from the description.
  OsVersion os;
  WORD processorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  uint64_t memoryBytes = 268435456;
  std::optional<std::string> language = std::string("0409");  // null: not readable
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::string tempDirectory = "C:\\TEMP\\";
  std::string setupProgram = "D:\\setup.exe";
  std::string commandLine;
  int64_t startLocalMs = 0;  // local wall-clock time when the run starts, ms since 1970
  DWORD startTickCount = 0;  // GetTickCount when the run starts
  // The random source's seed ("randomSeed"); without one it is drawn from the
  // clock of the description, so that a rehearsal always gives the same names.
  std::optional<uint64_t> randomSeed;

  // Local time at the start of the run as "YYYY-MM-DDTHH:MM:SS[.mmm]".
  static bool ParseLocalTime(const std::string& text, int64_t* epochMs);
  static std::string FormatLocalTime(int64_t epochMs);
  static LocalTime ToLocalTime(int64_t epochMs);
  // The folder of the setup program ("D:\\" for "D:\\setup.exe").
  std::string SetupFolder() const;

  BOOL GetOsVersion(OsVersion* version) override;
  WORD GetNativeProcessorArchitecture() override { return processorArchitecture; }
  // What a 32-bit process reads from GlobalMemoryStatus: at most 4 GB - 1.
  uint64_t TotalPhysicalMemory() override;
  DWORD GetWindowsDirectory(std::string* path) override;
  DWORD GetSystemDirectory(std::string* path) override;
  DWORD GetTempPath(std::string* path) override;
  DWORD GetModuleFileName(std::string* path) override;
  std::string CommandLineArguments() override { return commandLine; }
  void GetLocalTime(LocalTime* time) override;
  DWORD GetTickCount() override;
  DWORD GenRandom(void* buffer, size_t size) override;
  void Sleep(DWORD milliseconds) override { clock_.Advance(milliseconds); }
  BOOL GetLocaleLanguage(std::string* code) override;
  UINT GetACP() override { return codePage_.codePage(); }
  BOOL IsDBCSLeadByte(BYTE c) override { return codePage_.IsLeadByte(c) ? TRUE : FALSE; }
  bool AnsiToWide(const std::string& text, std::u16string* wide) override {
    return codePage_.ToWide(text, wide);
  }
  bool WideToAnsi(const std::u16string& wide, std::string* text) override {
    return codePage_.ToAnsi(wide, text);
  }
  void CharUpper(std::string* text) override { codePage_.Upper(text); }
  int CompareNoCase(const std::string& a, const std::string& b, size_t count) override {
    return codePage_.CompareNoCase(a, b, count);
  }

 private:
  SimClock& clock_;
  const SimCodePage& codePage_;
  bool randomStarted_ = false;
  uint64_t randomState_ = 0;
};
