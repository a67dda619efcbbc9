// Component version checks: comparing version texts, reading a file's
// version, and the Windows Installer, run-time library and media player steps.
#include <gtest/gtest.h>

#include "unit/analysis_test_support.h"

namespace {

int Sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

TEST(CompareVersions, ComparesFieldByFieldAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"4.70.1155", "4.71", -1},
      {"4.71.1712.6", "4.71", 1},
      {"4.71", "4.71", 0},
      {"10.0", "4.71", 1},
      {"5.50.4134.0600", "4.71", 1},
      {"", "4.71", -1},
      {"1.20.1827.0", "1.20.1827.0", 0},
      {"1.10.1029.0", "1.20.1827.0", -1},
      {"2.0.2600.0", "1.20.1827.0", 1},
      {"6.00.8797.0", "6.0.8797.0", 0},
      {"6.0.8168.0", "6.0.8797.0", -1},
      {"10.00.00.3646", "7", 1},
      {"6.4.09.1109", "7", -1},
      {"7.01.00.3055", "7", 1},
      {"7.0", "7", 0},
      {"5,0,42,0", "5,0,42,0", 0},
      {"5,0,30,0", "5,0,42,0", -1},
      {"6,0,21,0", "5,0,42,0", 1},
      {"10,0,22,87", "5,0,42,0", 1},
      {"4.71", "4.71.0.0", 0},
      {"99999999999999999999.1", "99999999999999999999.0", 1},
      {"5.1.2600.2180 (xpsp_sp2_rtm.040803-2158)", "5.1.2600.2180", 1},
      {"9 (beta)", "10", -1},
      {"1.0b", "1.0a", 1},
      {"beta", "1", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(Sign(CompareVersions(c.a, c.b, false)), c.expected);
    EXPECT_EQ(Sign(CompareVersions(c.b, c.a, false)), -c.expected);
  }
}

TEST(CompareVersions, LettersCountWithOrWithoutCaseAsAsked) {
  EXPECT_EQ(CompareVersions("1.0A", "1.0a", true), 0);
  EXPECT_LT(CompareVersions("1.0A", "1.0a", false), 0);
  EXPECT_EQ(CompareVersions("RC1", "rc1", true), 0);
  EXPECT_NE(CompareVersions("RC1", "rc1", false), 0);
}

class VersionFileTest : public AnalysisTest {
 protected:
  std::optional<std::string> Version(const std::string& path, size_t buffer = 256) {
    std::string text = "untouched";
    if (!GetFileVersionString(machine(), path, &text, buffer)) {
      EXPECT_EQ(text, "untouched");
      return std::nullopt;
    }
    return text;
  }
};

TEST_F(VersionFileTest, ReadsTheFileVersionOfEachTranslationInTurn) {
  Boot(R"({"files": {
    "C:\\v\\plain.dll": {"text": "", "version": {"FileVersion": "1.2.3.4"}},
    "C:\\v\\western.dll": {"text": "", "version": {"translations": ["040904b0"],
        "strings": {"040904e4": {"FileVersion": "2.0"}}}},
    "C:\\v\\second.dll": {"text": "", "version": {"translations": ["040704b0", "040904b0"],
        "strings": {"040904b0": {"FileVersion": "3.0"}}}},
    "C:\\v\\stringless.dll": {"text": "", "version": {"translations": ["040904b0"],
        "strings": {"040704b0": {"FileVersion": "4.0"}}}},
    "C:\\v\\none.dll": {"text": ""}
  }})");
  EXPECT_EQ(Version("C:\\v\\plain.dll"), "1.2.3.4");
  EXPECT_EQ(Version("C:\\v\\western.dll"), "2.0");
  EXPECT_EQ(Version("C:\\v\\second.dll"), "3.0");
  EXPECT_EQ(Version("C:\\v\\stringless.dll"), std::nullopt);
  EXPECT_EQ(Version("C:\\v\\none.dll"), std::nullopt);
  EXPECT_EQ(Version("C:\\v\\missing.dll"), std::nullopt);
}

