// The installation log, %TEMP%\ZentavoInstall.log: one timestamped line per
// call, the file opened and closed for every piece of text so that it
// survives a crash or a forced restart up to the last line written.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/machine.h"

#if defined(__MINGW32__)
#define ZT_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define ZT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZT_PRINTF(fmt, args)
#endif

class CInstallLog {
 public:
  // The line buffer, timestamp prefix included.
  static constexpr size_t kLineBufferSize = 1024;

  explicit CInstallLog(Machine& machine) : machine_(machine) {}

  // Formats one line behind the timestamp prefix and appends it. The first
  // call of the process creates the file (or, with g_bLogAppend, keeps it) and
  // writes the section header. Returns 1 when the line was handed to the
  // file, 0 when there is no temporary directory.
  int Log(const char* format, ...) ZT_PRINTF(2, 3);
  int LogV(const char* format, va_list args);
  // Appends one piece of text verbatim, in text mode.
  void WriteLogText(const std::string& text);

  // The file /log names, to be used instead of the usual log; set before the
  // first Log call. `cut` when the command line was cut inside the path. A
  // path that is unusable or cannot be written leaves the usual log in use,
  // and its first lines say so.
  void RequestLogFile(const std::string& path, bool cut);

  // Full path of the log file; empty until the first successful Log call.
  std::string g_strLogPath;
  // Set before the first Log call to add to an existing log (resume, clean-up).
  int g_bLogAppend = 0;

 private:
  // Opens the log file of the first call: the requested one when it can be
  // written (emptied, or kept with g_bLogAppend), else the usual one. Sets
  // g_strLogPath; `note` tells why a requested file is not used.
  bool OpenLogFile(std::string* note);

  Machine& machine_;
  bool logFileRequested_ = false;
  bool requestedCut_ = false;
  std::string requestedPath_;
};

// Why a /log path cannot be used before it is even tried: empty, cut by the
// command line's working buffer, not a full path ("X:\..." or "\server\..."),
// too long for a 260-byte path, or holding a character no file name may
// hold. Empty when the path may be tried.
std::string LogPathProblem(const std::string& path, bool cut);

// The directory of the program file, without a last component "\Release" or
// "\Debug" (case-sensitive). Writes at most `size` bytes including the
// terminator into `buffer` and returns 1.
int GetSetupDirectory(Environment& environment, char* buffer, size_t size);
std::string GetSetupDirectory(Environment& environment);
