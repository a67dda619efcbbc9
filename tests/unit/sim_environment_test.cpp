// The simulated environment: system facts, the virtual clock, and the code
// page services (1252 and 932).
#include "sim_test_support.h"

namespace {

TEST(SimEnvironment, ClockDrivesTickCountAndLocalTime) {
  auto machine = SimFrom(R"({"clock": {"localTime": "2004-02-28T23:59:59.800", "tickCount": 4294967000}})");
  ASSERT_TRUE(machine);
  Environment& env = machine->environment();
  EXPECT_EQ(env.GetTickCount(), 4294967000u);
  env.Sleep(296);
  EXPECT_EQ(env.GetTickCount(), 0u) << "the counter wraps after 49.7 days";
  EXPECT_EQ(machine->clock().now(), 296u);
  LocalTime t;
  env.GetLocalTime(&t);
  EXPECT_EQ(t.year, 2004);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29) << "2004 is a leap year";
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.milliseconds, 96);
  EXPECT_EQ(t.dayOfWeek, 0) << "29 February 2004 was a Sunday";
}

TEST(SimEnvironment, SystemFactsComeFromTheDescription) {
  auto machine = SimFrom(R"({
    "os": {"platformId": 1, "major": 4, "minor": 10, "build": 67766446, "servicePack": " A "},
    "memoryBytes": 6442450944, "locale": {"language": null},
    "directories": {"windows": "C:\\WINDOWS", "system": "C:\\WINDOWS\\SYSTEM",
                    "temp": "C:\\WINDOWS\\TEMP\\"},
    "setupProgram": "E:\\Install\\setup.exe", "commandLine": "/l 1031"})");
  ASSERT_TRUE(machine);
  Environment& env = machine->environment();
  OsVersion os;
  ASSERT_TRUE(env.GetOsVersion(&os));
  EXPECT_EQ(os.platformId, 1u);
  EXPECT_EQ(os.buildNumber >> 16, 0x040Au);
  EXPECT_EQ(os.csdVersion, " A ");
  EXPECT_EQ(env.TotalPhysicalMemory(), 0xFFFFFFFFull) << "GlobalMemoryStatus saturates";
  std::string code = "unchanged";
  EXPECT_FALSE(env.GetLocaleLanguage(&code));
  EXPECT_EQ(code, "unchanged");
  std::string path;
  ASSERT_EQ(env.GetSystemDirectory(&path), 0u);
  EXPECT_EQ(path, "C:\\WINDOWS\\SYSTEM");
  ASSERT_EQ(env.GetTempPath(&path), 0u);
  EXPECT_EQ(path, "C:\\WINDOWS\\TEMP\\");
  ASSERT_EQ(env.GetModuleFileName(&path), 0u);
  EXPECT_EQ(path, "E:\\Install\\setup.exe");
  EXPECT_EQ(env.CommandLineArguments(), "/l 1031");
  EXPECT_TRUE(machine->simFiles().IsDirectory("C:\\WINDOWS\\TEMP"));
  EXPECT_TRUE(machine->simFiles().Exists("E:\\Install\\setup.exe"));
}

TEST(SimEnvironment, CharUpperFollowsCodePage1252) {
  auto machine = SimFrom("{}");
  ASSERT_TRUE(machine);
  std::string text = "abz \xE0\xF1\xF7\xFE\xFF\x9A\x9C\x9E\xB5\xDF";
  machine->environment().CharUpper(&text);
  EXPECT_EQ(text, "ABZ \xC0\xD1\xF7\xDE\x9F\x8A\x8C\x8E\xB5\xDF");
  Environment& env = machine->environment();
  EXPECT_EQ(env.CompareNoCase("Version", "VERSION", 100), 0);
  EXPECT_NE(env.CompareNoCase("espa\xF1ol", "ESPA\xD1OL", 100), 0) << "the CRT folds ASCII only";
  EXPECT_LT(env.CompareNoCase("4.70", "4.71", 4), 0);
  EXPECT_GT(env.CompareNoCase("abd", "ABC", 3), 0);
  EXPECT_EQ(env.CompareNoCase("abd", "ABC", 2), 0);
  EXPECT_LT(env.CompareNoCase("ab", "abc", 10), 0);
}

