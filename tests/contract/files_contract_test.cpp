// The file service on both back ends: names without regard to case, which
// code a missing file and a missing folder give, copying onto an existing
// file, creating an existing folder, deleting a read-only file, appending in
// text mode, the directory walk, INI files and temporary file names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "contract/contract_machine.h"
#include "platform/owners.h"

namespace {

class FilesContract : public ::testing::Test {
 protected:
  void SetUp() override {
    contract_ = MakeContractMachine();
    dir_ = contract_->scratchDir();
  }
  void TearDown() override { Clear(dir_); }

  FileSystem& fs() { return contract_->machine().files(); }
  std::string At(const std::string& name) { return dir_ + "\\" + name; }

  // Empties a folder through the service itself, read-only files included.
  void Clear(const std::string& dir) {
    std::vector<FindData> entries;
    FindData data;
    UniqueFind find(fs());
    if (fs().FindFirst(dir + "\\*.*", find.put(), &data) != ERROR_SUCCESS) return;
    do {
      if (data.name != "." && data.name != "..") entries.push_back(data);
    } while (fs().FindNext(find.get(), &data) == ERROR_SUCCESS);
    find.reset();
    for (const FindData& entry : entries) {
      std::string path = dir + "\\" + entry.name;
      fs().SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
      if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        Clear(path);
        fs().RemoveDirectory(path);
      } else {
        fs().Delete(path);
      }
    }
  }

  std::unique_ptr<ContractMachine> contract_;
  std::string dir_;
};

TEST_F(FilesContract, NamesIgnoreCaseAndKeepTheirCase) {
  ASSERT_EQ(fs().WriteFile(At("MixedCase.TXT"), "content"), 0u);
  std::string bytes;
  ASSERT_EQ(fs().ReadFile(At("mixedcase.txt"), &bytes), 0u);
  EXPECT_EQ(bytes, "content");
  ASSERT_EQ(fs().WriteFile(At("MIXEDCASE.txt"), "replaced"), 0u);
  FindData data;
  UniqueFind find(fs());
  ASSERT_EQ(fs().FindFirst(At("mixed*"), find.put(), &data), 0u);
  EXPECT_EQ(data.name, "MixedCase.TXT");
  EXPECT_EQ(data.size, 8u);
  EXPECT_EQ(fs().FindNext(find.get(), &data), static_cast<DWORD>(ERROR_NO_MORE_FILES));
}

