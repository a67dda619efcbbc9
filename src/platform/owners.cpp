#include "platform/owners.h"

#include <cstring>
#include <vector>

LONG RegKey::QueryString(const std::string& name, DWORD bufferSize, std::string* text,
                         DWORD* type) const {
  std::vector<BYTE> buffer(bufferSize + 1, 0);
  DWORD size = bufferSize;
  DWORD valueType = 0;
  LONG rc = registry_->QueryValue(key_, name, &valueType, buffer.data(), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (size > bufferSize) size = bufferSize;
  buffer[size] = 0;
  *text = std::string(reinterpret_cast<const char*>(buffer.data()),
                      strnlen(reinterpret_cast<const char*>(buffer.data()), size));
  if (type) *type = valueType;
  return ERROR_SUCCESS;
}

LONG RegKey::QueryDword(const std::string& name, DWORD* value) const {
  DWORD data = 0;
  DWORD size = sizeof(data);
  DWORD type = 0;
  LONG rc = registry_->QueryValue(key_, name, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (rc != ERROR_SUCCESS) return rc;
  *value = data;
  return ERROR_SUCCESS;
}

LONG RegKey::SetString(const std::string& name, const std::string& text, DWORD type) const {
  return registry_->SetValue(key_, name, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1));
}

LONG RegKey::SetDword(const std::string& name, DWORD value) const {
  return registry_->SetValue(key_, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value));
}
