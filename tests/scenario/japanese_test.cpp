// Japanese and code page 932. The setup is an ANSI program, so Japanese is
// offered, taken from the command line or chosen for the system only where
// the ANSI code page is 932; elsewhere US English takes its place, with the
// reason in the log. And a whole first installation on a Japanese machine
// whose temporary folder and setup folder end in 表 (0x95 0x5C), with the
// clean-up of the unpacked setup that ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim_codepage.h"
#include "support/harness.h"

namespace {

enum class Choice { kDialog, kCommandLine, kAutomatic };

const char* Name(Choice choice) {
  switch (choice) {
    case Choice::kDialog: return "dialog";
    case Choice::kCommandLine: return "command line";
    case Choice::kAutomatic: return "automatic";
  }
  return "";
}

struct LanguageCase {
  UINT codePage;
  Choice choice;
  int language;                 // the language the run installs in
  std::string notOffered;       // the log line that says why Japanese is not, or empty
  std::string choiceLine;       // a line of the choice itself, or empty
};

const ScreenEvent* LanguageDialog(const Rehearsal& r) {
  for (const ScreenEvent& e : r.screen.events()) {
    if (e.kind == ScreenEvent::Kind::LanguageDialog) return &e;
  }
  return nullptr;
}

std::string Bytes932(const std::string& utf8) { return SimCodePage(932).FromUtf8(utf8); }

}  // namespace

// A Japanese system (language 0411) on either code page, the language chosen
// in the dialog, given with /l 1041, or chosen for the system by /quiet.
TEST(Japanese, IsOfferedOnlyWhereTheAnsiCodePageIs932) {
  const std::string kNot1252 = "Japanese not offered - ANSI code page 1252 cannot show its texts";
  const std::vector<LanguageCase> cases = {
      {932, Choice::kDialog, 1041, "", ""},
      {1252, Choice::kDialog, 1033, kNot1252, ""},
      {932, Choice::kCommandLine, 1041, "", ""},
      {1252, Choice::kCommandLine, 1033,
       "language 1041 not offered - ANSI code page 1252 cannot show its texts - using 1033", ""},
      {932, Choice::kAutomatic, 1041, "",
       "unattended: language 1041, the language dialog's choice for this system"},
      {1252, Choice::kAutomatic, 1033, kNot1252,
       "unattended: language 1033, the language dialog's choice for this system"},
  };
  for (const LanguageCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + " " + Name(c.choice));
    auto machine = MakeMachine(R"({"locale": {"language": "0411", "codePage": )" +
                               std::to_string(c.codePage) + "}}");
    ASSERT_TRUE(machine);
    const std::string line = c.choice == Choice::kCommandLine ? "/l 1041"
                             : c.choice == Choice::kAutomatic ? "/quiet"
                                                              : "";
    Rehearsal r = Rehearse(*machine, line);
    EXPECT_EQ(r.run.exitCode, 0) << r.run.log;
    const std::string chosen = c.language == 1041 ? "JAPANESE" : "ENGLISH_US";
    EXPECT_TRUE(r.HasLine("Install language=" + std::to_string(c.language) + " " + chosen))
        << r.run.log;
    if (c.notOffered.empty()) {
      EXPECT_EQ(std::count_if(r.lines.begin(), r.lines.end(),
                              [](const std::string& l) { return l.find("not offered") != l.npos; }),
                0);
    } else {
      EXPECT_TRUE(r.HasLine(c.notOffered)) << r.run.log;
    }
    if (!c.choiceLine.empty()) {
      EXPECT_TRUE(r.HasLine(c.choiceLine)) << r.run.log;
    }

    const ScreenEvent* dialog = LanguageDialog(r);
    ASSERT_EQ(dialog != nullptr, c.choice == Choice::kDialog);
    if (dialog) {
      const bool listed = std::find(dialog->entries.begin(), dialog->entries.end(),
                                    "Japanese") != dialog->entries.end();
      EXPECT_EQ(listed, c.codePage == 932);
      EXPECT_EQ(dialog->entries.size(), c.codePage == 932 ? 8u : 7u);
      EXPECT_EQ(dialog->selection, c.codePage == 932 ? "Japanese" : "English US");
    }
    // Never a screen of question marks: every text shown is readable in the
    // code page it is shown in.
    for (const ScreenState& state : r.screen.WindowStates()) {
      for (const std::string* text : {&state.header, &state.message, &state.help,
                                      &state.confirmCaption, &state.cancelCaption}) {
        EXPECT_EQ(ShownText(*text, state.codePage).find("??"), std::string::npos)
            << ShownText(*text, state.codePage);
      }
    }
  }
}

