/* The floor of the start-up bench: a plain Win32 program that shows a window
 * with a text and a button and waits, built with the same compiler as the
 * setup's 64-bit twin. What it takes to show its window is what any program
 * pays under this Wine (process start, the system DLLs, the X driver), so
 * the setup's time to window minus this one is the setup's own start-up.
 *
 * With /hold it shows nothing and waits, a message-only window keeping Wine's
 * desktop in use: without a program on it, Wine ends its desktop process
 * (explorer.exe) a moment after the last one goes, and every program timed
 * after that would pay for starting it again, which a booted Windows never
 * makes a program wait for. */
#include <windows.h>

static LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous;
  (void)show;
  const int hold = commandLine && lstrcmpiA(commandLine, "/hold") == 0;
  WNDCLASSA windowClass = {0};
  windowClass.lpfnWndProc = FloorProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "ZentavoFloor";
  if (!RegisterClassA(&windowClass)) return 1;
  if (hold) {
    if (!CreateWindowExA(0, "ZentavoFloor", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL)) {
      return 1;
    }
  } else {
    HWND window = CreateWindowExA(0, "ZentavoFloor", "Zentavo floor", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 500, 280, NULL, NULL, instance, NULL);
    if (!window) return 1;
    CreateWindowExA(0, "STATIC", "Welcome to the Zentavo setup.", WS_CHILD | WS_VISIBLE, 20, 20, 440, 40,
                    window, NULL, instance, NULL);
    CreateWindowExA(0, "BUTTON", "Proceed", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 380, 200, 90, 26,
                    window, (HMENU)IDOK, instance, NULL);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
  }
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