TEST_F(VersionFileTest, LongVersionTextIsCutToItsBuffer) {
  std::string longText(100, '9');
  Boot(R"({"files": {"C:\\v\\long.dll": {"text": "", "version": {"FileVersion": ")" +
       longText + R"("}}}})");
  EXPECT_EQ(Version("C:\\v\\long.dll", 64), longText.substr(0, 63));
  EXPECT_EQ(Version("C:\\v\\long.dll"), longText);
}

TEST_F(VersionFileTest, BrowserVersionComesFromTheRegistry) {
  Boot();
  EXPECT_EQ(GetIEVersion(machine()), "6.0.2800.1106");
  Boot(R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": "10.0"}}})");
  EXPECT_EQ(GetIEVersion(machine()), "10.0");
  Boot(R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": null}}})");
  EXPECT_EQ(GetIEVersion(machine()), "");
  Boot(R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": null}})");
  EXPECT_EQ(GetIEVersion(machine()), "");
}

std::string SystemFile(const std::string& system, const std::string& name,
                       const std::string& object) {
  return R"({"files": {")" + system + "\\\\" + name + R"(": )" + object + "}}";
}
std::string WithVersion(const std::string& version) {
  return R"({"text": "", "version": {"FileVersion": ")" + version + R"("}})";
}
const char kSystem98[] = "C:\\\\WINDOWS\\\\SYSTEM";
const char kSystemXP[] = "C:\\\\WINDOWS\\\\system32";

class MsiTest : public AnalysisTest {
 protected:
  // Boots the machine, puts `msiexec` (a file object, or null for none) in
  // its system directory and runs the profile and the Windows Installer check.
  void Check(const std::string& overlay, const char* msiexec) {
    Boot(overlay);
    std::string path;
    ASSERT_EQ(machine().environment().GetSystemDirectory(&path),
              static_cast<DWORD>(ERROR_SUCCESS));
    path += "\\msiexec.exe";
    if (msiexec) {
      ReplaceFile(path, msiexec);
    } else {
      files().Remove(path);
    }
    context().CheckOsVersion();
    EXPECT_EQ(context().CheckMsi(), 1);
  }
  std::vector<std::string> MsiLines() {
    std::vector<std::string> log = Log();
    return std::vector<std::string>(log.begin() + 5, log.end());
  }
};

const char kMsi1_20[] = R"({"text": "", "version": {"FileVersion": "1.20.1827.0"}})";
const char kMsi1_10[] = R"({"text": "", "version": {"FileVersion": "1.10.1029.0"}})";
const char kMsi2_0[] = R"({"text": "", "version": {"FileVersion": "2.0.2600.0"}})";
const char kMsi10[] = R"({"text": "", "version": {"FileVersion": "10.0.1.0"}})";

TEST_F(MsiTest, WindowsInstallerOf1_20_1827IsEnoughOn98) {
  Check(Windows98(), kMsi1_20);
  EXPECT_EQ(context().msiPresent, 1);
  EXPECT_EQ(context().msiVersion, "1.20.1827.0");
  EXPECT_EQ(context().msiUpdateNeeded, 0);
  EXPECT_EQ(MsiLines(), (std::vector<std::string>{
                            "existing MSI version is 1.20.1827.0 (1.20.1827.0 required)",
                            "MSI will not be updated"}));

  Check(Windows98(), kMsi2_0);
  EXPECT_EQ(context().msiUpdateNeeded, 0);
  Check(Windows98(), kMsi10);
  EXPECT_EQ(context().msiUpdateNeeded, 0);

  Check(Windows98(), kMsi1_10);
  EXPECT_EQ(context().msiUpdateNeeded, 1);
  EXPECT_EQ(MsiLines(), (std::vector<std::string>{
                            "existing MSI version is 1.10.1029.0 (1.20.1827.0 required)",
                            "MSI will be updated"}));
}