// The example machine docs/machines/xp-japanese.json: Japanese XP, code page
// 932, the temporary folder C:\TEMP\データ表\ holding a file of its own, a
// network package unpacked into C:\TEMP\データ表\ソフト表. A first installation in
// Japanese that ends by starting its clean-up copy with /ct, which deletes
// the unpacked setup; the log and the files keep every name whole.
TEST(Japanese, FirstInstallationAndCleanUpInAFolderWhoseNamesEndIn0x5C) {
  auto machine = ExampleMachine("xp-japanese");
  ASSERT_TRUE(machine);
  const std::string temp = Bytes932("C:\\TEMP\\データ表");
  const std::string setupDir = Bytes932("C:\\TEMP\\データ表\\ソフト表");
  ASSERT_TRUE(machine->simFiles().IsFile(setupDir + "\\setup.exe"));
  // A network package: unpacked into the temporary folder, it cleans up after itself.
  ASSERT_TRUE(machine->simFiles().Put(setupDir + "\\setup.ini",
                                      "[Setup]\r\nVersion=2.0\r\nDescription=Desktop\r\n"
                                      "PackageType=Net\r\nTargetOS=Win2K\r\n"));
  machine->ResealMediumManifest();

  Rehearsal r = RehearseAll(*machine, "");
  EXPECT_EQ(r.run.exitCode, 0) << r.run.log;
  EXPECT_EQ(r.run.runs, 2) << "the setup and its clean-up copy";
  const std::vector<std::string> lines = {
      "system language: 0411",
      "Install language=1041 JAPANESE",
      "temp directory " + setupDir + " will be cleaned up",
      "cleaning up " + setupDir,
  };
  int at = 0;
  for (const std::string& line : lines) {
    int found = r.Find(line, at);
    ASSERT_GE(found, 0) << "missing after line " << at << ": " << SimCodePage(932).ToUtf8(line)
                        << "\n"
                        << SimCodePage(932).ToUtf8(r.run.log);
    at = found + 1;
  }
  // The clean-up deleted what it was given, and said nothing of a folder it
  // could not read.
  for (const std::string& l : r.lines) {
    EXPECT_EQ(l.find("couldn't read"), std::string::npos) << SimCodePage(932).ToUtf8(l);
    EXPECT_EQ(l.find("could not delete"), std::string::npos) << SimCodePage(932).ToUtf8(l);
  }
  DWORD attributes = 0;
  EXPECT_EQ(machine->files().GetAttributes(setupDir, &attributes),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The files of the temporary folder under their own names: the log in the
  // folder, the machine's own file where it was, nothing beside the folder.
  SimFileSystem& files = machine->simFiles();
  EXPECT_TRUE(files.IsFile(temp + "\\ZentavoInstall.log"));
  EXPECT_TRUE(files.IsFile(Bytes932("C:\\TEMP\\データ表\\能力十.txt")));
  EXPECT_EQ(files.Contents(Bytes932("C:\\TEMP\\データ表\\能力十.txt")).value_or(""),
            "a file the machine already had");
  EXPECT_FALSE(files.IsFile(temp + "ZentavoInstall.log"));
  const std::string state = machine->ToJson();
  EXPECT_NE(state.find("C:\\\\TEMP\\\\データ表\\\\ZentavoInstall.log"), std::string::npos);
  EXPECT_NE(state.find("C:\\\\TEMP\\\\データ表\\\\能力十.txt"), std::string::npos);
  EXPECT_EQ(state.find("データ表ZentavoInstall.log"), std::string::npos);
  EXPECT_FALSE(files.IsFile(setupDir + "\\setup.ini"));
  EXPECT_EQ(state.find("ソフト表\\\\setup.ini"), std::string::npos) << "the unpacked setup is gone";
  // The product is installed: its program and its uninstall entry.
  EXPECT_TRUE(files.IsFile("C:\\Program Files\\Zentavo\\Zentavo.exe"));
}
