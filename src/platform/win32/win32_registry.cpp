// The registry over advapi32. Reads go through a buffer of the caller's size
// and are copied out only on success, so a failed read leaves the caller's
// buffers as they were.
#include "platform/wintypes.h"

#include <algorithm>
#include <vector>

#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

// Copies a name of `length` characters and its terminator into a caller
// buffer of `capacity` characters, never past its end.
void CopyText(const std::vector<char>& text, DWORD length, DWORD capacity, char* out) {
  if (capacity == 0) return;
  size_t count = std::min<size_t>(length, capacity - 1);
  std::copy(text.begin(), text.begin() + count, out);
  out[count] = '\0';
}

class Win32Registry : public Registry {
 public:
  LONG OpenKey(HKEY key, const std::string& subKey, REGSAM access, HKEY* result) override {
    HKEY opened = nullptr;
    LONG rc = ::RegOpenKeyExA(key, subKey.c_str(), 0, access, &opened);
    if (rc == ERROR_SUCCESS) *result = opened;
    return rc;
  }

  LONG CreateKey(HKEY key, const std::string& subKey, const std::string& keyClass, DWORD options,
                 REGSAM access, HKEY* result, DWORD* disposition) override {
    HKEY created = nullptr;
    DWORD how = 0;
    LPSTR className = keyClass.empty() ? nullptr : const_cast<char*>(keyClass.c_str());
    LONG rc = ::RegCreateKeyExA(key, subKey.c_str(), 0, className, options, access, nullptr,
                                &created, &how);
    if (rc != ERROR_SUCCESS) return rc;
    *result = created;
    if (disposition) *disposition = how;
    return rc;
  }

  LONG CloseKey(HKEY key) override { return ::RegCloseKey(key); }

  LONG QueryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data,
                  DWORD* size) override {
    DWORD valueType = 0;
    DWORD length = size ? *size : 0;
    // Never a null data pointer when the caller gave one: a zero-sized buffer
    // must give ERROR_MORE_DATA, not turn the call into a size query.
    std::vector<BYTE> buffer(length + 1);
    LONG rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &valueType,
                                 data ? buffer.data() : nullptr, size ? &length : nullptr);
    if (rc == ERROR_SUCCESS) {
      if (type) *type = valueType;
      if (data && size) {
        std::copy(buffer.begin(), buffer.begin() + std::min<size_t>(length, *size), data);
      }
      if (size) *size = length;
    } else if (rc == ERROR_MORE_DATA && size) {
      if (type) *type = valueType;
      *size = length;  // the size the data needs
    }
    return rc;
  }

  LONG SetValue(HKEY key, const std::string& name, DWORD type, const BYTE* data,
                DWORD size) override {
    return ::RegSetValueExA(key, name.c_str(), 0, type, data, size);
  }

  LONG DeleteValue(HKEY key, const std::string& name) override {
    return ::RegDeleteValueA(key, name.c_str());
  }

  LONG DeleteKey(HKEY key, const std::string& subKey) override {
    return ::RegDeleteKeyA(key, subKey.c_str());
  }

  LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* nameSize, char* keyClass,
               DWORD* classSize) override {
    const DWORD nameCapacity = *nameSize;
    DWORD nameLength = nameCapacity;
    std::vector<char> nameBuffer(nameLength + 1, 0);
    const DWORD classCapacity = (keyClass && classSize) ? *classSize : 0;
    DWORD classLength = classCapacity;
    std::vector<char> classBuffer(classLength + 1, 0);
    LONG rc = ::RegEnumKeyExA(key, index, nameBuffer.data(), &nameLength, nullptr,
                              (keyClass && classSize) ? classBuffer.data() : nullptr,
                              (keyClass && classSize) ? &classLength : nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    // On success the lengths exclude the terminator, which fits the caller's buffer.
    CopyText(nameBuffer, nameLength, nameCapacity, name);
    *nameSize = nameLength;
    if (keyClass && classSize) {
      CopyText(classBuffer, classLength, classCapacity, keyClass);
      *classSize = classLength;
    }
    return rc;
  }

  LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type, BYTE* data,
                 DWORD* dataSize) override {
    const DWORD nameCapacity = *nameSize;
    DWORD nameLength = nameCapacity;
    std::vector<char> nameBuffer(nameLength + 1, 0);
    DWORD valueType = 0;
    DWORD dataLength = dataSize ? *dataSize : 0;
    std::vector<BYTE> dataBuffer(dataLength + 1);
    LONG rc = ::RegEnumValueA(key, index, nameBuffer.data(), &nameLength, nullptr, &valueType,
                              data ? dataBuffer.data() : nullptr, dataSize ? &dataLength : nullptr);
    if (rc == ERROR_MORE_DATA && data && dataSize) {
      // Too small for the name or for the data: asking again without the data
      // tells which. When the name fits, the caller gets it, the type and the
      // size the data needs, as from RegQueryValueEx.
      nameLength = nameCapacity;
      dataLength = 0;
      if (::RegEnumValueA(key, index, nameBuffer.data(), &nameLength, nullptr, &valueType, nullptr,
                          &dataLength) == ERROR_SUCCESS) {
        CopyText(nameBuffer, nameLength, nameCapacity, name);
        *nameSize = nameLength;
        if (type) *type = valueType;
        *dataSize = dataLength;
      }
      return rc;
    }
    if (rc != ERROR_SUCCESS) return rc;
    CopyText(nameBuffer, nameLength, nameCapacity, name);
    *nameSize = nameLength;
    if (type) *type = valueType;
    if (data && dataSize) {
      std::copy(dataBuffer.begin(), dataBuffer.begin() + std::min<size_t>(dataLength, *dataSize),
                data);
    }
    if (dataSize) *dataSize = dataLength;
    return rc;
  }

  LONG QueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                    DWORD* maxValueNameLen, DWORD* maxValueLen) override {
    DWORD keyCount = 0, keyLength = 0, valueCount = 0, valueNameLength = 0, valueLength = 0;
    LONG rc = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keyCount, &keyLength, nullptr,
                                 &valueCount, &valueNameLength, &valueLength, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (subKeys) *subKeys = keyCount;
    if (maxSubKeyLen) *maxSubKeyLen = keyLength;
    if (values) *values = valueCount;
    if (maxValueNameLen) *maxValueNameLen = valueNameLength;
    if (maxValueLen) *maxValueLen = valueLength;
    return rc;
  }

  LONG SaveKey(HKEY key, const std::string& file) override {
    return ::RegSaveKeyA(key, file.c_str(), nullptr);
  }

  LONG RestoreKey(HKEY key, const std::string& file, DWORD flags) override {
    return ::RegRestoreKeyA(key, file.c_str(), flags);
  }

  LONG LoadKey(HKEY key, const std::string& subKey, const std::string& file) override {
    return ::RegLoadKeyA(key, subKey.c_str(), file.c_str());
  }

  LONG UnLoadKey(HKEY key, const std::string& subKey) override {
    return ::RegUnLoadKeyA(key, subKey.c_str());
  }
};

}  // namespace

std::unique_ptr<Registry> NewRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace win32