TEST_F(MsiTest, Windows2000AndXpKeepAnyReadableVersion) {
  Check(WindowsXP(), kMsi1_10);
  EXPECT_EQ(context().msiUpdateNeeded, 0);
  EXPECT_EQ(MsiLines(),
            (std::vector<std::string>{
                "existing MSI version is 1.10.1029.0 - MSI will not be updated on Windows 2000",
                "MSI will not be updated"}));
  Check(Windows2000(), kMsi1_10);
  EXPECT_EQ(context().msiUpdateNeeded, 0);
}

TEST_F(MsiTest, MissingMsiexecMeansNotPresentAndUpdate) {
  Check(WindowsXP(), nullptr);
  EXPECT_EQ(context().msiPresent, 0);
  EXPECT_EQ(context().msiVersion, "0");
  EXPECT_EQ(context().msiUpdateNeeded, 1);
  EXPECT_EQ(MsiLines(), (std::vector<std::string>{"unable to retrieve MSI version info size",
                                                  "MSI is not present on this system",
                                                  "MSI will be updated"}));
}

TEST_F(MsiTest, UnreadableVersionNeedsAnUpdateEvenOnXp) {
  Check(WindowsXP(), R"({"text": ""})");
  EXPECT_EQ(context().msiPresent, 1);
  EXPECT_EQ(context().msiVersion, "0");
  EXPECT_EQ(context().msiUpdateNeeded, 1);
  EXPECT_EQ(MsiLines(), (std::vector<std::string>{"unable to retrieve MSI version info size",
                                                  "MSI will be updated"}));
}

TEST_F(MsiTest, OnlyTheFirstTranslationIsAsked) {
  Check(WindowsXP(), R"({"text": "", "version": {"translations": ["040904b0"],
                          "strings": {"040904e4": {"FileVersion": "2.0.2600.0"}}}})");
  EXPECT_EQ(context().msiVersion, "0");
  EXPECT_EQ(context().msiUpdateNeeded, 1);
  EXPECT_EQ(MsiLines(), (std::vector<std::string>{"could not query MSI version information",
                                                  "MSI will be updated"}));

  Check(WindowsXP(), R"({"text": "", "version": {"translations": ["040704b0", "040904b0"],
                          "strings": {"040904b0": {"FileVersion": "2.0.2600.0"}}}})");
  EXPECT_EQ(context().msiVersion, "0");
  EXPECT_EQ(context().msiUpdateNeeded, 1);
}

const char* const kLibraries[] = {"OLEPRO32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL",  "MSVCP60.DLL",
                                  "MSVCIRT.DLL",  "MFC42U.DLL",   "MFC42.DLL",   "COMCAT.DLL",
                                  "ADVPACK.DLL",  "ASYCFILT.DLL", "ATL.DLL"};
const char* const kRequired[] = {"5.0.4275",   "2.40.4275",  "6.0.8797.0", "6.0.8168.0",
                                 "6.0.8168.0", "6.0.8665.0", "6.0.8665.0", "4.71",
                                 "4.71.1015.1", "2.40.4275", "3.0.8449"};

// Every run-time library at its required version (file names in lower case),
// with `changes` (name -> file object) replacing some.
std::string Libraries(const std::string& system,
                      const std::vector<std::pair<std::string, std::string>>& changes = {}) {
  nlohmann::json files = nlohmann::json::object();
  std::string folder = nlohmann::json::parse("\"" + system + "\"").get<std::string>();
  for (size_t i = 0; i < std::size(kLibraries); ++i) {
    std::string name = kLibraries[i];
    for (char& ch : name) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    files[folder + "\\" + name] = nlohmann::json::parse(WithVersion(kRequired[i]));
  }
  for (const auto& [name, object] : changes) {
    files[folder + "\\" + name] = nlohmann::json::parse(object);
  }
  return nlohmann::json({{"files", files}}).dump();
}

