// COM over ole32: initialisation, self-registration of component files and
// shell links through IShellLinkA and IPersistFile.
#include "platform/wintypes.h"

#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

typedef HRESULT(STDAPICALLTYPE* DllRegisterServerFn)();

class Win32Com : public Com {
 public:
  HRESULT CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }
  HRESULT OleInitialize() override { return ::OleInitialize(nullptr); }
  void OleUninitialize() override { ::OleUninitialize(); }

  DWORD LoadLibraryEx(const std::string& path, DWORD flags, HMODULE* module) override {
    HMODULE loaded = ::LoadLibraryExA(path.c_str(), nullptr, flags);
    if (!loaded) return LastError();
    *module = loaded;
    return ERROR_SUCCESS;
  }

  bool HasExport(HMODULE module, const std::string& name) override {
    return ::GetProcAddress(module, name.c_str()) != nullptr;
  }

  HRESULT CallDllRegisterServer(HMODULE module) override {
    auto registerServer = ProcAddress<DllRegisterServerFn>(module, "DllRegisterServer");
    if (!registerServer) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return registerServer();
  }

  void FreeLibrary(HMODULE module) override { ::FreeLibrary(module); }

  HRESULT CreateShellLink(const std::string& target, const std::string& workingDir,
                          const std::string& description, const std::string& arguments,
                          const std::u16string& linkPath) override {
    ComPtr<IShellLinkA> link;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IShellLinkA, reinterpret_cast<void**>(link.put()));
    if (FAILED(hr)) return hr;
    ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = link->SetPath(target.c_str()))) return hr;
    if (FAILED(hr = link->SetWorkingDirectory(workingDir.c_str()))) return hr;
    if (FAILED(hr = link->SetDescription(description.c_str()))) return hr;
    if (FAILED(hr = link->SetArguments(arguments.c_str()))) return hr;
    std::vector<wchar_t> path(linkPath.begin(), linkPath.end());
    path.push_back(L'\0');
    return file->Save(path.data(), TRUE);
  }
};

}  // namespace

std::unique_ptr<Com> NewCom() { return std::make_unique<Win32Com>(); }

}  // namespace win32
