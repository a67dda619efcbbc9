// The COM service: initialisation, self-registration of component files and
// shell links.
#pragma once

#include <string>

#include "platform/wintypes.h"

class Com {
 public:
  virtual ~Com() = default;

  virtual HRESULT CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  virtual HRESULT OleInitialize() = 0;
  virtual void OleUninitialize() = 0;

  // LoadLibraryEx: ERROR_SUCCESS and the module, or the error code.
  virtual DWORD LoadLibraryEx(const std::string& path, DWORD flags, HMODULE* module) = 0;
  virtual bool HasExport(HMODULE module, const std::string& name) = 0;
  // Calls the module's DllRegisterServer; only valid when HasExport said so.
  virtual HRESULT CallDllRegisterServer(HMODULE module) = 0;
  virtual void FreeLibrary(HMODULE module) = 0;

  // An IShellLinkA saved through IPersistFile::Save at `linkPath` (UTF-16 on
  // the Windows side). Returns the first failing HRESULT.
  virtual HRESULT CreateShellLink(const std::string& target, const std::string& workingDir,
                                  const std::string& description, const std::string& arguments,
                                  const std::u16string& linkPath) = 0;
};