class RuntimeTest : public AnalysisTest {
 protected:
  void Check(const std::string& overlay) {
    Boot(overlay);
    context().CheckOsVersion();
    EXPECT_EQ(context().CheckRuntimeLibraries(), 1);
  }
  std::vector<std::string> RuntimeLines() {
    std::vector<std::string> log = Log();
    return std::vector<std::string>(log.begin() + 5, log.end());
  }
};

TEST_F(RuntimeTest, Windows98ChecksEveryLibraryButTheUnicodeMfc) {
  Check(Merge({Windows98(), Libraries(kSystem98)}));
  std::vector<std::string> expected;
  for (size_t i = 0; i < std::size(kLibraries); ++i) {
    if (std::string(kLibraries[i]) == "MFC42U.DLL") continue;
    expected.push_back(std::string("C:\\WINDOWS\\SYSTEM\\") + kLibraries[i] + " version " +
                       kRequired[i] + " (" + kRequired[i] + " required)");
  }
  expected.push_back("run-time libraries will not be updated");
  EXPECT_EQ(RuntimeLines(), expected);
  EXPECT_EQ(context().runtimeUpdateNeeded, 0);
}

TEST_F(RuntimeTest, Nt4ChecksAllElevenLibraries) {
  Check(Merge({WindowsNT4(), Libraries("C:\\\\WINNT\\\\system32")}));
  EXPECT_EQ(RuntimeLines().size(), std::size(kLibraries) + 1);
  EXPECT_EQ(RuntimeLines()[5],
            "C:\\WINNT\\system32\\MFC42U.DLL version 6.0.8665.0 (6.0.8665.0 required)");
  EXPECT_EQ(context().runtimeUpdateNeeded, 0);
}

TEST_F(RuntimeTest, MeTwoThousandAndXpCheckNothing) {
  for (const std::string& system : {WindowsMe(), Windows2000(), WindowsXP()}) {
    Check(Merge({system, Libraries(kSystemXP, {{"atl.dll", "null"}})}));
    EXPECT_EQ(RuntimeLines(),
              std::vector<std::string>{"run-time libraries will not be updated"});
    EXPECT_EQ(context().runtimeUpdateNeeded, 0);
  }
}

TEST_F(RuntimeTest, LongerFieldWithTheSameNumberIsNotOlder) {
  Check(Merge({Windows98(), Libraries(kSystem98, {{"msvcrt.dll", WithVersion("6.00.8797.0")}})}));
  EXPECT_EQ(context().runtimeUpdateNeeded, 0);
  EXPECT_EQ(RuntimeLines()[2],
            "C:\\WINDOWS\\SYSTEM\\MSVCRT.DLL version 6.00.8797.0 (6.0.8797.0 required)");
}

TEST_F(RuntimeTest, OldOrUnreadableLibraryNeedsTheUpdateAndEveryRowIsStillLogged) {
  Check(Merge({Windows98(), Libraries(kSystem98, {{"msvcrt.dll", WithVersion("6.0.8168.0")}})}));
  EXPECT_EQ(context().runtimeUpdateNeeded, 1);
  EXPECT_EQ(RuntimeLines().size(), 11u);
  EXPECT_EQ(RuntimeLines().back(), "run-time libraries will be updated");

  Check(Merge({Windows98(), Libraries(kSystem98, {{"olepro32.dll", R"({"text": ""})"},
                                                  {"atl.dll", "null"}})}));
  EXPECT_EQ(context().runtimeUpdateNeeded, 1);
  std::vector<std::string> lines = RuntimeLines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "could not retrieve version information for C:\\WINDOWS\\SYSTEM\\OLEPRO32.DLL");
  EXPECT_EQ(lines[9], "could not retrieve version information for C:\\WINDOWS\\SYSTEM\\ATL.DLL");
  EXPECT_EQ(lines[10], "run-time libraries will be updated");
}

