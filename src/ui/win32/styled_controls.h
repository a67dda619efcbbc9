// The styled controls of the setup window: a static text and an owner-drawn
// button, each with its own font, text colour and background colour.
#pragma once

#include "platform/wintypes.h"
#include "ui/layout.h"
#include "ui/win32/gdi_owners.h"
#include "ui/win32/window.h"

// What both controls keep: the font, the two colours and one brush of the
// background colour, made at creation and kept for the control's lifetime.
class CStyledControl : public CWindow {
 public:
  ~CStyledControl() override;
  COLORREF textColour() const { return m_textColour; }
  COLORREF backColour() const { return m_backColour; }
  HFONT font() const { return m_font.get(); }

  // Builds the font on the screen device from the face, size, weight, slant
  // and character set; null when it cannot be created.
  static UniqueFont CreateFontFromSpec(const FontSpec& spec);

 protected:
  // Creates the font, sends it with WM_SETFONT (redraw on), stores the colours.
  void ApplyStyle(const FontSpec& font, COLORREF textColour, COLORREF backColour);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // WM_ERASEBKGND: the whole control in the background colour.
  BOOL OnEraseBkgnd(HDC dc);
  HBRUSH backBrush() const { return m_backBrush.get(); }

 private:
  UniqueFont m_font;
  COLORREF m_textColour = 0;
  COLORREF m_backColour = 0;
  UniqueBrush m_backBrush;
};

class CColorStatic : public CStyledControl {
 public:
  // A visible child static control (SS_SUNKEN when `sunken`) with control id
  // 0xFFFF; `languageId` picks the character set. False when the control
  // could not be created.
  bool CreateStyledStatic(const char* text, const char* face, int pointSize, bool bold,
                          bool italic, COLORREF textColour, COLORREF backColour, bool sunken,
                          const RECT& rect, HWND parent, int languageId);

 protected:
  // The parent's WM_CTLCOLORSTATIC: text colour, opaque background in the
  // background colour, and the control's brush.
  bool OnReflectedCtlColor(HDC dc, LRESULT* result) override;
};

class CColorButton : public CStyledControl {
 public:
  // A visible owner-drawn child button with the given control id.
  bool CreateStyledButton(const char* text, const char* face, int pointSize, bool bold,
                          bool italic, COLORREF textColour, COLORREF backColour,
                          const RECT& rect, HWND parent, int id, int languageId);

 protected:
  // Every draw request: the background, the caption centred, and a raised
  // edge, or a sunken top and bottom edge while pressed.
  bool OnReflectedDrawItem(const DRAWITEMSTRUCT& item) override;
};
