// The simulated file system: names, the codes of each call, locks, junctions,
// short names, temporary names, INI files, the medium and the description.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/owners.h"
#include "sim_test_support.h"

namespace {

const char kMachine[] = R"({"files": {
  "C:\\Data\\Report.TXT": {"text": "hello"},
  "C:\\Data\\readonly.txt": {"text": "keep", "readOnly": true},
  "C:\\Data\\hidden.ini": {"text": "", "hidden": true},
  "C:\\Data\\Sub\\inner.bin": {"hex": "00 01 02"},
  "C:\\Data\\Empty\\": {},
  "C:\\Busy\\in use.dll": {"text": "old", "locked": 32},
  "C:\\Busy\\image.ocx": {"text": "old", "locked": {"error": 5, "untilMs": 2500}},
  "C:\\Long Folder Name\\": {"shortName": "LONGFO~1"},
  "C:\\Long Folder Name\\Inner Files\\": {"shortName": "INNERF~1"},
  "C:\\Long Folder Name\\Inner Files\\x.txt": {"text": "x"},
  "C:\\Target\\t.txt": {"text": "t"},
  "C:\\Link\\": {"reparsePoint": "C:\\Target"}
}})";

class SimFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = SimFrom(kMachine);
    ASSERT_TRUE(machine_);
  }
  FileSystem& fs() { return machine_->files(); }
  std::vector<std::string> List(const std::string& pattern) {
    std::vector<std::string> names;
    FindData data;
    UniqueFind find(fs());
    DWORD rc = fs().FindFirst(pattern, find.put(), &data);
    if (rc != ERROR_SUCCESS) return {"error " + std::to_string(rc)};
    do {
      names.push_back(data.name);
    } while (fs().FindNext(find.get(), &data) == ERROR_SUCCESS);
    return names;
  }
  std::unique_ptr<SimMachine> machine_;
};

