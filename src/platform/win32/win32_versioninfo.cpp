// Version resources over version.dll. A loaded resource owns its block; the
// values VerQueryValue points at live inside it.
#include "platform/wintypes.h"

#include <cstring>
#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

class Win32VersionResource : public VersionResource {
 public:
  explicit Win32VersionResource(std::vector<BYTE> block) : block_(std::move(block)) {}

  // Values under "\StringFileInfo\" are texts (ended at their first zero);
  // anything else, the translation array included, is handed back as bytes.
  bool QueryValue(const std::string& subBlock, std::string* value) override {
    void* data = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block_.data(), subBlock.c_str(), &data, &length)) return false;
    if (!data) {
      value->clear();
      return true;
    }
    const char* bytes = static_cast<const char*>(data);
    if (IsStringValue(subBlock)) {
      value->assign(bytes, strnlen(bytes, length));
    } else {
      value->assign(bytes, length);
    }
    return true;
  }

 private:
  static bool IsStringValue(const std::string& subBlock) {
    static const char kPrefix[] = "\\stringfileinfo\\";
    const size_t length = sizeof(kPrefix) - 1;
    if (subBlock.size() < length) return false;
    for (size_t i = 0; i < length; ++i) {
      char c = subBlock[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != kPrefix[i]) return false;
    }
    return true;
  }

  std::vector<BYTE> block_;
};

class Win32VersionInfo : public VersionInfo {
 public:
  DWORD GetInfoSize(const std::string& path, DWORD* lastError) override {
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0 && lastError) *lastError = LastError();
    return size;
  }

  DWORD GetInfo(const std::string& path, std::unique_ptr<VersionResource>* resource) override {
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return LastError();
    std::vector<BYTE> block(size, 0);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return LastError();
    *resource = std::make_unique<Win32VersionResource>(std::move(block));
    return ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<VersionInfo> NewVersionInfo() { return std::make_unique<Win32VersionInfo>(); }

}  // namespace win32
