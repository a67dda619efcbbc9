#include "ui/win32/background_wnd.h"

#include <string>

#include "app/setup_app.h"
#include "ui/layout.h"
#include "ui/win32/gdi_owners.h"

namespace {

// Posted to itself when activated: the setup window takes the activation.
constexpr UINT kForwardActivation = WM_APP + 1;

}  // namespace

COverlayWnd::COverlayWnd(CSetupApp& app) : m_app(app), m_className(kClassName) {
  RegisterWindowClass(m_className.c_str());
}

// A new child window goes below its older siblings; the overlay is moved
// above them, so that it lies over the movie control.
bool COverlayWnd::Create(const RECT& rect, HWND parent) {
  if (!CreateEx(WS_EX_TRANSPARENT, m_className.c_str(), kBackgroundWindowTitle, WS_CHILD, rect,
                parent, 0)) {
    return false;
  }
  ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

void COverlayWnd::Show() {
  if (m_hWnd) ::ShowWindow(m_hWnd, SW_SHOW);
}

// A child is never active itself: its top-level window is.
void COverlayWnd::Activate() {
  HWND window = m_hWnd;
  while (window && (::GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) window = ::GetParent(window);
  if (window) ::SetForegroundWindow(window);
}

void COverlayWnd::Destroy() { DestroyWindow(); }

LRESULT COverlayWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEACTIVATE:
      return OnMouseActivate();
    default:
      return CWindow::WindowProc(message, wParam, lParam);
  }
}

LRESULT COverlayWnd::OnMouseActivate() {
  m_app.ActivateSetupWindow(this);
  return MA_NOACTIVATE;
}

CBackgroundWnd::CBackgroundWnd(CSetupApp& app)
    : m_app(app), m_className(kClassName), m_pOverlay(std::make_unique<COverlayWnd>(app)) {
  RegisterWindowClass(m_className.c_str());
}

CBackgroundWnd::~CBackgroundWnd() = default;

bool CBackgroundWnd::Create() {
  // The primary screen, as the desktop window covers it.
  RECT desktop = MakeRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  return CreateEx(0, m_className.c_str(), kBackgroundWindowTitle, WS_POPUP, desktop, nullptr, 0);
}

void CBackgroundWnd::Show() {
  if (m_hWnd) ::ShowWindow(m_hWnd, SW_SHOW);
}

void CBackgroundWnd::Activate() {
  if (m_hWnd) ::SetForegroundWindow(m_hWnd);
}

void CBackgroundWnd::Destroy() { DestroyWindow(); }

LRESULT CBackgroundWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(wParam, lParam);
    case WM_SIZE:
      Default(message, wParam, lParam);
      OnSize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_ERASEBKGND:
      return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_MOUSEACTIVATE:
      return OnMouseActivate();
    case WM_ACTIVATE:
      // Activated from the keyboard or by the system (a window in front
      // closed): the setup window takes the activation back once this
      // activation is through, so the keys reach it.
      if (LOWORD(wParam) != WA_INACTIVE) ::PostMessageA(m_hWnd, kForwardActivation, 0, 0);
      return Default(message, wParam, lParam);
    case kForwardActivation:
      ForwardActivation();
      return 0;
    case WM_QUERYENDSESSION:
      return OnQueryEndSession(wParam, lParam);
    case WM_ENDSESSION:
      OnEndSession(wParam, lParam);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return CWindow::WindowProc(message, wParam, lParam);
  }
}

// The movie control, the movie's three properties, the overlay and then the
// window chain. A control that is not installed leaves the window without a
// movie; an exception the control raises while its properties are set fails
// the creation. With the control's dispatch interface, an exception is a put
// that answers DISP_E_EXCEPTION ("caught COleDispatchException!"), and any
// other failure of a put is an OLE error ("caught COleException"); the puts
// after a failed one are not made.
int CBackgroundWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
  if (Default(WM_CREATE, wParam, lParam) == -1) return -1;

  // A quiet installation keeps this window hidden; a movie nobody sees would
  // still run (and may be heard), so it is not loaded.
  if (m_app.unattended().Quiet()) {
    std::string movie = GetSetupDirectory(m_app.machine().environment()) + kMovieFileName;
    m_app.log().Log("movie %s not played - quiet installation\n", movie.c_str());
    m_app.OnWindowCreated(this);
    return 0;
  }

  m_pFlash = std::make_unique<CShockwaveFlash>();
  m_pFlash->Create(kFlashWindowName, WS_CHILD, MakeRect(0, 0, 0, 0), m_hWnd, kFlashControlId);

  std::string movie = GetSetupDirectory(m_app.machine().environment()) + kMovieFileName;
  m_app.log().Log("movie %s\n", movie.c_str());

  HRESULT hr = m_pFlash->SetMovie(movie);
  if (SUCCEEDED(hr)) hr = m_pFlash->SetMenu(false);
  if (SUCCEEDED(hr)) hr = m_pFlash->SetLoop(true);
  if (FAILED(hr)) {
    if (hr == DISP_E_EXCEPTION) {
      m_app.log().Log("caught COleDispatchException!");
    } else {
      m_app.log().Log("caught COleException");
    }
    return -1;
  }

  RECT client;
  ::GetClientRect(m_hWnd, &client);
  if (m_pOverlay->Create(client, m_hWnd)) m_pOverlay->Show();

  m_app.OnWindowCreated(this);
  return 0;
}

// The movie fills the window and becomes visible with the first size.
void CBackgroundWnd::OnSize(int width, int height) {
  if (m_pFlash && m_pFlash->GetSafeHwnd()) {
    ::SetWindowPos(m_pFlash->GetSafeHwnd(), nullptr, 0, 0, width, height,
                   SWP_NOZORDER | SWP_SHOWWINDOW);
  }
}

BOOL CBackgroundWnd::OnEraseBkgnd(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  UniqueBrush blue(::CreateSolidBrush(kBackgroundColour));
  if (blue) ::FillRect(dc, &client, blue.get());
  return TRUE;
}

void CBackgroundWnd::OnPaint() { PaintDc paint(m_hWnd); }

LRESULT CBackgroundWnd::OnMouseActivate() {
  m_app.ActivateSetupWindow(this);
  return MA_NOACTIVATE;
}

// The setup window, or the message box it owns, while it shows.
void CBackgroundWnd::ForwardActivation() {
  if (::GetActiveWindow() != m_hWnd) return;
  HWND setup = FindSetupWindowInThread();
  if (setup && (::GetWindowLongA(setup, GWL_STYLE) & WS_VISIBLE)) {
    ::SetForegroundWindow(::GetLastActivePopup(setup));
  }
}

LRESULT CBackgroundWnd::OnQueryEndSession(WPARAM wParam, LPARAM lParam) {
  if (!Default(WM_QUERYENDSESSION, wParam, lParam)) return FALSE;
  return m_app.OnQueryEndSession() ? TRUE : FALSE;
}

void CBackgroundWnd::OnEndSession(WPARAM wParam, LPARAM lParam) {
  Default(WM_ENDSESSION, wParam, lParam);
  m_app.OnEndSession(wParam != FALSE);
}

void CBackgroundWnd::OnDestroy() {
  if (m_pFlash) {
    m_pFlash->DestroyWindow();
    m_pFlash.reset();
  }
  if (m_pOverlay) m_pOverlay->DestroyWindow();
  Default(WM_DESTROY, 0, 0);
  m_app.OnWindowDestroyed(this);
}

void CBackgroundWnd::OnFinalMessage() { ::PostQuitMessage(0); }
