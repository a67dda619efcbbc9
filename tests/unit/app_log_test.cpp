// The installation log's bytes: section header, timestamp prefix, CR LF,
// append versus new, long and percent-carrying messages; and the setup directory.
#include <gtest/gtest.h>

#include "app/log.h"
#include <nlohmann/json.hpp>

#include "support/harness.h"

namespace {

const std::string kSeparator(70, '-');

std::string LogPathOf(SimMachine& machine) {
  std::string temp;
  machine.environment().GetTempPath(&temp);
  return temp + "\\ZentavoInstall.log";
}

std::string ReadLog(SimMachine& machine) {
  std::string bytes;
  EXPECT_EQ(machine.files().ReadFile(LogPathOf(machine), &bytes), static_cast<DWORD>(ERROR_SUCCESS))
      << machine.Describe();
  return bytes;
}

std::unique_ptr<SimMachine> MachineAt(const std::string& localTime, long long tickCount) {
  return MakeMachine(R"({"clock": {"localTime": ")" + localTime + R"(", "tickCount": )" +
                     std::to_string(tickCount) + "}}");
}

}  // namespace

TEST(InstallLog, FirstCallWritesSectionHeaderThenPrefixedLineInCrLf) {
  auto machine = MachineAt("2002-03-14T10:05:17", 0x0012a4f0);
  CInstallLog log(*machine);
  EXPECT_EQ(log.Log("package info: %s\n", "2.0 Desktop"), 1);
  std::string expected = kSeparator + "\r\n" +
                         "Zentavo Installation Log  03.14.2002  10:05:17\r\n" + kSeparator +
                         "\r\n" + "03.14.2002 10:05:17.0012a4f0 package info: 2.0 Desktop\r\n";
  EXPECT_EQ(ReadLog(*machine), expected);
  // The temporary path already ends with a backslash: the log path holds two in a row.
  EXPECT_NE(log.g_strLogPath.find("\\\\ZentavoInstall.log"), std::string::npos);
}

TEST(InstallLog, CounterIsEightLowerCaseHexDigitsAndFollowsTheClock) {
  auto machine = MachineAt("2026-12-08T09:01:02", 0xABCDEF);
  CInstallLog log(*machine);
  log.Log("one\n");
  machine->clock().Advance(0x10);
  log.Log("two\n");
  std::string bytes = ReadLog(*machine);
  EXPECT_NE(bytes.find("12.08.2026 09:01:02.00abcdef one\r\n"), std::string::npos) << bytes;
  EXPECT_NE(bytes.find("12.08.2026 09:01:02.00abcdff two\r\n"), std::string::npos) << bytes;
}

TEST(InstallLog, NormalRunEmptiesAnOldLogAndAppendingRunAddsASection) {
  auto machine = MakeMachine();
  {
    CInstallLog first(*machine);
    first.Log("first run\n");
  }
  {
    CInstallLog second(*machine);
    second.g_bLogAppend = 1;
    second.Log("resumed run\n");
  }
  std::vector<std::string> lines = LogMessages(ReadLog(*machine));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3], "first run");
  EXPECT_EQ(lines[4], kSeparator);
  EXPECT_EQ(lines[5].rfind("Zentavo Installation Log  ", 0), 0u);
  EXPECT_EQ(lines[7], "resumed run");
  {
    CInstallLog third(*machine);
    third.Log("fresh run\n");
  }
  lines = LogMessages(ReadLog(*machine));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "fresh run");
}

TEST(InstallLog, PercentInsideAnArgumentReachesTheFileUnchanged) {
  auto machine = MakeMachine();
  CInstallLog log(*machine);
  log.Log("copy %s\n", "C:\\100%s\\%d%n.txt");
  std::vector<std::string> lines = LogMessages(ReadLog(*machine));
  EXPECT_EQ(lines[3], "copy C:\\100%s\\%d%n.txt");
}

TEST(InstallLog, LongMessageIsCutAtTheLineBufferAndKeepsItsLineEnd) {
  auto machine = MakeMachine();
  CInstallLog log(*machine);
  std::string huge(5000, 'x');
  log.Log("path %s\n", huge.c_str());
  log.Log("next\n");
  std::string bytes = ReadLog(*machine);
  std::vector<std::string> lines = LogMessages(bytes);
  ASSERT_GE(lines.size(), 5u);
  // 1023 characters fit with the terminator: 29 of prefix, the rest message and line end.
  EXPECT_EQ(lines[3].size(), 1023u - 29u - 1u);
  EXPECT_EQ(lines[4], "next");
}

TEST(InstallLog, MessageWithoutLineEndRunsIntoTheNextLine) {
  auto machine = MakeMachine();
  CInstallLog log(*machine);
  log.Log("caught COleException");
  log.Log("after\n");
  std::vector<std::string> lines = LogMessages(ReadLog(*machine));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind("caught COleException", 0), 0u);
  EXPECT_EQ(lines[3].substr(lines[3].size() - 6), " after");
}

TEST(SetupDirectory, DropsReleaseOrDebugComponentCaseSensitively) {
  struct Case {
    const char* program;
    const char* directory;
  } cases[] = {
      {"C:\\Build\\Release\\setup.exe", "C:\\Build"},
      {"C:\\Build\\Debug\\setup.exe", "C:\\Build"},
      {"C:\\Build\\release\\setup.exe", "C:\\Build\\release"},
      {"C:\\Build\\Releases\\setup.exe", "C:\\Build\\Releases"},
      {"D:\\setup.exe", "D:"},
      {"D:\\Release\\setup.exe", "D:"},
      {"E:\\Zentavo\\Disk1\\setup.exe", "E:\\Zentavo\\Disk1"},
  };
  for (const Case& c : cases) {
    nlohmann::json overlay = {{"setupProgram", c.program}};
    auto machine = MakeMachine(overlay.dump());
    ASSERT_TRUE(machine);
    char buffer[260];
    EXPECT_EQ(GetSetupDirectory(machine->environment(), buffer, sizeof(buffer)), 1);
    EXPECT_STREQ(buffer, c.directory) << c.program;
  }
}
