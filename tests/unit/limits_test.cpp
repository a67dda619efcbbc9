// The product's fixed buffers, each given an input that just fits and one
// that is one byte past its limit: the first is taken whole, the second gets
// the outcome the setup defines for it (cut, refused, or not read), and
// nothing is written past a buffer (the sanitizer build runs this too).
#include <gtest/gtest.h>

#include <functional>

#include "actions/install_folder.h"
#include "actions/launch.h"
#include "actions/previous_versions.h"
#include "actions/registry_hives.h"
#include "actions/running_app.h"
#include "actions/user_data.h"
#include "analysis/analysis.h"
#include "app/setup_app.h"
#include "support/harness.h"
#include "ui/sim/sim_front_end.h"

namespace {

// A setup application over a machine, for calling single operations.
struct Setup {
  std::unique_ptr<SimMachine> machine;
  ListAnswers answers;
  std::unique_ptr<SimFrontEnd> frontEnd;
  std::unique_ptr<CSetupApp> app;

  explicit Setup(const std::string& overlay = "{}") : machine(MakeMachine(overlay)) {
    frontEnd = std::make_unique<SimFrontEnd>(machine->clock(), answers);
    app = std::make_unique<CSetupApp>(*machine, *frontEnd);
  }
  CSetupContext& context() { return app->context(); }
  std::vector<std::string> Log() {
    std::string bytes;
    machine->files().ReadFile(app->log().g_strLogPath, &bytes);
    return LogMessages(bytes);
  }
  bool Logged(const std::string& line) {
    for (const std::string& l : Log()) {
      if (l == line) return true;
    }
    return false;
  }
};

std::string Quoted(const std::string& text) {
  nlohmann::json j = text;
  return j.dump();
}

// "n of m": how many of the m characters given were kept.
std::string Kept(size_t kept, size_t given) {
  return std::to_string(kept) + " of " + std::to_string(given);
}

// A full path of exactly `length` characters: "C:\" and folders of x's,
// ending with `tail`.
std::string PathOfLength(size_t length, const std::string& tail) {
  std::string path = "C:\\";
  while (path.size() + tail.size() < length) {
    size_t room = length - tail.size() - path.size();
    size_t part = room > 61 ? 60 : room;
    if (room > part && room - part < 2) part -= 2;  // leave room for the next folder
    path += std::string(part, 'x');
    if (path.size() + tail.size() < length) path += "\\";
  }
  return path + tail;
}

struct Row {
  const char* buffer;     // which buffer, and its size
  const char* fitsWhole;  // the outcome at the limit
  const char* onePast;    // the outcome one byte past it
  // The outcome with `over` bytes past the limit (0: just fits, 1: one past).
  std::function<std::string(size_t over)> run;
};

const Row kRows[] = {
    {"log line, 1024 bytes (the 29-character prefix included)", "993 of 993, then a new line",
     "993 of 994, then a new line", [](size_t over) {
       Setup s;
       const size_t given = 1024 - 1 - 29 - 1 + over;  // the terminator and the line end
       s.app->log().Log("%s\n", std::string(given, 'x').c_str());
       s.app->log().Log("next\n");
       std::vector<std::string> lines = s.Log();
       const std::string& line = lines.at(lines.size() - 2);
       std::string outcome = Kept(std::count(line.begin(), line.end(), 'x'), given);
       if (lines.at(lines.size() - 1) == "next") outcome += ", then a new line";
       return outcome;
     }},

    {"command line of a started program, 512 bytes", "started",
     "refused with 122 (command line too long - 512 characters), nothing started",
     [](size_t over) {
       Setup s;
       const std::string program = "C:\\WINDOWS\\system32\\msiexec.exe";
       const std::string head = LaunchCommandLine(program, "");
       const std::string arguments(511 - head.size() + over, 'a');
       LaunchedProcess launched;
       DWORD rc = LaunchProcess(s.context(), program, arguments, &launched);
       const size_t started = s.machine->simProcesses().startedCommandLines().size();
       if (rc == ERROR_SUCCESS && started == 1) return std::string("started");
       std::string outcome = "refused with " + std::to_string(rc);
       if (s.Logged("command line too long - " + std::to_string(512 + over - 1) + " characters")) {
         outcome += " (command line too long - " + std::to_string(512 + over - 1) + " characters)";
       }
       return outcome + (started == 0 ? ", nothing started" : ", started");
     }},

    {"the setup's own command line, 512 bytes (511 characters read)",
     "clean-up folder read whole", "clean-up folder cut: nothing deleted", [](size_t over) {
       Setup s;
       const std::string head = "/ct ";
       const std::string folder = PathOfLength(511 - head.size() + over, "");
       s.app->ParseCommandLine(head + folder);
       if (!s.app->m_bCleanup) return std::string("no clean-up");
       if (s.app->m_bCleanupDirCut) return std::string("clean-up folder cut: nothing deleted");
       return std::string(s.app->m_strCleanupDir == folder ? "clean-up folder read whole"
                                                           : "clean-up folder changed");
     }},

    {"setup.ini value, 256 bytes", "255 of 255", "255 of 256", [](size_t over) {
       Setup s;
       const std::string description(255 + over, 'd');
       s.machine->simFiles().Put(s.context().setupDir + "\\setup.ini",
                                 "[Setup]\r\nVersion=2.0\r\nDescription=" + description + "\r\n");
       s.context().ReadPackageInfo();
       return Kept(s.context().packageDescription.size(), description.size());
     }},

    {"file version text, 256 bytes", "255 of 255", "255 of 256", [](size_t over) {
       const std::string version = "6." + std::string(253 + over, '1');
       Setup s(R"({"files": {"C:\\x.dll": {"text": "", "version": {"FileVersion": )" +
               Quoted(version) + "}}}}");
       std::string read;
       if (!GetFileVersionString(*s.machine, "C:\\x.dll", &read, 256)) return std::string("unread");
       return Kept(read.size(), version.size());
     }},

    {"browser version value, 256 bytes", "read: the browser is new enough",
     "not read: pre 4.x, the setup refuses", [](size_t over) {
       // 255 + over characters; with its zero 256 + over bytes, in a 256-byte buffer.
       const std::string version = "6.0." + std::string(251 + over, '2');
       Setup s(R"({"registry": {"HKLM\\SOFTWARE\\Microsoft\\Internet Explorer": {"Version": )" +
               Quoted(version) + "}}}");
       const std::string read = GetIEVersion(*s.machine);
       if (read.empty()) return std::string("not read: pre 4.x, the setup refuses");
       return std::string(read == version ? "read: the browser is new enough" : "read, changed");
     }},

    {"installation folder, 260 bytes", "read, its program path too long: no version read",
     "not read", [](size_t over) {
       const std::string folder = PathOfLength(259 + over, "\\");
       Setup s(R"({"registry": {"HKCU\\Software\\Corvane\\Zentavo\\Installation": {"InstallDir": )" +
               Quoted(folder) + "}}}");
       ReadPreviousInstallDir(s.context());
       if (s.context().previousInstallDir.empty()) return std::string("not read");
       std::string outcome = s.context().previousInstallDir == folder ? "read" : "read, changed";
       if (s.Logged("path too long: " + folder + "Zentavo.exe") &&
           s.context().previousExeVersion.empty()) {
         outcome += ", its program path too long: no version read";
       }
       return outcome;
     }},

    {"Startup shortcut path, 260 bytes", "the shortcut's path", "path too long: no path",
     [](size_t over) {
       const std::string link = "\\Zentavo.lnk";
       const std::string folder = PathOfLength(259 - link.size() + over, "");
       Setup s(R"({"registry": {"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders": {"Startup": )" +
               Quoted(folder) + "}}}");
       std::string path = "untouched";
       if (GetStartupLinkPath(s.context(), &path)) {
         return std::string(path == folder + link ? "the shortcut's path" : "another path");
       }
       if (path == "untouched" && s.Logged("path too long: " + folder + link)) {
         return std::string("path too long: no path");
       }
       return std::string("no path");
     }},

    {"setup.ini path, 260 bytes", "read", "path too long: not read", [](size_t over) {
       const std::string folder = PathOfLength(259 - 10 + over, "");  // + "\setup.ini"
       Setup s(R"({"setupProgram": )" + Quoted(folder + "\\setup.exe") + "}");
       s.machine->simFiles().Put(folder + "\\setup.ini", "[Setup]\r\nVersion=2.0\r\n");
       s.context().ReadPackageInfo();
       if (s.context().packageVersion == "2.0") return std::string("read");
       return std::string(s.Logged("path too long: " + folder + "\\setup.ini")
                              ? "path too long: not read"
                              : "not read");
     }},

    {"window title, 1024 bytes", "not the product's window", "not the product's window",
     [](size_t over) {
       // "Zentavo" followed by blanks: only a title read whole and exactly
       // "Zentavo" is the product's; a cut one never becomes it.
       const std::string title = "Zentavo" + std::string(1023 - 7 + over, ' ');
       Setup s(R"({"windows": [{"title": )" + Quoted(title) +
               R"(, "program": "C:\\Program Files\\Zentavo\\Zentavo.exe"}]})");
       HWND window = s.machine->desktop().EnumWindows().at(0);
       return std::string(IsRunningProductWindow(s.context(), window) ? "the product's window"
                                                                    : "not the product's window");
     }},

    {"installer window title, 256 bytes", "found", "not found", [](size_t over) {
       // The product's name at the very end of the title.
       const std::string title = std::string(248 + over, '-') + "Zentavo";
       Setup s(R"({"windows": [{"title": )" + Quoted(title) +
               R"(, "class": "MsiDialogCloseClass", "program": "C:\\WINDOWS\\system32\\msiexec.exe"}]})");
       return std::string(FindProductSetupWindow(s.context()) != nullptr ? "found" : "not found");
     }},

    {"saved item, 257 bytes (256 read and the terminator)", "read whole",
     "not read (query value AddressBook failed)", [](size_t over) {
       const std::string saved = PathOfLength(255 + over, "");
       Setup s(R"({"registry": {"HKCU\\Software\\Corvane\\Save": {"AddressBook": )" +
               Quoted(saved) + "}}}");
       std::string read;
       if (GetSavedItem(s.context(), "AddressBook", &read)) {
         return std::string(read == saved ? "read whole" : "read, changed");
       }
       return std::string(s.Logged("query value AddressBook failed") ? "not read (query value AddressBook failed)"
                                                                    : "not read");
     }},

    {"temporary copy's name, 257 bytes (it is read back as a saved item)", "made",
     "refused: path too long, nothing left behind", [](size_t over) {
       // The copies' folder is "ztsvXXXXXXXX\" (13 characters) and
       // GetTempFileName's names are "crvEE80.tmp" (11); a name of 255
       // characters is read back whole.
       const std::string temp = PathOfLength(255 - 13 - 11 + over, "\\");
       Setup s(R"({"directories": {"temp": )" + Quoted(temp) + "}}");
       std::string path;
       DWORD rc = NewTemporaryFile(s.context(), &path);
       if (rc == ERROR_SUCCESS) {
         return std::string(path.size() == 255 && s.machine->simFiles().IsFile(path) ? "made"
                                                                                   : "made, other length");
       }
       SimFileSystem& files = s.machine->simFiles();
       FindHandle find = nullptr;
       FindData found;
       const bool empty = files.FindFirst(s.context().saveFolder + "\\crv*.tmp", &find, &found) ==
                          ERROR_FILE_NOT_FOUND;
       if (find) files.FindClose(find);
       return std::string(rc == ERROR_FILENAME_EXCED_RANGE && empty
                              ? "refused: path too long, nothing left behind"
                              : "refused, " + std::to_string(rc));
     }},

    {"value name while a saved hive is merged, 512 bytes", "copied", "not copied: error 234",
     [](size_t over) {
       const std::string name(511 + over, 'n');
       Setup s(R"({"registry": {"HKCU\\Software\\From": {)" + Quoted(name) + R"(: "v"}}})");
       RegKey to(s.machine->registry());
       EXPECT_EQ(to.Create(HKEY_CURRENT_USER, "Software\\To", KEY_ALL_ACCESS), ERROR_SUCCESS);
       LONG rc = CopyKeyValues(s.context(), HKEY_CURRENT_USER, "Software\\From", to.get());
       if (rc != ERROR_SUCCESS) return "not copied: error " + std::to_string(rc);
       return std::string(s.machine->simRegistry().GetString("HKCU\\Software\\To", name) ==
                                  std::optional<std::string>("v")
                              ? "copied"
                              : "copied, changed");
     }},
};

}  // namespace

TEST(Limits, EachFixedBufferTakesWhatFitsAndGivesItsOutcomeOnePast) {
  for (const Row& row : kRows) {
    EXPECT_EQ(row.run(0), row.fitsWhole) << row.buffer << ", at the limit";
    EXPECT_EQ(row.run(1), row.onePast) << row.buffer << ", one past the limit";
  }
}