TEST_F(SimFilesTest, NamesAreCaseInsensitiveAndMissingPartsAreTold) {
  std::string bytes;
  ASSERT_EQ(fs().ReadFile("c:\\DATA\\report.txt", &bytes), 0u);
  EXPECT_EQ(bytes, "hello");
  EXPECT_EQ(List("C:\\data\\rep*"), std::vector<std::string>{"Report.TXT"});
  EXPECT_EQ(fs().ReadFile("C:\\Data\\none.txt", &bytes), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().ReadFile("C:\\None\\none.txt", &bytes), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().ReadFile("Q:\\none.txt", &bytes), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().ReadFile("C:\\Data\\Report.TXT\\x", &bytes),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // Runs of backslashes, "." and ".." resolve as Windows resolves them.
  EXPECT_EQ(fs().ReadFile("C:\\Data\\\\Sub\\..\\.\\Report.txt", &bytes), 0u);
  DWORD attributes = 0;
  ASSERT_EQ(fs().GetAttributes("C:\\Data\\Report.TXT", &attributes), 0u);
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_EQ(fs().SetAttributes("C:\\Data\\Report.TXT", FILE_ATTRIBUTE_NORMAL), 0u);
  ASSERT_EQ(fs().GetAttributes("C:\\Data\\Report.TXT", &attributes), 0u);
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  ASSERT_EQ(fs().GetAttributes("C:\\Data", &attributes), 0u);
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(SimFilesTest, CopyDeleteAndFoldersGiveWindowsCodes) {
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Data\\readonly.txt", true),
            static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Data\\readonly.txt", false),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Data\\hidden.ini", false),
            static_cast<DWORD>(ERROR_ACCESS_DENIED))
      << "CopyFile does not replace a hidden file";
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Data\\Sub", false),
            static_cast<DWORD>(ERROR_ACCESS_DENIED))
      << "CopyFile does not replace a folder";
  EXPECT_EQ(machine_->simFiles().Contents("C:\\Data\\readonly.txt"), "keep")
      << "a refused copy leaves the target as it was";
  EXPECT_EQ(machine_->simFiles().Contents("C:\\Data\\hidden.ini"), "");
  EXPECT_TRUE(machine_->simFiles().IsDirectory("C:\\Data\\Sub"));
  EXPECT_EQ(fs().Copy("C:\\Data\\none", "C:\\Data\\x", false), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Nope\\x", false),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Data\\report.txt", false),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_EQ(fs().Copy("C:\\Data\\readonly.txt", "C:\\Data\\copy.txt", false), 0u);
  DWORD attributes = 0;
  ASSERT_EQ(fs().GetAttributes("C:\\Data\\copy.txt", &attributes), 0u);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY) << "CopyFile copies the attributes";

  EXPECT_EQ(fs().Delete("C:\\Data\\readonly.txt"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fs().Delete("C:\\Data\\Sub"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(fs().SetAttributes("C:\\Data\\readonly.txt", FILE_ATTRIBUTE_NORMAL), 0u);
  EXPECT_EQ(fs().Delete("C:\\Data\\readonly.txt"), 0u);

  EXPECT_EQ(fs().CreateDirectory("C:\\Data\\Sub"), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(fs().CreateDirectory("C:\\Data\\A\\B"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs().RemoveDirectory("C:\\Data\\Sub"), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_EQ(fs().RemoveDirectory("C:\\Data\\Report.TXT"), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_EQ(fs().RemoveDirectory("C:\\Data\\Empty"), 0u);
  EXPECT_EQ(fs().RemoveDirectory("C:\\Data\\Empty"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimFilesTest, LockedFilesRefuseUntilReleased) {
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Busy\\in use.dll", false),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(fs().Delete("C:\\Busy\\in use.dll"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  std::string bytes;
  EXPECT_EQ(fs().ReadFile("C:\\Busy\\in use.dll", &bytes),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Busy\\image.ocx", false),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION))
      << "a copy onto a loaded image is a sharing violation";
  EXPECT_EQ(fs().ReadFile("C:\\Busy\\image.ocx", &bytes), 0u) << "a loaded image can be read";
  machine_->clock().Advance(2499);
  EXPECT_EQ(fs().Delete("C:\\Busy\\image.ocx"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  machine_->clock().Advance(1);
  EXPECT_EQ(fs().Copy("C:\\Data\\Report.TXT", "C:\\Busy\\image.ocx", false), 0u);
  EXPECT_TRUE(machine_->simFiles().Unlock("C:\\Busy\\in use.dll"));
  EXPECT_EQ(fs().Delete("C:\\Busy\\in use.dll"), 0u);
}

TEST_F(SimFilesTest, FindListsDotsFirstOutsideTheRootAndClosesHandles) {
  EXPECT_EQ(List("C:\\Data\\*.*"), (std::vector<std::string>{".", "..", "Empty", "hidden.ini",
                                                              "readonly.txt", "Report.TXT", "Sub"}));
  EXPECT_EQ(List("C:\\Data\\*.txt"), (std::vector<std::string>{"readonly.txt", "Report.TXT"}));
  EXPECT_EQ(List("C:\\Data\\Empty\\*.txt"), std::vector<std::string>{"error 2"});
  EXPECT_EQ(List("C:\\Nowhere\\*.*"), std::vector<std::string>{"error 3"});
  EXPECT_EQ(List("C:\\Data\\Report.TXT\\*.*"), std::vector<std::string>{"error 267"});
  std::vector<std::string> root = List("C:\\*.*");
  ASSERT_FALSE(root.empty());
  EXPECT_NE(root[0], ".") << "a drive root has no dot entries";
  FindData data;
  FindHandle handle = nullptr;
  ASSERT_EQ(fs().FindFirst("C:\\Data\\Sub\\*", &handle, &data), 0u);
  EXPECT_EQ(machine_->simFiles().openFindCount(), 1u);
  EXPECT_EQ(fs().FindNext(handle, &data), 0u);
  EXPECT_EQ(fs().FindNext(handle, &data), 0u);
  EXPECT_EQ(data.name, "inner.bin");
  EXPECT_EQ(data.size, 3u);
  EXPECT_EQ(fs().FindNext(handle, &data), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(fs().FindClose(handle), 0u);
  EXPECT_EQ(fs().FindClose(handle), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(machine_->simFiles().openFindCount(), 0u);
}

TEST_F(SimFilesTest, JunctionsShowTheirTargetAndGoAlone) {
  DWORD attributes = 0;
  ASSERT_EQ(fs().GetAttributes("C:\\Link", &attributes), 0u);
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(List("C:\\Link\\*.*"), (std::vector<std::string>{".", "..", "t.txt"}));
  std::string bytes;
  EXPECT_EQ(fs().ReadFile("C:\\Link\\t.txt", &bytes), 0u);
  EXPECT_EQ(fs().RemoveDirectory("C:\\Link"), 0u);
  EXPECT_EQ(fs().ReadFile("C:\\Target\\t.txt", &bytes), 0u);
}

TEST_F(SimFilesTest, ShortNamesOpenFilesAndLongPathNamesExpandThem) {
  std::string bytes;
  EXPECT_EQ(fs().ReadFile("C:\\LONGFO~1\\innerf~1\\x.txt", &bytes), 0u);
  std::string longPath;
  ASSERT_EQ(fs().GetLongPathName("C:\\LONGFO~1\\INNERF~1\\x.txt", &longPath), 0u);
  EXPECT_EQ(longPath, "C:\\Long Folder Name\\Inner Files\\x.txt");
  ASSERT_EQ(fs().GetLongPathName("C:\\longfo~1\\", &longPath), 0u);
  EXPECT_EQ(longPath, "C:\\Long Folder Name\\");
  EXPECT_EQ(fs().GetLongPathName("C:\\LONGFO~1\\none.txt", &longPath),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(fs().GetLongPathName("C:\\NOWHERE~1\\none.txt", &longPath),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimFilesTest, TemporaryNamesAreNewFilesOfTheirOwn) {
  std::string first, second;
  ASSERT_EQ(fs().GetTempFileName("C:\\Data", "crvXYZ", 0, &first), 0u);
  ASSERT_EQ(fs().GetTempFileName("C:\\Data\\", "crv", 0, &second), 0u);
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.rfind("C:\\Data\\crv", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    std::string bytes = "x";
    EXPECT_EQ(fs().ReadFile(name, &bytes), 0u);
    EXPECT_TRUE(bytes.empty());
  }
  std::string named;
  ASSERT_EQ(fs().GetTempFileName("C:\\Data", "abc", 0x1A2B, &named), 0u);
  EXPECT_EQ(named, "C:\\Data\\abc1A2B.tmp");
  EXPECT_FALSE(machine_->simFiles().Exists(named)) << "a given number creates nothing";
  EXPECT_EQ(fs().GetTempFileName("C:\\Nowhere", "crv", 0, &named),
            static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(SimFilesTest, TextAppendWritesCrLfAndCreateEmptyTruncates) {
  ASSERT_EQ(fs().AppendText("C:\\Data\\\\log.txt", "one\ntwo\n"), 0u);
  ASSERT_EQ(fs().AppendText("C:\\Data\\log.txt", "three"), 0u);
  EXPECT_EQ(machine_->simFiles().Contents("C:\\Data\\log.txt"), "one\r\ntwo\r\nthree");
  EXPECT_EQ(fs().AppendText("C:\\Data\\readonly.txt", "x"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fs().AppendText("C:\\Gone\\log.txt", "x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(fs().CreateEmpty("C:\\Data\\log.txt"), 0u);
  EXPECT_EQ(machine_->simFiles().Contents("C:\\Data\\log.txt"), "");
  EXPECT_EQ(fs().CreateEmpty("C:\\Data\\hidden.ini"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SimFilesTest, PrivateProfileStringsFollowWindows) {
  ASSERT_TRUE(machine_->simFiles().Put("C:\\Data\\setup.ini",
                                       "; comment\r\n"
                                       "[Other]\r\nVersion=wrong\r\n"
                                       "  [setup]  \r\n"
                                       "Version =  2.0  \r\n"
                                       ";Description=commented\r\n"
                                       "Description=\"Desk top\"\r\n"
                                       "Single='x'\r\n"
                                       "Uneven=\"x'\r\n"
                                       "Empty=\r\n"
                                       "[Next]\r\nPackageType=Net\r\n"
                                       "[ Spaced ]\r\nKey=spaced\r\nBare\r\n"
                                       "[SETUP]\r\nVersion=second\r\nLate=late\r\n"));
  auto read = [&](const std::string& section, const std::string& key, DWORD size = 256,
                  const std::string& def = "dflt  ") {
    std::string value = "untouched";
    DWORD n = fs().GetPrivateProfileString(section, key, def, &value, size, "C:\\Data\\setup.ini");
    EXPECT_EQ(n, value.size());
    return value;
  };
  EXPECT_EQ(read("Setup", "VERSION"), "2.0");
  EXPECT_EQ(read("setup", "Description"), "Desk top");
  EXPECT_EQ(read("Setup", "Single"), "x");
  EXPECT_EQ(read("Setup", "Uneven"), "\"x'");
  EXPECT_EQ(read("Setup", "Empty"), "");
  EXPECT_EQ(read("Setup", "PackageType"), "dflt") << "trailing blanks leave the default";
  EXPECT_EQ(read("Next", "PackageType"), "Net");
  EXPECT_EQ(read(" Spaced ", "Key"), "spaced");
  EXPECT_EQ(read("Spaced", "Key"), "spaced") << "blanks around section names do not count";
  EXPECT_EQ(read("Spaced", "Bare"), "dflt") << "a line without \"=\" is no key";
  EXPECT_EQ(read("Setup", "Late"), "dflt") << "only the first section of a name is read";
  EXPECT_EQ(read("Missing", "Version"), "dflt");
  EXPECT_EQ(read("Setup", "Description", 5), "Desk");
  std::string value;
  EXPECT_EQ(fs().GetPrivateProfileString("Setup", "Version", "d", &value, 256, "C:\\none.ini"), 1u);
  EXPECT_EQ(value, "d");
}

TEST(SimFilesMedium, MountCopiesHostFilesAndAppliesTheirProperties) {
  namespace stdfs = std::filesystem;
  stdfs::path dir = stdfs::temp_directory_path() / ("zt_sim_medium_" + std::to_string(getpid()));
  stdfs::create_directories(dir / "System32");
  std::ofstream(dir / "setup.ini") << "[Setup]\nVersion=9\n";
  std::ofstream(dir / "System32" / "swflash.ocx") << "ocx";
  std::ofstream(dir / ".sim-files.json")
      << R"({"System32/swflash.ocx": {"version": {"FileVersion": "7,0,19,0"},
              "library": {"exports": ["DllRegisterServer"]}}})";
  auto machine = SimFrom("{}");
  std::string error;
  ASSERT_TRUE(machine->MountMedium(dir.string(), &error)) << error;
  EXPECT_EQ(machine->simFiles().Contents("D:\\setup.ini"), "[Setup]\nVersion=9\n");
  EXPECT_FALSE(machine->simFiles().Exists("D:\\.sim-files.json"));
  const SimFile* ocx = machine->simFiles().Node("D:\\System32\\swflash.ocx");
  ASSERT_TRUE(ocx);
  EXPECT_EQ(*ocx->content, "ocx");
  EXPECT_EQ(ocx->version["FileVersion"], "7,0,19,0");
  std::string state = machine->ToJson();
  // The bytes go with the state, so it loads after the host folder is gone.
  EXPECT_EQ(state.find("\"hostFile\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"text\": \"ocx\""), std::string::npos) << state;
  std::ofstream(dir / ".sim-files.json") << R"({"setup.ini": {"bogus": 1}})";
  auto other = SimFrom("{}");
  EXPECT_FALSE(other->MountMedium(dir.string(), &error));
  EXPECT_NE(error.find("/setup.ini/bogus: unknown member"), std::string::npos) << error;
  EXPECT_FALSE(other->MountMedium((dir / "none").string(), &error));
  stdfs::remove_all(dir);
}

TEST(SimFilesDescription, RoundTripAndErrors) {
  auto machine = SimFrom(kMachine);
  ASSERT_TRUE(machine);
  ASSERT_TRUE(machine->simFiles().Put("C:\\Data\\binary.dat", std::string("\xff\x00\x80", 3)));
  machine->clock().Advance(1000);
  std::string first = machine->ToJson();
  auto again = SimFrom(first);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ToJson(), first);
  EXPECT_EQ(again->simFiles().Contents("C:\\Data\\binary.dat"), std::string("\xff\x00\x80", 3));
  EXPECT_NE(first.find("\"untilMs\": 1500"), std::string::npos) << "locks count from the new start";
  EXPECT_EQ(SimError(R"({"files": {"C:\\a.txt": {"txt": ""}}})"),
            "test.json: /files/C:\\a.txt/txt: unknown member");
  EXPECT_EQ(SimError(R"({"files": {"a.txt": {}}})"),
            "test.json: /files/a.txt: expected a full path such as \"C:\\\\folder\\\\file\"");
  EXPECT_EQ(SimError(R"({"files": {"C:\\a.txt": {"locked": {"untilMs": 3}}}})"),
            "test.json: /files/C:\\a.txt/locked: missing member \"error\"");
  EXPECT_EQ(SimError(R"({"files": {"C:\\a.txt": {"version": {"translations": ["0409"]}}}})"),
            "test.json: /files/C:\\a.txt/version/translations/0: expected eight hex digits such as "
            "\"040904b0\"");
  EXPECT_EQ(SimError(R"({"files": {"C:\\a": {}, "C:\\a\\b": {}}})"),
            "test.json: /files/C:\\a\\b: a file stands where a folder of this path should be");
}

}  // namespace
