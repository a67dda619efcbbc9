// The version-resource service: GetFileVersionInfoSize, GetFileVersionInfo and
// VerQueryValue. The core keeps its own query order and fallbacks.
#pragma once

#include <memory>
#include <string>

#include "platform/wintypes.h"

// A loaded version resource (the block of GetFileVersionInfo).
class VersionResource {
 public:
  virtual ~VersionResource() = default;
  // VerQueryValue: "\VarFileInfo\Translation" gives the raw translation array
  // (4 bytes an entry: language then code page, little-endian); a string such
  // as "\StringFileInfo\040904b0\FileVersion" gives its text. False when absent.
  virtual bool QueryValue(const std::string& subBlock, std::string* value) = 0;
};

class VersionInfo {
 public:
  virtual ~VersionInfo() = default;
  // GetFileVersionInfoSize: 0 when there is no resource, with the error in *lastError.
  virtual DWORD GetInfoSize(const std::string& path, DWORD* lastError) = 0;
  // GetFileVersionInfo: ERROR_SUCCESS and the resource, or an error code.
  virtual DWORD GetInfo(const std::string& path, std::unique_ptr<VersionResource>* resource) = 0;
};