TEST(SimEnvironment, CodePage932KeepsDoubleByteCharactersWhole) {
  auto machine = SimFrom(R"({"locale": {"language": "0411", "codePage": 932}})");
  ASSERT_TRUE(machine);
  Environment& env = machine->environment();
  EXPECT_EQ(env.GetACP(), 932u);
  // 0x83 0x61 is katakana; its trail byte is 'a' and must stay.
  std::string text = "a\x83\x61z\x82\x81";
  env.CharUpper(&text);
  EXPECT_EQ(text, "A\x83\x61Z\x82\x81");
  EXPECT_EQ(env.CompareNoCase("\x82\x81x", "\x82\x60X", 2), 0) << "full-width a and A";
  EXPECT_NE(env.CompareNoCase("\x83\x61", "\x83\x41", 1), 0) << "trail bytes are not letters";
  std::u16string wide;
  ASSERT_TRUE(env.AnsiToWide("\x93\xfa\x96\x7b", &wide));  // 日本
  EXPECT_EQ(wide, u"\u65e5\u672c");
  std::string back;
  ASSERT_TRUE(env.WideToAnsi(u"\u65e5\u672c\u00f1", &back));
  EXPECT_EQ(back, "\x93\xfa\x96\x7b?") << "unmappable characters become '?'";
}

TEST(SimEnvironment, CodePage1252ConversionsRoundTripAndMarkTheUnmappable) {
  auto machine = SimFrom("{}");
  ASSERT_TRUE(machine);
  Environment& env = machine->environment();
  std::u16string wide;
  ASSERT_TRUE(env.AnsiToWide("Espa\xF1ol \x80\x81", &wide));
  EXPECT_EQ(wide, u"Espa\u00f1ol \u20ac\u0081");
  std::string ansi;
  ASSERT_TRUE(env.WideToAnsi(wide, &ansi));
  EXPECT_EQ(ansi, "Espa\xF1ol \x80\x81");
  ASSERT_TRUE(env.WideToAnsi(u"\u65e5x\U0001F600y", &ansi));
  EXPECT_EQ(ansi, "?x?y") << "a surrogate pair is one character";
}

TEST(SimEnvironment, BadSystemMembersAreRefused) {
  EXPECT_EQ(SimError(R"({"os": {"major": "5"}})"), "test.json: /os/major: expected an unsigned integer");
  EXPECT_EQ(SimError(R"({"os": {"platformId": 3}})"), "test.json: /os/platformId: value above 2");
  EXPECT_EQ(SimError(R"({"locale": {"codePage": 99999}})"), "test.json: /locale/codePage: value above 65535");
  EXPECT_EQ(SimError(R"({"locale": {"codePage": 4}})"), "test.json: /locale/codePage: code page 4 is not known");
  EXPECT_EQ(SimError(R"({"locale": {"language": "409"}})"),
            "test.json: /locale/language: expected four hex digits such as \"0409\", or null");
  EXPECT_EQ(SimError(R"({"directories": {"temp": "C:\\TEMP"}})"),
            "test.json: /directories/temp: GetTempPath's folder ends with a backslash");
  EXPECT_EQ(SimError(R"({"clock": {"localTime": "2004-02-30T00:00:00"}})"),
            "test.json: /clock/localTime: expected a time such as \"2004-09-14T10:05:17\"");
  EXPECT_EQ(SimError(R"({"memory": 1})"), "test.json: /memory: unknown member");
  std::string error = SimError("{\n  \"os\": {,\n}");
  EXPECT_EQ(error.rfind("test.json: line 2, column 10: ", 0), 0u) << error;
}

}  // namespace
