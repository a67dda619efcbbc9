// setup.exe: the real machine, the real windows and the application object.
#include "platform/wintypes.h"

#include <memory>

#include "app/setup_app.h"
#include "platform/win32/win32_machine.h"
#include "ui/win32/win32_front_end.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::unique_ptr<Machine> machine = NewWin32Machine();
  Win32FrontEnd frontEnd;
  CSetupApp app(*machine, frontEnd);
  return app.Run();
}
