// The system profile: how each Windows family is classified and logged, how
// memory is counted, and which prerequisite refuses the installation.
#include <gtest/gtest.h>

#include "lang/language_strings.h"
#include "unit/analysis_test_support.h"

namespace {

struct Family {
  const char* label;
  std::string overlay;
  DWORD build;
  int win9x, win98First, win98Second, winMe, winNT4, win2000, runtimeCheck;
  const char* line;
};

std::vector<Family> Families() {
  return {
      {"95", Windows95(), 950, 1, 1, 0, 0, 0, 0, 1, "            Windows 98 First Edition"},
      {"98 1998", Windows98(), 1998, 1, 1, 0, 0, 0, 0, 1,
       "            Windows 98 First Edition"},
      {"98 2222", Windows98SE(), 2222, 1, 0, 1, 0, 0, 0, 1,
       "            Windows 98 Second Edition"},
      {"Me", WindowsMe(), 3000, 1, 0, 0, 1, 0, 0, 0, "            Windows Millenium Edition"},
      {"NT 4.0", WindowsNT4(), 1381, 0, 0, 0, 0, 1, 0, 1, "            Windows NT"},
      {"NT 3.51", OsOverlay(2, 3, 51, 1057, ""), 1057, 0, 0, 0, 0, 1, 0, 1,
       "            Windows NT"},
      {"2000", Windows2000(), 2195, 0, 0, 0, 0, 0, 1, 0, "            Windows 2000"},
      {"XP", WindowsXP(), 2600, 0, 0, 0, 0, 0, 1, 0, "            Windows 2000"},
  };
}

TEST_F(AnalysisTest, EachWindowsFamilyGetsExactlyOneFlagAndItsLogLine) {
  for (const Family& family : Families()) {
    SCOPED_TRACE(family.label);
    Boot(family.overlay);
    CSetupContext& c = context();
    EXPECT_EQ(c.CheckOsVersion(), 1);
    EXPECT_EQ(c.osBuild, family.build);
    EXPECT_EQ(c.isWin9x, family.win9x);
    EXPECT_EQ(c.isWin98First, family.win98First);
    EXPECT_EQ(c.isWin98Second, family.win98Second);
    EXPECT_EQ(c.isWinMe, family.winMe);
    EXPECT_EQ(c.isWinNT4, family.winNT4);
    EXPECT_EQ(c.isWin2000, family.win2000);
    EXPECT_EQ(c.needsRuntimeCheck, family.runtimeCheck);
    EXPECT_EQ(c.isWin98First + c.isWin98Second + c.isWinMe + c.isWinNT4 + c.isWin2000, 1);
    EXPECT_EQ(IsWin9xPlatform(machine().environment()), family.win9x);

    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], "OS version: " + std::to_string(c.osMajor) + "." +
                          std::to_string(c.osMinor));
    EXPECT_EQ(log[1], family.line);
    EXPECT_EQ(log[3], "Windows directory: " + c.windowsDir);
    EXPECT_EQ(log[4], "System directory:  " + c.systemDir);
  }
}

TEST_F(AnalysisTest, ProfileRecordsVersionAndDirectories) {
  Boot(WindowsNT4("Service Pack 3"));
  context().CheckOsVersion();
  EXPECT_EQ(context().osMajor, 4u);
  EXPECT_EQ(context().osMinor, 0u);
  EXPECT_EQ(context().windowsDir, "C:\\WINNT");
  EXPECT_EQ(context().systemDir, "C:\\WINNT\\system32");
  EXPECT_EQ(Log(), (std::vector<std::string>{"OS version: 4.0", "            Windows NT",
                                              "            Service Pack 3",
                                              "Windows directory: C:\\WINNT",
                                              "System directory:  C:\\WINNT\\system32"}));
}

