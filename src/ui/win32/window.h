// A small window framework: a C++ object bound to its window, one window
// procedure for every window of ours, and the notifications a control sends
// to its parent reflected back to the control, so that a styled control
// paints itself in its own class.
#pragma once

#include "platform/wintypes.h"

class CWindow {
 public:
  CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;
  // A window still alive is unbound first (no message reaches the object
  // being destroyed) and then destroyed.
  virtual ~CWindow();

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The object bound to a window of ours; null for any other window.
  static CWindow* FromHandle(HWND window);
  // The module whose resources the windows use.
  static HINSTANCE ResourceInstance();

  // Registers a window class of ours, once per process: class style 0,
  // cursor 129, icon 128, no background brush. True when it is registered.
  static bool RegisterWindowClass(const char* className);

  // CreateWindowEx with this object bound at WM_NCCREATE. `idOrMenu` is the
  // control id of a child window.
  bool CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                const RECT& rect, HWND parent, UINT_PTR idOrMenu);
  // Creates a control of a system class and subclasses it, so its messages
  // reach this object first and then the control's own procedure.
  bool CreateControl(const char* systemClass, const char* text, DWORD style, const RECT& rect,
                     HWND parent, UINT_PTR id);
  // DestroyWindow, when the window exists.
  void DestroyWindow();

 protected:
  // One handler per message in the subclasses; this one reflects control
  // colours and owner drawing to the control objects and passes the rest on.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default processing: DefWindowProc, or the control's own procedure.
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

  // Reflected WM_CTLCOLORSTATIC: true with the brush in `result` when handled.
  virtual bool OnReflectedCtlColor(HDC dc, LRESULT* result);
  // Reflected WM_DRAWITEM: true when drawn.
  virtual bool OnReflectedDrawItem(const DRAWITEMSTRUCT& item);
  // After WM_NCDESTROY: the window is gone and the object unbound.
  virtual void OnFinalMessage() {}

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam);
  void Bind(HWND window);
  void Unbind();

  // The procedure that does the default processing.
  WNDPROC m_superProc = ::DefWindowProcA;
  bool m_subclassed = false;
};

// A RECT from left, top, right, bottom.
inline RECT MakeRect(int left, int top, int right, int bottom) {
  RECT rect;
  rect.left = left;
  rect.top = top;
  rect.right = right;
  rect.bottom = bottom;
  return rect;
}

// The screen's dots per inch (LOGPIXELSY), 96 when it cannot be read.
int ScreenDotsPerInch();

// Moves a top-level window, keeping its size, so that it is centred on
// `around` (screen coordinates; the screen's work area when null) and lies
// inside the work area.
void CentreWindow(HWND window, const RECT* around);
