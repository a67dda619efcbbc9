// The language string table: texts of the user interface looked up by string
// id and language, read once at start-up from "SetupLanguages.xml".
#pragma once

#include <map>
#include <string>

#include "app/log.h"
#include "platform/machine.h"

// The 79 key names, indexed by string id.
inline constexpr int kStringKeyCount = 79;
extern const char* const kStringKeys[kStringKeyCount];

// String ids by key name.
enum StringId : int {
  ABORTINSTALL = 0, ABORTINSTALLHELP, ANALYSISCOMPLETE, ANALYZE, ANALYZEERROR, ANALYZEHELP,
  CAMSTILLON, CANCEL, CANTREBOOT, CANTREBOOTHELP, CHECKDIRECTX, CHECKDISKSPACE, CHECKMDAC,
  CHECKMEDIAPLAYER, CHECKMSI, CHECKNETMEETING, CHECKOSVER, CHECKPREREQS, CHECKPREREQSHELP,
  CHECKPROC, CHECKRAM, CHECKRT, CHECKTEMPDIR, CHECKTEMPDIRHELP, CHECKZENTAVO, CHECKVIDEO,
  CHECKXML, CLEANUP, COMPLETE, COMPLETEHELP, CONFIRMCAMOFF, CONFIRMCAMOFFHELP, INITERROR,
  INSTALLMSI, INSTALLMSIHELP, INSUFFREQS, INSUFFSERVPACK, INSUFFSYSTEM, LAUNCHSETUP,
  LAUNCHSETUPHELP, MEDIAPLAYERINSTALL, MEDIAPLAYERINSTALLHELP, OK, PREPUPGRADE, PREPUPGRADEHELP,
  PRESERVEDATA, PRESERVEDATAHELP, PROCEED, REBOOT, REBOOTFINISHEDABORT, REBOOTFINISHEDHELP,
  REBOOTHELP, REMOVEVIEWONLY, REMOVEVIEWONLYHELP, REMSTRTUPLINK, REMSTRTUPLINKHELP, RESTOREDATA,
  RESTOREDATAHELP, RUNTIMEINSTALL, RUNTIMEINSTALLHELP, SHUTDOWNCANCEL, SHUTDOWNZT, SHUTDOWNZTHELP,
  TRYAGAIN, TURNCAMOFFMSG, TURNOFFCAM, ZTRUNNING, ZTRUNNINGHELP, WELCOME, WELCOMEHELP1,
  WELCOMEHELP2, WELCOMEMSG, WELCOMESUB1, WELCOMESUB2, WELCOMEUPGRADE, WELCOMEUPGRADE2,
  WELCOMEUPGRADEHELP, WELCOMEUPGRADEHELP2, WRONGPACKAGE
};
static_assert(WRONGPACKAGE == 78, "string ids run from 0 to 78");

// The language key name of a language id; "ENGLISH_US" for any other value.
const char* LanguageKeyName(int languageId);

class CLanguageStrings {
 public:
  explicit CLanguageStrings(Environment& environment) : environment_(environment) {}
  virtual ~CLanguageStrings() = default;

  // printf-style report of an error of the XML walk, to standard output
  // (never to the installation log); at most 511 characters are written.
  virtual void Report(const char* format, ...) ZT_PRINTF(2, 3);

  // Reads the language file at `path` (ANSI) through the XML service and adds
  // its entries to the table. Negative HRESULT on failure.
  HRESULT Load(Xml& xml, const std::string& path);

  // The text of a string id in a language, the marker "String not found!!!",
  // or null when the id is outside 0 to 78. Points into the table.
  const std::u16string* LookupText(int stringId, int languageId) const;
  // The same as an ANSI string; empty for null.
  std::string GetText(int stringId, int languageId) const;
  // The same in the current language (see BindCurrentLanguage).
  std::string GetText(int stringId) const;

  // Names the process-wide current language that the one-argument GetText
  // reads; unbound, it reads as 0 (not chosen yet), which gives US English.
  void BindCurrentLanguage(const int* languageId) { currentLanguage_ = languageId; }

  // Key name -> (language key name -> text).
  using LanguageMap = std::map<std::u16string, std::u16string>;
  using KeyMap = std::map<std::u16string, LanguageMap>;
  const KeyMap& keys() const { return keys_; }

 private:
  std::u16string UpperCaseName(const std::u16string& name) const;
  bool ReadTranslations(XmlNode& entry, LanguageMap* languages);
  void ReadEntries(XmlNodeList& entries);

  Environment& environment_;
  const int* currentLanguage_ = nullptr;
  KeyMap keys_;
  // The upper-cased names of one load: the same eight language names come
  // back in every entry, and each costs two code-page conversions.
  mutable std::map<std::u16string, std::u16string> upperCaseNames_;
};

// Builds the path of "SetupLanguages.xml" in the setup directory, logs it,
// loads it, and logs a failure. A setup directory too long for the 260-byte
// path is refused with a log line instead of being cut or overflowing.
void LoadLanguageFile(CLanguageStrings& strings, Machine& machine, CInstallLog& log);