TEST_F(AnalysisTest, NtKeepsTheWholeBuildNumberAnd9xOnlyItsLowWord) {
  Boot(OsOverlay(2, 5, 0, 0x12345, ""));
  context().CheckOsVersion();
  EXPECT_EQ(context().osBuild, 0x12345u);

  Boot(OsOverlay(1, 4, 10, Build9x(4, 10, 1999), ""));
  context().CheckOsVersion();
  EXPECT_EQ(context().osBuild, 1999u);
  EXPECT_EQ(context().isWin98Second, 1);
}

TEST_F(AnalysisTest, ServicePackTextIsTrimmedOrReportedMissing) {
  Boot(WindowsNT4("  Service Pack 6a \\t"));
  context().CheckOsVersion();
  EXPECT_EQ(context().servicePack, "Service Pack 6a");
  EXPECT_TRUE(Logged("            Service Pack 6a"));

  Boot(WindowsNT4(""));
  context().CheckOsVersion();
  EXPECT_EQ(context().servicePack, "");
  EXPECT_TRUE(Logged("            (no service pack information)"));

  Boot(WindowsNT4("   "));
  context().CheckOsVersion();
  EXPECT_EQ(context().servicePack, "");
  EXPECT_TRUE(Logged("            (no service pack information)"));
}

std::string Memory(uint64_t bytes) {
  return R"({"memoryBytes": )" + std::to_string(bytes) + "}";
}
constexpr uint64_t kMB = 1048576;

TEST_F(AnalysisTest, MemoryJustBelowAWholeMegabyteCountsAsThatMegabyte) {
  Boot(Memory(64 * kMB - 400 * 1024));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), 64u);
  Boot(Memory(1024 * kMB - 1));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), 1024u);
}

TEST_F(AnalysisTest, MemoryOfFourGigabytesOrMoreIsCappedNotWrapped) {
  Boot(Memory(4096 * kMB - 1));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), kMaxPhysicalMemoryMB);
  Boot(Memory(4096 * kMB));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), kMaxPhysicalMemoryMB);
  Boot(Memory(16384 * kMB));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), kMaxPhysicalMemoryMB);
  Boot(Memory(3072 * kMB - 400 * 1024));
  EXPECT_EQ(GetPhysicalMemoryMB(machine().environment()), 3072u);

  Boot(Merge({WindowsXP(), Memory(8192 * kMB)}));
  context().CheckOsVersion();
  context().CheckRam();
  EXPECT_EQ(context().ramInsufficient, 0);
  EXPECT_TRUE(Logged("4096MB RAM detected, 64MB required (sufficient)"));
}

TEST_F(AnalysisTest, SixtyTwoMegabytesPassAndSixtyOneFail) {
  Boot(Merge({Windows98(), Memory(62 * kMB - 400 * 1024)}));
  EXPECT_EQ(context().ramRequiredMB, 0u);
  context().CheckOsVersion();
  EXPECT_EQ(context().CheckRam(), 1);
  EXPECT_EQ(context().ramMB, 62u);
  EXPECT_EQ(context().ramRequiredMB, 64u);
  EXPECT_EQ(context().ramInsufficient, 0);
  EXPECT_TRUE(Logged("62MB RAM detected, 64MB required (sufficient)"));

  Boot(Merge({Windows98(), Memory(61 * kMB - 400 * 1024)}));
  context().CheckOsVersion();
  EXPECT_EQ(context().CheckRam(), 1);
  EXPECT_EQ(context().ramMB, 61u);
  EXPECT_EQ(context().ramInsufficient, 1);
  EXPECT_TRUE(Logged("61MB RAM detected, 64MB required (insufficient)"));
}

// Runs the three analysis steps the prerequisite step relies on, then the
// step itself with `target` as the package's target system.
class PrerequisiteTest : public AnalysisTest {
 protected:
  int Judge(const std::string& overlay, int target) {
    Boot(overlay);
    context().CheckOsVersion();
    context().CheckRam();
    context().packageTargetOS = target;
    window().calls.clear();
    return context().CheckPrerequisites(0);
  }
  std::vector<RecordingSetupWindow::Call> Refusal(int reason) {
    return {{"SetText1", INSUFFREQS},   {"SetText2", reason},  {"SetConfirmText", OK},
            {"ShowConfirm", 1},         {"ShowCancel", 0}};
  }
};

