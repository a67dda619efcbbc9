// Owners for what the Win32 back end opens: one move-only template, in the
// manner of WIL's unique_any, parameterised by a traits class that names the
// held type, its "nothing held" value and how to release it. Every handle,
// key, library, search, BSTR and COM pointer of the back end lives in one of
// these, so nothing is released by hand on an early return. The few helpers
// at the end are shared by every service of the back end.
#pragma once

#include "platform/wintypes.h"

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

namespace win32 {

template <typename Traits>
class UniqueAny {
 public:
  using Type = typename Traits::Type;

  UniqueAny() = default;
  explicit UniqueAny(Type value) : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::Invalid()));
    return *this;
  }
  ~UniqueAny() { reset(); }

  Type get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }
  Type operator->() const { return value_; }
  // For the out-parameter of the call that opens: releases what is held first.
  Type* put() {
    reset();
    return &value_;
  }
  void reset(Type value = Traits::Invalid()) {
    if (valid()) Traits::Close(value_);
    value_ = value;
  }
  Type release() { return std::exchange(value_, Traits::Invalid()); }

 private:
  Type value_ = Traits::Invalid();
};

struct HandleTraits {  // process, thread and token handles: null when empty
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle) { ::CloseHandle(handle); }
};
struct FileHandleTraits {  // CreateFile handles: INVALID_HANDLE_VALUE when empty
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { ::CloseHandle(handle); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { ::FindClose(handle); }
};
struct KeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type key) { ::RegCloseKey(key); }
};
struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type module) { ::FreeLibrary(module); }
};
struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() { return nullptr; }
  static void Close(Type text) { ::SysFreeString(text); }
};
template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { object->Release(); }
};

using UniqueHandle = UniqueAny<HandleTraits>;
using UniqueFileHandle = UniqueAny<FileHandleTraits>;
using UniqueFindHandle = UniqueAny<FindTraits>;
using UniqueKey = UniqueAny<KeyTraits>;
using UniqueLibrary = UniqueAny<LibraryTraits>;
using UniqueBstr = UniqueAny<BstrTraits>;
template <typename Interface>
using ComPtr = UniqueAny<ComTraits<Interface>>;

// The thread's last error after a failed call. A call that failed without
// setting one still reports a failure, never ERROR_SUCCESS.
inline DWORD LastError() {
  DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

// Calls a "fill this buffer" API that answers with the length written, or with
// the size it needs when the buffer is too small, until the text fits.
template <typename Fill>
DWORD ReadText(Fill fill, std::string* text) {
  std::vector<char> buffer(MAX_PATH + 1, 0);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return LastError();
    if (length < buffer.size()) {
      text->assign(buffer.data(), length);
      return ERROR_SUCCESS;
    }
    buffer.assign(static_cast<size_t>(length) + 1, 0);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

// GetProcAddress typed as the export's own signature (through the generic
// function pointer type, which converts to any other without a warning).
template <typename Function>
Function ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace win32
