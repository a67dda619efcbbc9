// The USB camera probe: whether the product's camera is attached right now.
// On Windows NT 4.0 the camera's own driver is asked by opening its device;
// on every other version the USB tree is searched, host controller by host
// controller, hub by hub and port by port.
#pragma once

#include <string>
#include <vector>

#include "platform/machine.h"

inline constexpr WORD kCameraVendorId = 0x0F3A;
inline constexpr WORD kCameraProductId = 1;
// "crvnusb": the name of the device the camera driver offers on NT 4.0.
extern const std::string kCameraDeviceName;

// The USB requests the probe sends (METHOD_BUFFERED on FILE_DEVICE_USB).
inline constexpr DWORD kIoctlGetHcdDriverKeyName = 0x220424;
inline constexpr DWORD kIoctlUsbGetRootHubName = 0x220408;
inline constexpr DWORD kIoctlUsbGetNodeInformation = 0x220408;
inline constexpr DWORD kIoctlUsbGetNodeConnectionInformation = 0x22040C;
inline constexpr DWORD kIoctlUsbGetNodeConnectionName = 0x220414;

// Packed byte layouts of the USB request structures, as far as the probe
// reads or writes them (little-endian).
namespace usb_layout {
// USB_HCD_DRIVERKEY_NAME and USB_ROOT_HUB_NAME.
inline constexpr size_t kNameQuerySize = 6;
inline constexpr size_t kNameActualLength = 0;
inline constexpr size_t kNameText = 4;
// USB_NODE_INFORMATION.
inline constexpr size_t kNodeInformationSize = 76;
inline constexpr size_t kNodeNumberOfPorts = 6;
// USB_NODE_CONNECTION_INFORMATION.
inline constexpr size_t kConnectionInformationSize = 245;
inline constexpr size_t kConnectionIndex = 0;
inline constexpr size_t kConnectionIdVendor = 12;
inline constexpr size_t kConnectionIdProduct = 14;
inline constexpr size_t kConnectionDeviceIsHub = 24;
inline constexpr size_t kConnectionStatus = 31;
// USB_NODE_CONNECTION_NAME.
inline constexpr size_t kConnectionNameQuerySize = 10;
inline constexpr size_t kConnectionNameIndex = 0;
inline constexpr size_t kConnectionNameActualLength = 4;
inline constexpr size_t kConnectionNameText = 8;
}  // namespace usb_layout

// Limits that keep a misbehaving driver or device tree from making the
// search allocate without bound or run forever.
inline constexpr DWORD kMaxUsbNameBufferSize = 0x10000;
inline constexpr int kMaxHubDepth = 8;
inline constexpr int kMaxDevNodeSteps = 0x10000;
// The size of the process-wide device-description buffer.
inline constexpr ULONG kDeviceDescriptionSize = 1024;

// What a walk of the USB tree meets, for a caller that records the tree
// (the capture of a machine): the probe's own walk, with its requests and
// limits, is the one that reads it, so a rehearsal of the captured machine
// sees what the setup's probe saw. With an observer the walk goes through
// every controller and hub instead of stopping at the camera.
struct UsbPortSeen {
  int port = 0;
  bool answered = false;  // the connection request succeeded
  DWORD status = 0;
  WORD vendorId = 0;
  WORD productId = 0;
  bool isHub = false;
  bool hasDownstream = false;  // the downstream hub's name could be read
  std::string downstream;
};

class UsbWalkObserver {
 public:
  virtual ~UsbWalkObserver() = default;
  // An open controller, with its driver key and root hub where they could
  // be read (null where not).
  virtual void OnController(int number, const std::string* driverKey,
                            const std::string* rootHub) = 0;
  // A hub opened and asked for its ports, before its ports are reported.
  virtual void OnHub(const std::string& name, int portCount) = 0;
  virtual void OnPort(const std::string& hub, const UsbPortSeen& port) = 0;
};

class CCameraProbe {
 public:
  // Reads the Windows version (a failed read clears isNT4) and, on NT 4.0,
  // prefixes a non-empty device name with "\\.\".
  CCameraProbe(Devices& devices, Environment& environment, WORD vendorId, WORD productId,
               const std::string& deviceName);
  virtual ~CCameraProbe() = default;
  CCameraProbe(const CCameraProbe&) = delete;
  CCameraProbe& operator=(const CCameraProbe&) = delete;

  // The probe: the driver's device on NT 4.0, the controller search elsewhere.
  bool IsAttached();

  // Searches HCD0 to HCD9; true when a controller's tree holds the device.
  bool SearchControllers();
  // Walks HCD0 to HCD9 and every hub below them, telling `observer`.
  void WalkUsbTree(UsbWalkObserver& observer);
  // The driver key name of an open host controller.
  bool GetHcdDriverKeyName(HANDLE controller, std::string* name);
  // The device description of the devnode whose driver key is `driverKey`,
  // in the process-wide description buffer; null when there is none.
  const char* FindControllerDescription(const std::string& driverKey);
  bool GetRootHubName(HANDLE controller, std::string* name);
  // Searches the hub named `hubName` and every hub below it.
  bool SearchHub(std::string hubName, int depth = 1);
  bool SearchHubPorts(HANDLE hub, const std::string& hubName, int portCount, int depth);
  bool GetDownstreamHubName(HANDLE hub, ULONG port, std::string* name);

  int isNT4 = 0;
  WORD vendorId;
  WORD productId;
  std::string deviceName;

 private:
  bool ProbeDriverDevice();
  // Asks for a variable-length name twice, the second time into a buffer of
  // the reported size; false unless the name fits that buffer with its
  // terminator.
  bool QueryName(HANDLE device, DWORD code, const std::vector<BYTE>& request, size_t lengthOffset,
                 size_t textOffset, size_t querySize, bool sendRequest, std::string* name);
  bool NoteHubVisited(const std::string& hubName);
  bool ReadDevNodeText(ZT_DEVINST node, ULONG property);
  bool NextDevNode(ZT_DEVINST* node, int* steps);

  Devices& devices_;
  Environment& environment_;
  std::vector<std::string> visitedHubs_;
  UsbWalkObserver* observer_ = nullptr;
};

// Builds a probe for the camera, asks it and destroys it. Nothing is cached.
bool IsCameraAttached(Machine& machine);

// Converts the zero-terminated UTF-16LE name at `wide` (at most `size` bytes)
// to the ANSI code page; false when it is not terminated within `size` or
// the conversion fails.
bool WideToAnsiAlloc(Environment& environment, const BYTE* wide, size_t size, std::string* text);

// The process-wide device-description buffer: the description of the last
// controller searched, empty after a search that found nothing.
const char* CameraControllerDescription();
