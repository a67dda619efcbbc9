// Start-up component updates: the Flash control, the XML parser and PSAPI
// from the demo medium, self-registration, and the recursive delete of the
// clean-up mode.
#include <gtest/gtest.h>

#include "lang/language_strings.h"
#include "unit/analysis_test_support.h"

namespace {

const char kFlashServerKey[] = "CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32";
const char kRegisteredFlash[] = "C:\\WINDOWS\\system32\\Macromed\\Flash\\swflash.ocx";
const char kSystemFlash[] = "C:\\WINDOWS\\system32\\swflash.ocx";
const char kMediumFlash[] = "D:\\System32\\swflash.ocx";
const char kNoFlashKey[] =
    R"({"registry": {"HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32": null}})";
const char kInitFailedText[] =
    "Initialization failed. A component required by this setup program could not be "
    "initialized.";

std::string Versioned(const std::string& version) {
  return R"({"text": "", "version": {"FileVersion": ")" + version + R"("}})";
}

class ComponentTest : public AnalysisTest {
 protected:
  SimCom& com() { return machine().simCom(); }
  void ExpectComBalanced() {
    EXPECT_EQ(com().oleInitializeDepth(), 0);
    EXPECT_EQ(com().loadedLibraryCount(), 0u);
  }
  std::optional<std::string> FlashServer() {
    return RegistryDefault(HKEY_CLASSES_ROOT, kFlashServerKey);
  }
};

TEST_F(ComponentTest, FlashControlAtOrAboveTheThresholdIsLeftAlone) {
  for (const char* version : {"5,0,42,0", "6,0,21,0", "10,0,22,87"}) {
    SCOPED_TRACE(version);
    Boot();
    ReplaceFile(kRegisteredFlash, Versioned(version));
    EXPECT_EQ(UpdateFlashControl(context()), 1);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         std::string("Flash path: ") + kRegisteredFlash,
                         std::string("existing Flash OCX is up-to-date (") + version + ")"}));
    EXPECT_FALSE(files().Exists(kSystemFlash));
    EXPECT_TRUE(com().registeredServers().empty());
  }
}

TEST_F(ComponentTest, OutOfDateFlashControlIsReplacedFromTheMediumAndRegistered) {
  Boot();
  ReplaceFile(kRegisteredFlash, Versioned("5,0,30,0"));
  EXPECT_EQ(UpdateFlashControl(context()), 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       std::string("Flash path: ") + kRegisteredFlash,
                       "existing Flash OCX is out-of-date (5,0,30,0)",
                       "installing Macromedia Flash OCX",
                       std::string("copy ") + kMediumFlash + " " + kSystemFlash,
                       "Flash OCX registered successfully"}));
  EXPECT_EQ(files().Contents(kSystemFlash), files().Contents(kMediumFlash));
  EXPECT_EQ(com().registeredServers(), std::vector<std::string>{kSystemFlash});
  EXPECT_EQ(FlashServer(), kSystemFlash);
  ExpectComBalanced();
}

TEST_F(ComponentTest, MissingClassKeyOrVersionLeadsToInstallation) {
  Boot(kNoFlashKey);
  EXPECT_EQ(UpdateFlashControl(context()), 1);
  EXPECT_EQ(Log().front(), "failed to open Flash class key");
  EXPECT_EQ(FlashServer(), kSystemFlash);

  Boot();
  ReplaceFile(kRegisteredFlash, R"({"text": ""})");
  EXPECT_EQ(UpdateFlashControl(context()), 1);
  EXPECT_EQ(Log()[1], "could not determine Flash OCX version");
  EXPECT_EQ(Log()[2], "installing Macromedia Flash OCX");

  Boot(R"({"registry": {"HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32": {"": null}}})");
  EXPECT_EQ(IsFlashControlCurrent(context()), 0);
  EXPECT_EQ(Log(), std::vector<std::string>{"could not determine Flash OCX version"});
}

