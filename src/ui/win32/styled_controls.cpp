#include "ui/win32/styled_controls.h"

#include <cstring>

namespace {

// The caption buffer of an owner-drawn button.
constexpr int kCaptionBuffer = 256;

// ODS_NOFOCUSRECT (Windows 2000 and later), and the focus rectangle's
// distance from the button's edges, inside the 2-pixel edge.
constexpr UINT kNoFocusRect = 0x0200;
constexpr int kFocusInset = 3;

UINT EdgeOf(ButtonEdge edge) { return edge == ButtonEdge::kSunken ? EDGE_SUNKEN : EDGE_RAISED; }

UINT SidesOf(ButtonEdgeSides sides) {
  return sides == ButtonEdgeSides::kTopAndBottom ? (BF_TOP | BF_BOTTOM) : BF_RECT;
}

}  // namespace

CStyledControl::~CStyledControl() {
  // A control that outlives its object (destroyed later by the base class)
  // must not keep the font that is deleted with the members.
  if (m_hWnd) ::SendMessageA(m_hWnd, WM_SETFONT, 0, FALSE);
}

UniqueFont CStyledControl::CreateFontFromSpec(const FontSpec& spec) {
  LOGFONTA logFont;
  std::memset(&logFont, 0, sizeof(logFont));
  logFont.lfHeight = PointFontPixelHeight(spec.tenthsOfPoint, ScreenDotsPerInch());
  logFont.lfWeight = spec.weight;
  logFont.lfItalic = static_cast<BYTE>(spec.italic);
  logFont.lfCharSet = static_cast<BYTE>(spec.charset);
  std::strncpy(logFont.lfFaceName, spec.face.c_str(), sizeof(logFont.lfFaceName) - 1);
  return UniqueFont(::CreateFontIndirectA(&logFont));
}

void CStyledControl::ApplyStyle(const FontSpec& font, COLORREF textColour, COLORREF backColour) {
  UniqueFont created = CreateFontFromSpec(font);
  if (created) {
    ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(created.get()), TRUE);
    m_font = std::move(created);
  }
  m_textColour = textColour;
  m_backColour = backColour;
  m_backBrush.reset(::CreateSolidBrush(backColour));
}

LRESULT CStyledControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    default:
      return CWindow::WindowProc(message, wParam, lParam);
  }
}

BOOL CStyledControl::OnEraseBkgnd(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  if (m_backBrush) ::FillRect(dc, &client, m_backBrush.get());
  return TRUE;
}

bool CColorStatic::CreateStyledStatic(const char* text, const char* face, int pointSize,
                                      bool bold, bool italic, COLORREF textColour,
                                      COLORREF backColour, bool sunken, const RECT& rect,
                                      HWND parent, int languageId) {
  DWORD style = WS_CHILD | WS_VISIBLE | (sunken ? SS_SUNKEN : 0);
  if (!CreateControl("STATIC", text, style, rect, parent, kStaticControlId)) return false;
  ApplyStyle(BuildControlFont(face, pointSize, bold, italic, languageId), textColour, backColour);
  return true;
}

bool CColorStatic::OnReflectedCtlColor(HDC dc, LRESULT* result) {
  ::SetTextColor(dc, textColour());
  ::SetBkMode(dc, OPAQUE);
  ::SetBkColor(dc, backColour());
  *result = reinterpret_cast<LRESULT>(backBrush());
  return backBrush() != nullptr;
}

bool CColorButton::CreateStyledButton(const char* text, const char* face, int pointSize,
                                      bool bold, bool italic, COLORREF textColour,
                                      COLORREF backColour, const RECT& rect, HWND parent, int id,
                                      int languageId) {
  DWORD style = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;
  if (!CreateControl("BUTTON", text, style, rect, parent, static_cast<UINT_PTR>(id))) {
    return false;
  }
  ApplyStyle(BuildControlFont(face, pointSize, bold, italic, languageId), textColour, backColour);
  return true;
}

bool CColorButton::OnReflectedDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  ::SetTextColor(dc, textColour());
  ::SetBkMode(dc, OPAQUE);
  ::SetBkColor(dc, backColour());
  SelectedObject selectedFont(dc, font());

  char caption[kCaptionBuffer];
  int length = ::GetWindowTextA(m_hWnd, caption, sizeof(caption));
  if (length < 0) length = 0;

  RECT client;
  ::GetClientRect(m_hWnd, &client);
  if (backBrush()) ::FillRect(dc, &client, backBrush());

  SIZE extent{0, 0};
  ::GetTextExtentPoint32A(dc, caption, length, &extent);
  LayoutPoint origin = CentredTextOrigin(client.right - client.left, client.bottom - client.top,
                                         extent.cx, extent.cy);
  ::TextOutA(dc, origin.x, origin.y, caption, length);

  ButtonEdgeStyle edge = ButtonEdgeFor((item.itemState & ODS_SELECTED) != 0);
  ::DrawEdge(dc, &client, EdgeOf(edge.edge), SidesOf(edge.sides));

  // The focus, inside the edge, unless the keyboard has not been used yet
  // (Windows 2000 and later hide the cues until then).
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & kNoFocusRect)) {
    RECT focus = client;
    ::InflateRect(&focus, -kFocusInset, -kFocusInset);
    ::DrawFocusRect(dc, &focus);
  }
  return true;
}
