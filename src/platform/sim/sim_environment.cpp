#include "platform/sim/sim_environment.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

}  // namespace

std::string SimEnvironment::SetupFolder() const {
  size_t cut = codePage_.Paths().FindLastSeparator(setupProgram);
  if (cut == std::string::npos) return "C:\\";
  std::string folder = setupProgram.substr(0, cut);
  return folder.size() == 2 ? folder + "\\" : folder;
}

bool SimEnvironment::ParseLocalTime(const std::string& text, int64_t* epochMs) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  int consumed = 0;
  if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
             &second, &consumed) != 6 ||
      consumed != 19) {
    return false;
  }
  if (text.size() > 19) {
    int fraction = 0;
    if (text.size() != 23 || text[19] != '.' ||
        sscanf(text.c_str() + 20, "%3d%n", &millis, &fraction) != 1 || fraction != 3) {
      return false;
    }
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] || (month == 2 && day == 29 && !leap) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  *epochMs = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millis;
  return true;
}

LocalTime SimEnvironment::ToLocalTime(int64_t epochMs) {
  int64_t days = epochMs >= 0 ? epochMs / 86400000 : (epochMs - 86399999) / 86400000;
  int64_t rest = epochMs - days * 86400000;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  LocalTime t;
  t.year = static_cast<WORD>(year);
  t.month = static_cast<WORD>(month);
  t.day = static_cast<WORD>(day);
  t.dayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  t.hour = static_cast<WORD>(rest / 3600000);
  t.minute = static_cast<WORD>(rest / 60000 % 60);
  t.second = static_cast<WORD>(rest / 1000 % 60);
  t.milliseconds = static_cast<WORD>(rest % 1000);
  return t;
}

std::string SimEnvironment::FormatLocalTime(int64_t epochMs) {
  LocalTime t = ToLocalTime(epochMs);
  char text[40];
  snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour,
           t.minute, t.second);
  std::string out = text;
  if (t.milliseconds) {
    snprintf(text, sizeof(text), ".%03u", t.milliseconds);
    out += text;
  }
  return out;
}

BOOL SimEnvironment::GetOsVersion(OsVersion* version) {
  *version = os;
  return TRUE;
}

uint64_t SimEnvironment::TotalPhysicalMemory() {
  return memoryBytes > 0xFFFFFFFFull ? 0xFFFFFFFFull : memoryBytes;
}

DWORD SimEnvironment::GetWindowsDirectory(std::string* path) {
  *path = windowsDirectory;
  return ERROR_SUCCESS;
}

DWORD SimEnvironment::GetSystemDirectory(std::string* path) {
  *path = systemDirectory;
  return ERROR_SUCCESS;
}

DWORD SimEnvironment::GetTempPath(std::string* path) {
  *path = tempDirectory;
  return ERROR_SUCCESS;
}

DWORD SimEnvironment::GetModuleFileName(std::string* path) {
  *path = setupProgram;
  return ERROR_SUCCESS;
}

void SimEnvironment::GetLocalTime(LocalTime* time) {
  *time = ToLocalTime(startLocalMs + static_cast<int64_t>(clock_.now()));
}

DWORD SimEnvironment::GenRandom(void* buffer, size_t size) {
  if (!randomStarted_) {
    randomState_ = randomSeed ? *randomSeed
                              : static_cast<uint64_t>(startLocalMs) * 6364136223846793005ull ^
                                    startTickCount;
    randomStarted_ = true;
  }
  // SplitMix64: bytes that look like a random source's, the same every run.
  unsigned char* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < size; i += 8) {
    uint64_t z = (randomState_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (size_t k = 0; k < 8 && i + k < size; ++k) out[i + k] = static_cast<unsigned char>(z >> (8 * k));
  }
  return ERROR_SUCCESS;
}

DWORD SimEnvironment::GetTickCount() {
  return static_cast<DWORD>((static_cast<uint64_t>(startTickCount) + clock_.now()) & 0xFFFFFFFFu);
}

BOOL SimEnvironment::GetLocaleLanguage(std::string* code) {
  if (!language) return FALSE;
  *code = *language;
  return TRUE;
}