// A control that a running program has loaded refuses the copy with a
// sharing violation, a read-only one with access denied: either way the
// control that is there is registered.
TEST_F(ComponentTest, FlashControlInUseIsRegisteredWhereItIs) {
  const char* const kSystemFlashEntries[] = {
      R"("locked": 5, "version": {"FileVersion": "6,0,21,0"})",
      R"("readOnly": true, "version": {"FileVersion": "6,0,21,0"})"};
  const char* const kCopyErrors[] = {"CopyFile failed error 32", "CopyFile failed error 5"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(kCopyErrors[i]);
    Boot(Merge({kNoFlashKey, std::string(R"({"files": {"C:\\WINDOWS\\system32\\swflash.ocx": {"text": "old", )") +
                                 kSystemFlashEntries[i] + R"(,
      "library": {"exports": ["DllRegisterServer"], "registers": {
        "HKCR\\CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32": {"": "%MODULE%"}}}}}})"}));
    EXPECT_EQ(UpdateFlashControl(context()), 1);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "failed to open Flash class key", "installing Macromedia Flash OCX",
                         std::string("copy ") + kMediumFlash + " " + kSystemFlash, kCopyErrors[i],
                         "Flash OCX registered successfully"}));
    EXPECT_EQ(files().Contents(kSystemFlash), "old");
    EXPECT_EQ(com().registeredServers(), std::vector<std::string>{kSystemFlash});
    EXPECT_EQ(FlashServer(), kSystemFlash);
    ExpectComBalanced();
  }
}

TEST_F(ComponentTest, OtherCopyFailuresEndTheFlashInstallationWithoutRegistration) {
  Boot(kNoFlashKey);
  ASSERT_TRUE(files().Remove(kMediumFlash));
  EXPECT_EQ(InstallFlashControl(context()), 0);
  EXPECT_EQ(Log().back(), "CopyFile failed error 2");
  EXPECT_TRUE(com().registeredServers().empty());
  EXPECT_EQ(FlashServer(), std::nullopt);
}

TEST_F(ComponentTest, FailedFlashRegistrationIsReported) {
  Boot(kNoFlashKey);
  ReplaceFile(kMediumFlash, R"({"text": "", "library": {"exports": []}})");
  EXPECT_EQ(UpdateFlashControl(context()), 0);
  EXPECT_EQ(Log().back(), "Flash OCX registration failed");
  EXPECT_TRUE(Logged(std::string("DllRegisterServer entry point not found in ") + kSystemFlash));
  ExpectComBalanced();
}

TEST_F(ComponentTest, RegistrationReportsEachWayItFails) {
  Boot(R"({"files": {
    "C:\\r\\noexport.dll": {"text": "", "library": {"exports": ["DllGetClassObject"]}},
    "C:\\r\\refuses.dll": {"text": "", "library": {"exports": ["DllRegisterServer"],
                                                  "registerResult": "0x80004005"}},
    "C:\\r\\sfalse.dll": {"text": "", "library": {"exports": ["DllRegisterServer"],
                                                 "registerResult": 1}},
    "C:\\r\\data.bin": {"text": "not a library"}
  }})");
  EXPECT_EQ(RegisterServerDll(context(), "C:\\r\\noexport.dll"), 0);
  EXPECT_EQ(Log().back(), "DllRegisterServer entry point not found in C:\\r\\noexport.dll");
  ExpectComBalanced();
  EXPECT_EQ(RegisterServerDll(context(), "C:\\r\\refuses.dll"), 0);
  EXPECT_EQ(Log().back(), "call to DllRegisterServer in C:\\r\\refuses.dll failed");
  ExpectComBalanced();
  EXPECT_EQ(RegisterServerDll(context(), "C:\\r\\data.bin"), 0);
  EXPECT_EQ(Log().back(), "LoadLibraryEx C:\\r\\data.bin failed - error 193");
  ExpectComBalanced();
  EXPECT_EQ(RegisterServerDll(context(), "C:\\r\\sfalse.dll"), 1);
  ExpectComBalanced();
  // Only the two libraries with the entry point had it called.
  EXPECT_EQ(com().registeredServers(),
            (std::vector<std::string>{"C:\\r\\refuses.dll", "C:\\r\\sfalse.dll"}));
}

class XmlParserTest : public ComponentTest {
 protected:
  std::vector<std::string> CopyLines(const std::string& system) {
    std::vector<std::string> lines;
    for (const char* name : {"msxml3r.dll", "msxml3a.dll", "msxml3.dll"}) {
      lines.push_back(std::string("copying D:\\") + name + " to " + system + "\\" + name);
    }
    return lines;
  }
};

