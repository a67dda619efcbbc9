// The registry service: the Win32 registry calls the setup makes, in their
// own shape. Every call takes an open key (a predefined root or a key handed
// out by OpenKey/CreateKey) and returns a Win32 error code; out-parameters are
// left untouched on failure. Names are byte strings in the ANSI code page.
#pragma once

#include <string>

#include "platform/wintypes.h"

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyEx. An empty subKey opens a new handle to `key` itself.
  virtual LONG OpenKey(HKEY key, const std::string& subKey, REGSAM access, HKEY* result) = 0;
  // RegCreateKeyEx: creates every missing key on the path. `disposition` may be null.
  virtual LONG CreateKey(HKEY key, const std::string& subKey, const std::string& keyClass,
                         DWORD options, REGSAM access, HKEY* result, DWORD* disposition) = 0;
  virtual LONG CloseKey(HKEY key) = 0;
  // RegQueryValueEx. `data` may be null to ask for the size; on entry *size is
  // the buffer size, on return the size of the data (also with ERROR_MORE_DATA).
  // An empty name is the key's default value.
  virtual LONG QueryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data,
                          DWORD* size) = 0;
  virtual LONG SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data,
                        DWORD size) = 0;
  virtual LONG DeleteValue(HKEY key, const std::string& name) = 0;
  // RegDeleteKey: deletes a subkey that has no subkeys of its own.
  virtual LONG DeleteKey(HKEY key, const std::string& subKey) = 0;
  // RegEnumKeyEx: sizes in characters, without/with the terminator as Windows counts them.
  virtual LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize, char* keyClass,
                       DWORD* classSize) = 0;
  // RegEnumValue.
  virtual LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type,
                         BYTE* data, DWORD* dataSize) = 0;
  // RegQueryInfoKey (the counts the setup uses); any pointer may be null.
  virtual LONG QueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                            DWORD* maxValueNameLen, DWORD* maxValueLen) = 0;
  // RegSaveKey, RegRestoreKey, RegLoadKey, RegUnLoadKey.
  virtual LONG SaveKey(HKEY key, const std::string& file) = 0;
  virtual LONG RestoreKey(HKEY key, const std::string& file, DWORD flags) = 0;
  virtual LONG LoadKey(HKEY key, const std::string& subKey, const std::string& file) = 0;
  virtual LONG UnLoadKey(HKEY key, const std::string& subKey) = 0;
};
