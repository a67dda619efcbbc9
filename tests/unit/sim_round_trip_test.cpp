// Descriptions that load write themselves back as descriptions that load
// again: names the machine holds in its code page are checked as it holds
// them, not as the UTF-8 of the description spells them. Cases found by the
// fuzz runs of tests/fuzz.
#include <string>

#include "sim_test_support.h"

namespace {

// Writes the machine back and loads what it wrote; the second writing must
// equal the first.
void ExpectRoundTrip(SimMachine& machine) {
  std::string written = machine.ToJson();
  std::string error;
  std::unique_ptr<SimMachine> again = SimMachine::FromJson(written, "written", &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->ToJson(), written);
}

}  // namespace

TEST(SimRoundTrip, ShortNameWithACharacterTheCodePageLacksIsRefused) {
  // U+01B0 is not in code page 1252: the machine would hold "WIN?W~1", a
  // wildcard in a name, and write back a description that does not load.
  EXPECT_EQ(SimError(R"({"files": {"C:\\Windows Media\\": {"shortName": "WIN\u01B0W~1"}}})"),
            "test.json: /files/C:\\Windows Media\\/shortName: expected an 8.3 name such as "
            "\"DOCUME~1\"");
  // In a code page that has the character the same name loads.
  std::unique_ptr<SimMachine> machine = SimFrom(
      R"({"locale": {"codePage": 1258}, "files": {"C:\\Windows Media\\": {"shortName": "WIN\u01B0W~1"}}})");
  ASSERT_TRUE(machine);
  ExpectRoundTrip(*machine);
}

TEST(SimRoundTrip, ShortNameIsMeasuredInTheBytesOfTheCodePage) {
  // Twelve characters, fourteen bytes of UTF-8, twelve bytes of code page 1252.
  std::unique_ptr<SimMachine> machine = SimFrom(
      R"({"files": {"C:\\\u00C9cole \u00C9t\u00E9 Notes.txt": {"text": "x", "shortName": "\u00C9COLE\u00C9~1.TXT"}}})");
  ASSERT_TRUE(machine);
  std::string bytes;
  EXPECT_EQ(machine->files().ReadFile("C:\\\xC9" "COLE\xC9~1.TXT", &bytes), 0u);
  EXPECT_EQ(bytes, "x");
  ExpectRoundTrip(*machine);
  // Thirteen bytes in the code page are one too many.
  EXPECT_EQ(SimError(R"({"files": {"C:\\a.txt": {"text": "", "shortName": "\u00C9COLE\u00C9~1.TXTX"}}})"),
            "test.json: /files/C:\\a.txt/shortName: expected an 8.3 name such as \"DOCUME~1\"");
}
