// The system profile: which Windows the setup runs on, its directories and
// memory, and the prerequisite verdict that may refuse the installation.
#include "analysis/analysis.h"

#include "platform/ascii.h"

#include <cctype>

#include "app/context.h"
#include "app/exit_codes.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

namespace {

constexpr DWORD kRamRequiredMB = 64;
constexpr DWORD kRamToleranceMB = 2;
const char kMinimumNt4ServicePack[] = "Service Pack 4";

std::string TrimWhiteSpace(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size() && AsciiSpace(static_cast<unsigned char>(text[begin]))) ++begin;
  size_t end = text.size();
  while (end > begin && AsciiSpace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

const char* FamilyLine(const CSetupContext& context) {
  if (context.isWin2000) return "            Windows 2000\n";
  if (context.isWinNT4) return "            Windows NT\n";
  if (context.isWinMe) return "            Windows Millenium Edition\n";
  if (context.isWin98Second) return "            Windows 98 Second Edition\n";
  if (context.isWin98First) return "            Windows 98 First Edition\n";
  return nullptr;
}

// The first failing prerequisite as the string id of its reason, or -1.
int PrerequisiteFailure(const CSetupContext& context) {
  if (context.ramInsufficient) return INSUFFSYSTEM;
  // A byte comparison of the texts, as Windows reports them: "Service Pack 6a"
  // passes, "Service Pack 3" and an empty text do not.
  if (context.isWinNT4 && context.servicePack.compare(kMinimumNt4ServicePack) < 0) {
    return INSUFFSERVPACK;
  }
  bool targetMatches = true;
  switch (context.packageTargetOS) {
    case kTargetWin98: targetMatches = context.isWin9x != 0; break;
    case kTargetWinNT: targetMatches = context.isWinNT4 != 0; break;
    case kTargetWin2K: targetMatches = context.isWin2000 != 0; break;
    default: break;
  }
  return targetMatches ? -1 : WRONGPACKAGE;
}

}  // namespace

int IsWin9xPlatform(Environment& environment) {
  OsVersion version;
  environment.GetOsVersion(&version);
  return version.platformId != VER_PLATFORM_WIN32_NT ? 1 : 0;
}

// GlobalMemoryStatus reports the physical memory as a byte count; adding one
// megabyte before truncating counts 63.6 MB as 64. The sum is formed in 64
// bits so that 4 GB and more cannot wrap to a small number, and the result is
// capped at 4096 MB: the 32-bit program sees at most 4 GB - 1 (which gives
// 4096), so every build reports the same for a large machine.
DWORD GetPhysicalMemoryMB(Environment& environment) {
  uint64_t megabytes = (environment.TotalPhysicalMemory() + 1048576u) >> 20;
  if (megabytes > kMaxPhysicalMemoryMB) megabytes = kMaxPhysicalMemoryMB;
  return static_cast<DWORD>(megabytes);
}

// Builds the operating-system profile. The 9x branch does not look at the
// minor versions 0 and 10 (Windows 95 counts as 98 First Edition), the NT
// branch not at the minor version (XP counts as 2000).
int CSetupContext::CheckOsVersion() {
  Environment& environment = machine().environment();
  OsVersion version;
  environment.GetOsVersion(&version);
  osMajor = version.majorVersion;
  osMinor = version.minorVersion;

  isWin9x = isWin98First = isWin98Second = isWinMe = isWinNT4 = isWin2000 = 0;
  if (version.platformId == VER_PLATFORM_WIN32_NT) {
    osBuild = version.buildNumber;
    if (osMajor >= 5) {
      isWin2000 = 1;
    } else {
      isWinNT4 = 1;
    }
  } else {
    osBuild = version.buildNumber & 0xFFFF;
    isWin9x = 1;
    if (osMinor >= 90) {
      isWinMe = 1;
    } else if (osBuild > 1998) {
      isWin98Second = 1;
    } else {
      isWin98First = 1;
    }
  }
  servicePack = TrimWhiteSpace(version.csdVersion);
  needsRuntimeCheck = (isWin98First || isWin98Second || isWinNT4) ? 1 : 0;

  std::string directory;
  environment.GetWindowsDirectory(&directory);
  windowsDir = directory;
  directory.clear();
  environment.GetSystemDirectory(&directory);
  systemDir = directory;

  Log("OS version: %d.%d\n", static_cast<int>(osMajor), static_cast<int>(osMinor));
  if (const char* line = FamilyLine(*this)) Log("%s", line);
  Log("            %s\n",
      servicePack.empty() ? "(no service pack information)" : servicePack.c_str());
  Log("Windows directory: %s\n", windowsDir.c_str());
  Log("System directory:  %s\n", systemDir.c_str());
  return 1;
}

// Measures memory against the requirement of 64 MB, with two megabytes of
// tolerance for memory the system keeps for itself (62 MB passes).
int CSetupContext::CheckRam() {
  ramMB = GetPhysicalMemoryMB(machine().environment());
  ramInsufficient = 0;
  if (isWin9x || isWinNT4 || isWin2000) ramRequiredMB = kRamRequiredMB;
  if (ramRequiredMB > kRamToleranceMB && ramMB < ramRequiredMB - kRamToleranceMB) {
    ramInsufficient = 1;
  }
  Log("%dMB RAM detected, %dMB required %s\n", static_cast<int>(ramMB),
      static_cast<int>(ramRequiredMB), ramInsufficient ? "(insufficient)" : "(sufficient)");
  return 1;
}

// Judges memory, then the NT 4.0 service pack, then the package's target
// system; the first failure is shown with OK as the only button, and OK ends
// the setup.
int CSetupContext::CheckPrerequisites(int action) {
  if (action == 1) {
    EndSetup(kExitFailure);
    return 0;
  }
  if (action != 0) return 1;

  int reason = PrerequisiteFailure(*this);
  if (reason < 0) return 1;
  SetupWindowOps& ops = window();
  ops.SetText(1, INSUFFREQS);
  ops.SetText(2, reason);
  ops.SetConfirmText(OK);
  ops.ShowConfirm(true);
  ops.ShowCancel(false);
  waitForInput = 1;
  return 0;
}
