// The Win32 back end's own behaviour, beyond what the shared contract suite
// can state for both machines: the owner template, the command-line split,
// buffers that are too small, errors captured at the failing call, and the
// services that only the real system has (processes, windows, COM).
#include <gtest/gtest.h>

#include "platform/wintypes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "contract/contract_machine.h"
#include "platform/owners.h"
#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace {

struct CountingTraits {
  using Type = int;
  static int closed;
  static Type Invalid() { return 0; }
  static void Close(Type) { ++closed; }
};
int CountingTraits::closed = 0;
using Counted = win32::UniqueAny<CountingTraits>;

bool EndsWithNoCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         _stricmp(text.substr(text.size() - end.size()).c_str(), end.c_str()) == 0;
}

class Win32Backend : public ::testing::Test {
 protected:
  void SetUp() override { contract_ = MakeContractMachine(); }
  Machine& machine() { return contract_->machine(); }
  std::string Scratch(const std::string& name) { return contract_->scratchDir() + "\\" + name; }

  RegKey ScratchKey() {
    RegKey key(machine().registry());
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, contract_->scratchKey(), KEY_ALL_ACCESS), ERROR_SUCCESS);
    return key;
  }

  std::unique_ptr<ContractMachine> contract_;
};

}  // namespace

TEST(UniqueAny, ClosesOnceWhateverPathTheValueTakes) {
  CountingTraits::closed = 0;
  {
    Counted first(7);
    Counted second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), 7);
    Counted third;
    third = std::move(second);
    *third.put() = 9;  // put() releases the 7 before the new value comes in
    EXPECT_EQ(CountingTraits::closed, 1);
    Counted released(11);
    EXPECT_EQ(released.release(), 11);
  }
  EXPECT_EQ(CountingTraits::closed, 2);  // the 9 at the end of the scope; the released 11 never
}

TEST(CommandLineSplit, SkipsTheProgramTokenAsTheRunTimeDoes) {
  EXPECT_STREQ(win32::SkipProgramName("\"C:\\Program Files\\setup.exe\" /c 5 /l 1031"),
               "/c 5 /l 1031");
  EXPECT_STREQ(win32::SkipProgramName("D:\\setup.exe   /ct C:\\TEMP\\x"), "/ct C:\\TEMP\\x");
  EXPECT_STREQ(win32::SkipProgramName("setup.exe\t/l 2057"), "/l 2057");
  EXPECT_STREQ(win32::SkipProgramName("setup\"x\".exe /c 2"), "/c 2");
  EXPECT_STREQ(win32::SkipProgramName("\"\"  /c 1"), "/c 1");
  EXPECT_STREQ(win32::SkipProgramName("setup.exe"), "");
  EXPECT_STREQ(win32::SkipProgramName("\"D:\\setup.exe"), "");
  EXPECT_STREQ(win32::SkipProgramName(""), "");
}