TEST_F(FilesContract, MissingFileAndMissingFolderGiveDifferentCodes) {
  DWORD attributes = 0;
  EXPECT_EQ(fs().GetAttributes(At("absent.txt"), &attributes),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().GetAttributes(At("Absent\\file.txt"), &attributes),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().Delete(At("absent.txt")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().Copy(At("absent.txt"), At("copy.txt"), false),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(fs().WriteFile(At("present.txt"), "x"), 0u);
  EXPECT_EQ(fs().Copy(At("present.txt"), At("Absent\\copy.txt"), false),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  FindHandle handle = nullptr;
  FindData data;
  EXPECT_EQ(fs().FindFirst(At("Absent\\*.*"), &handle, &data),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().FindFirst(At("*.none"), &handle, &data), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A file on the way counts as a missing folder.
  EXPECT_EQ(fs().GetAttributes(At("present.txt\\inner.txt"), &attributes),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::string longPath;
  EXPECT_EQ(fs().GetLongPathName(At("absent.txt"), &longPath),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().GetLongPathName(At("Absent\\file.txt"), &longPath),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(fs().GetLongPathName(At("present.txt"), &longPath), 0u);
  EXPECT_EQ(longPath.substr(longPath.size() - 12), "\\present.txt") << longPath;
}

// The medium check's reads: pieces of at most the size asked for, an empty
// piece at the end; while the file is open for reading it can be read and
// copied but neither written nor deleted.
TEST_F(FilesContract, OpenForReadReadsInPieces) {
  UniqueRead missing(fs());
  uint64_t size = 0;
  EXPECT_EQ(fs().OpenForRead(At("missing.bin"), missing.put(), &size), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(fs().OpenForRead(At("no\\missing.bin"), missing.put(), &size),
            DWORD{ERROR_PATH_NOT_FOUND});

  const std::string content = "0123456789abcdefghij";
  ASSERT_EQ(fs().WriteFile(At("pieces.bin"), content), 0u);
  UniqueRead file(fs());
  ASSERT_EQ(fs().OpenForRead(At("PIECES.BIN"), file.put(), &size), 0u);
  EXPECT_EQ(size, content.size());
  EXPECT_EQ(fs().WriteFile(At("pieces.bin"), "other"), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(fs().Delete(At("pieces.bin")), DWORD{ERROR_SHARING_VIOLATION});
  std::string copied;
  EXPECT_EQ(fs().ReadFile(At("pieces.bin"), &copied), 0u);
  EXPECT_EQ(fs().Copy(At("pieces.bin"), At("copy.bin"), false), 0u);
  std::string read, piece;
  do {
    ASSERT_EQ(fs().ReadPiece(file.get(), 8, &piece), 0u);
    EXPECT_LE(piece.size(), 8u);
    read += piece;
  } while (!piece.empty());
  EXPECT_EQ(read, content);
  file.reset();
  EXPECT_EQ(fs().Delete(At("pieces.bin")), 0u);
}

TEST_F(FilesContract, CopyDeleteAndFolderCodes) {
  ASSERT_EQ(fs().WriteFile(At("source.txt"), "new"), 0u);
  ASSERT_EQ(fs().WriteFile(At("target.txt"), "old"), 0u);
  EXPECT_EQ(fs().Copy(At("source.txt"), At("target.txt"), true),
            static_cast<DWORD>(ERROR_FILE_EXISTS));
  std::string bytes;
  ASSERT_EQ(fs().ReadFile(At("target.txt"), &bytes), 0u);
  EXPECT_EQ(bytes, "old");
  ASSERT_EQ(fs().Copy(At("source.txt"), At("target.txt"), false), 0u);
  ASSERT_EQ(fs().ReadFile(At("target.txt"), &bytes), 0u);
  EXPECT_EQ(bytes, "new");

  ASSERT_EQ(fs().SetAttributes(At("target.txt"), FILE_ATTRIBUTE_READONLY), 0u);
  DWORD attributes = 0;
  ASSERT_EQ(fs().GetAttributes(At("target.txt"), &attributes), 0u);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(fs().Delete(At("target.txt")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(fs().SetAttributes(At("target.txt"), FILE_ATTRIBUTE_NORMAL), 0u);
  EXPECT_EQ(fs().Delete(At("target.txt")), 0u);

  EXPECT_EQ(fs().Copy(At("source.txt"), At("source.txt"), false),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(fs().RemoveDirectory(At("source.txt")), static_cast<DWORD>(ERROR_DIRECTORY));

  ASSERT_EQ(fs().CreateDirectory(At("Folder")), 0u);
  EXPECT_EQ(fs().CreateDirectory(At("folder")), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_EQ(fs().GetAttributes(At("Folder"), &attributes), 0u);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_EQ(fs().WriteFile(At("Folder\\inside.txt"), "x"), 0u);
  EXPECT_EQ(fs().RemoveDirectory(At("Folder")), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  ASSERT_EQ(fs().Delete(At("Folder\\inside.txt")), 0u);
  EXPECT_EQ(fs().RemoveDirectory(At("Folder")), 0u);
}

TEST_F(FilesContract, TextAppendWritesCrLfAndCreatingEmptiesTheFile) {
  ASSERT_EQ(fs().AppendText(At("log.txt"), "first\n"), 0u);
  ASSERT_EQ(fs().AppendText(At("log.txt"), "second\nthird"), 0u);
  std::string bytes;
  ASSERT_EQ(fs().ReadFile(At("log.txt"), &bytes), 0u);
  EXPECT_EQ(bytes, "first\r\nsecond\r\nthird");
  // A doubled backslash inside a path is accepted.
  ASSERT_EQ(fs().AppendText(dir_ + "\\\\log.txt", "\n"), 0u);
  ASSERT_EQ(fs().ReadFile(At("log.txt"), &bytes), 0u);
  EXPECT_EQ(bytes, "first\r\nsecond\r\nthird\r\n");
  ASSERT_EQ(fs().CreateEmpty(At("log.txt")), 0u);
  ASSERT_EQ(fs().ReadFile(At("log.txt"), &bytes), 0u);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(FilesContract, DirectoryWalkListsDotsFirstThenEveryEntry) {
  ASSERT_EQ(fs().CreateDirectory(At("Sub")), 0u);
  ASSERT_EQ(fs().WriteFile(At("a.txt"), "1"), 0u);
  ASSERT_EQ(fs().WriteFile(At("b.dat"), "22"), 0u);
  std::vector<std::string> names;
  FindData data;
  {
    UniqueFind find(fs());
    ASSERT_EQ(fs().FindFirst(dir_ + "\\*.*", find.put(), &data), 0u);
    do {
      names.push_back(data.name);
      if (data.name == "Sub") {
        EXPECT_TRUE(data.attributes & FILE_ATTRIBUTE_DIRECTORY);
      }
      if (data.name == "b.dat") {
        EXPECT_EQ(data.size, 2u);
      }
    } while (fs().FindNext(find.get(), &data) == ERROR_SUCCESS);
  }
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  std::vector<std::string> rest(names.begin() + 2, names.end());
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::string>{"Sub", "a.txt", "b.dat"}));

  FindHandle handle = nullptr;
  ASSERT_EQ(fs().FindFirst(dir_ + "\\*.txt", &handle, &data), 0u);
  EXPECT_EQ(data.name, "a.txt");
  EXPECT_EQ(fs().FindNext(handle, &data), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(fs().FindClose(handle), 0u);
}

TEST_F(FilesContract, ProfileStringsFollowTheIniRules) {
  std::string ini = At("setup.ini");
  ASSERT_EQ(fs().WriteFile(ini,
                           "[Other]\r\n"
                           "Version=wrong\r\n"
                           "[Setup]\r\n"
                           "; a comment line\r\n"
                           "  Version =  2.0  \r\n"
                           "Description=\"Desk top\"\r\n"
                           "Single='quoted'\r\n"
                           "Empty=\r\n"
                           "Long=abcdefghij\r\n"
                           "Bare\r\n"
                           "[ Spaced ]\r\n"
                           "Key=spaced\r\n"
                           "[SETUP]\r\n"
                           "Late=late\r\n"),
            0u);
  auto read = [&](const std::string& section, const std::string& key, DWORD size = 256) {
    std::string value = "untouched";
    DWORD copied = fs().GetPrivateProfileString(section, key, "default", &value, size, ini);
    EXPECT_EQ(copied, value.size()) << key;
    return value;
  };
  EXPECT_EQ(read("setup", "VERSION"), "2.0");
  EXPECT_EQ(read("Setup", "Description"), "Desk top");
  EXPECT_EQ(read("Setup", "Single"), "quoted");
  EXPECT_EQ(read("Setup", "Empty"), "");
  EXPECT_EQ(read("Setup", "Long", 5), "abcd");
  EXPECT_EQ(read("Setup", "Missing"), "default");
  EXPECT_EQ(read("Missing", "Version"), "default");
  EXPECT_EQ(read("Setup", "Bare"), "default") << "a line without '=' is no key";
  EXPECT_EQ(read("Spaced", "Key"), "spaced") << "blanks around a section name do not count";
  EXPECT_EQ(read("Setup", "Late"), "default") << "only the first section of a name is read";
  std::string value;
  fs().GetPrivateProfileString("Setup", "Version", "none", &value, 256, At("absent.ini"));
  EXPECT_EQ(value, "none");
}

TEST_F(FilesContract, TemporaryFileNamesAreNewEmptyFiles) {
  std::string none;
  EXPECT_EQ(fs().GetTempFileName(At("Absent"), "crv", 0, &none), static_cast<DWORD>(ERROR_DIRECTORY));
  std::string first, second;
  ASSERT_EQ(fs().GetTempFileName(dir_, "crv", 0, &first), 0u);
  ASSERT_EQ(fs().GetTempFileName(dir_, "crv", 0, &second), 0u);
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    std::string name = path.substr(path.rfind('\\') + 1);
    EXPECT_EQ(path.substr(0, dir_.size()), dir_);
    EXPECT_EQ(name.substr(0, 3), "crv") << name;
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    EXPECT_EQ(extension, ".tmp");
    std::string bytes = "x";
    ASSERT_EQ(fs().ReadFile(path, &bytes), 0u);
    EXPECT_TRUE(bytes.empty());
  }
}

}  // namespace

// A library that is not there, by full path and by name alone: 126 on the NT
// family, 1157 on Windows 9x; no module either way.
TEST_F(FilesContract, MissingLibrariesFailWithThePlatformsError) {
  const DWORD expected = NineX(contract_->machine()) ? static_cast<DWORD>(ERROR_DLL_NOT_FOUND)
                                                     : static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
  for (const std::string& path : {At("absent.dll"), std::string("zentavo-absent.dll")}) {
    HMODULE module = nullptr;
    EXPECT_EQ(contract_->machine().com().LoadLibraryEx(path, LOAD_WITH_ALTERED_SEARCH_PATH,
                                                       &module),
              expected)
        << path;
    EXPECT_EQ(module, nullptr) << path;
  }
}
