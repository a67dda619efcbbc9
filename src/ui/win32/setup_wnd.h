// The main setup window: a fixed-size popup over the background window with
// a title, the step's header, message and help texts, two owner-drawn
// buttons, the camera picture, the maker's logo and the package line.
#pragma once

#include <string>

#include "platform/wintypes.h"
#include "ui/keyboard.h"
#include "ui/setup_window.h"
#include "ui/win32/gdi_owners.h"
#include "ui/win32/styled_controls.h"
#include "ui/win32/window.h"

class CSetupApp;

class CSetupWnd : public CWindow, public SetupWindow {
 public:
  static constexpr char kClassName[] = "ZentavoSetupWnd";

  explicit CSetupWnd(CSetupApp& app);
  ~CSetupWnd() override;

  // A popup owned by the background window: WS_POPUP | WS_DLGFRAME, at 0, 0,
  // 500 x 280, titled "Zentavo Install"; it centres itself on its owner.
  bool Create(BackgroundWindow& owner) override;
  void Show() override;
  void Activate() override;
  void Destroy() override;

  void SetText(int slot, int stringId) override;
  void SetConfirmText(int stringId) override;
  void SetCancelText(int stringId) override;
  void ShowConfirm(bool show) override;
  void ShowCancel(bool show) override;
  void SetPackageLine(const std::string& line) override;
  void SetMessageText(const std::string& text) override;

  const std::string& packageLine() const { return m_packageLine; }

  // Return, Escape, Tab and Shift+Tab pressed in the setup window or one of
  // its buttons: does what the key does there and answers true (the key is
  // taken); false for any other message.
  static bool TranslateKey(const MSG& message);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  int OnCreate(WPARAM wParam, LPARAM lParam);
  BOOL OnEraseBkgnd(HDC dc);
  void OnPaint();
  void OnCommand(WPARAM wParam);
  LRESULT OnMouseActivate(WPARAM wParam, LPARAM lParam);
  void OnDestroy();

  void CreateStatic(CColorStatic& control, SetupControl which);
  void CreateButton(CColorButton& control, SetupControl which);
  CColorStatic* SlotControl(int slot);
  void SetSlotText(int slot, const std::string& text);
  std::string TextOf(int stringId) const;
  void CentreOnOwner();
  RECT Scaled(const LayoutRect& rect) const;

  // The keyboard: the buttons' state, a key's action, and the focus, which
  // goes to the confirm button whenever it appears, leaves a button that is
  // hidden, and comes back to where it was when the window is activated
  // again (after a message box, or another program).
  SetupButtonsState ButtonsState() const;
  void OnKey(SetupKey key, bool repeated);
  void Press(CColorButton& button, int id);
  void PlaceFocus(FocusedButton preferred);
  void OnActivate(WPARAM wParam);
  HWND ButtonWindow(FocusedButton button) const;

  CSetupApp& m_app;
  std::string m_className;
  UniqueBitmap m_logo;
  UniqueBitmap m_picture;
  CColorStatic m_title;
  CColorStatic m_header;
  CColorStatic m_message;
  CColorStatic m_help;
  CColorButton m_confirm;
  CColorButton m_cancel;
  std::string m_packageLine;
  UniqueFont m_packageFont;
  // The display's dots per inch, which the layout's rectangles scale to.
  int m_dpi = kLayoutDotsPerInch;
  // The button that had the focus when the window was last deactivated.
  FocusedButton m_focusOnActivate = FocusedButton::kNone;
};
