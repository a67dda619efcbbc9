// Paths walked character by character on code page 932, whose characters 表
// 能 ソ 十 end in 0x5C, the backslash, and ポ in 0x7C, the bar; and the same
// walks on code page 1252, where every byte is a character. One table of the
// helpers' cases, then the simulated file system given such paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/path_chars.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_machine.h"

namespace {

// The characters as code page 932 writes them.
const std::string kHyo = "\x95\x5C";     // 表
const std::string kNou = "\x94\x5C";     // 能
const std::string kSo = "\x83\x5C";      // ソ
const std::string kJuu = "\x8F\x5C";     // 十
const std::string kPo = "\x83\x7C";      // ポ
const std::string kData = "\x83\x66\x81\x5B\x83\x5E";  // データ

constexpr size_t npos = std::string::npos;

struct Case {
  UINT codePage;
  std::string path;
  size_t lastSeparator;
  size_t firstSeparator;  // after the drive's "C:\", else from the start
  bool endsWithSeparator;
  std::string trimmed;  // TrimSeparators(keep 3)
  std::string folder;
  std::string lastName;
};

}  // namespace

TEST(PathChars, SplitsTrimsAndFindsByCharacter) {
  const std::string temp = "C:\\TEMP\\" + kData + kHyo;  // C:\TEMP\データ表
  const std::vector<Case> cases = {
      // The folder's last character ends in 0x5C: no separator at the end.
      {932, temp, 7, 7, false, temp, "C:\\TEMP", kData + kHyo},
      {932, temp + "\\", temp.size(), 7, true, temp, temp, ""},
      {932, temp + "\\\\", temp.size() + 1, 7, true, temp, temp + "\\", ""},
      {932, temp + "\\ZentavoInstall.log", temp.size(), 7, false, temp + "\\ZentavoInstall.log",
       temp, "ZentavoInstall.log"},
      // Every 0x5C is a second byte: no separator at all.
      {932, kNou + kSo + kJuu, npos, npos, false, kNou + kSo + kJuu, kNou + kSo + kJuu,
       kNou + kSo + kJuu},
      {932, "C:\\" + kSo + "\\" + kPo, 5, 5, false, "C:\\" + kSo + "\\" + kPo, "C:\\" + kSo, kPo},
      {932, "C:\\", 2, npos, true, "C:\\", "C:", ""},
      {932, "", npos, npos, false, "", "", ""},
      // A lone lead byte at the end is one character of its own.
      {932, "C:\\a\x95", 2, npos, false, "C:\\a\x95", "C:", "a\x95"},
      // On 1252 the same bytes are two characters each, 0x5C a separator.
      {1252, temp, temp.size() - 1, 7, true, temp.substr(0, temp.size() - 1),
       temp.substr(0, temp.size() - 1), ""},
      {1252, "C:\\TEMP\\", 7, 7, true, "C:\\TEMP", "C:\\TEMP", ""},
      {1252, "C:\\Espa\xF1ol\\x", 10, 10, false, "C:\\Espa\xF1ol\\x", "C:\\Espa\xF1ol", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.codePage) + " " + SimCodePage(c.codePage).ToUtf8(c.path));
    const PathChars paths = SimCodePage(c.codePage).Paths();
    EXPECT_EQ(paths.DoubleByte(), c.codePage == 932);
    EXPECT_EQ(paths.FindLastSeparator(c.path), c.lastSeparator);
    EXPECT_EQ(paths.FindSeparator(c.path, c.path.rfind("C:\\", 0) == 0 ? 3 : 0), c.firstSeparator);
    EXPECT_EQ(paths.EndsWithSeparator(c.path), c.endsWithSeparator);
    std::string trimmed = c.path;
    paths.TrimSeparators(&trimmed, 3);
    EXPECT_EQ(trimmed, c.trimmed);
    EXPECT_EQ(paths.Folder(c.path), c.folder);
    EXPECT_EQ(paths.LastName(c.path), c.lastName);
    // Stepping visits whole characters and ends at the text's end.
    size_t steps = 0;
    for (size_t pos = 0; pos < c.path.size(); pos = paths.Next(c.path, pos)) ++steps;
    std::u16string wide;
    ASSERT_TRUE(SimCodePage(c.codePage).ToWide(c.path, &wide));
    EXPECT_EQ(steps, wide.size());
    EXPECT_EQ(paths.Next(c.path, c.path.size()), c.path.size());
  }
}

// The simulated file system on a code page 932 machine: a folder whose name
// ends in 表 holds its files under their own names, and a name with ポ is valid.
TEST(PathChars, TheSimulatedFileSystemKeepsDoubleByteNamesWhole) {
  std::string error;
  auto machine = SimMachine::FromJson(R"({"base": "default", "locale": {"codePage": 932}})",
                                      "code page 932", &error);
  ASSERT_TRUE(machine) << error;
  SimFileSystem& files = machine->simFiles();
  const std::string folder = "C:\\TEMP\\" + kData + kHyo;
  ASSERT_TRUE(files.MakeFolders(folder + "\\"));
  ASSERT_TRUE(files.Put(folder + "\\" + kPo + ".txt", "x"));
  EXPECT_TRUE(files.IsFile(folder + "\\" + kPo + ".txt"));
  // The byte-wise split named the file "データ表ポ.txt" in C:\TEMP.
  EXPECT_FALSE(files.IsFile("C:\\TEMP\\" + kData + kHyo + kPo + ".txt"));
  FileSystem& seam = machine->files();
  FindData data;
  FindHandle handle = nullptr;
  ASSERT_EQ(seam.FindFirst(folder + "\\*.*", &handle, &data), static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<std::string> names;
  do {
    names.push_back(data.name);
  } while (seam.FindNext(handle, &data) == ERROR_SUCCESS);
  seam.FindClose(handle);
  EXPECT_NE(std::find(names.begin(), names.end(), kPo + ".txt"), names.end());
  std::string longPath;
  ASSERT_EQ(seam.GetLongPathName(folder + "\\", &longPath), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(longPath, folder + "\\");
  // The description names it in UTF-8 and gets it back the same way.
  EXPECT_NE(machine->ToJson().find("C:\\\\TEMP\\\\データ表\\\\ポ.txt"), std::string::npos);
}
