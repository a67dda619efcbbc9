// What the camera tests need besides the simulated devices: an environment
// that only knows the Windows version and a Latin-1 code page, and a device
// service that passes every call on, for tests that bend one of them.
#pragma once

#include <strings.h>

#include <cstring>

#include "platform/devices.h"
#include "platform/environment.h"

inline OsVersion XpSp2() { return OsVersion{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 2"}; }

class TinyEnvironment : public Environment {
 public:
  OsVersion os = XpSp2();
  bool versionReadFails = false;

  BOOL GetOsVersion(OsVersion* version) override {
    if (versionReadFails) return FALSE;
    *version = os;
    return TRUE;
  }
  WORD GetNativeProcessorArchitecture() override { return PROCESSOR_ARCHITECTURE_INTEL; }
  uint64_t TotalPhysicalMemory() override { return 256u << 20; }
  DWORD GetWindowsDirectory(std::string* path) override { return Put("C:\\WINDOWS", path); }
  DWORD GetSystemDirectory(std::string* path) override {
    return Put("C:\\WINDOWS\\system32", path);
  }
  DWORD GetTempPath(std::string* path) override { return Put("C:\\TEMP\\", path); }
  DWORD GetModuleFileName(std::string* path) override { return Put("D:\\setup.exe", path); }
  std::string CommandLineArguments() override { return std::string(); }
  void GetLocalTime(LocalTime* time) override { *time = LocalTime(); }
  DWORD GetTickCount() override { return 0; }
  DWORD GenRandom(void*, size_t) override { return ERROR_NOT_SUPPORTED; }
  void Sleep(DWORD) override {}
  BOOL GetLocaleLanguage(std::string* code) override {
    *code = "0409";
    return TRUE;
  }
  UINT GetACP() override { return 1252; }
  BOOL IsDBCSLeadByte(BYTE) override { return FALSE; }
  // Latin-1 stands in for the ANSI code page: anything above U+00FF fails.
  bool AnsiToWide(const std::string& text, std::u16string* wide) override {
    wide->clear();
    for (unsigned char c : text) wide->push_back(c);
    return true;
  }
  bool WideToAnsi(const std::u16string& wide, std::string* text) override {
    std::string out;
    for (char16_t c : wide) {
      if (c > 0xFF) return false;
      out.push_back(static_cast<char>(c));
    }
    *text = out;
    return true;
  }
  void CharUpper(std::string*) override {}
  int CompareNoCase(const std::string& a, const std::string& b, size_t count) override {
    return strncasecmp(a.c_str(), b.c_str(), count);
  }

 private:
  static DWORD Put(const char* value, std::string* path) {
    *path = value;
    return static_cast<DWORD>(path->size());
  }
};

// Passes every call to another device service.
class ForwardingDevices : public Devices {
 public:
  explicit ForwardingDevices(Devices& inner) : inner_(inner) {}
  HANDLE OpenDevice(const std::string& name, DWORD access, DWORD share,
                    DWORD disposition) override {
    return inner_.OpenDevice(name, access, share, disposition);
  }
  BOOL CloseDevice(HANDLE device) override { return inner_.CloseDevice(device); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                       DWORD outSize, DWORD* returned) override {
    return inner_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) override {
    return inner_.LocateRootDevNode(node);
  }
  ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) override {
    return inner_.GetChild(child, node);
  }
  ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) override {
    return inner_.GetSibling(sibling, node);
  }
  ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) override {
    return inner_.GetParent(parent, node);
  }
  ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                  ULONG* length) override {
    return inner_.GetDevNodeProperty(node, property, buffer, length);
  }
  void OutputDebugString(const std::string& text) override { inner_.OutputDebugString(text); }

 private:
  Devices& inner_;
};