TEST_F(XmlParserTest, Windows2000AndLaterAreNeverTouched) {
  for (const std::string& system : {Windows2000(), WindowsXP()}) {
    Boot(Merge({system, R"({"files": {"C:\\WINDOWS\\system32\\msxml3.dll": null}})"}));
    EXPECT_EQ(UpdateXmlParser(context()), 1);
    EXPECT_EQ(Log(), std::vector<std::string>{"XML will not be updated on Windows 2000"});
    EXPECT_TRUE(MessageBoxes().empty());
  }
}

TEST_F(XmlParserTest, AnyInstalledVersionIsEnough) {
  Boot(Merge({Windows98(), R"({"files": {"C:\\WINDOWS\\SYSTEM\\msxml3.dll":
      {"text": "", "version": {"FileVersion": "1.0"}}}})"}));
  EXPECT_EQ(UpdateXmlParser(context()), 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{"installed XML parser version is 1.0",
                                             "XML parser will not be updated"}));
  EXPECT_TRUE(com().registeredServers().empty());
}

TEST_F(XmlParserTest, MissingParserIsCopiedAndRegistered) {
  Boot(WindowsNT4());
  EXPECT_EQ(UpdateXmlParser(context()), 1);
  std::vector<std::string> expected = {
      "no version of XML parser found at C:\\WINNT\\system32\\msxml3.dll",
      "updating XML parser"};
  for (const std::string& line : CopyLines("C:\\WINNT\\system32")) expected.push_back(line);
  expected.push_back("registering updated XML parser");
  EXPECT_EQ(Log(), expected);
  EXPECT_TRUE(files().Exists("C:\\WINNT\\system32\\msxml3r.dll"));
  EXPECT_TRUE(files().Exists("C:\\WINNT\\system32\\msxml3a.dll"));
  EXPECT_EQ(com().registeredServers(),
            std::vector<std::string>{"C:\\WINNT\\system32\\msxml3.dll"});
  EXPECT_EQ(RegistryDefault(HKEY_CLASSES_ROOT,
                            "CLSID\\{F5078F32-C551-11D3-89B9-0000F81FE221}\\InprocServer32"),
            "C:\\WINNT\\system32\\msxml3.dll");
  EXPECT_TRUE(MessageBoxes().empty());
  ExpectComBalanced();
}

TEST_F(XmlParserTest, ParserWithoutVersionResourceIsReplaced) {
  Boot(Merge({Windows98(), R"({"files": {"C:\\WINDOWS\\SYSTEM\\msxml3.dll": {"text": "x"}}})"}));
  EXPECT_EQ(UpdateXmlParser(context()), 1);
  EXPECT_EQ(Log().front(), "no version of XML parser found at C:\\WINDOWS\\SYSTEM\\msxml3.dll");
  EXPECT_EQ(files().Contents("C:\\WINDOWS\\SYSTEM\\msxml3.dll"), files().Contents("D:\\msxml3.dll"));
}

TEST_F(XmlParserTest, MissingFileOnTheMediumStopsTheCopiesAndEndsWithTheResourceMessage) {
  Boot(Windows98());
  ASSERT_TRUE(files().Remove("D:\\msxml3a.dll"));
  EXPECT_EQ(UpdateXmlParser(context()), 0);
  std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.back(),
            "copy D:\\msxml3a.dll to C:\\WINDOWS\\SYSTEM\\msxml3a.dll failed error 2");
  EXPECT_EQ(log[log.size() - 2],
            "copying D:\\msxml3a.dll to C:\\WINDOWS\\SYSTEM\\msxml3a.dll");
  EXPECT_TRUE(files().Exists("C:\\WINDOWS\\SYSTEM\\msxml3r.dll"));
  EXPECT_FALSE(files().Exists("C:\\WINDOWS\\SYSTEM\\msxml3.dll"));
  EXPECT_TRUE(com().registeredServers().empty());
  std::vector<ScreenEvent> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kInitFailedText);
  EXPECT_EQ(boxes[0].style & MB_ICONSTOP, static_cast<UINT>(MB_ICONSTOP));
  EXPECT_EQ(boxes[0].caption, "setup");
}

