#include "actions/camera_probe.h"

#include <algorithm>
#include <cstring>

#include "app/context.h"
#include "app/exit_codes.h"
#include "app/unattended.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

const std::string kCameraDeviceName = "crvnusb";

namespace {

// The device description of the controller being searched. Zero at start:
// in .bss, so that it takes no room in the Windows program (there each
// zero datum in a section of its own would be stored in full).
#if defined(_WIN32) && defined(__GNUC__)
__attribute__((section(".bss")))
#endif
char g_deviceDescription[kDeviceDescriptionSize];

DWORD ReadU32(const std::vector<BYTE>& buffer, size_t offset) {
  return static_cast<DWORD>(buffer[offset]) | static_cast<DWORD>(buffer[offset + 1]) << 8 |
         static_cast<DWORD>(buffer[offset + 2]) << 16 | static_cast<DWORD>(buffer[offset + 3]) << 24;
}

WORD ReadU16(const std::vector<BYTE>& buffer, size_t offset) {
  return static_cast<WORD>(buffer[offset] | buffer[offset + 1] << 8);
}

void WriteU32(std::vector<BYTE>* buffer, size_t offset, DWORD value) {
  for (size_t i = 0; i < 4; ++i) (*buffer)[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

const char* CameraControllerDescription() { return g_deviceDescription; }

bool WideToAnsiAlloc(Environment& environment, const BYTE* wide, size_t size, std::string* text) {
  std::u16string name;
  for (size_t offset = 0; offset + 1 < size; offset += 2) {
    char16_t unit = static_cast<char16_t>(wide[offset] | wide[offset + 1] << 8);
    if (unit == 0) {
      std::string converted;
      if (!environment.WideToAnsi(name, &converted)) return false;
      *text = std::move(converted);
      return true;
    }
    name.push_back(unit);
  }
  return false;
}

CCameraProbe::CCameraProbe(Devices& devices, Environment& environment, WORD vendor, WORD product,
                           const std::string& name)
    : vendorId(vendor), productId(product), deviceName(name), devices_(devices),
      environment_(environment) {
  OsVersion version;
  if (environment_.GetOsVersion(&version)) {
    isNT4 = version.platformId == VER_PLATFORM_WIN32_NT && version.majorVersion == 4;
  }
  if (isNT4 && !deviceName.empty()) deviceName = "\\\\.\\" + deviceName;
}

bool CCameraProbe::IsAttached() {
  if (isNT4) return ProbeDriverDevice();
  return SearchControllers();
}

// On NT 4.0 the camera driver offers its device only while the camera is
// attached, so opening it answers the question.
bool CCameraProbe::ProbeDriverDevice() {
  DeviceHandle device(devices_, devices_.OpenDevice(deviceName, GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    OPEN_EXISTING));
  if (device.valid()) {
    devices_.OutputDebugString("Zentavo camera is ON\n");
    return true;
  }
  devices_.OutputDebugString("Zentavo camera is OFF\n");
  return false;
}

// Host controllers HCD0 to HCD9, in order; a controller that cannot be
// opened, whose driver key is not in the device tree, or whose root hub has
// no name is passed over.
bool CCameraProbe::SearchControllers() {
  visitedHubs_.clear();
  bool found = false;
  for (int i = 0; !found && i < 10; ++i) {
    DeviceHandle controller(devices_, devices_.OpenDevice("\\\\.\\HCD" + std::to_string(i),
                                                          GENERIC_WRITE, FILE_SHARE_WRITE,
                                                          OPEN_EXISTING));
    if (!controller.valid()) continue;
    // A controller whose driver key cannot be read has no description; the
    // one of the controller before must not stand in for it.
    g_deviceDescription[0] = 0;
    std::string driverKey;
    const bool hasKey = GetHcdDriverKeyName(controller.get(), &driverKey);
    if (hasKey && !observer_) FindControllerDescription(driverKey);
    // The probe searches a controller the device tree describes; a walk
    // for an observer takes every root hub.
    std::string rootHub;
    const bool hasRoot = (observer_ || g_deviceDescription[0] != 0) &&
                         GetRootHubName(controller.get(), &rootHub);
    if (observer_) {
      observer_->OnController(i, hasKey ? &driverKey : nullptr,
                              hasRoot && !rootHub.empty() ? &rootHub : nullptr);
    }
    if (hasRoot) found = SearchHub(std::move(rootHub));
  }
  if (found) return true;
  g_deviceDescription[0] = 0;
  if (!observer_) {
    devices_.OutputDebugString(
        "Could not find USB Host Controller with Zentavo camera connected.\n");
  }
  return false;
}

void CCameraProbe::WalkUsbTree(UsbWalkObserver& observer) {
  observer_ = &observer;
  SearchControllers();
  observer_ = nullptr;
}

bool CCameraProbe::QueryName(HANDLE device, DWORD code, const std::vector<BYTE>& request,
                             size_t lengthOffset, size_t textOffset, size_t querySize,
                             bool sendRequest, std::string* name) {
  std::vector<BYTE> query(querySize, 0);
  std::copy(request.begin(), request.end(), query.begin());
  DWORD returned = 0;
  if (!devices_.DeviceIoControl(device, code, sendRequest ? query.data() : nullptr,
                                sendRequest ? static_cast<DWORD>(query.size()) : 0, query.data(),
                                static_cast<DWORD>(query.size()), &returned)) {
    return false;
  }
  DWORD length = ReadU32(query, lengthOffset);
  if (length <= querySize || length > kMaxUsbNameBufferSize) return false;

  std::vector<BYTE> full(length, 0);
  std::copy(request.begin(), request.end(), full.begin());
  if (!devices_.DeviceIoControl(device, code, sendRequest ? full.data() : nullptr,
                                sendRequest ? length : 0, full.data(), length, &returned)) {
    return false;
  }
  if (ReadU32(full, lengthOffset) > length) return false;
  return WideToAnsiAlloc(environment_, full.data() + textOffset, full.size() - textOffset, name);
}

bool CCameraProbe::GetHcdDriverKeyName(HANDLE controller, std::string* name) {
  return QueryName(controller, kIoctlGetHcdDriverKeyName, {}, usb_layout::kNameActualLength,
                   usb_layout::kNameText, usb_layout::kNameQuerySize, true, name);
}

bool CCameraProbe::GetRootHubName(HANDLE controller, std::string* name) {
  return QueryName(controller, kIoctlUsbGetRootHubName, {}, usb_layout::kNameActualLength,
                   usb_layout::kNameText, usb_layout::kNameQuerySize, false, name);
}

bool CCameraProbe::GetDownstreamHubName(HANDLE hub, ULONG port, std::string* name) {
  std::vector<BYTE> request(sizeof(DWORD), 0);
  WriteU32(&request, usb_layout::kConnectionNameIndex, port);
  return QueryName(hub, kIoctlUsbGetNodeConnectionName, request,
                   usb_layout::kConnectionNameActualLength, usb_layout::kConnectionNameText,
                   usb_layout::kConnectionNameQuerySize, true, name);
}

// A depth-first walk of the configuration manager's device tree for the
// devnode whose driver key is `driverKey`. Every move starts from the node it
// leaves, and a move that yields the same node or node 0 (never a valid
// devnode) ends the walk: that is what a configuration manager that reports
// success without filling its output gives. The walk is also bounded in
// steps, so a tree that leads back into itself ends too.
const char* CCameraProbe::FindControllerDescription(const std::string& driverKey) {
  g_deviceDescription[0] = 0;
  ZT_DEVINST node = 0;
  if (devices_.LocateRootDevNode(&node) != kCrSuccess) return nullptr;

  for (int steps = 0; steps < kMaxDevNodeSteps; ++steps) {
    if (ReadDevNodeText(node, kCmDrpDriver) && driverKey == g_deviceDescription) {
      if (!ReadDevNodeText(node, kCmDrpDeviceDesc)) return nullptr;
      return g_deviceDescription;
    }
    if (!NextDevNode(&node, &steps)) break;
  }
  g_deviceDescription[0] = 0;
  return nullptr;
}

// Reads a text property of a devnode into the description buffer; the text
// ends at its first zero, and one that fills the buffer is cut so that its
// terminator stays inside.
bool CCameraProbe::ReadDevNodeText(ZT_DEVINST node, ULONG property) {
  std::memset(g_deviceDescription, 0, sizeof(g_deviceDescription));
  ULONG length = sizeof(g_deviceDescription);
  if (devices_.GetDevNodeProperty(node, property, g_deviceDescription, &length) != kCrSuccess) {
    g_deviceDescription[0] = 0;
    return false;
  }
  g_deviceDescription[sizeof(g_deviceDescription) - 1] = 0;
  return true;
}

// The next node in depth-first order: the first child, else the next
// sibling of the node or of its nearest ancestor that has one. False at the
// end of the tree. Climbing counts against the walk's step budget.
bool CCameraProbe::NextDevNode(ZT_DEVINST* node, int* steps) {
  ZT_DEVINST next = *node;
  if (devices_.GetChild(&next, *node) == kCrSuccess && next != *node && next != 0) {
    *node = next;
    return true;
  }
  for (; *steps < kMaxDevNodeSteps; ++*steps) {
    next = *node;
    if (devices_.GetSibling(&next, *node) == kCrSuccess && next != *node && next != 0) {
      *node = next;
      return true;
    }
    next = *node;
    if (devices_.GetParent(&next, *node) != kCrSuccess || next == *node || next == 0) {
      return false;
    }
    *node = next;
  }
  return false;
}

bool CCameraProbe::NoteHubVisited(const std::string& hubName) {
  std::string key = UpperAscii(hubName);
  for (const std::string& visited : visitedHubs_) {
    if (visited == key) return false;
  }
  visitedHubs_.push_back(std::move(key));
  return true;
}

// Opens the hub, reads its port count and searches its ports. A hub already
// searched, or one deeper than any USB tree goes, is not searched again, so a
// hub tree that points back at itself ends.
bool CCameraProbe::SearchHub(std::string hubName, int depth) {
  if (depth > kMaxHubDepth || !NoteHubVisited(hubName)) return false;
  DeviceHandle hub(devices_,
                   devices_.OpenDevice("\\\\.\\" + hubName, GENERIC_WRITE, FILE_SHARE_WRITE,
                                       OPEN_EXISTING));
  if (!hub.valid()) return false;
  std::vector<BYTE> nodeInformation(usb_layout::kNodeInformationSize, 0);
  DWORD returned = 0;
  if (!devices_.DeviceIoControl(hub.get(), kIoctlUsbGetNodeInformation, nodeInformation.data(),
                                static_cast<DWORD>(nodeInformation.size()), nodeInformation.data(),
                                static_cast<DWORD>(nodeInformation.size()), &returned)) {
    return false;
  }
  const int portCount = nodeInformation[usb_layout::kNodeNumberOfPorts];
  if (observer_) observer_->OnHub(hubName, portCount);
  return SearchHubPorts(hub.get(), hubName, portCount, depth);
}

// Any non-zero connection status counts, so a camera that is plugged in but
// failed to enumerate is attached too.
bool CCameraProbe::SearchHubPorts(HANDLE hub, const std::string& hubName, int portCount,
                                  int depth) {
  for (int port = 1; port <= portCount; ++port) {
    std::vector<BYTE> connection(usb_layout::kConnectionInformationSize, 0);
    WriteU32(&connection, usb_layout::kConnectionIndex, static_cast<DWORD>(port));
    DWORD returned = 0;
    UsbPortSeen seen;
    seen.port = port;
    if (!devices_.DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformation, connection.data(),
                                  static_cast<DWORD>(connection.size()), connection.data(),
                                  static_cast<DWORD>(connection.size()), &returned)) {
      if (observer_) observer_->OnPort(hubName, seen);
      continue;
    }
    seen.answered = true;
    seen.status = ReadU32(connection, usb_layout::kConnectionStatus);
    seen.vendorId = ReadU16(connection, usb_layout::kConnectionIdVendor);
    seen.productId = ReadU16(connection, usb_layout::kConnectionIdProduct);
    seen.isHub = connection[usb_layout::kConnectionDeviceIsHub] != 0;
    if (!observer_ && seen.status != 0 && seen.vendorId == vendorId &&
        seen.productId == productId) {
      return true;
    }
    if (seen.isHub) {
      seen.hasDownstream = GetDownstreamHubName(hub, static_cast<ULONG>(port), &seen.downstream);
    }
    if (observer_) observer_->OnPort(hubName, seen);
    if (seen.hasDownstream && SearchHub(seen.downstream, depth + 1)) return true;
  }
  return false;
}

bool IsCameraAttached(Machine& machine) {
  CCameraProbe probe(machine.devices(), machine.environment(), kCameraVendorId, kCameraProductId,
                     kCameraDeviceName);
  return probe.IsAttached();
}

// The update step that asks the user to unplug the camera. There is one
// check after OK: a camera still attached then ends the setup.
int CSetupContext::ConfirmCameraOff(int action) {
  if (action == 0) {
    if (!IsCameraAttached(machine())) return 1;
    Log("Zentavo camera is on\n");
    if (unattended().GoesOnWithCamera(*this)) return 1;
    window().SetText(1, TURNOFFCAM);
    window().SetText(2, TURNCAMOFFMSG);
    window().SetCancelText(CANCEL);
    window().ShowCancel(true);
    window().SetConfirmText(OK);
    window().ShowConfirm(true);
    waitForInput = 1;
    return 0;
  }
  if (action == 1) {
    window().ShowCancel(false);
    window().ShowConfirm(false);
    if (!IsCameraAttached(machine())) return 1;
  } else if (action != 2) {
    return 0;
  }
  MessageBox(GetText(ABORTINSTALLHELP), MB_ICONINFORMATION);
  EndSetup(kExitUserCancel);
  return 0;
}
