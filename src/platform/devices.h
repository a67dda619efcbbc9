// The device service: device names opened with CreateFile, DeviceIoControl
// with raw byte buffers, the configuration manager's device tree, and the
// debugger output.
#pragma once

#include <string>

#include "platform/wintypes.h"

class Devices {
 public:
  virtual ~Devices() = default;

  // CreateFile on a device name such as "\\.\HCD0": INVALID_HANDLE_VALUE on failure.
  virtual HANDLE OpenDevice(const std::string& name, DWORD access, DWORD shareMode,
                            DWORD disposition) = 0;
  virtual BOOL CloseDevice(HANDLE device) = 0;
  // DeviceIoControl with METHOD_BUFFERED buffers.
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                               DWORD outSize, DWORD* returned) = 0;

  virtual ZT_CONFIGRET LocateRootDevNode(ZT_DEVINST* node) = 0;  // CM_Locate_DevNode(NULL)
  virtual ZT_CONFIGRET GetChild(ZT_DEVINST* child, ZT_DEVINST node) = 0;
  virtual ZT_CONFIGRET GetSibling(ZT_DEVINST* sibling, ZT_DEVINST node) = 0;
  virtual ZT_CONFIGRET GetParent(ZT_DEVINST* parent, ZT_DEVINST node) = 0;
  // CM_Get_DevNode_Registry_Property: *length is the buffer size in, the data size out.
  virtual ZT_CONFIGRET GetDevNodeProperty(ZT_DEVINST node, ULONG property, void* buffer,
                                          ULONG* length) = 0;

  virtual void OutputDebugString(const std::string& text) = 0;
};