class PsapiTest : public ComponentTest {
 protected:
  void LoadTexts(int languageId) {
    LoadLanguageFile(app().strings(), machine(), app().log());
    app().g_languageId = languageId;
  }
};

TEST_F(PsapiTest, OnlyNt4NeedsPsapi) {
  for (const std::string& system : {Windows98(), WindowsMe(), Windows2000(), WindowsXP()}) {
    Boot(Merge({system, R"({"files": {"C:\\WINDOWS\\system32\\psapi.dll": null}})"}));
    std::string systemDir;
    machine().environment().GetSystemDirectory(&systemDir);
    EXPECT_EQ(UpdatePsapi(context()), 1);
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(files().Exists(systemDir + "\\psapi.dll"));
  }
}

TEST_F(PsapiTest, PresentPsapiIsKept) {
  Boot(Merge({WindowsNT4(), R"({"files": {"C:\\WINNT\\system32\\psapi.dll": {"text": "mine"}}})"}));
  EXPECT_EQ(UpdatePsapi(context()), 1);
  EXPECT_EQ(Log(), std::vector<std::string>{
                       "checking for PSAPI.DLL at C:\\WINNT\\system32\\psapi.dll"});
  EXPECT_EQ(files().Contents("C:\\WINNT\\system32\\psapi.dll"), "mine");
}

TEST_F(PsapiTest, MissingPsapiIsCopiedFromTheMedium) {
  Boot(WindowsNT4());
  EXPECT_EQ(UpdatePsapi(context()), 1);
  EXPECT_EQ(files().Contents("C:\\WINNT\\system32\\psapi.dll"), files().Contents("D:\\psapi.dll"));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PsapiTest, UnknownStateOtherThanAbsenceIsLeftAlone) {
  Boot(WindowsNT4());
  ASSERT_EQ(files().RemoveDirectory("C:\\WINNT\\system32"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(UpdatePsapi(context()), 1);
  EXPECT_EQ(Log(), std::vector<std::string>{
                       "checking for PSAPI.DLL at C:\\WINNT\\system32\\psapi.dll"});
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(PsapiTest, FailedCopyIsShownInTheChosenLanguage) {
  Boot(WindowsNT4());
  LoadTexts(1031);
  std::string text = app().GetText(INITERROR);
  ASSERT_FALSE(text.empty());
  ASSERT_TRUE(files().Remove("D:\\psapi.dll"));
  EXPECT_EQ(UpdatePsapi(context()), 0);
  EXPECT_EQ(Log().back(),
            "copy D:\\psapi.dll to C:\\WINNT\\system32\\psapi.dll failed - error 2");
  std::vector<ScreenEvent> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, text);
  EXPECT_EQ(boxes[0].style & MB_ICONSTOP, static_cast<UINT>(MB_ICONSTOP));
}

class DeleteTreeTest : public ComponentTest {
 protected:
  void BootTree(const std::string& extra = "{}") {
    Boot(Merge({R"({"files": {
      "C:\\T\\": {"readOnly": true},
      "C:\\T\\a.txt": {"text": "a"},
      "C:\\T\\ro.txt": {"text": "r", "readOnly": true},
      "C:\\T\\sub\\b.txt": {"text": "b", "hidden": true},
      "C:\\T\\sub\\deeper\\c.txt": {"text": "c"},
      "C:\\T\\empty\\": {}
    }})", extra}));
    start_ = machine().clock().now();
  }
  uint64_t Waited() { return machine().clock().now() - start_; }

 private:
  uint64_t start_ = 0;
};

TEST_F(DeleteTreeTest, DeletesEverythingWithOrWithoutTrailingBackslash) {
  for (const char* path : {"C:\\T", "C:\\T\\"}) {
    SCOPED_TRACE(path);
    BootTree();
    DeleteDirectoryTree(context(), path);
    EXPECT_FALSE(files().Exists("C:\\T"));
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Waited(), 0u);
    EXPECT_EQ(files().openFindCount(), 0u);
  }
}

TEST_F(DeleteTreeTest, LockedFileCostsFiveAttemptsAndStaysWithItsFolders) {
  BootTree(R"({"files": {"C:\\T\\sub\\locked.dat": {"text": "x", "locked": 32}}})");
  DeleteDirectoryTree(context(), "C:\\T");
  EXPECT_EQ(Log(), std::vector<std::string>{"could not delete C:\\T\\sub\\locked.dat"});
  EXPECT_EQ(Waited(), 5000u);
  EXPECT_TRUE(files().Exists("C:\\T\\sub\\locked.dat"));
  EXPECT_FALSE(files().Exists("C:\\T\\a.txt"));
  EXPECT_FALSE(files().Exists("C:\\T\\sub\\b.txt"));
  EXPECT_FALSE(files().Exists("C:\\T\\sub\\deeper"));
  EXPECT_EQ(files().openFindCount(), 0u);
}

TEST_F(DeleteTreeTest, FileReleasedWhileRetryingIsDeleted) {
  BootTree(R"({"files": {"C:\\T\\busy.dat": {"text": "x",
      "locked": {"error": 32, "untilMs": 2500}}}})");
  DeleteDirectoryTree(context(), "C:\\T");
  EXPECT_TRUE(Log().empty());
  EXPECT_FALSE(files().Exists("C:\\T"));
  EXPECT_EQ(Waited(), 3000u);
}

