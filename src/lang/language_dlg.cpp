#include "lang/language_dlg.h"

#include "platform/ascii.h"

#include <algorithm>
#include <cctype>

#include "app/log.h"
#include "lang/language_strings.h"
#include "platform/environment.h"

namespace {

struct Language {
  int id;
  const char* displayName;  // code page 1252
  const char* systemCode;   // LOCALE_ILANGUAGE
  const char* keyName;      // the language's element name in the language file
};

const Language kLanguages[] = {
    {1033, "English US", "0409", "ENGLISH_US"},
    {2057, "English UK", "0809", "ENGLISH_UK"},
    {1031, "Deutsch", "0407", "GERMAN"},
    {1034, "Espa\xF1ol", "040A", "SPANISH"},
    {1036, "Fran\xE7" "ais", "040C", "FRENCH"},
    {1040, "Italiano", "0410", "ITALIAN"},
    {1041, "Japanese", "0411", "JAPANESE"},
    {2070, "Portugu\xEA" "s", "0816", "PORTUGUESE"},
};

const Language& LanguageOf(int id) {
  for (const Language& language : kLanguages) {
    if (language.id == id) return language;
  }
  return kLanguages[0];
}

// The order in which the system language code is matched.
const int kMatchOrder[] = {1041, 1033, 2057, 1031, 1034, 1036, 1040, 2070};
// The entries every system gets, in the order they are added.
const int kListed[] = {1033, 2057, 1031, 1034, 1036, 1040, 2070};

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = AsciiLower(static_cast<unsigned char>(a[i]));
    int y = AsciiLower(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameCode(const std::string& a, const char* b) { return CompareNoCase(a, b) == 0; }

}  // namespace

const char* DisplayLanguageName(int languageId) { return LanguageOf(languageId).displayName; }

// Declared with the string table, which looks its texts up by these names;
// kept here so that the eight languages are listed once.
const char* LanguageKeyName(int languageId) { return LanguageOf(languageId).keyName; }

bool LanguageShowsOnCodePage(int languageId, UINT codePage) {
  return languageId != 1041 || codePage == kJapaneseCodePage;
}

int LanguageForThisSystem(int languageId, Environment& environment, CInstallLog& log) {
  const UINT codePage = environment.GetACP();
  if (languageId == 0 || LanguageShowsOnCodePage(languageId, codePage)) return languageId;
  const int instead = LanguageOf(1033).id;
  log.Log("language %d not offered - ANSI code page %u cannot show its texts - using %d\n",
          languageId, codePage, instead);
  return instead;
}

// Adds the seven languages every system is offered, then preselects the
// user's system language. Japanese is offered only on a Japanese system whose
// ANSI code page is 932; an unknown language, and Japanese elsewhere,
// preselect US English, and a language that cannot be read selects nothing.
void CLanguageDlg::OnInitDialog() {
  added_.clear();
  preselection_.clear();
  for (int id : kListed) added_.push_back(LanguageOf(id).displayName);

  // GetLocaleInfoA into a 5-character buffer fails for a longer answer.
  std::string code;
  if (!environment_.GetLocaleLanguage(&code) || code.size() > 4) return;
  log_.Log("system language: %s\n", code.c_str());

  for (int id : kMatchOrder) {
    const Language& language = LanguageOf(id);
    if (!SameCode(code, language.systemCode)) continue;
    if (id == 1041) {
      const UINT codePage = environment_.GetACP();
      if (!LanguageShowsOnCodePage(id, codePage)) {
        log_.Log("Japanese not offered - ANSI code page %u cannot show its texts\n", codePage);
        break;
      }
      added_.push_back(language.displayName);
    }
    preselection_ = language.displayName;
    return;
  }
  preselection_ = LanguageOf(1033).displayName;
}

// A sorted drop-down list orders its entries without regard to case.
std::vector<std::string> CLanguageDlg::SortedEntries() const {
  std::vector<std::string> sorted = added_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return CompareNoCase(a, b) < 0;
  });
  return sorted;
}

// The selected text must name a language exactly; anything else, no
// selection included, chooses US English.
void CLanguageDlg::OnOK(const std::string& selectedText) {
  m_strLanguage = selectedText;
  m_nLanguageId = 1033;
  for (const Language& language : kLanguages) {
    if (selectedText == language.displayName) {
      m_nLanguageId = language.id;
      break;
    }
  }
}