TEST_F(PrerequisiteTest, PassingSystemMovesOnWithoutShowingAnything) {
  EXPECT_NE(Judge(WindowsXP(), 2), 0);
  EXPECT_TRUE(window().calls.empty());
  EXPECT_EQ(context().waitForInput, 0);
}

TEST_F(PrerequisiteTest, MemoryIsJudgedBeforeServicePackAndPackage) {
  EXPECT_EQ(Judge(Merge({WindowsNT4("Service Pack 3"), Memory(60 * kMB)}), 2), 0);
  EXPECT_EQ(window().calls, Refusal(INSUFFSYSTEM));
  EXPECT_EQ(context().waitForInput, 1);
}

TEST_F(PrerequisiteTest, Nt4ServicePackTextIsComparedAsBytes) {
  EXPECT_EQ(Judge(WindowsNT4("Service Pack 3"), 1), 0);
  EXPECT_EQ(window().calls, Refusal(INSUFFSERVPACK));
  EXPECT_EQ(Judge(WindowsNT4(""), 1), 0);
  EXPECT_EQ(window().calls, Refusal(INSUFFSERVPACK));
  EXPECT_EQ(Judge(WindowsNT4("Service Pack 10"), 1), 0);
  EXPECT_EQ(window().calls, Refusal(INSUFFSERVPACK));
  // Case counts: lower-case letters sort above upper-case ones.
  EXPECT_NE(Judge(WindowsNT4("service pack 3"), 1), 0);
  EXPECT_TRUE(window().calls.empty());

  EXPECT_NE(Judge(WindowsNT4(" Service Pack 6a "), 1), 0);
  EXPECT_TRUE(window().calls.empty());
  EXPECT_NE(Judge(WindowsNT4("Service Pack 4"), 1), 0);
  EXPECT_TRUE(window().calls.empty());
}

TEST_F(PrerequisiteTest, ServicePackIsNotJudgedOutsideNt4) {
  EXPECT_NE(Judge(OsOverlay(2, 5, 0, 2195, ""), 2), 0);
  EXPECT_NE(Judge(OsOverlay(1, 4, 90, Build9x(4, 90, 3000), "Service Pack 1"), 0), 0);
}

TEST_F(PrerequisiteTest, PackageTargetMustMatchTheSystem) {
  struct Row {
    const char* label;
    std::string overlay;
    bool passes[4];  // targets Win98, WinNT, Win2K, unknown
  };
  const Row rows[] = {
      {"98", Windows98(), {true, false, false, true}},
      {"Me", WindowsMe(), {true, false, false, true}},
      {"NT 4.0", WindowsNT4(), {false, true, false, true}},
      {"2000", Windows2000(), {false, false, true, true}},
      {"XP", WindowsXP(), {false, false, true, true}},
  };
  const int targets[] = {0, 1, 2, 7};
  for (const Row& row : rows) {
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string(row.label) + " target " + std::to_string(targets[i]));
      int result = Judge(row.overlay, targets[i]);
      if (row.passes[i]) {
        EXPECT_NE(result, 0);
        EXPECT_TRUE(window().calls.empty());
      } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(window().calls, Refusal(WRONGPACKAGE));
      }
    }
  }
}

TEST_F(PrerequisiteTest, ConfirmingTheRefusalEndsTheSetup) {
  ASSERT_EQ(Judge(WindowsNT4("Service Pack 3"), 1), 0);
  EXPECT_EQ(context().CheckPrerequisites(1), 0);
  EXPECT_EQ(app().m_bTerminating, 1);
  EXPECT_TRUE(Logged("setup terminating"));
}

TEST_F(PrerequisiteTest, OtherActionsFinishTheStep) {
  ASSERT_EQ(Judge(WindowsNT4("Service Pack 3"), 1), 0);
  EXPECT_NE(context().CheckPrerequisites(2), 0);
  EXPECT_EQ(app().m_bTerminating, 0);
}

}  // namespace
