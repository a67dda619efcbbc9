// WININIT.INI: each line is added to the end of the [rename] section,
// whatever case its name is written in, and the section is made when there
// is none; the simulated restart reads the lines back in short names and
// leaves a read-only file where it is, as Windows 9x does.
#include <gtest/gtest.h>

#include "platform/wininit.h"
#include "support/harness.h"

TEST(Wininit, ALineGoesToTheEndOfTheRenameSectionInWhateverCaseItIsNamed) {
  struct Case {
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"", "[rename]\r\nNUL=C:\\A.TMP\r\n"},
      {"[Rename]\r\nNUL=C:\\B.TMP\r\n", "[Rename]\r\nNUL=C:\\B.TMP\r\nNUL=C:\\A.TMP\r\n"},
      {"[RENAME]\r\nX=Y\r\n[other]\r\nk=v\r\n",
       "[RENAME]\r\nX=Y\r\nNUL=C:\\A.TMP\r\n[other]\r\nk=v\r\n"},
      {"[other]\r\nk=v", "[other]\r\nk=v\r\n[rename]\r\nNUL=C:\\A.TMP\r\n"},
      {"  [rename]\r\nX=Y", "  [rename]\r\nX=Y\r\nNUL=C:\\A.TMP\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddWininitLine(c.before, "NUL=C:\\A.TMP"), c.after) << c.before;
  }
}

TEST(Wininit, TheRestartOf98DoesTheLinesInShortNamesAndLeavesAReadOnlyFile) {
  auto machine = ExampleMachine("win98se", R"({"files": {
      "C:\\Program Files\\Old\\gone.dat": {"text": "x"},
      "C:\\Program Files\\Old\\kept.dat": {"text": "x", "readOnly": true},
      "C:\\WINDOWS\\WININIT.INI": {"text": "[Rename]\r\n"}}})");
  ASSERT_TRUE(machine);
  SimFileSystem& files = machine->simFiles();
  ASSERT_EQ(files.ShortPath("C:\\Program Files\\Old\\gone.dat"), "C:\\PROGRA~1\\Old\\gone.dat");
  machine->ScheduleFileOperation("C:\\Program Files\\Old\\gone.dat", "");
  machine->ScheduleFileOperation("C:\\Program Files\\Old\\kept.dat", "");
  EXPECT_EQ(files.Contents("C:\\WINDOWS\\WININIT.INI"),
            "[Rename]\r\nNUL=C:\\PROGRA~1\\Old\\gone.dat\r\nNUL=C:\\PROGRA~1\\Old\\kept.dat\r\n");
  machine->simProcesses().Restart();
  EXPECT_FALSE(files.Exists("C:\\Program Files\\Old\\gone.dat"));
  EXPECT_TRUE(files.Exists("C:\\Program Files\\Old\\kept.dat"));
  EXPECT_FALSE(files.Exists("C:\\WINDOWS\\WININIT.INI"));
}
