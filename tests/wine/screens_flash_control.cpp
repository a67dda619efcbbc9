// A stand-in for the Shockwave Flash control, for the Wine screen test: an
// in-process server of the control's class that the setup's control host can
// activate in place. It shows a window of its own in dark green, writes what
// the host does to it to the file named by ZT_FAKE_FLASH_RECORD (one line per
// event: "activate", "put <dispid> <value>", "rects <width>x<height>",
// "close"), and fails one property put when ZT_FAKE_FLASH_FAIL says so:
// "<dispid>:exception" answers DISP_E_EXCEPTION, "<dispid>:error" E_FAIL.
// tests/wine/screens.sh registers it for its runs and removes it afterwards.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <oleidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const CLSID kFlashClass = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const char kMovieClass[] = "ScreensFakeMovie";

HMODULE g_module = nullptr;
LONG g_objects = 0;

void Record(const std::string& line) {
  char path[MAX_PATH];
  DWORD length = ::GetEnvironmentVariableA("ZT_FAKE_FLASH_RECORD", path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return;
  FILE* file = std::fopen(path, "a");
  if (!file) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

// The answer configured for a put of `dispid`.
HRESULT ConfiguredResult(DISPID dispid) {
  char rule[64];
  DWORD length = ::GetEnvironmentVariableA("ZT_FAKE_FLASH_FAIL", rule, sizeof(rule));
  if (length == 0 || length >= sizeof(rule)) return S_OK;
  if (std::atol(rule) != dispid) return S_OK;
  if (std::strstr(rule, ":exception")) return DISP_E_EXCEPTION;
  if (std::strstr(rule, ":error")) return E_FAIL;
  return S_OK;
}

std::string Narrow(const wchar_t* text) {
  char buffer[1024] = {0};
  if (text) ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer) - 1, nullptr, nullptr);
  return buffer;
}

LRESULT CALLBACK MovieProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(window, message, wParam, lParam);
}

class FakeFlash : public IOleObject, public IOleInPlaceObject, public IDispatch {
 public:
  FakeFlash() { ::InterlockedIncrement(&g_objects); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleObject)) {
      *object = static_cast<IOleObject*>(this);
    } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject)) {
      *object = static_cast<IOleInPlaceObject*>(this);
    } else if (IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    if (site_) site_->Release();
    site_ = site;
    if (site_) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override {
    Record("close");
    InPlaceDeactivate();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                   LPCRECT rect) override {
    if (verb != OLEIVERB_INPLACEACTIVATE || !site || !parent || !rect) return E_NOTIMPL;
    IOleInPlaceSite* inPlace = nullptr;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)))) {
      return E_FAIL;
    }
    bool framed = false;
    if (inPlace->CanInPlaceActivate() == S_OK && SUCCEEDED(inPlace->OnInPlaceActivate())) {
      IOleInPlaceFrame* frame = nullptr;
      IOleInPlaceUIWindow* document = nullptr;
      RECT position, clip;
      OLEINPLACEFRAMEINFO info;
      info.cb = sizeof(info);
      if (SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info))) {
        framed = frame != nullptr;
        if (frame) frame->Release();
        if (document) document->Release();
      }
      window_ = ::CreateWindowExA(0, kMovieClass, "movie", WS_CHILD | WS_VISIBLE, rect->left,
                                  rect->top, rect->right - rect->left, rect->bottom - rect->top,
                                  parent, nullptr, g_module, nullptr);
    }
    inPlace->Release();
    Record(std::string("activate") + (framed ? " framed" : "") + (window_ ? " window" : ""));
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override {
    *id = kFlashClass;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
    *status = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow and IOleInPlaceObject
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
    if (window_) ::DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
    if (!position) return E_POINTER;
    char line[64];
    std::snprintf(line, sizeof(line), "rects %ldx%ld",
                  static_cast<long>(position->right - position->left),
                  static_cast<long>(position->bottom - position->top));
    Record(line);
    if (window_) {
      ::MoveWindow(window_, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }

  // IDispatch: property puts only.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT*, EXCEPINFO* exception, UINT*) override {
    if (flags != DISPATCH_PROPERTYPUT || !params || params->cArgs != 1 ||
        params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      Record("bad call " + std::to_string(dispid));
      return DISP_E_BADPARAMCOUNT;
    }
    const VARIANT& value = params->rgvarg[0];
    std::string text;
    if (value.vt == VT_BSTR) {
      text = "BSTR " + Narrow(value.bstrVal);
    } else if (value.vt == VT_BOOL) {
      text = "BOOL " + std::to_string(value.boolVal);
    } else {
      text = "VT " + std::to_string(value.vt);
    }
    Record("put " + std::to_string(dispid) + " " + text);
    HRESULT result = ConfiguredResult(dispid);
    if (result == DISP_E_EXCEPTION && exception) {
      std::memset(exception, 0, sizeof(*exception));
      exception->scode = E_FAIL;
      exception->bstrSource = ::SysAllocString(L"ShockwaveFlash");
      exception->bstrDescription = ::SysAllocString(L"refused by the stand-in");
    }
    return result;
  }

 private:
  virtual ~FakeFlash() {
    InPlaceDeactivate();
    if (site_) site_->Release();
    ::InterlockedDecrement(&g_objects);
  }

  ULONG references_ = 1;
  IOleClientSite* site_ = nullptr;
  HWND window_ = nullptr;
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    FakeFlash* flash = new FakeFlash();
    HRESULT hr = flash->QueryInterface(iid, object);
    flash->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    WNDCLASSA movieClass{};
    movieClass.lpfnWndProc = MovieProc;
    movieClass.hInstance = instance;
    movieClass.hbrBackground = ::CreateSolidBrush(RGB(20, 120, 60));
    movieClass.lpszClassName = kMovieClass;
    ::RegisterClassA(&movieClass);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID id, REFIID iid,
                                                                    void** object) {
  if (!IsEqualCLSID(id, kFlashClass)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}
