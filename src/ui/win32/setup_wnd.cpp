#include "ui/win32/setup_wnd.h"

#include "app/setup_app.h"
#include "ui/win32/background_wnd.h"
#include "res/resource.h"

namespace {

// Room for the package line above the bottom edge, its margin included, at
// any likely screen resolution (at 96 DPI; scaled with the layout).
constexpr int kPackageLineStripHeight = 48;

// Messages and flags of the keyboard cues (Windows 2000 and later; the
// earlier versions ignore the message and always draw the focus).
#ifndef WM_CHANGEUISTATE
#define WM_CHANGEUISTATE 0x0127
#endif
#ifndef UIS_CLEAR
#define UIS_CLEAR 2
#endif
#ifndef UISF_HIDEFOCUS
#define UISF_HIDEFOCUS 0x1
#endif

// Bit 30 of a key message: the key was already down (auto-repeat).
constexpr LPARAM kKeyWasDown = 0x40000000;

// The one setup window of the process, while it exists: what the message
// loop offers keys to and what message boxes are owned by.
CSetupWnd* g_setupWindow = nullptr;

// Shown as far as its own style goes (the window is shown while keys reach it).
bool Shown(HWND window) { return window && (::GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE); }

RECT ToRect(const LayoutRect& rect) { return MakeRect(rect.left, rect.top, rect.right, rect.bottom); }

LayoutRect ToLayout(const RECT& rect) {
  return {static_cast<int>(rect.left), static_cast<int>(rect.top), static_cast<int>(rect.right),
          static_cast<int>(rect.bottom)};
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  SIZE size{0, 0};
  if (bitmap && ::GetObjectA(bitmap, sizeof(info), &info)) {
    size.cx = info.bmWidth;
    size.cy = info.bmHeight;
  }
  return size;
}

// Copies a bitmap at its natural size to `at`.
void DrawBitmap(HDC dc, HBITMAP bitmap, const LayoutRect& at) {
  if (!bitmap) return;
  MemoryDc source(dc);
  if (!source.get()) return;
  SelectedObject selected(source.get(), bitmap);
  ::BitBlt(dc, at.left, at.top, at.Width(), at.Height(), source.get(), 0, 0, SRCCOPY);
}

}  // namespace

CSetupWnd::CSetupWnd(CSetupApp& app) : m_app(app), m_className(kClassName) {
  RegisterWindowClass(m_className.c_str());
  m_logo.reset(::LoadBitmapA(ResourceInstance(), MAKEINTRESOURCEA(IDB_LOGO)));
  m_picture.reset(::LoadBitmapA(ResourceInstance(), MAKEINTRESOURCEA(IDB_CAMERA)));
  m_packageFont = CStyledControl::CreateFontFromSpec(PackageLineFont());
  m_dpi = ScreenDotsPerInch();
}

// The object can go before its window (the base class then unbinds the
// window, and WM_DESTROY no longer reaches this object).
CSetupWnd::~CSetupWnd() {
  if (g_setupWindow == this) g_setupWindow = nullptr;
}

bool CSetupWnd::Create(BackgroundWindow& owner) {
  // Every window of this front end is one of its own: the background is a
  // CBackgroundWnd (setup.exe has no run-time type information to ask).
  HWND ownerHandle = static_cast<CBackgroundWnd&>(owner).GetSafeHwnd();
  return CreateEx(0, m_className.c_str(), kSetupWindowTitle, WS_POPUP | WS_DLGFRAME,
                  Scaled({0, 0, kSetupWindowWidth, kSetupWindowHeight}), ownerHandle, 0);
}

RECT CSetupWnd::Scaled(const LayoutRect& rect) const { return ToRect(ScaleForDpi(rect, m_dpi)); }

HWND FindSetupWindowInThread() { return g_setupWindow ? g_setupWindow->GetSafeHwnd() : nullptr; }

void CSetupWnd::Show() {
  if (m_hWnd) ::ShowWindow(m_hWnd, SW_SHOW);
}

// While the window owns an open message box it is disabled, and the box is
// what comes forward.
void CSetupWnd::Activate() {
  if (m_hWnd) ::SetForegroundWindow(::GetLastActivePopup(m_hWnd));
}

