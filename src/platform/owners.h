// Move-only owners of what the platform services hand out: each closes its
// handle through the service that opened it, on every path.
#pragma once

#include <string>
#include <utility>

#include "platform/machine.h"

// One template for every handle kind: a value, the service that closes it, and
// the "nothing held" value.
template <typename Service, typename Handle, auto Close, auto Empty = Handle{}>
class UniqueOwner {
 public:
  UniqueOwner() = default;
  explicit UniqueOwner(Service& service) : service_(&service) {}
  UniqueOwner(Service& service, Handle handle) : service_(&service), handle_(handle) {}
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept
      : service_(other.service_), handle_(std::exchange(other.handle_, Empty)) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) {
      reset();
      service_ = other.service_;
      handle_ = std::exchange(other.handle_, Empty);
    }
    return *this;
  }
  ~UniqueOwner() { reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Empty; }
  explicit operator bool() const { return valid(); }
  // For out-parameters of the opening call: releases what is held first.
  Handle* put() {
    reset();
    return &handle_;
  }
  void reset() {
    if (handle_ != Empty && service_) (service_->*Close)(handle_);
    handle_ = Empty;
  }
  Handle release() { return std::exchange(handle_, Empty); }
  Service& service() const { return *service_; }

 private:
  Service* service_ = nullptr;
  Handle handle_ = Empty;
};

using UniqueFind = UniqueOwner<FileSystem, FindHandle, &FileSystem::FindClose>;
using UniqueRead = UniqueOwner<FileSystem, ReadHandle, &FileSystem::CloseRead>;
using UniqueProcessHandle = UniqueOwner<Processes, HANDLE, &Processes::CloseHandle>;
using UniqueLibrary = UniqueOwner<Com, HMODULE, &Com::FreeLibrary>;

// An open registry key. Predefined roots are never closed.
class RegKey {
 public:
  explicit RegKey(Registry& registry) : registry_(&registry) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept
      : registry_(other.registry_), key_(std::exchange(other.key_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Close();
      registry_ = other.registry_;
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ~RegKey() { Close(); }

  [[nodiscard]] LONG Open(HKEY root, const std::string& subKey, REGSAM access) {
    Close();
    return registry_->OpenKey(root, subKey, access, &key_);
  }
  [[nodiscard]] LONG Create(HKEY root, const std::string& subKey, REGSAM access,
                            const std::string& keyClass = std::string(),
                            DWORD* disposition = nullptr) {
    Close();
    return registry_->CreateKey(root, subKey, keyClass, REG_OPTION_NON_VOLATILE, access, &key_,
                                disposition);
  }
  void Close() {
    if (key_) registry_->CloseKey(key_);
    key_ = nullptr;
  }
  HKEY get() const { return key_; }
  bool valid() const { return key_ != nullptr; }
  Registry& registry() const { return *registry_; }

  // RegQueryValueEx of a string into a buffer of `bufferSize` bytes: the text
  // ends after the returned length (and at its first zero).
  [[nodiscard]] LONG QueryString(const std::string& name, DWORD bufferSize, std::string* text,
                                 DWORD* type = nullptr) const;
  [[nodiscard]] LONG QueryDword(const std::string& name, DWORD* value) const;
  // REG_SZ with the terminating zero counted in the length.
  [[nodiscard]] LONG SetString(const std::string& name, const std::string& text,
                               DWORD type = REG_SZ) const;
  [[nodiscard]] LONG SetDword(const std::string& name, DWORD value) const;

 private:
  Registry* registry_;
  HKEY key_ = nullptr;
};

// A device handle from Devices::OpenDevice.
class DeviceHandle {
 public:
  DeviceHandle(Devices& devices, HANDLE handle) : devices_(&devices), handle_(handle) {}
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  DeviceHandle(DeviceHandle&& other) noexcept
      : devices_(other.devices_), handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  ~DeviceHandle() {
    if (valid()) devices_->CloseDevice(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

 private:
  Devices* devices_;
  HANDLE handle_;
};
