// The environment service on both back ends: the version, the temporary
// folder, the ANSI code page conversions and the random source.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "contract/contract_machine.h"
#include "platform/path_chars.h"

namespace {

TEST(EnvironmentContract, VersionAndFoldersAreReported) {
  auto contract = MakeContractMachine();
  Environment& env = contract->machine().environment();
  OsVersion version;
  ASSERT_TRUE(env.GetOsVersion(&version));
  EXPECT_TRUE(version.platformId == VER_PLATFORM_WIN32_WINDOWS ||
              version.platformId == VER_PLATFORM_WIN32_NT);
  EXPECT_GE(version.majorVersion, 4u);
  std::string temp;
  ASSERT_EQ(env.GetTempPath(&temp), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  std::string system, windows;
  ASSERT_EQ(env.GetSystemDirectory(&system), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(env.GetWindowsDirectory(&windows), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(system.rfind(windows, 0), 0u) << "the system folder lies in the Windows folder";
  DWORD attributes = 0;
  EXPECT_EQ(contract->machine().files().GetAttributes(system, &attributes), 0u);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_GT(env.TotalPhysicalMemory(), 0u);
}

TEST(EnvironmentContract, CodePageConversionsRoundTrip) {
  auto contract = MakeContractMachine();
  Environment& env = contract->machine().environment();
  std::u16string wide;
  ASSERT_TRUE(env.AnsiToWide("Setup 2.0", &wide));
  EXPECT_EQ(wide, u"Setup 2.0");
  std::string ansi;
  ASSERT_TRUE(env.WideToAnsi(wide, &ansi));
  EXPECT_EQ(ansi, "Setup 2.0");
  if (env.GetACP() != 1252) GTEST_SKIP() << "the rest needs code page 1252";
  ASSERT_TRUE(env.AnsiToWide("Espa\xF1ol", &wide));
  EXPECT_EQ(wide, u"Espa\u00F1ol");
  ASSERT_TRUE(env.WideToAnsi(u"Espa\u00F1ol", &ansi));
  EXPECT_EQ(ansi, "Espa\xF1ol");
  std::string upper = "espa\xF1ol";
  env.CharUpper(&upper);
  EXPECT_EQ(upper, "ESPA\xD1OL");
  // _mbsnicmp folds single bytes as the "C" locale does: ASCII letters only.
  EXPECT_EQ(env.CompareNoCase("espa\xF1ol", "ESPA\xF1OL", 7), 0);
  EXPECT_NE(env.CompareNoCase("espa\xF1ol", "ESPA\xD1OL", 7), 0);
}

// IsDBCSLeadByte answers for the ANSI code page: no byte on a single-byte
// page such as 1252, 0x81-0x9F and 0xE0-0xFC on 932 (Japanese), never an
// ASCII byte. The path walk built on it takes the second byte of 表 (0x95
// 0x5C) for part of the character on 932, for a backslash elsewhere.
TEST(EnvironmentContract, LeadBytesAreThoseOfTheAnsiCodePage) {
  auto contract = MakeContractMachine();
  Environment& env = contract->machine().environment();
  const UINT codePage = env.GetACP();
  int leads = 0;
  for (unsigned c = 0; c <= 0xFF; ++c) {
    const bool lead = env.IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE;
    if (c < 0x80) {
      EXPECT_FALSE(lead) << c;
    }
    if (codePage == 932) {
      EXPECT_EQ(lead, (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) << c;
    }
    leads += lead ? 1 : 0;
  }
  if (codePage == 1252) {
    EXPECT_EQ(leads, 0);
  }
  const PathChars paths = PathCharsOf(env);
  const std::string folder = "C:\\TEMP\\\x95\x5C";
  EXPECT_EQ(paths.EndsWithSeparator(folder), leads == 0) << "code page " << codePage;
  EXPECT_EQ(paths.FindLastSeparator(folder), leads == 0 ? folder.size() - 1 : 7u);
  if (codePage != 932) return;
  std::u16string wide;
  ASSERT_TRUE(env.AnsiToWide(folder, &wide));
  EXPECT_EQ(wide, u"C:\\TEMP\\\u8868");
}

// The random source gives bytes, and two draws differ (32 bytes alike would
// mean no source at all).
TEST(EnvironmentContract, TheRandomSourceGivesBytesThatDiffer) {
  auto contract = MakeContractMachine();
  Environment& env = contract->machine().environment();
  unsigned char first[32] = {}, second[32] = {};
  ASSERT_EQ(env.GenRandom(first, sizeof(first)), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(env.GenRandom(second, sizeof(second)), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(std::string(reinterpret_cast<char*>(first), sizeof(first)),
            std::string(reinterpret_cast<char*>(second), sizeof(second)));
  EXPECT_NE(std::string(reinterpret_cast<char*>(first), sizeof(first)), std::string(32, '\0'));
}

}  // namespace
