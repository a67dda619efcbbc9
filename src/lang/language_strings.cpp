#include "lang/language_strings.h"

#include <cstdarg>
#include <cstdio>

const char* const kStringKeys[kStringKeyCount] = {
    "ABORTINSTALL",       "ABORTINSTALLHELP",   "ANALYSISCOMPLETE",
    "ANALYZE",            "ANALYZEERROR",       "ANALYZEHELP",
    "CAMSTILLON",         "CANCEL",             "CANTREBOOT",
    "CANTREBOOTHELP",     "CHECKDIRECTX",       "CHECKDISKSPACE",
    "CHECKMDAC",          "CHECKMEDIAPLAYER",   "CHECKMSI",
    "CHECKNETMEETING",    "CHECKOSVER",         "CHECKPREREQS",
    "CHECKPREREQSHELP",   "CHECKPROC",          "CHECKRAM",
    "CHECKRT",            "CHECKTEMPDIR",       "CHECKTEMPDIRHELP",
    "CHECKZENTAVO",       "CHECKVIDEO",         "CHECKXML",
    "CLEANUP",            "COMPLETE",           "COMPLETEHELP",
    "CONFIRMCAMOFF",      "CONFIRMCAMOFFHELP",  "INITERROR",
    "INSTALLMSI",         "INSTALLMSIHELP",     "INSUFFREQS",
    "INSUFFSERVPACK",     "INSUFFSYSTEM",       "LAUNCHSETUP",
    "LAUNCHSETUPHELP",    "MEDIAPLAYERINSTALL", "MEDIAPLAYERINSTALLHELP",
    "OK",                 "PREPUPGRADE",        "PREPUPGRADEHELP",
    "PRESERVEDATA",       "PRESERVEDATAHELP",   "PROCEED",
    "REBOOT",             "REBOOTFINISHEDABORT", "REBOOTFINISHEDHELP",
    "REBOOTHELP",         "REMOVEVIEWONLY",     "REMOVEVIEWONLYHELP",
    "REMSTRTUPLINK",      "REMSTRTUPLINKHELP",  "RESTOREDATA",
    "RESTOREDATAHELP",    "RUNTIMEINSTALL",     "RUNTIMEINSTALLHELP",
    "SHUTDOWNCANCEL",     "SHUTDOWNZT",         "SHUTDOWNZTHELP",
    "TRYAGAIN",           "TURNCAMOFFMSG",      "TURNOFFCAM",
    "ZTRUNNING",          "ZTRUNNINGHELP",      "WELCOME",
    "WELCOMEHELP1",       "WELCOMEHELP2",       "WELCOMEMSG",
    "WELCOMESUB1",        "WELCOMESUB2",        "WELCOMEUPGRADE",
    "WELCOMEUPGRADE2",    "WELCOMEUPGRADEHELP", "WELCOMEUPGRADEHELP2",
    "WRONGPACKAGE",
};

const char* LanguageKeyName(int languageId) {
  switch (languageId) {
    case 1031: return "GERMAN";
    case 1033: return "ENGLISH_US";
    case 1034: return "SPANISH";
    case 1036: return "FRENCH";
    case 1040: return "ITALIAN";
    case 1041: return "JAPANESE";
    case 2057: return "ENGLISH_UK";
    case 2070: return "PORTUGUESE";
    default: return "ENGLISH_US";
  }
}

namespace {
const std::u16string kMarker = u"String not found!!!";
}

void CLanguageStrings::Report(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  fputs(buffer, stdout);
}

const std::u16string* CLanguageStrings::LookupText(int stringId, int languageId) const {
  if (static_cast<unsigned>(stringId) > static_cast<unsigned>(kStringKeyCount - 1)) return nullptr;
  std::u16string key;
  if (!environment_.AnsiToWide(kStringKeys[stringId], &key)) return &kMarker;
  auto entry = keys_.find(key);
  if (entry == keys_.end()) return &kMarker;
  std::u16string language;
  if (environment_.AnsiToWide(LanguageKeyName(languageId), &language)) {
    auto text = entry->second.find(language);
    if (text != entry->second.end()) return &text->second;
  }
  auto english = entry->second.find(u"ENGLISH_US");
  if (english != entry->second.end()) return &english->second;
  return &kMarker;
}

std::string CLanguageStrings::GetText(int stringId, int languageId) const {
  const std::u16string* text = LookupText(stringId, languageId);
  std::string narrow;
  if (text && !environment_.WideToAnsi(*text, &narrow)) narrow.clear();
  return narrow;
}
