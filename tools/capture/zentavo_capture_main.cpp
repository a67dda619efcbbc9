// zentavo-capture.exe: writes the machine it runs on in the machine format,
// as far as the setup can see it (src/capture/), for zentavo-sim to rehearse
// the installation there. It sits on the medium beside setup.exe.
//
//   zentavo-capture.exe FILE                 writes FILE
//   zentavo-capture.exe FILE --since EARLIER  after a run: also looks again at
//                                             every key and file of EARLIER
//   zentavo-capture.exe                      writes "Zentavo machine.json" on
//                                             the desktop and says where
//
// Exit status: 0 written, 1 the file could not be written, 2 unusable
// arguments or an EARLIER that cannot be read; each failure is also said in a
// message box, since the program has no console. It changes nothing on the
// machine but FILE.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "platform/owners.h"
#include "platform/win32/win32_machine.h"

namespace {

// The desktop folder of the user, from the Shell Folders key.
std::string DesktopFolder(Machine& machine) {
  RegKey key(machine.registry());
  std::string folder;
  if (key.Open(HKEY_CURRENT_USER,
               "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
               KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.QueryString("Desktop", MAX_PATH, &folder) != ERROR_SUCCESS || folder.empty()) {
    machine.environment().GetTempPath(&folder);
  }
  // A desktop named in Japanese may end in a character whose second byte is 0x5C.
  PathCharsOf(machine.environment()).TrimSeparators(&folder);
  return folder;
}

// A program without a console: what went wrong is said in a box, then the
// exit status is given back.
int Refuse(int status, const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), "zentavo-capture", MB_OK | MB_ICONSTOP);
  return status;
}

const char kUsage[] =
    "Usage: zentavo-capture.exe [FILE [--since EARLIER]]\n\n"
    "Writes this machine, as the Zentavo setup sees it, to FILE (without FILE: "
    "\"Zentavo machine.json\" on the desktop). With --since, after an installation, "
    "it also looks again at everything the EARLIER capture holds.";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::unique_ptr<Machine> machine = NewWin32Machine();
  const std::vector<std::string> args = SplitArguments(machine->environment().CommandLineArguments());
  std::string output, earlierPath;
  bool tellUser = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--since" && i + 1 < args.size()) {
      earlierPath = args[++i];
    } else if (output.empty() && args[i].rfind("--", 0) != 0) {
      output = args[i];
    } else {
      return Refuse(2, "The argument \"" + args[i] + "\" is not understood.\n\n" + kUsage);
    }
  }
  if (output.empty()) {
    output = DesktopFolder(*machine) + "\\Zentavo machine.json";
    tellUser = true;
  }
  capture::CaptureOptions options;
  FileSystem& files = machine->files();
  if (!earlierPath.empty()) {
    DWORD rc = files.ReadFile(earlierPath, &options.earlier);
    if (rc != ERROR_SUCCESS) {
      return Refuse(2, "The earlier capture " + earlierPath + " cannot be read (error " +
                           std::to_string(rc) + ").");
    }
  }
  std::string error;
  const std::string text = capture::CaptureMachine(*machine, options, &error);
  if (text.empty()) {
    return Refuse(2, "The earlier capture " + earlierPath + " is not a machine description: " +
                         error);
  }
  DWORD rc = files.WriteFile(output, text);
  if (rc != ERROR_SUCCESS) {
    return Refuse(1, "The machine could not be written to " + output + " (error " +
                         std::to_string(rc) + ").");
  }
  if (tellUser) {
    ::MessageBoxA(nullptr,
                  ("The machine is written to " + output +
                   ".\n\nRehearse the installation on it with\n"
                   "zentavo-sim --machine FILE --changes -")
                      .c_str(),
                  "zentavo-capture", MB_OK | MB_ICONINFORMATION);
  }
  return 0;
}
