#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/path_chars.h"

namespace {

const char kSeparator[] =
    "----------------------------------------------------------------------\n";
const char kLogFileName[] = "\\ZentavoInstall.log";

}  // namespace

int CInstallLog::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = LogV(format, args);
  va_end(args);
  return result;
}

int CInstallLog::LogV(const char* format, va_list args) {
  Environment& env = machine_.environment();
  LocalTime now;
  env.GetLocalTime(&now);
  DWORD ticks = env.GetTickCount();

  // vsnprintf never writes past the buffer: a longer message is cut at its end.
  char line[kLineBufferSize];
  int prefix = snprintf(line, sizeof(line), "%02d.%02d.%4d %02d:%02d:%02d.%08x ", now.month,
                        now.day, now.year, now.hour, now.minute, now.second,
                        static_cast<unsigned>(ticks));
  if (prefix < 0) prefix = 0;
  if (static_cast<size_t>(prefix) < sizeof(line)) {
    int length = vsnprintf(line + prefix, sizeof(line) - prefix, format, args);
    // A cut message keeps its line end, so the next line starts on a line of its own.
    size_t formatLength = strlen(format);
    if (length >= 0 && static_cast<size_t>(prefix + length) >= sizeof(line) && formatLength > 0 &&
        format[formatLength - 1] == '\n') {
      line[sizeof(line) - 2] = '\n';
    }
  }
  line[sizeof(line) - 1] = '\0';

  if (g_strLogPath.empty()) {
    std::string note;
    if (!OpenLogFile(&note)) return 0;
    char header[128];
    snprintf(header, sizeof(header), "Zentavo Installation Log  %02d.%02d.%4d  %02d:%02d:%02d\n",
             now.month, now.day, now.year, now.hour, now.minute, now.second);
    WriteLogText(kSeparator);
    WriteLogText(header);
    WriteLogText(kSeparator);
    if (!note.empty()) {
      // The note's line carries the same stamp as the line that opened the log.
      std::string stamp(line, prefix > 0 && static_cast<size_t>(prefix) < sizeof(line)
                                  ? static_cast<size_t>(prefix)
                                  : 0);
      WriteLogText(stamp + note);
    }
  }
  WriteLogText(line);
  return 1;
}

void CInstallLog::RequestLogFile(const std::string& path, bool cut) {
  logFileRequested_ = true;
  requestedPath_ = path;
  requestedCut_ = cut;
}

bool CInstallLog::OpenLogFile(std::string* note) {
  FileSystem& files = machine_.files();
  if (logFileRequested_) {
    std::string problem = LogPathProblem(requestedPath_, requestedCut_);
    if (problem.empty()) {
      DWORD error = g_bLogAppend ? files.AppendText(requestedPath_, std::string())
                                 : files.CreateEmpty(requestedPath_);
      if (error == ERROR_SUCCESS) {
        g_strLogPath = requestedPath_;
        return true;
      }
      problem = "error " + std::to_string(static_cast<int>(error));
    }
    // Cut to keep the note within the line buffer, whatever the path's length.
    *note = "cannot log to \"" + requestedPath_.substr(0, MAX_PATH) + "\": " + problem +
            " - logging here instead\n";
  }
  std::string temp;
  if (machine_.environment().GetTempPath(&temp) != ERROR_SUCCESS || temp.empty() ||
      temp.size() >= MAX_PATH) {
    return false;
  }
  g_strLogPath = temp + kLogFileName;
  if (!g_bLogAppend) files.CreateEmpty(g_strLogPath);
  return true;
}

std::string LogPathProblem(const std::string& path, bool cut) {
  if (path.empty()) return "no file named";
  if (cut) return "the command line was cut inside the path";
  if (path.size() >= MAX_PATH) return "the path is too long";
  const bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') ||
                                          (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool share = path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
  if (!drive && !share) return "not a full path";
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    // None of these is ever the second byte of a double-byte character; the
    // drive's colon is the only one a file path holds.
    if (c < 0x20 || c == '"' || c == '<' || c == '>' || c == '*' || c == '?' ||
        (c == ':' && !(drive && i == 1))) {
      return "not a valid file name";
    }
  }
  return std::string();
}

void CInstallLog::WriteLogText(const std::string& text) {
  // A line that cannot be written (locked file, full disk) is lost; the setup goes on.
  machine_.files().AppendText(g_strLogPath, text);
}

std::string GetSetupDirectory(Environment& environment) {
  std::string path;
  if (environment.GetModuleFileName(&path) != ERROR_SUCCESS) path.clear();
  if (path.size() >= MAX_PATH) path.resize(MAX_PATH - 1);
  // Separators are found character by character: a folder named 表Release
  // (0x95 0x5C ...) on code page 932 does not end in "\Release".
  const PathChars paths = PathCharsOf(environment);
  size_t slash = paths.FindLastSeparator(path);
  if (slash != std::string::npos) path.resize(slash);
  size_t last = paths.FindLastSeparator(path);
  if (last != std::string::npos) {
    std::string component = path.substr(last);
    if (component == "\\Release" || component == "\\Debug") path.resize(last);
  }
  return path;
}

int GetSetupDirectory(Environment& environment, char* buffer, size_t size) {
  std::string dir = GetSetupDirectory(environment);
  if (size == 0) return 1;
  size_t n = dir.size() < size - 1 ? dir.size() : size - 1;
  memcpy(buffer, dir.data(), n);
  buffer[n] = '\0';
  return 1;
}