class MediaPlayerTest : public AnalysisTest {
 protected:
  void Check(const std::string& overlay) {
    Boot(overlay);
    context().CheckOsVersion();
    EXPECT_EQ(context().CheckMediaPlayer(), 1);
  }
  std::vector<std::string> PlayerLines() {
    std::vector<std::string> log = Log();
    return std::vector<std::string>(log.begin() + 5, log.end());
  }
};

const char kPlayer[] = "C:\\\\Program Files\\\\Windows Media Player\\\\wmplayer.exe";

std::string Player(const std::string& version) {
  return R"({"files": {")" + std::string(kPlayer) + R"(": )" + WithVersion(version) + "}}";
}

TEST_F(MediaPlayerTest, VersionSevenOrLaterNeedsNoUpdate) {
  for (const char* version : {"7.01.00.3055", "9.00.00.2980", "10.00.00.3646"}) {
    SCOPED_TRACE(version);
    Check(Merge({WindowsXP(), Player(version)}));
    EXPECT_EQ(context().mediaPlayerVersion, version);
    EXPECT_EQ(context().mediaPlayerUpdateNeeded, 0);
    EXPECT_EQ(PlayerLines(),
              (std::vector<std::string>{
                  "media player path: C:\\Program Files\\Windows Media Player\\wmplayer.exe",
                  std::string("MediaPlayer version ") + version + " installed"}));
  }
}

TEST_F(MediaPlayerTest, OlderOrUnreadablePlayerNeedsTheUpdate) {
  Check(Merge({Windows98(), Player("6.4.09.1109")}));
  EXPECT_EQ(context().mediaPlayerUpdateNeeded, 1);
  EXPECT_EQ(PlayerLines().back(), "MediaPlayer must be updated");

  Check(Merge({WindowsXP(), R"({"files": {")" + std::string(kPlayer) + R"(": null}})"}));
  EXPECT_EQ(context().mediaPlayerUpdateNeeded, 1);
  EXPECT_EQ(context().mediaPlayerVersion, "");
  EXPECT_EQ(PlayerLines().back(), "could not determine MediaPlayer version");
}

TEST_F(MediaPlayerTest, WithoutAppPathsThePlayerIsLookedForInTheSystemDirectory) {
  Check(Merge({Windows2000(),
               R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe": null}})",
               SystemFile("C:\\\\WINNT\\\\system32", "wmplayer.exe", WithVersion("6.4.09.1109"))}));
  EXPECT_EQ(PlayerLines().front(), "media player path: C:\\WINNT\\system32\\wmplayer.exe");
  EXPECT_EQ(context().mediaPlayerVersion, "6.4.09.1109");
}

TEST_F(MediaPlayerTest, Windows9xUsesTheLongFormOfThePath) {
  Check(Merge({WindowsMe(), Player("7.01.00.3055"),
               R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\wmplayer.exe": {"": "C:\\PROGRA~1\\WINDOW~1\\wmplayer.exe"}}})"}));
  EXPECT_EQ(PlayerLines().front(),
            "media player path: C:\\Program Files\\Windows Media Player\\wmplayer.exe");
  EXPECT_EQ(context().mediaPlayerUpdateNeeded, 0);
}

TEST_F(MediaPlayerTest, Nt4IsLeftAlone) {
  Check(Merge({WindowsNT4(), Player("6.4.09.1109")}));
  EXPECT_EQ(PlayerLines(),
            std::vector<std::string>{"MediaPlayer will not be updated on Windows NT"});
  EXPECT_EQ(context().mediaPlayerUpdateNeeded, 0);
}

TEST_F(AnalysisTest, StepsThatCheckNothingPass) {
  Boot();
  EXPECT_EQ(context().PassCheck(), 1);
  EXPECT_TRUE(Log().empty());
}

}  // namespace
