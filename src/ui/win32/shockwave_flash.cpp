#include "ui/win32/shockwave_flash.h"

const CLSID CShockwaveFlash::kClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// The host side of one control: the client site, the in-place site and a
// frame that offers nothing (no menus, no tool space, no accelerators). The
// control lives in the site window for its whole life.
class CControlSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit CControlSite(HWND window) : m_window(window) {}
  CControlSite(const CControlSite&) = delete;
  CControlSite& operator=(const CControlSite&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      *object = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
      *object = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame)) {
      *object = static_cast<IOleInPlaceFrame*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (for the in-place site and the frame alike)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = m_window;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                             LPRECT position, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    ::GetClientRect(m_window, position);
    *clip = *position;
    info->cb = sizeof(*info);
    info->fMDIApp = FALSE;
    info->hwndFrame = m_window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return S_OK;
  }

  // IOleInPlaceFrame
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  virtual ~CControlSite() = default;

  HWND m_window;
  ULONG m_references = 1;
};

namespace {

// An ANSI text as a BSTR; null when it cannot be converted or allocated.
BSTR AnsiToBstr(const std::string& text) {
  int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                     nullptr, 0);
  if (length <= 0 && !text.empty()) return nullptr;
  BSTR result = ::SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (!result) return nullptr;
  if (length > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), result,
                          length);
  }
  return result;
}

}  // namespace

CShockwaveFlash::CShockwaveFlash() { RegisterWindowClass(kClassName); }

CShockwaveFlash::~CShockwaveFlash() { ReleaseControl(); }

bool CShockwaveFlash::Create(const char* windowName, DWORD style, const RECT& rect, HWND parent,
                             UINT id) {
  ComPtr<IOleObject> object;
  HRESULT hr = ::CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  reinterpret_cast<void**>(object.put()));
  if (FAILED(hr) || !object) return false;
  if (!CreateEx(0, kClassName, windowName, style, rect, parent, id)) {
    object->Close(OLECLOSE_NOSAVE);
    return false;
  }

  CControlSite* site = new CControlSite(m_hWnd);
  *m_site.put() = site;
  object->SetClientSite(site);
  ComPtr<IPersistStreamInit> persist;
  if (SUCCEEDED(object->QueryInterface(IID_IPersistStreamInit,
                                       reinterpret_cast<void**>(persist.put())))) {
    persist->InitNew();
  }
  RECT position;
  ::GetClientRect(m_hWnd, &position);
  object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, m_hWnd, &position);
  object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(m_inPlace.put()));
  object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(m_dispatch.put()));
  m_object = std::move(object);
  return true;
}

HRESULT CShockwaveFlash::SetMovie(const std::string& path) {
  if (!m_dispatch) return S_OK;
  UniqueBstr movie(AnsiToBstr(path));
  if (!movie.get()) return E_OUTOFMEMORY;
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = movie.get();
  return PutProperty(kDispIdMovie, &value);
}

HRESULT CShockwaveFlash::SetLoop(bool loop) { return PutBoolProperty(kDispIdLoop, loop); }

HRESULT CShockwaveFlash::SetMenu(bool menu) { return PutBoolProperty(kDispIdMenu, menu); }

HRESULT CShockwaveFlash::PutBoolProperty(DISPID id, bool flag) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return PutProperty(id, &value);
}

// A property put with one argument and no result. The texts of an exception
// the control raises are freed here; the caller sees DISP_E_EXCEPTION.
HRESULT CShockwaveFlash::PutProperty(DISPID id, VARIANT* value) {
  if (!m_dispatch) return S_OK;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{};
  parameters.rgvarg = value;
  parameters.rgdispidNamedArgs = &named;
  parameters.cArgs = 1;
  parameters.cNamedArgs = 1;
  EXCEPINFO exception{};
  UINT badArgument = 0;
  HRESULT hr = m_dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                  &parameters, nullptr, &exception, &badArgument);
  if (hr == DISP_E_EXCEPTION) {
    if (exception.bstrSource) ::SysFreeString(exception.bstrSource);
    if (exception.bstrDescription) ::SysFreeString(exception.bstrDescription);
    if (exception.bstrHelpFile) ::SysFreeString(exception.bstrHelpFile);
  }
  return hr;
}

LRESULT CShockwaveFlash::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      OnSize();
      return Default(message, wParam, lParam);
    case WM_DESTROY:
      ReleaseControl();
      return Default(message, wParam, lParam);
    default:
      return CWindow::WindowProc(message, wParam, lParam);
  }
}

void CShockwaveFlash::OnSize() {
  if (!m_inPlace) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  m_inPlace->SetObjectRects(&client, &client);
}

// Deactivates and closes the control while its window still exists, then
// drops every reference of the host, the site's last.
void CShockwaveFlash::ReleaseControl() {
  if (m_inPlace) m_inPlace->InPlaceDeactivate();
  if (m_object) {
    m_object->Close(OLECLOSE_NOSAVE);
    m_object->SetClientSite(nullptr);
  }
  m_dispatch.reset();
  m_inPlace.reset();
  m_object.reset();
  m_site.reset();
}
