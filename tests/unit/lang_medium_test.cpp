// The language file of the demo medium, read by the setup's own loader on the
// simulated machine: every key in every language, each text sized for the
// place of the setup window where it is shown, and every text representable
// in the code page its language is shown with.
#include <gtest/gtest.h>

#include <string>

#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "support/harness.h"

namespace {

const char* const kLanguages[] = {"ENGLISH_US", "ENGLISH_UK", "GERMAN",   "SPANISH",
                                  "FRENCH",     "ITALIAN",    "JAPANESE", "PORTUGUESE"};

// Where a text is shown, and how many character cells it may take there: the
// header line (Arial 12 pt bold, 370 px), the message line (Arial 10 pt bold
// italic, 370 px), the help text (five lines of Arial 10 pt, 480 px), the
// buttons, and the title line (Arial 14 pt bold italic, 370 px).
enum class Place { Header, Message, Help, Button, Title };

int LimitOf(Place place) {
  switch (place) {
    case Place::Header: return 34;
    case Place::Message: return 44;
    case Place::Help: return 330;
    case Place::Button: return 12;
    case Place::Title: return 30;
  }
  return 0;
}

// The place of every key: the step tables give the headers, help texts and
// analysis messages; the handlers put the others in place. A key shown in two
// places gets the tighter limit. Keys no step shows are sized like their kind.
Place PlaceOf(int id) {
  for (const UpdateStep& step : kUpdateSteps) {
    if (step.headerId == id) return Place::Header;
  }
  for (const AnalysisStep& step : kAnalysisSteps) {
    if (step.textId == id) return Place::Message;
  }
  switch (id) {
    case WELCOME:
      return Place::Title;
    case OK:
    case CANCEL:
    case PROCEED:
    case TRYAGAIN:
      return Place::Button;
    case ANALYZEERROR:
    case INSUFFREQS:
    case WELCOMESUB1:
    case WELCOMESUB2:
    case WELCOMEUPGRADE:
    case WELCOMEUPGRADE2:
    case ZTRUNNING:
    case SHUTDOWNCANCEL:
    case TURNOFFCAM:
    case CAMSTILLON:
    case CANTREBOOT:
    case CHECKXML:
      return Place::Message;
    default:
      return Place::Help;
  }
}

// Character cells: a wide (East Asian) character takes two.
bool IsWide(char16_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

int Cells(const std::u16string& text) {
  int cells = 0;
  for (char16_t c : text) cells += IsWide(c) ? 2 : 1;
  return cells;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct MediumTable {
  std::unique_ptr<SimMachine> machine;
  std::unique_ptr<CLanguageStrings> strings;
};

MediumTable LoadMedium(const std::string& overlay) {
  MediumTable table;
  table.machine = MakeMachine(overlay);
  table.strings = std::make_unique<CLanguageStrings>(table.machine->environment());
  testing::internal::CaptureStdout();
  HRESULT hr = table.strings->Load(table.machine->xml(), "D:\\SetupLanguages.xml");
  std::string reports = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(SUCCEEDED(hr)) << reports;
  EXPECT_EQ(reports, "");
  return table;
}

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

const std::u16string* Text(const CLanguageStrings& strings, int id, const char* language) {
  auto entry = strings.keys().find(Wide(kStringKeys[id]));
  if (entry == strings.keys().end()) return nullptr;
  auto text = entry->second.find(Wide(language));
  return text == entry->second.end() ? nullptr : &text->second;
}

}  // namespace

TEST(MediumLanguageFile, HoldsEveryKeyInEveryLanguageAndNothingElse) {
  MediumTable table = LoadMedium("{}");
  for (int id = 0; id < kStringKeyCount; ++id) {
    for (const char* language : kLanguages) {
      const std::u16string* text = Text(*table.strings, id, language);
      ASSERT_NE(text, nullptr) << kStringKeys[id] << " " << language;
      EXPECT_FALSE(text->empty()) << kStringKeys[id] << " " << language;
      EXPECT_EQ(text->find_first_of(u"\r\n\t"), std::u16string::npos) << kStringKeys[id];
    }
    // Only the eight languages: a misspelt language name would be a silent fallback.
    EXPECT_EQ(table.strings->keys().at(Wide(kStringKeys[id])).size(), 8u) << kStringKeys[id];
  }
  EXPECT_EQ(table.strings->keys().size(), 79u);
}

TEST(MediumLanguageFile, EveryTextFitsThePlaceWhereItIsShown) {
  MediumTable table = LoadMedium("{}");
  for (int id = 0; id < kStringKeyCount; ++id) {
    Place place = PlaceOf(id);
    for (const char* language : kLanguages) {
      const std::u16string* text = Text(*table.strings, id, language);
      ASSERT_NE(text, nullptr);
      EXPECT_LE(Cells(*text), LimitOf(place))
          << kStringKeys[id] << " " << language << ": " << Utf8(*text);
    }
  }
}

TEST(MediumLanguageFile, TextsSurviveTheCodePageTheirLanguageIsShownWith) {
  for (bool japanese : {false, true}) {
    MediumTable table =
        LoadMedium(japanese ? R"({"locale": {"language": "0411", "codePage": 932}})" : "{}");
    Environment& environment = table.machine->environment();
    for (int id = 0; id < kStringKeyCount; ++id) {
      for (const char* language : kLanguages) {
        if ((std::string(language) == "JAPANESE") != japanese) continue;
        const std::u16string* text = Text(*table.strings, id, language);
        ASSERT_NE(text, nullptr);
        std::string narrow;
        std::u16string back;
        ASSERT_TRUE(environment.WideToAnsi(*text, &narrow));
        ASSERT_TRUE(environment.AnsiToWide(narrow, &back));
        EXPECT_EQ(back, *text) << kStringKeys[id] << " " << language << ": " << Utf8(*text);
      }
    }
  }
}

TEST(MediumLanguageFile, ButtonCaptionsNamedInHelpTextsAreTheButtonsOwn) {
  // A help text that tells the user to press a button names it by its caption.
  MediumTable table = LoadMedium("{}");
  for (const char* language : kLanguages) {
    const std::u16string& greeting = *Text(*table.strings, WELCOMEHELP1, language);
    EXPECT_NE(greeting.find(*Text(*table.strings, PROCEED, language)), std::u16string::npos)
        << language;
    EXPECT_NE(greeting.find(*Text(*table.strings, CANCEL, language)), std::u16string::npos)
        << language;
    const std::u16string& retry = *Text(*table.strings, CANTREBOOTHELP, language);
    EXPECT_NE(retry.find(*Text(*table.strings, TRYAGAIN, language)), std::u16string::npos)
        << language;
    const std::u16string& camera = *Text(*table.strings, TURNCAMOFFMSG, language);
    EXPECT_NE(camera.find(*Text(*table.strings, OK, language)), std::u16string::npos) << language;
  }
}
