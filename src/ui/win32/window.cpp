#include "ui/win32/window.h"

#include "res/resource.h"
#include "ui/win32/gdi_owners.h"

namespace {

// The window property that holds the bound object.
const char kObjectProperty[] = "Zentavo.CWindow";

}  // namespace

CWindow::~CWindow() {
  if (m_hWnd) {
    HWND window = m_hWnd;
    Unbind();
    ::DestroyWindow(window);
  }
}

CWindow* CWindow::FromHandle(HWND window) {
  if (!window) return nullptr;
  return static_cast<CWindow*>(::GetPropA(window, kObjectProperty));
}

HINSTANCE CWindow::ResourceInstance() { return ::GetModuleHandleA(nullptr); }

bool CWindow::RegisterWindowClass(const char* className) {
  HINSTANCE instance = ResourceInstance();
  WNDCLASSA existing;
  if (::GetClassInfoA(instance, className, &existing)) return true;
  WNDCLASSA windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = StaticWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(IDI_SETUP));
  windowClass.hCursor = ::LoadCursorA(instance, MAKEINTRESOURCEA(IDC_SETUP));
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = className;
  return ::RegisterClassA(&windowClass) != 0;
}

bool CWindow::CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                       const RECT& rect, HWND parent, UINT_PTR idOrMenu) {
  if (m_hWnd) return false;
  HWND window = ::CreateWindowExA(exStyle, className, title, style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, parent,
                                  reinterpret_cast<HMENU>(idOrMenu), ResourceInstance(), this);
  // A window whose creation failed after WM_NCCREATE has already been unbound.
  return window != nullptr && m_hWnd == window;
}

bool CWindow::CreateControl(const char* systemClass, const char* text, DWORD style,
                            const RECT& rect, HWND parent, UINT_PTR id) {
  if (m_hWnd) return false;
  HWND window = ::CreateWindowExA(0, systemClass, text, style, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, parent,
                                  reinterpret_cast<HMENU>(id), ResourceInstance(), nullptr);
  if (!window) return false;
  m_superProc = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(window, GWLP_WNDPROC));
  m_subclassed = true;
  Bind(window);
  ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StaticWindowProc));
  return true;
}

void CWindow::DestroyWindow() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
}

void CWindow::Bind(HWND window) {
  m_hWnd = window;
  ::SetPropA(window, kObjectProperty, this);
}

void CWindow::Unbind() {
  if (!m_hWnd) return;
  if (m_subclassed) {
    ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
    m_subclassed = false;
  }
  ::RemovePropA(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
  m_superProc = ::DefWindowProcA;
}

LRESULT CWindow::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::CallWindowProcA(m_superProc, m_hWnd, message, wParam, lParam);
}

LRESULT CWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      CWindow* control = FromHandle(reinterpret_cast<HWND>(lParam));
      LRESULT brush = 0;
      if (control && control->OnReflectedCtlColor(reinterpret_cast<HDC>(wParam), &brush)) {
        return brush;
      }
      break;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      CWindow* control = item ? FromHandle(item->hwndItem) : nullptr;
      if (control && control->OnReflectedDrawItem(*item)) return TRUE;
      break;
    }
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

bool CWindow::OnReflectedCtlColor(HDC, LRESULT*) { return false; }

bool CWindow::OnReflectedDrawItem(const DRAWITEMSTRUCT&) { return false; }

// Binds the object handed to CreateWindowEx at WM_NCCREATE (the few messages
// before it get the default processing), and unbinds it after WM_NCDESTROY,
// so that a message arriving later cannot reach an object that is gone.
LRESULT CALLBACK CWindow::StaticWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  CWindow* self = FromHandle(window);
  if (!self && message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    self = static_cast<CWindow*>(create->lpCreateParams);
    if (self) self->Bind(window);
  }
  if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    LRESULT result = self->WindowProc(message, wParam, lParam);
    self->Unbind();
    self->OnFinalMessage();
    return result;
  }
  return self->WindowProc(message, wParam, lParam);
}

void CentreWindow(HWND window, const RECT* around) {
  RECT self;
  ::GetWindowRect(window, &self);
  RECT area;
  if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    area = MakeRect(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  }
  const RECT& centre = around ? *around : area;
  int width = self.right - self.left;
  int height = self.bottom - self.top;
  int left = centre.left + ((centre.right - centre.left) - width) / 2;
  int top = centre.top + ((centre.bottom - centre.top) - height) / 2;
  if (left + width > area.right) left = area.right - width;
  if (top + height > area.bottom) top = area.bottom - height;
  if (left < area.left) left = area.left;
  if (top < area.top) top = area.top;
  ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ScreenDotsPerInch() {
  WindowDc screen(nullptr);
  int dotsPerInch = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dotsPerInch > 0 ? dotsPerInch : 96;
}