void CSetupWnd::Destroy() { DestroyWindow(); }

std::string CSetupWnd::TextOf(int stringId) const {
  return stringId < 0 ? std::string() : m_app.GetText(stringId);
}

CColorStatic* CSetupWnd::SlotControl(int slot) {
  switch (slot) {
    case 0:
      return &m_header;
    case 1:
      return &m_message;
    case 2:
      return &m_help;
    default:
      return nullptr;
  }
}

// Shows the text at once: the part of the window behind the control is
// invalidated with erase and repainted, children included, before returning.
void CSetupWnd::SetText(int slot, int stringId) { SetSlotText(slot, TextOf(stringId)); }

void CSetupWnd::SetMessageText(const std::string& text) { SetSlotText(1, text); }

void CSetupWnd::SetSlotText(int slot, const std::string& text) {
  CColorStatic* control = SlotControl(slot);
  if (!control || !control->GetSafeHwnd()) return;
  ::SetWindowTextA(control->GetSafeHwnd(), text.c_str());
  RECT area;
  ::GetWindowRect(control->GetSafeHwnd(), &area);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
  ::RedrawWindow(m_hWnd, &area, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CSetupWnd::SetConfirmText(int stringId) {
  if (m_confirm.GetSafeHwnd()) ::SetWindowTextA(m_confirm.GetSafeHwnd(), TextOf(stringId).c_str());
}

void CSetupWnd::SetCancelText(int stringId) {
  if (m_cancel.GetSafeHwnd()) ::SetWindowTextA(m_cancel.GetSafeHwnd(), TextOf(stringId).c_str());
}

void CSetupWnd::ShowConfirm(bool show) {
  if (!m_confirm.GetSafeHwnd()) return;
  ::ShowWindow(m_confirm.GetSafeHwnd(), show ? SW_SHOW : SW_HIDE);
  PlaceFocus(show ? FocusedButton::kConfirm : FocusedButton::kNone);
}

void CSetupWnd::ShowCancel(bool show) {
  if (!m_cancel.GetSafeHwnd()) return;
  ::ShowWindow(m_cancel.GetSafeHwnd(), show ? SW_SHOW : SW_HIDE);
  PlaceFocus(FocusedButton::kNone);
}

HWND CSetupWnd::ButtonWindow(FocusedButton button) const {
  switch (button) {
    case FocusedButton::kConfirm:
      return m_confirm.GetSafeHwnd();
    case FocusedButton::kCancel:
      return m_cancel.GetSafeHwnd();
    case FocusedButton::kNone:
      break;
  }
  return nullptr;
}

SetupButtonsState CSetupWnd::ButtonsState() const {
  SetupButtonsState state;
  HWND confirm = m_confirm.GetSafeHwnd();
  HWND cancel = m_cancel.GetSafeHwnd();
  state.confirmShown = Shown(confirm);
  state.cancelShown = Shown(cancel);
  HWND focus = ::GetFocus();
  if (focus && focus == confirm) state.focused = FocusedButton::kConfirm;
  if (focus && focus == cancel) state.focused = FocusedButton::kCancel;
  return state;
}

// `preferred` takes the focus when it shows (the confirm button that has
// just appeared); otherwise the focus stays on a shown button, or moves to
// one, or to the window itself, so that no hidden button keeps it (a hidden
// button with the focus would still take Space). While another window is
// active, the place is kept for the activation.
void CSetupWnd::PlaceFocus(FocusedButton preferred) {
  if (!m_hWnd) return;
  SetupButtonsState state = ButtonsState();
  bool active = ::GetActiveWindow() == m_hWnd;
  if (!active) state.focused = m_focusOnActivate;
  if (preferred != FocusedButton::kNone) state.focused = preferred;
  FocusedButton target = SetupWindowFocusTarget(state);
  if (!active) {
    m_focusOnActivate = target;
    return;
  }
  HWND window = ButtonWindow(target);
  HWND focus = window ? window : m_hWnd;
  if (::GetFocus() != focus) ::SetFocus(focus);
}

// Deactivated: the focused button is kept. Activated: the focus goes back
// to it (DefWindowProc would give it to the window itself).
void CSetupWnd::OnActivate(WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    SetupButtonsState state = ButtonsState();
    if (state.focused != FocusedButton::kNone) m_focusOnActivate = state.focused;
    return;
  }
  SetupButtonsState state = ButtonsState();
  state.focused = m_focusOnActivate;
  HWND window = ButtonWindow(SetupWindowFocusTarget(state));
  ::SetFocus(window ? window : m_hWnd);
}

bool CSetupWnd::TranslateKey(const MSG& message) {
  if (message.message != WM_KEYDOWN && message.message != WM_KEYUP &&
      message.message != WM_CHAR) {
    return false;
  }
  SetupKey key;
  switch (message.wParam) {
    case VK_RETURN:
      key = SetupKey::kReturn;
      break;
    case VK_ESCAPE:
      key = SetupKey::kEscape;
      break;
    case VK_TAB:
      key = ::GetKeyState(VK_SHIFT) < 0 ? SetupKey::kShiftTab : SetupKey::kTab;
      break;
    default:
      return false;
  }
  CSetupWnd* setup = g_setupWindow;
  if (!setup || !message.hwnd ||
      (message.hwnd != setup->m_hWnd && ::GetParent(message.hwnd) != setup->m_hWnd)) {
    return false;
  }
  // The key's release and its character are taken with it.
  if (message.message == WM_KEYDOWN) setup->OnKey(key, (message.lParam & kKeyWasDown) != 0);
  return true;
}

// A key held down presses nothing again: each step needs its own key press.
void CSetupWnd::OnKey(SetupKey key, bool repeated) {
  SetupButtonsState state = ButtonsState();
  const SetupKeyAction action = SetupWindowKeyAction(key, state);
  switch (action) {
    case SetupKeyAction::kNothing:
      break;
    case SetupKeyAction::kPressConfirm:
      if (!repeated) Press(m_confirm, kConfirmButtonId);
      break;
    case SetupKeyAction::kPressCancel:
      if (!repeated) Press(m_cancel, kCancelButtonId);
      break;
    case SetupKeyAction::kCloseWindow:
      if (!repeated) ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
      break;
    case SetupKeyAction::kFocusConfirm:
    case SetupKeyAction::kFocusCancel: {
      // The keyboard is in use: the focus rectangle shows from now on.
      ::SendMessageA(m_hWnd, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
      FocusedButton target = action == SetupKeyAction::kFocusConfirm ? FocusedButton::kConfirm
                                                                     : FocusedButton::kCancel;
      ::SetFocus(ButtonWindow(target));
      break;
    }
  }
}

// The same notification a click sends, so a key and the mouse take one path.
void CSetupWnd::Press(CColorButton& button, int id) {
  HWND handle = button.GetSafeHwnd();
  if (!Shown(handle)) return;
  ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(handle));
}

// Kept for the paint; the strip along the bottom edge is invalidated so that
// a line given after the first paint shows too.
void CSetupWnd::SetPackageLine(const std::string& line) {
  m_packageLine = line;
  if (!m_hWnd) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  RECT strip = MakeRect(ScaleForDpi(kPackageLineX, m_dpi),
                        client.bottom - ScaleForDpi(kPackageLineStripHeight, m_dpi),
                        client.right, client.bottom);
  ::InvalidateRect(m_hWnd, &strip, TRUE);
}

LRESULT CSetupWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(wParam, lParam);
    case WM_ERASEBKGND:
      return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_COMMAND:
      OnCommand(wParam);
      return 0;
    case WM_MOUSEACTIVATE:
      return OnMouseActivate(wParam, lParam);
    case WM_ACTIVATE:
      OnActivate(wParam);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return CWindow::WindowProc(message, wParam, lParam);
  }
}

