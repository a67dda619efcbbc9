// The package description read from setup.ini beside the setup program.
#include <gtest/gtest.h>

#include "unit/analysis_test_support.h"

namespace {

class PackageTest : public AnalysisTest {
 protected:
  // Replaces the medium's setup.ini (or removes it when `text` is null) and reads it.
  void Read(const char* text) {
    std::string path = context().setupDir + "\\setup.ini";
    if (text) {
      ASSERT_TRUE(files().Put(path, text));
    } else {
      ASSERT_TRUE(files().Remove(path));
    }
    context().ReadPackageInfo();
  }
};

TEST_F(PackageTest, DemoMediumDescribesADesktopCdForWindows2000) {
  Boot();
  context().ReadPackageInfo();
  EXPECT_EQ(context().packageVersion, "2.0");
  EXPECT_EQ(context().packageDescription, "Desktop");
  EXPECT_EQ(context().packageIsCD, 1);
  EXPECT_EQ(context().packageTargetOS, 2);
  EXPECT_EQ(context().FormatPackageDescription(), "2.0 Desktop Windows 2000/XP CD");
  EXPECT_EQ(Log(), std::vector<std::string>{"package info: 2.0 Desktop Windows 2000/XP CD"});
}

TEST_F(PackageTest, PackageTypeNetInAnyCaseMakesANetworkPackage) {
  Boot();
  Read("[Setup]\r\nVersion=2.1\r\nDescription=Office\r\nPackageType=net\r\nTargetOS=Win98\r\n");
  EXPECT_EQ(context().packageIsCD, 0);
  EXPECT_EQ(context().FormatPackageDescription(), "2.1 Office Windows 98/ME Net");
  EXPECT_TRUE(Logged("package info: 2.1 Office Windows 98/ME Net"));

  Read("[Setup]\r\nPackageType=NET\r\n");
  EXPECT_EQ(context().packageIsCD, 0);
  Read("[Setup]\r\nPackageType=Network\r\n");
  EXPECT_EQ(context().packageIsCD, 1);
  Read("[Setup]\r\nVersion=2.1\r\n");
  EXPECT_EQ(context().packageIsCD, 1);
}

TEST_F(PackageTest, TargetNamesAreRecognisedWithoutRegardToCase) {
  Boot();
  Read("[Setup]\r\nTargetOS=WINNT\r\n");
  EXPECT_EQ(context().packageTargetOS, 1);
  EXPECT_EQ(context().FormatPackageDescription(), "  Windows NT CD");
  Read("[Setup]\r\nTargetOS=win2k\r\n");
  EXPECT_EQ(context().packageTargetOS, 2);
  Read("[Setup]\r\nTargetOS=Win98\r\n");
  EXPECT_EQ(context().packageTargetOS, 0);
}

TEST_F(PackageTest, UnknownOrMissingTargetKeepsTheTargetAsItWas) {
  Boot();
  Read("[Setup]\r\nTargetOS=Win95\r\n");
  EXPECT_EQ(context().packageTargetOS, 0);

  context().packageTargetOS = 2;
  Read("[Setup]\r\nTargetOS=Win95\r\n");
  EXPECT_EQ(context().packageTargetOS, 2);
  Read("[Setup]\r\nVersion=3\r\n");
  EXPECT_EQ(context().packageTargetOS, 2);
}

TEST_F(PackageTest, WithoutSetupIniThePackageIsACdForWindows98) {
  Boot();
  Read(nullptr);
  EXPECT_EQ(context().packageVersion, "");
  EXPECT_EQ(context().packageDescription, "");
  EXPECT_EQ(context().packageIsCD, 1);
  EXPECT_EQ(context().packageTargetOS, 0);
  EXPECT_EQ(context().FormatPackageDescription(), "  Windows 98/ME CD");
  EXPECT_EQ(Log(), std::vector<std::string>{"package info:   Windows 98/ME CD"});
}

TEST_F(PackageTest, UnknownTargetValueHasNoName) {
  Boot();
  context().packageVersion = "1";
  context().packageDescription = "x";
  context().packageTargetOS = 5;
  context().packageIsCD = 0;
  EXPECT_EQ(context().FormatPackageDescription(), "1 x  Net");
}

TEST_F(PackageTest, LongValuesAreCutTo255Characters) {
  Boot();
  std::string description(300, 'd');
  Read(("[Setup]\r\nDescription=" + description + "\r\n").c_str());
  EXPECT_EQ(context().packageDescription, description.substr(0, 255));
}

TEST_F(PackageTest, ProgramInAReleaseFolderReadsTheParentsSetupIni) {
  Boot(R"({"setupProgram": "D:\\Release\\setup.exe"})");
  ASSERT_EQ(context().setupDir, "D:");
  ASSERT_TRUE(files().Put("D:\\setup.ini", "[Setup]\r\nVersion=9.9\r\nTargetOS=WinNT\r\n"));
  ASSERT_TRUE(files().Put("D:\\Release\\setup.ini", "[Setup]\r\nVersion=1.0\r\n"));
  context().ReadPackageInfo();
  EXPECT_EQ(context().packageVersion, "9.9");
  EXPECT_EQ(context().packageTargetOS, 1);
}

TEST_F(PackageTest, SetupFolderTooLongForItsPathIsRefusedNotCut) {
  std::string folder = "D:\\" + std::string(250, 'a');
  Boot(R"({"setupProgram": ")" + std::string("D:\\\\") + std::string(250, 'a') +
       R"(\\setup.exe"})");
  ASSERT_EQ(context().setupDir, folder);
  context().ReadPackageInfo();
  EXPECT_EQ(context().FormatPackageDescription(), "  Windows 98/ME CD");
  EXPECT_TRUE(Logged("path too long: " + folder + "\\setup.ini"));
}

}  // namespace
