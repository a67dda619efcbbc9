// The full-screen background window, the application's main window: it
// plays the movie through the Flash control, lies under a see-through
// overlay that keeps the user's clicks away from the player, receives the
// end-of-session messages, and its destruction ends the message loop.
#pragma once

#include <memory>

#include "platform/wintypes.h"
#include "ui/setup_window.h"
#include "ui/win32/shockwave_flash.h"
#include "ui/win32/window.h"

class CSetupApp;

// The see-through window over the movie: it never paints, and a click on it
// brings the setup window (or the product installer's dialog) forward.
//
// It is a transparent child of the background window (WS_CHILD with
// WS_EX_TRANSPARENT), not a popup: Windows makes a window with WS_POPUP |
// WS_CHILD a top-level window owned by the background, and a top-level
// window that never paints is see-through only on a desktop without
// composition (it shows black under Wine and on composited desktops, hiding
// the movie), and as a second window owned by the background it can come to
// lie above the setup window and swallow the clicks on its buttons. As a
// child it covers exactly the background's client area, above the movie and
// below every owned window, everywhere.
class COverlayWnd : public CWindow, public AppWindow {
 public:
  static constexpr char kClassName[] = "ZentavoOverlayWnd";

  explicit COverlayWnd(CSetupApp& app);
  // WS_EX_TRANSPARENT, WS_CHILD, titled "Zentavo Install", over `rect` of
  // the parent's client area.
  bool Create(const RECT& rect, HWND parent);
  void Show() override;
  void Activate() override;
  void Destroy() override;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  LRESULT OnMouseActivate();

  CSetupApp& m_app;
  std::string m_className;
};

// The setup window of this thread, while it exists (the setup window keeps
// it, setup_wnd.cpp): the window the background hands its activation to.
HWND FindSetupWindowInThread();

class CBackgroundWnd : public CWindow, public BackgroundWindow {
 public:
  static constexpr char kClassName[] = "ZentavoBackgroundWnd";

  explicit CBackgroundWnd(CSetupApp& app);
  ~CBackgroundWnd() override;

  // WS_POPUP over the whole desktop window, titled "Zentavo Install".
  bool Create() override;
  void Show() override;
  void Activate() override;
  void Destroy() override;

  CShockwaveFlash* flash() const { return m_pFlash.get(); }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // The main window's end ends the message loop.
  void OnFinalMessage() override;

 private:
  int OnCreate(WPARAM wParam, LPARAM lParam);
  void OnSize(int width, int height);
  BOOL OnEraseBkgnd(HDC dc);
  void OnPaint();
  LRESULT OnMouseActivate();
  void ForwardActivation();
  LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
  void OnEndSession(WPARAM wParam, LPARAM lParam);
  void OnDestroy();

  CSetupApp& m_app;
  std::string m_className;
  std::unique_ptr<CShockwaveFlash> m_pFlash;
  std::unique_ptr<COverlayWnd> m_pOverlay;
};