void CSetupWnd::CreateStatic(CColorStatic& control, SetupControl which) {
  const StyledControlLayout& layout = ControlLayout(which);
  std::string text = TextOf(layout.firstTextId);
  // A control that cannot be created is left out; the window works without it.
  control.CreateStyledStatic(text.c_str(), layout.face, layout.pointSize, layout.bold,
                             layout.italic, layout.textColour, layout.backColour, false,
                             Scaled(layout.rect), m_hWnd, m_app.g_languageId);
}

void CSetupWnd::CreateButton(CColorButton& control, SetupControl which) {
  const StyledControlLayout& layout = ControlLayout(which);
  if (!control.CreateStyledButton("", layout.face, layout.pointSize, layout.bold, layout.italic,
                                  layout.textColour, layout.backColour, Scaled(layout.rect),
                                  m_hWnd, layout.controlId, m_app.g_languageId)) {
    return;
  }
  if (layout.startsHidden) ::ShowWindow(control.GetSafeHwnd(), SW_HIDE);
  ::SetWindowTextA(control.GetSafeHwnd(), TextOf(layout.firstTextId).c_str());
}

int CSetupWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
  if (Default(WM_CREATE, wParam, lParam) == -1) return -1;
  g_setupWindow = this;
  CreateStatic(m_title, SetupControl::kTitle);
  CreateStatic(m_header, SetupControl::kHeader);
  CreateStatic(m_message, SetupControl::kMessage);
  CreateStatic(m_help, SetupControl::kHelp);
  CreateButton(m_confirm, SetupControl::kConfirm);
  CreateButton(m_cancel, SetupControl::kCancel);
  CentreOnOwner();
  m_app.OnWindowCreated(this);
  return 0;
}