TEST_F(Win32Backend, RegistryReadsLeaveTheDataUntouchedWhenItDoesNotFit) {
  RegKey key = ScratchKey();
  ASSERT_EQ(key.SetString("Version", "2.10.0045"), ERROR_SUCCESS);
  Registry& registry = machine().registry();

  BYTE data[4];
  memset(data, 0xCC, sizeof(data));
  DWORD size = sizeof(data);
  DWORD type = 12345;
  EXPECT_EQ(registry.QueryValue(key.get(), "Version", &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);  // the size the data needs, terminator included
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  for (BYTE b : data) EXPECT_EQ(b, 0xCC);

  size = 0;  // a buffer of no bytes is still a buffer, not a size query
  EXPECT_EQ(registry.QueryValue(key.get(), "Version", nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);

  size = 0;
  EXPECT_EQ(registry.QueryValue(key.get(), "Version", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  size = 12345;
  EXPECT_EQ(registry.QueryValue(key.get(), "Missing", &type, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 12345u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(Win32Backend, RegistryEnumerationWritesNamesOnlyWhenTheyFit) {
  RegKey key = ScratchKey();
  RegKey child(machine().registry());
  ASSERT_EQ(child.Create(key.get(), "Speed Dial", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("Count", 3), ERROR_SUCCESS);
  Registry& registry = machine().registry();

  char name[4] = "xyz";
  DWORD nameSize = sizeof(name);
  EXPECT_EQ(registry.EnumKey(key.get(), 0, name, &nameSize, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_STREQ(name, "xyz");
  EXPECT_EQ(nameSize, sizeof(name));

  char longName[64];
  nameSize = sizeof(longName);
  ASSERT_EQ(registry.EnumKey(key.get(), 0, longName, &nameSize, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(longName, "Speed Dial");
  EXPECT_EQ(nameSize, 10u);
  nameSize = sizeof(longName);
  EXPECT_EQ(registry.EnumKey(key.get(), 1, longName, &nameSize, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  ASSERT_EQ(child.SetString("AddressBook", "C:\\TEMP\\crv1.tmp"), ERROR_SUCCESS);
  DWORD type = 0;
  BYTE small[4];
  memset(small, 0xCC, sizeof(small));
  DWORD smallSize = sizeof(small);
  nameSize = 4;  // too small for "Count": nothing is written
  EXPECT_EQ(registry.EnumValue(child.get(), 0, name, &nameSize, &type, small, &smallSize),
            ERROR_MORE_DATA);
  EXPECT_STREQ(name, "xyz");
  EXPECT_EQ(nameSize, 4u);
  EXPECT_EQ(smallSize, sizeof(small));
  nameSize = sizeof(longName);  // the name fits, the data does not: name, type and size come back
  EXPECT_EQ(registry.EnumValue(child.get(), 0, longName, &nameSize, &type, small, &smallSize),
            ERROR_MORE_DATA);
  EXPECT_STREQ(longName, "AddressBook");
  EXPECT_EQ(nameSize, 11u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(smallSize, 17u);
  for (BYTE b : small) EXPECT_EQ(b, 0xCC);

  DWORD value = 0, valueSize = sizeof(value);
  nameSize = sizeof(longName);
  ASSERT_EQ(registry.EnumValue(key.get(), 0, longName, &nameSize, &type,
                               reinterpret_cast<BYTE*>(&value), &valueSize),
            ERROR_SUCCESS);
  EXPECT_STREQ(longName, "Count");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 3u);

  DWORD subKeys = 0, values = 0, maxValue = 0;
  ASSERT_EQ(registry.QueryInfoKey(key.get(), &subKeys, nullptr, &values, nullptr, &maxValue),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxValue, 4u);
}

TEST_F(Win32Backend, TextAppendsWriteCrLfAndBinaryFilesKeepTheirBytes) {
  FileSystem& files = machine().files();
  std::string log = Scratch("ZentavoInstall.log");
  ASSERT_EQ(files.CreateEmpty(log), ERROR_SUCCESS);
  ASSERT_EQ(files.AppendText(log, "first\n"), ERROR_SUCCESS);
  ASSERT_EQ(files.AppendText(log, "100% done\nno end"), ERROR_SUCCESS);
  std::string bytes;
  ASSERT_EQ(files.ReadFile(log, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, "first\r\n100% done\r\nno end");

  ASSERT_EQ(files.CreateEmpty(log), ERROR_SUCCESS);
  ASSERT_EQ(files.ReadFile(log, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, "");

  std::string binary("a\nb\0c\r\n", 7);
  ASSERT_EQ(files.WriteFile(Scratch("data.bin"), binary), ERROR_SUCCESS);
  ASSERT_EQ(files.ReadFile(Scratch("data.bin"), &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, binary);
}

TEST_F(Win32Backend, FileErrorsAreTheSystemsOwnCodes) {
  FileSystem& files = machine().files();
  EXPECT_EQ(files.CreateEmpty(Scratch("no such folder\\x.log")),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(files.AppendText(Scratch("no such folder\\x.log"), "x\n"),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::string bytes = "kept";
  EXPECT_EQ(files.ReadFile(Scratch("missing.txt"), &bytes), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(bytes, "kept");
  EXPECT_EQ(files.WriteFile(Scratch("no such folder\\x.bin"), "x"),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  std::string longPath = "kept";
  EXPECT_EQ(files.GetLongPathName(Scratch("missing.txt"), &longPath),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(longPath, "kept");
}

TEST_F(Win32Backend, LongPathNameExpandsTheShortForm) {
  FileSystem& files = machine().files();
  std::string longDir = Scratch("Zentavo Long Folder Name");
  ASSERT_EQ(files.CreateDirectory(longDir), ERROR_SUCCESS);
  ASSERT_EQ(files.WriteFile(longDir + "\\Calibration data.mi", "x"), ERROR_SUCCESS);
  char shortPath[MAX_PATH] = {};
  DWORD length = ::GetShortPathNameA((longDir + "\\Calibration data.mi").c_str(), shortPath,
                                     sizeof(shortPath));
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof(shortPath));
  std::string expanded;
  ASSERT_EQ(files.GetLongPathName(shortPath, &expanded), ERROR_SUCCESS);
  EXPECT_EQ(_stricmp(expanded.c_str(), (longDir + "\\Calibration data.mi").c_str()), 0)
      << shortPath << " -> " << expanded;
}

TEST_F(Win32Backend, TempFileNamesAndSearchesSeeTheRealFolder) {
  FileSystem& files = machine().files();
  std::string temp;
  ASSERT_EQ(files.GetTempFileName(contract_->scratchDir(), "crv", 0, &temp), ERROR_SUCCESS);
  EXPECT_EQ(_strnicmp(temp.c_str(), Scratch("crv").c_str(), Scratch("crv").size()), 0) << temp;
  DWORD attributes = 0;
  ASSERT_EQ(files.GetAttributes(temp, &attributes), ERROR_SUCCESS);
  ASSERT_EQ(files.WriteFile(Scratch("Zentavo.mdb"), "12345"), ERROR_SUCCESS);

  FindData found;
  UniqueFind search(files);
  ASSERT_EQ(files.FindFirst(Scratch("*.mdb"), search.put(), &found), ERROR_SUCCESS);
  EXPECT_EQ(found.name, "Zentavo.mdb");
  EXPECT_EQ(found.size, 5u);
  EXPECT_EQ(files.FindNext(search.get(), &found), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(found.name, "Zentavo.mdb");

  UniqueFind none(files);
  EXPECT_EQ(files.FindFirst(Scratch("*.swf"), none.put(), &found),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(none.valid());
}

TEST_F(Win32Backend, ProfileStringsFallBackToTheDefaultAndRespectTheBufferSize) {
  FileSystem& files = machine().files();
  std::string ini = Scratch("setup.ini");
  ASSERT_EQ(files.WriteFile(ini, "[Setup]\r\nVersion=2.0\r\nPackageType=Net\r\n"), ERROR_SUCCESS);
  std::string value;
  EXPECT_EQ(files.GetPrivateProfileString("Setup", "Version", "", &value, 256, ini), 3u);
  EXPECT_EQ(value, "2.0");
  EXPECT_EQ(files.GetPrivateProfileString("setup", "packagetype", "", &value, 3, ini), 2u);
  EXPECT_EQ(value, "Ne");  // a buffer of 3 bytes holds two characters and the terminator
  EXPECT_EQ(files.GetPrivateProfileString("Setup", "TargetOS", "none", &value, 256, ini), 4u);
  EXPECT_EQ(value, "none");
  EXPECT_EQ(files.GetPrivateProfileString("Setup", "Version", "", &value, 256, Scratch("no.ini")),
            0u);
  EXPECT_EQ(value, "");
  value = "kept";
  EXPECT_EQ(files.GetPrivateProfileString("Setup", "Version", "", &value, 0, ini), 0u);
  EXPECT_EQ(value, "kept");
}

TEST_F(Win32Backend, EnvironmentAnswersWithTheRunningProcessAndCodePage) {
  Environment& env = machine().environment();
  std::string path;
  ASSERT_EQ(env.GetModuleFileName(&path), ERROR_SUCCESS);
  EXPECT_TRUE(EndsWithNoCase(path, "\\zentavo_contract_tests.exe")) << path;
  std::string temp;
  ASSERT_EQ(env.GetTempPath(&temp), ERROR_SUCCESS);
  EXPECT_EQ(temp.back(), '\\');
  std::string system, windows;
  ASSERT_EQ(env.GetSystemDirectory(&system), ERROR_SUCCESS);
  ASSERT_EQ(env.GetWindowsDirectory(&windows), ERROR_SUCCESS);
  EXPECT_EQ(_strnicmp(system.c_str(), windows.c_str(), windows.size()), 0);

  std::string language;
  ASSERT_TRUE(env.GetLocaleLanguage(&language));
  EXPECT_EQ(language.size(), 4u);
  EXPECT_EQ(language.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos);

  std::u16string wide;
  ASSERT_TRUE(env.AnsiToWide("Zentavo.exe", &wide));
  EXPECT_EQ(wide, u"Zentavo.exe");
  std::string narrow = "kept";
  ASSERT_TRUE(env.WideToAnsi(u"", &narrow));
  EXPECT_EQ(narrow, "");
  ASSERT_TRUE(env.WideToAnsi(u"language-strings", &narrow));
  EXPECT_EQ(narrow, "language-strings");

  std::string name = "english_us";
  env.CharUpper(&name);
  EXPECT_EQ(name, "ENGLISH_US");
  EXPECT_EQ(env.CompareNoCase("C:\\TEMP\\x", "c:\\temp\\y", 8), 0);
  EXPECT_LT(env.CompareNoCase("C:\\TEMP\\x", "c:\\temp\\y", 9), 0);

  OsVersion version;
  ASSERT_TRUE(env.GetOsVersion(&version));
  EXPECT_GT(version.majorVersion, 0u);
  EXPECT_GT(env.TotalPhysicalMemory(), 0u);
}

TEST_F(Win32Backend, ChildProcessesRunAndReportTheirExitCode) {
  Processes& processes = machine().processes();
  ProcessInformation info;
  ASSERT_EQ(processes.CreateProcess("cmd.exe /c exit 7", NORMAL_PRIORITY_CLASS, &info),
            ERROR_SUCCESS);
  UniqueProcessHandle process(processes, info.process);
  UniqueProcessHandle thread(processes, info.thread);
  EXPECT_NE(info.processId, 0u);
  ASSERT_EQ(processes.Wait(process.get(), INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  ASSERT_EQ(processes.GetExitCode(process.get(), &code), ERROR_SUCCESS);
  EXPECT_EQ(code, 7u);

  ProcessInformation untouched;
  EXPECT_EQ(processes.CreateProcess("\"" + Scratch("no-such-program.exe") + "\" /q", NORMAL_PRIORITY_CLASS,
                                    &untouched),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(untouched.process, nullptr);
}

TEST_F(Win32Backend, ProcessImagePathNamesTheProgramThroughPsapi) {
  Processes& processes = machine().processes();
  std::string own, named;
  ASSERT_EQ(machine().environment().GetModuleFileName(&own), ERROR_SUCCESS);
  ASSERT_EQ(processes.GetProcessImagePath(::GetCurrentProcessId(), &named), ERROR_SUCCESS);
  EXPECT_EQ(_stricmp(own.c_str(), named.c_str()), 0) << own << " / " << named;

  std::string kept = "kept";
  EXPECT_NE(processes.GetProcessImagePath(0xFFFFFFF0u, &kept), ERROR_SUCCESS);
  EXPECT_EQ(kept, "kept");
}

TEST_F(Win32Backend, PrivilegeLookupFailuresArriveAsTheAdjustError) {
  Processes& processes = machine().processes();
  DWORD adjust = 12345;
  ASSERT_EQ(processes.EnablePrivilege("SeNoSuchZentavoPrivilege", &adjust), ERROR_SUCCESS);
  EXPECT_EQ(adjust, static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
  adjust = 12345;
  ASSERT_EQ(processes.EnablePrivilege("SeShutdownPrivilege", &adjust), ERROR_SUCCESS);
  EXPECT_TRUE(adjust == ERROR_SUCCESS || adjust == ERROR_NOT_ALL_ASSIGNED) << adjust;
}

TEST_F(Win32Backend, DesktopFindsNamesAndMessagesAWindowOfThisProcess) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ::DefWindowProcA;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "ZentavoContractProbe";
  ::RegisterClassA(&windowClass);
  HWND window = ::CreateWindowExA(0, "ZentavoContractProbe", "Zentavo", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  Desktop& desktop = machine().desktop();

  std::vector<HWND> windows = desktop.EnumWindows();
  EXPECT_NE(std::find(windows.begin(), windows.end(), window), windows.end());
  EXPECT_EQ(desktop.FindWindow("ZentavoContractProbe"), window);
  std::string title;
  ASSERT_TRUE(desktop.GetWindowText(window, &title, 1024));
  EXPECT_EQ(title, "Zentavo");
  ASSERT_TRUE(desktop.GetWindowText(window, &title, 4));
  EXPECT_EQ(title, "Zen");
  std::string className;
  ASSERT_TRUE(desktop.GetClassName(window, &className));
  EXPECT_EQ(className, "ZentavoContractProbe");
  DWORD processId = 0;
  EXPECT_EQ(desktop.GetWindowThreadProcessId(window, &processId), ::GetCurrentThreadId());
  EXPECT_EQ(processId, ::GetCurrentProcessId());

  ASSERT_TRUE(desktop.PostMessage(window, WM_SYSCOMMAND, SC_CLOSE, 0));
  MSG message{};
  ASSERT_TRUE(::PeekMessageA(&message, window, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
  EXPECT_EQ(message.wParam, static_cast<WPARAM>(SC_CLOSE));

  ::DestroyWindow(window);
  EXPECT_EQ(desktop.FindWindow("ZentavoContractProbe"), nullptr);
  EXPECT_FALSE(desktop.GetWindowText(window, &title, 1024));
  EXPECT_FALSE(desktop.GetClassName(window, &className));
}

TEST_F(Win32Backend, VersionResourcesGiveTranslationsAndTexts) {
  VersionInfo& versions = machine().versions();
  std::string system;
  ASSERT_EQ(machine().environment().GetSystemDirectory(&system), ERROR_SUCCESS);
  std::string kernel = system + "\\kernel32.dll";
  DWORD lastError = 0;
  ASSERT_GT(versions.GetInfoSize(kernel, &lastError), 0u);
  std::unique_ptr<VersionResource> resource;
  ASSERT_EQ(versions.GetInfo(kernel, &resource), ERROR_SUCCESS);
  std::string translations;
  ASSERT_TRUE(resource->QueryValue("\\VarFileInfo\\Translation", &translations));
  ASSERT_GE(translations.size(), 4u);
  EXPECT_EQ(translations.size() % 4, 0u);
  const auto* t = reinterpret_cast<const unsigned char*>(translations.data());
  char block[64];
  snprintf(block, sizeof(block), "\\StringFileInfo\\%04x%04x\\FileVersion", t[0] | (t[1] << 8),
           t[2] | (t[3] << 8));
  std::string version;
  ASSERT_TRUE(resource->QueryValue(block, &version)) << block;
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(version.find('\0'), std::string::npos);
  EXPECT_FALSE(resource->QueryValue("\\StringFileInfo\\040904b0\\NoSuchValue", &version));

  ASSERT_EQ(machine().files().WriteFile(Scratch("plain.txt"), "no resource"), ERROR_SUCCESS);
  EXPECT_EQ(versions.GetInfoSize(Scratch("plain.txt"), &lastError), 0u);
  EXPECT_NE(lastError, ERROR_SUCCESS);
  std::unique_ptr<VersionResource> none;
  EXPECT_NE(versions.GetInfo(Scratch("plain.txt"), &none), ERROR_SUCCESS);
  EXPECT_EQ(none, nullptr);
}

TEST_F(Win32Backend, LibrariesWithoutRegistrationAndShellLinksOnDisk) {
  Com& com = machine().com();
  HMODULE module = nullptr;
  EXPECT_EQ(com.LoadLibraryEx(Scratch("missing.dll"), LOAD_WITH_ALTERED_SEARCH_PATH, &module),
            static_cast<DWORD>(NineX(machine()) ? ERROR_DLL_NOT_FOUND : ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(module, nullptr);
  std::string system;
  ASSERT_EQ(machine().environment().GetSystemDirectory(&system), ERROR_SUCCESS);
  ASSERT_EQ(com.LoadLibraryEx(system + "\\version.dll", LOAD_WITH_ALTERED_SEARCH_PATH, &module),
            ERROR_SUCCESS);
  UniqueLibrary library(com, module);
  EXPECT_FALSE(com.HasExport(library.get(), "DllRegisterServer"));
  EXPECT_TRUE(com.HasExport(library.get(), "GetFileVersionInfoSizeA"));
  EXPECT_EQ(com.CallDllRegisterServer(library.get()), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));

  std::u16string link;
  ASSERT_TRUE(machine().environment().AnsiToWide(Scratch("Zentavo.lnk"), &link));
  ASSERT_EQ(com.CreateShellLink("C:\\Program Files\\Zentavo\\Zentavo.exe",
                                "C:\\Program Files\\Zentavo", "Shortcut to Zentavo.exe",
                                "AutoStart", link),
            S_OK);
  std::string bytes;
  ASSERT_EQ(machine().files().ReadFile(Scratch("Zentavo.lnk"), &bytes), ERROR_SUCCESS);
  ASSERT_GT(bytes.size(), 76u);  // a shell link starts with its 76-byte header
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x4C\0\0\0", 4));
}

TEST_F(Win32Backend, XmlDocumentsLoadThroughMsxmlAndEndTheirListsWithSFalse) {
  ASSERT_EQ(machine().files().WriteFile(
                Scratch("SetupLanguages.xml"),
                "<?xml version=\"1.0\"?>\r\n<!-- texts -->\r\n<language-strings>\r\n"
                "<CANCEL><ENGLISH_US>  Cancel  </ENGLISH_US></CANCEL>\r\n</language-strings>\r\n"),
            ERROR_SUCCESS);
  std::unique_ptr<XmlDocument> document;
  ASSERT_EQ(machine().xml().CreateDocument(&document), S_OK);
  std::u16string path;
  ASSERT_TRUE(machine().environment().AnsiToWide(Scratch("SetupLanguages.xml"), &path));
  bool loaded = false;
  ASSERT_TRUE(SUCCEEDED(document->Load(path, &loaded)));
  ASSERT_TRUE(loaded);
  std::unique_ptr<XmlNode> root;
  ASSERT_EQ(document->QueryNode(&root), S_OK);
  std::unique_ptr<XmlNodeList> top;
  ASSERT_EQ(root->GetChildNodes(&top), S_OK);
  std::vector<std::u16string> names;
  std::unique_ptr<XmlNode> node;
  std::u16string text;
  while (top->NextNode(&node) == S_OK) {
    std::u16string name;
    ASSERT_EQ(node->GetNodeName(&name), S_OK);
    names.push_back(name);
    if (name == u"language-strings") {
      ASSERT_EQ(node->GetText(&text), S_OK);
    }
  }
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"xml", u"#comment", u"language-strings"}));
  EXPECT_EQ(text, u"Cancel");

  std::unique_ptr<XmlDocument> missing;
  ASSERT_EQ(machine().xml().CreateDocument(&missing), S_OK);
  ASSERT_TRUE(machine().environment().AnsiToWide(Scratch("missing.xml"), &path));
  loaded = true;
  EXPECT_TRUE(SUCCEEDED(missing->Load(path, &loaded)));
  EXPECT_FALSE(loaded);
  EXPECT_NE(missing->LastParseError(), 0);
}

// A document loads asynchronously until told otherwise; the back end's load
// turns that off first, so the tree is complete when load returns.
TEST_F(Win32Backend, XmlDocumentsAreLoadedSynchronously) {
  ASSERT_EQ(machine().files().WriteFile(Scratch("sync.xml"), "<language-strings/>"),
            ERROR_SUCCESS);
  std::unique_ptr<XmlDocument> document;
  ASSERT_EQ(machine().xml().CreateDocument(&document), S_OK);
  bool async = false;
  ASSERT_EQ(win32::GetDocumentAsync(*document, &async), S_OK);
  EXPECT_TRUE(async) << "a new document loads asynchronously";
  std::u16string path;
  ASSERT_TRUE(machine().environment().AnsiToWide(Scratch("sync.xml"), &path));
  bool loaded = false;
  ASSERT_EQ(document->Load(path, &loaded), S_OK);
  EXPECT_TRUE(loaded);
  ASSERT_EQ(win32::GetDocumentAsync(*document, &async), S_OK);
  EXPECT_FALSE(async) << "load asked for a synchronous read";
}

// The back end tells its own documents from any other by the list of those
// alive (setup.exe has no run-time type information): a document of another
// kind is not asked.
TEST_F(Win32Backend, DocumentAsyncIsAskedOfTheBackEndsOwnLiveDocumentsOnly) {
  class OtherDocument : public XmlDocument {
   public:
    HRESULT QueryNode(std::unique_ptr<XmlNode>*) override { return E_NOTIMPL; }
    HRESULT Load(const std::u16string&, bool*) override { return E_NOTIMPL; }
    long LastParseError() override { return 0; }
  };
  OtherDocument other;
  bool async = true;
  EXPECT_EQ(win32::GetDocumentAsync(other, &async), E_INVALIDARG);
  std::unique_ptr<XmlDocument> first, second;
  ASSERT_EQ(machine().xml().CreateDocument(&first), S_OK);
  ASSERT_EQ(machine().xml().CreateDocument(&second), S_OK);
  // The first made is the last in the list: its removal relinks the list,
  // and the others are still found.
  first.reset();
  EXPECT_EQ(win32::GetDocumentAsync(*second, &async), S_OK);
  std::unique_ptr<XmlDocument> third;
  ASSERT_EQ(machine().xml().CreateDocument(&third), S_OK);
  second.reset();
  EXPECT_EQ(win32::GetDocumentAsync(*third, &async), S_OK);
  EXPECT_EQ(win32::GetDocumentAsync(other, &async), E_INVALIDARG);
}

// {2933BF90-...} is missing where Internet Explorer 4.x sits beside an MSXML 3
// installed side by side: the document then comes from MSXML 3's own class.
TEST_F(Win32Backend, XmlDocumentClassFallsBackToMsxml3sOwn) {
  const CLSID unregistered = {
      0x5A0B1E7C, 0x3D2F, 0x4E61, {0x9B, 0x44, 0x7A, 0x21, 0x0C, 0x5E, 0x88, 0x13}};
  const CLSID domDocument30 = {
      0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
  const CLSID alsoUnregistered = {
      0x5A0B1E7C, 0x3D2F, 0x4E61, {0x9B, 0x44, 0x7A, 0x21, 0x0C, 0x5E, 0x88, 0x14}};

  std::unique_ptr<XmlDocument> document;
  EXPECT_EQ(win32::NewXml({unregistered})->CreateDocument(&document), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(document, nullptr);

  std::unique_ptr<Xml> fallback = win32::NewXml({unregistered, domDocument30});
  ASSERT_EQ(fallback->CreateDocument(&document), S_OK);
  ASSERT_NE(document, nullptr);
  ASSERT_EQ(machine().files().WriteFile(Scratch("fallback.xml"),
                                        "<language-strings><OK>x</OK></language-strings>"),
            ERROR_SUCCESS);
  std::u16string path;
  ASSERT_TRUE(machine().environment().AnsiToWide(Scratch("fallback.xml"), &path));
  bool loaded = false;
  ASSERT_EQ(document->Load(path, &loaded), S_OK);
  EXPECT_TRUE(loaded);
  std::unique_ptr<XmlNode> root;
  ASSERT_EQ(document->QueryNode(&root), S_OK);
  std::u16string text;
  ASSERT_EQ(root->GetText(&text), S_OK);
  EXPECT_EQ(text, u"x");

  // Neither class: a failure, and no document.
  std::unique_ptr<XmlDocument> none;
  EXPECT_EQ(win32::NewXml({alsoUnregistered, unregistered})->CreateDocument(&none),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(none, nullptr);
}

// Whether a folder made here with a protected, empty DACL reads back as
// protected: the control of the test above, telling a system that drops the
// mark from one where the setup did not set it.
bool KeepsDaclProtection(const std::string& folder) {
  SECURITY_DESCRIPTOR descriptor;
  BYTE aclBuffer[64] = {};
  PACL acl = reinterpret_cast<PACL>(aclBuffer);
  if (!::InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION) ||
      !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !::SetSecurityDescriptorControl(&descriptor, 0x1000, 0x1000)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  if (!::CreateDirectoryA(folder.c_str(), &attributes)) return false;
  DWORD needed = 0;
  ::GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> read(needed ? needed : 1);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  const bool kept = needed &&
                    ::GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, read.data(),
                                       needed, &needed) &&
                    ::GetSecurityDescriptorControl(read.data(), &control, &revision) &&
                    (control & 0x1000);
  ::RemoveDirectoryA(folder.c_str());
  return kept;
}

// A private folder's DACL admits Administrators and SYSTEM alone and, from
// Windows 2000 on, is marked protected, so it takes no inheritable entry of
// the temporary folder it is made in. NT 4.0 has no such mark.
TEST_F(Win32Backend, APrivateFolderHasAProtectedDaclOfTwoEntries) {
  if ((::GetVersion() & 0x80000000u) != 0) GTEST_SKIP() << "Windows 9x keeps no file security";
  const std::string folder = Scratch("private");
  ASSERT_EQ(machine().files().CreatePrivateDirectory(folder), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(machine().files().CreatePrivateDirectory(folder),
            static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD needed = 0;
  ::GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) GTEST_SKIP() << "the file system keeps no security descriptor here";
  std::vector<BYTE> descriptor(needed);
  ASSERT_TRUE(::GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                 needed, &needed));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.data(), &control, &revision));
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(::GetVersionExA(&version));
  if (version.dwMajorVersion >= 5 && !(control & 0x1000) && !KeepsDaclProtection(Scratch("probe"))) {
    GTEST_SKIP() << "this system (Wine) does not keep SE_DACL_PROTECTED of a folder made with it";
  }
  if (version.dwMajorVersion >= 5) {
    EXPECT_TRUE(control & 0x1000) << "SE_DACL_PROTECTED";
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted));
  ASSERT_TRUE(present && acl != nullptr);
  EXPECT_EQ(acl->AceCount, 2u);
  machine().files().RemoveDirectory(folder);
}
