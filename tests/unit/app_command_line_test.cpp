// The command line: /c, /l and /ct, their order of tests on one token, and
// the 511-character working buffer.
#include <gtest/gtest.h>

#include "app/setup_app.h"
#include "support/harness.h"

namespace {

struct Parsed {
  int resume, step, language, cleanup, cut;
  std::string dir;
};

Parsed Parse(const std::string& line) {
  auto machine = MakeMachine();
  ListAnswers answers;
  SimFrontEnd frontEnd(machine->clock(), answers);
  CSetupApp app(*machine, frontEnd);
  app.ParseCommandLine(line);
  return Parsed{app.m_bResume,  app.m_nResumeStep, app.g_languageId,
                app.m_bCleanup, app.m_bCleanupDirCut, app.m_strCleanupDir};
}

}  // namespace

TEST(CommandLine, ResumeWithStepAndLanguage) {
  Parsed p = Parse("/c 12 /l 1031");
  EXPECT_EQ(p.resume, 1);
  EXPECT_EQ(p.step, 12);
  EXPECT_EQ(p.language, 1031);
  EXPECT_EQ(p.cleanup, 0);
}

TEST(CommandLine, SwitchesIgnoreCaseAndRunsOfSpaces) {
  Parsed p = Parse("   /C    7   /L   2057  ");
  EXPECT_EQ(p.resume, 1);
  EXPECT_EQ(p.step, 7);
  EXPECT_EQ(p.language, 2057);
}

TEST(CommandLine, ValueTokenOfOneSwitchIsTestedAgainstTheNext) {
  Parsed p = Parse("/c /l 1031");
  EXPECT_EQ(p.resume, 1);
  EXPECT_EQ(p.step, 0);
  EXPECT_EQ(p.language, 1031);
}

TEST(CommandLine, TrailingSwitchWithoutValueChangesNothing) {
  Parsed c = Parse("/l 1034 /c");
  EXPECT_EQ(c.resume, 0);
  EXPECT_EQ(c.language, 1034);
  Parsed l = Parse("/c 3 /l");
  EXPECT_EQ(l.resume, 1);
  EXPECT_EQ(l.step, 3);
  EXPECT_EQ(l.language, 0);
}

TEST(CommandLine, NumbersAreLeadingDigitsWithSign) {
  EXPECT_EQ(Parse("/l abc").language, 0);
  EXPECT_EQ(Parse("/l 0").language, 0);
  EXPECT_EQ(Parse("/l 1041x").language, 1041);
  EXPECT_EQ(Parse("/c -4").step, -4);
  EXPECT_EQ(Parse("/c x").resume, 1);
  EXPECT_EQ(Parse("/c x").step, 0);
  // Numbers beyond 32 bits are held at the range's ends, never overflowed.
  EXPECT_EQ(Parse("/c 99999999999999999999").step, 2147483647);
  EXPECT_EQ(Parse("/c -99999999999999999999").step, -2147483647 - 1);
  EXPECT_EQ(Parse("/l 4294968329").language, 2147483647);
}

TEST(CommandLine, LaterSwitchOverridesEarlierAndOtherTokensAreIgnored) {
  Parsed p = Parse("foo /l 1031 /x /l 1036 bar");
  EXPECT_EQ(p.language, 1036);
  EXPECT_EQ(p.resume, 0);
}

TEST(CommandLine, TabIsNotASeparator) {
  Parsed p = Parse("/c\t12");
  EXPECT_EQ(p.resume, 0);
}

TEST(CommandLine, CleanupTakesTheRestOfTheLineVerbatimAndEndsTheParse) {
  Parsed p = Parse("/ct C:\\Temp\\Setup Files");
  EXPECT_EQ(p.cleanup, 1);
  EXPECT_EQ(p.dir, "C:\\Temp\\Setup Files");
  Parsed upper = Parse("/CT   \"D:\\a b\" /c 5");
  EXPECT_EQ(upper.cleanup, 1);
  EXPECT_EQ(upper.dir, "\"D:\\a b\" /c 5");
  EXPECT_EQ(upper.resume, 0);
  Parsed empty = Parse("/ct   ");
  EXPECT_EQ(empty.cleanup, 0);
}

TEST(CommandLine, LongLineIsCutAndACutCleanupDirectoryIsMarked) {
  std::string longDir = "C:\\" + std::string(600, 'd');
  Parsed p = Parse("/ct " + longDir);
  EXPECT_EQ(p.cleanup, 1);
  EXPECT_EQ(p.cut, 1);
  EXPECT_EQ(p.dir.size(), 511u - 4u);
  Parsed fits = Parse("/ct C:\\short");
  EXPECT_EQ(fits.cut, 0);
  // A switch beyond the 511th character is not seen.
  Parsed beyond = Parse(std::string(520, ' ') + "/l 1031");
  EXPECT_EQ(beyond.language, 0);
}