// Centred on the owner's window, kept inside the screen's work area.
void CSetupWnd::CentreOnOwner() {
  RECT around;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  CentreWindow(m_hWnd, owner && ::GetWindowRect(owner, &around) ? &around : nullptr);
}

// Black, the logo at the bottom left and the camera at the top right.
BOOL CSetupWnd::OnEraseBkgnd(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  LayoutRect area = ToLayout(client);
  SIZE logo = BitmapSize(m_logo.get());
  DrawBitmap(dc, m_logo.get(), LogoRect(area, logo.cx, logo.cy, m_dpi));
  SIZE picture = BitmapSize(m_picture.get());
  DrawBitmap(dc, m_picture.get(), PictureRect(area, picture.cx, picture.cy, m_dpi));
  return TRUE;
}

// The package line in grey at x = 42, 8 pixels above the bottom edge.
void CSetupWnd::OnPaint() {
  PaintDc paint(m_hWnd);
  HDC dc = paint.get();
  if (!dc) return;
  SelectedObject font(dc, m_packageFont.get());
  ::SetTextColor(dc, kPackageLineColour);
  ::SetBkMode(dc, TRANSPARENT);
  int length = static_cast<int>(m_packageLine.size());
  SIZE extent{0, 0};
  ::GetTextExtentPoint32A(dc, m_packageLine.c_str(), length, &extent);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  LayoutPoint origin = PackageLineOrigin(ToLayout(client), extent.cy, m_dpi);
  ::TextOutA(dc, origin.x, origin.y, m_packageLine.c_str(), length);
}

// A click of the confirm (1) or cancel (2) button; other notifications of
// the buttons (an owner-drawn button also reports double clicks) are not
// clicks.
void CSetupWnd::OnCommand(WPARAM wParam) {
  if (HIWORD(wParam) != BN_CLICKED) return;
  switch (LOWORD(wParam)) {
    case kConfirmButtonId:
      m_app.log().Log("confirm\n");
      m_app.OnConfirm();
      break;
    case kCancelButtonId:
      m_app.log().Log("cancel\n");
      m_app.OnCancel();
      break;
    default:
      break;
  }
}

// While the product's installer shows its own dialog, a click here brings
// that dialog forward instead of activating this window.
LRESULT CSetupWnd::OnMouseActivate(WPARAM wParam, LPARAM lParam) {
  if (m_app.ActivateSetupWindow(this)) return MA_NOACTIVATE;
  return Default(WM_MOUSEACTIVATE, wParam, lParam);
}

void CSetupWnd::OnDestroy() {
  if (g_setupWindow == this) g_setupWindow = nullptr;
  m_app.OnWindowDestroyed(this);
  Default(WM_DESTROY, 0, 0);
}