TEST_F(DeleteTreeTest, JunctionIsRemovedButWhatItPointsAtIsKept) {
  BootTree(R"({"files": {"C:\\Data\\keep.txt": {"text": "k"},
                        "C:\\T\\link\\": {"reparsePoint": "C:\\Data"}}})");
  ASSERT_TRUE(files().Exists("C:\\T\\link\\keep.txt"));
  DeleteDirectoryTree(context(), "C:\\T");
  EXPECT_FALSE(files().Exists("C:\\T"));
  EXPECT_EQ(files().Contents("C:\\Data\\keep.txt"), "k");

  BootTree(R"({"files": {"C:\\Data\\keep.txt": {"text": "k"},
                        "C:\\T\\link\\": {"reparsePoint": "C:\\Data"}}})");
  DeleteDirectoryTree(context(), "C:\\T\\link\\");
  EXPECT_FALSE(files().Exists("C:\\T\\link"));
  EXPECT_TRUE(files().Exists("C:\\T\\a.txt"));
  EXPECT_EQ(files().Contents("C:\\Data\\keep.txt"), "k");
}

TEST_F(DeleteTreeTest, FoldersWhoseNamesBeginWithAFullStopAreLeft) {
  BootTree(R"({"files": {"C:\\T\\.cache\\x.txt": {"text": "x"}}})");
  DeleteDirectoryTree(context(), "C:\\T");
  EXPECT_TRUE(files().Exists("C:\\T\\.cache\\x.txt"));
  EXPECT_FALSE(files().Exists("C:\\T\\a.txt"));
  EXPECT_FALSE(files().Exists("C:\\T\\sub"));
}

TEST_F(DeleteTreeTest, DriveRootIsEmptiedWithoutDoubledSeparators) {
  Boot(R"({"files": {"E:\\b.txt": {"text": "b"}, "E:\\x\\a.txt": {"text": "a"}}})");
  DeleteDirectoryTree(context(), "E:\\");
  EXPECT_FALSE(files().Exists("E:\\b.txt"));
  EXPECT_FALSE(files().Exists("E:\\x"));
  EXPECT_TRUE(Log().empty());
}

TEST_F(DeleteTreeTest, MissingFolderIsReported) {
  BootTree();
  DeleteDirectoryTree(context(), "C:\\Nope\\");
  EXPECT_EQ(Log(), std::vector<std::string>{"couldn't read C:\\Nope\\ directory"});
  EXPECT_TRUE(files().Exists("C:\\T\\a.txt"));
}

TEST_F(DeleteTreeTest, EntryWhosePathWouldNotFitIsLeftAndReported) {
  std::string folder = "C:\\T\\" + std::string(250, 'n');
  BootTree(R"({"files": {"C:\\T\\)" + std::string(250, 'n') + R"(\\f.txt": {"text": "f"}}})");
  DeleteDirectoryTree(context(), "C:\\T");
  EXPECT_EQ(Log(), std::vector<std::string>{"path too long: " + folder + "\\f.txt"});
  EXPECT_TRUE(files().Exists(folder + "\\f.txt"));
  EXPECT_FALSE(files().Exists("C:\\T\\a.txt"));
}

}  // namespace
