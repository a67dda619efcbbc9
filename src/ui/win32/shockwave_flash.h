// The Shockwave Flash ActiveX control in a window of its own, with a minimal
// host: a client site that activates the control in place in that window,
// and the three properties the background window sets through the control's
// dispatch interface.
#pragma once

#include <string>

#include "platform/wintypes.h"
#include "ui/win32/gdi_owners.h"
#include "ui/win32/window.h"

#include <ole2.h>
#include <ocidl.h>
#include <oleidl.h>

class CControlSite;

class CShockwaveFlash : public CWindow {
 public:
  static constexpr char kClassName[] = "ZentavoControlSite";
  // The framework's run-time class name of this wrapper.
  static constexpr char kRuntimeClassName[] = "CShockwaveFlash";
  // {D27CDB6E-AE6D-11CF-96B8-444553540000}
  static const CLSID kClassId;
  static constexpr DISPID kDispIdMovie = 102;
  static constexpr DISPID kDispIdLoop = 106;
  static constexpr DISPID kDispIdMenu = 135;

  CShockwaveFlash();
  ~CShockwaveFlash() override;

  // Creates the control and its window (name, style, rectangle, parent, id)
  // and activates it in place. When the control is not installed or not
  // registered nothing is created and the result is false; the property
  // puts then do nothing.
  bool Create(const char* windowName, DWORD style, const RECT& rect, HWND parent, UINT id);
  bool HasControl() const { return static_cast<bool>(m_dispatch); }

  // Property puts; S_OK without a control, else the result of IDispatch::Invoke
  // (DISP_E_EXCEPTION when the control raised an exception).
  HRESULT SetMovie(const std::string& path);
  HRESULT SetLoop(bool loop);
  HRESULT SetMenu(bool menu);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HRESULT PutProperty(DISPID id, VARIANT* value);
  HRESULT PutBoolProperty(DISPID id, bool flag);
  void OnSize();
  void ReleaseControl();

  ComPtr<CControlSite> m_site;
  ComPtr<IOleObject> m_object;
  ComPtr<IOleInPlaceObject> m_inPlace;
  ComPtr<IDispatch> m_dispatch;
};
