// The language choice: the eight languages with their display names, and the
// logic of the language dialog (resource dialog 135) that every front end
// shows in its own way: the entries, the preselection from the system
// language, and the OK rule.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

class Environment;
class CInstallLog;

// The display name of a language id in code page 1252; "English US" for any other id.
const char* DisplayLanguageName(int languageId);

// The setup is an ANSI program: its texts reach the screen through the
// system's ANSI code page. Japanese (1041) shows only where that page is 932;
// elsewhere every text would be question marks, so it is not offered there.
constexpr UINT kJapaneseCodePage = 932;
bool LanguageShowsOnCodePage(int languageId, UINT codePage);
// The language of the command line (`/l`) as this system can show it: the
// language itself, 0 for none, or US English (1033), logged, in place of one
// the ANSI code page cannot show.
int LanguageForThisSystem(int languageId, Environment& environment, CInstallLog& log);

class CLanguageDlg {
 public:
  static constexpr int kDialogId = 135;
  static constexpr int kLanguageListId = 1000;

  CLanguageDlg(Environment& environment, CInstallLog& log)
      : environment_(environment), log_(log) {}

  // The dialog initialisation: the entries in the order they are added, then
  // the system language read, logged and matched (Japanese only where the
  // ANSI code page is 932: elsewhere "Japanese not offered" is logged and US
  // English preselected). Call once the list exists;
  // the front end adds `AddedEntries()` to its sorted list and selects
  // `Preselection()` (empty: nothing selected).
  void OnInitDialog();
  const std::vector<std::string>& AddedEntries() const { return added_; }
  const std::string& Preselection() const { return preselection_; }
  // The entries as the sorted drop-down list shows them.
  std::vector<std::string> SortedEntries() const;

  // OK: `selectedText` is the list's selected text (empty when none).
  void OnOK(const std::string& selectedText);

  std::string m_strLanguage;
  int m_nLanguageId = 0;

 private:
  Environment& environment_;
  CInstallLog& log_;
  std::vector<std::string> added_;
  std::string preselection_;
};
