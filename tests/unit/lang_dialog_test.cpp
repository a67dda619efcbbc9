// The language choice: the entries of the language list, the preselection
// from the system language, the OK rule and the display names.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/log.h"
#include "lang/language_dlg.h"
#include "support/harness.h"

extern const char* const kDefaultMachineJson;

namespace {

const std::string kEspanol = "Espa\xF1ol";
const std::string kFrancais = "Fran\xE7" "ais";
const std::string kPortugues = "Portugu\xEA" "s";

// The default machine with its locale's language set to `code` (null:
// unreadable). A Japanese system has code page 932, as Japanese Windows
// comes; Japanese on another code page is tests/scenario/japanese_test.cpp's.
std::unique_ptr<SimMachine> MachineWithLanguage(const nlohmann::json& code) {
  nlohmann::json description = nlohmann::json::parse(kDefaultMachineJson);
  description["locale"]["language"] = code;
  if (code == "0411") description["locale"]["codePage"] = 932;
  std::string error;
  std::unique_ptr<SimMachine> machine =
      SimMachine::FromJson(description.dump(), "language test machine", &error);
  EXPECT_TRUE(machine) << error;
  return machine;
}

std::vector<std::string> LogLines(SimMachine& machine) {
  std::string temp;
  machine.environment().GetTempPath(&temp);
  std::string bytes;
  if (machine.files().ReadFile(temp + "\\ZentavoInstall.log", &bytes) != ERROR_SUCCESS) return {};
  return LogMessages(bytes);
}

struct Opened {
  std::unique_ptr<SimMachine> machine;
  std::unique_ptr<CInstallLog> log;
  std::unique_ptr<CLanguageDlg> dialog;
};

Opened OpenDialog(const nlohmann::json& code) {
  Opened opened;
  opened.machine = MachineWithLanguage(code);
  opened.log = std::make_unique<CInstallLog>(*opened.machine);
  opened.dialog = std::make_unique<CLanguageDlg>(opened.machine->environment(), *opened.log);
  opened.dialog->OnInitDialog();
  return opened;
}

using Entries = std::vector<std::string>;

}  // namespace

TEST(LanguageDialog, SevenLanguagesAreAddedAndShownSorted) {
  Opened d = OpenDialog("0409");
  EXPECT_EQ(d.dialog->AddedEntries(), (Entries{"English US", "English UK", "Deutsch", kEspanol,
                                               kFrancais, "Italiano", kPortugues}));
  EXPECT_EQ(d.dialog->SortedEntries(), (Entries{"Deutsch", "English UK", "English US", kEspanol,
                                                kFrancais, "Italiano", kPortugues}));
  EXPECT_EQ(d.dialog->Preselection(), "English US");
  std::vector<std::string> lines = LogLines(*d.machine);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "system language: 0409");
}

TEST(LanguageDialog, JapaneseIsOfferedAndSelectedOnlyOnAJapaneseSystem) {
  Opened d = OpenDialog("0411");
  EXPECT_EQ(d.dialog->SortedEntries(),
            (Entries{"Deutsch", "English UK", "English US", kEspanol, kFrancais, "Italiano",
                     "Japanese", kPortugues}));
  EXPECT_EQ(d.dialog->Preselection(), "Japanese");
  d.dialog->OnOK(d.dialog->Preselection());
  EXPECT_EQ(d.dialog->m_nLanguageId, 1041);

  for (const char* code : {"0409", "0407", "0C0A", "0412"}) {
    Opened other = OpenDialog(code);
    EXPECT_EQ(other.dialog->AddedEntries().size(), 7u) << code;
    for (const std::string& entry : other.dialog->SortedEntries()) {
      EXPECT_NE(entry, "Japanese") << code;
    }
  }
}

TEST(LanguageDialog, EachSystemLanguagePreselectsItsEntryAndOkGivesItsId) {
  struct Case {
    const char* code;
    std::string entry;
    int id;
  };
  const Case cases[] = {{"0409", "English US", 1033}, {"0809", "English UK", 2057},
                        {"0407", "Deutsch", 1031},    {"040A", kEspanol, 1034},
                        {"040C", kFrancais, 1036},    {"0410", "Italiano", 1040},
                        {"0411", "Japanese", 1041},   {"0816", kPortugues, 2070}};
  for (const Case& c : cases) {
    Opened d = OpenDialog(c.code);
    EXPECT_EQ(d.dialog->Preselection(), c.entry) << c.code;
    d.dialog->OnOK(d.dialog->Preselection());
    EXPECT_EQ(d.dialog->m_strLanguage, c.entry) << c.code;
    EXPECT_EQ(d.dialog->m_nLanguageId, c.id) << c.code;
    EXPECT_STREQ(DisplayLanguageName(c.id), c.entry.c_str()) << c.code;
  }
}

TEST(LanguageDialog, CodesMatchWithoutRegardToCaseButOnlyTheEightExactOnes) {
  Opened lower = OpenDialog("040c");
  EXPECT_EQ(lower.dialog->Preselection(), kFrancais);
  Opened spanishModern = OpenDialog("0C0A");
  EXPECT_EQ(spanishModern.dialog->Preselection(), "English US");
  EXPECT_EQ(LogLines(*spanishModern.machine).back(), "system language: 0C0A");
  Opened russian = OpenDialog("0419");
  EXPECT_EQ(russian.dialog->Preselection(), "English US");
}

TEST(LanguageDialog, UnreadableSystemLanguageSelectsNothingLogsNothingAndOkGivesUsEnglish) {
  Opened d = OpenDialog(nullptr);
  EXPECT_EQ(d.dialog->AddedEntries().size(), 7u);
  EXPECT_EQ(d.dialog->Preselection(), "");
  for (const std::string& line : LogLines(*d.machine)) {
    EXPECT_EQ(line.find("system language"), std::string::npos) << line;
  }
  d.dialog->OnOK("");
  EXPECT_EQ(d.dialog->m_strLanguage, "");
  EXPECT_EQ(d.dialog->m_nLanguageId, 1033);
}

TEST(LanguageDialog, OkNeedsTheExactDisplayName) {
  Opened d = OpenDialog("0409");
  d.dialog->OnOK(kPortugues);
  EXPECT_EQ(d.dialog->m_nLanguageId, 2070);
  d.dialog->OnOK("Deutsch");
  EXPECT_EQ(d.dialog->m_nLanguageId, 1031);
  for (const std::string& text : {std::string("deutsch"), std::string("Espanol"),
                                  std::string("Portugues"), std::string("English US ")}) {
    d.dialog->OnOK(text);
    EXPECT_EQ(d.dialog->m_nLanguageId, 1033) << text;
    EXPECT_EQ(d.dialog->m_strLanguage, text);
  }
}

TEST(LanguageDialog, DisplayNameOfAnyOtherIdIsEnglishUs) {
  EXPECT_STREQ(DisplayLanguageName(1049), "English US");
  EXPECT_STREQ(DisplayLanguageName(0), "English US");
  EXPECT_STREQ(DisplayLanguageName(-1), "English US");
  EXPECT_STREQ(DisplayLanguageName(3082), "English US");  // modern Spanish sort
}
