// A stand-in for the Flash ActiveX control on the demo medium: a small
// library with the control's version resource whose self-registration
// records its own path as the control's in-process server, which is all the
// setup reads back from a registered control.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

const char kClassKey[] = "CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}";
const char kServerKey[] = "CLSID\\{1171A62F-05D2-11D1-83FC-00A0C9089C5A}\\InprocServer32";

HMODULE g_module = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(g_module, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return E_FAIL;
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), length + 1);
  if (rc == ERROR_SUCCESS) {
    static const char kModel[] = "Apartment";
    rc = RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(kModel),
                        sizeof(kModel));
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  LONG rc = RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey);
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
    rc = RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
  }
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
