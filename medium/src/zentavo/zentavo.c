/* Zentavo.exe, the stand-in for the installed product: one top-level window
 * titled "Zentavo" that closes on WM_SYSCOMMAND/SC_CLOSE (the default window
 * procedure turns it into WM_CLOSE). It accepts no argument (started by the
 * setup's last step) or "AutoStart" (the Startup-folder shortcut), which
 * starts it minimised. ANSI Win32 of Windows 95 and NT 4.0 only, so that it
 * starts on every system the setup supports. */
#include <windows.h>

static const char kClassName[] = "ZentavoStandInWindow";
static const char kTitle[] = "Zentavo";
static const char kText[] = "Zentavo " ZT_PRODUCT_VERSION_TEXT " (stand-in program)";

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (dc) {
        TextOutA(dc, 16, 16, kText, (int)(sizeof kText - 1));
        EndPaint(window, &paint);
      }
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

/* True when the command line is exactly "AutoStart" (blanks around it and
 * the case of its letters aside). */
static int IsAutoStart(const char* commandLine) {
  static const char kAutoStart[] = "autostart";
  const char* p = commandLine ? commandLine : "";
  unsigned i = 0;
  while (*p == ' ' || *p == '\t') ++p;
  for (; kAutoStart[i]; ++i, ++p) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != kAutoStart[i]) return 0;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return *p == '\0';
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  WNDCLASSA windowClass;
  HWND window;
  MSG message;
  (void)previous;

  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassA(&windowClass)) return 1;

  window = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 420, 200, NULL, NULL, instance, NULL);
  if (!window) return 1;
  ShowWindow(window, IsAutoStart(commandLine) ? SW_SHOWMINNOACTIVE : show);
  UpdateWindow(window);

  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return (int)message.wParam;
}
