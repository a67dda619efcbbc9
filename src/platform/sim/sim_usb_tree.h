// The simulated USB tree: host controllers, hubs with their ports, the
// configuration manager's device tree and the devices drivers offer by
// name, as the "usb" section of the machine file describes them. The device
// service answers requests from it (sim_devices.cpp); the description is
// read and written back here (sim_usb_tree.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/wintypes.h"

namespace sim_usb {

struct Port {
  WORD vendorId = 0;
  WORD productId = 0;
  DWORD status = 0;
  std::string hub;  // the downstream hub's name when the device is a hub
  bool isHub = false;
  std::optional<uint64_t> connectedUntilMs;
};

struct Hub {
  std::string name;
  std::vector<Port> ports;
  std::optional<DWORD> nameLength;  // the ActualLength reported for its name
};

struct Controller {
  int number = 0;
  std::string driverKey;
  std::optional<DWORD> driverKeyLength;
  std::string description;  // placed in the device tree under the root when not empty
  bool hasDescription = false;
  std::string rootHub;
};

struct DevNode {
  std::optional<std::string> driver;
  std::optional<std::string> description;
  int parent = -1;
  int firstChild = -1;
  int nextSibling = -1;
  bool fromController = false;  // placed by a controller's "description"
};

struct DriverDevice {
  std::string name;
  std::optional<uint64_t> connectedUntilMs;
};

// The connection statuses by their names in the machine file
// (USB_CONNECTION_STATUS).
extern const char* const kStatusNames[];
extern const DWORD kStatusNameCount;

inline std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A device that stays connected until `until` milliseconds of the machine's
// clock (none: for good).
inline bool StillConnected(const std::optional<uint64_t>& until, uint64_t elapsedMs) {
  return !until || elapsedMs < *until;
}
inline DWORD CurrentStatus(const Port& port, uint64_t elapsedMs) {
  return StillConnected(port.connectedUntilMs, elapsedMs) ? port.status : 0;
}

struct Tree {
  bool present = false;  // the machine file has a "usb" section
  bool configManagerLeavesOutputUnset = false;
  std::vector<Controller> controllers;
  std::vector<Hub> hubs;
  std::vector<DevNode> nodes{DevNode()};  // [0]: the root devnode, HTREE\ROOT\0
  std::vector<DriverDevice> driverDevices;

  // Hub names ignore case.
  const Hub* FindHub(const std::string& name) const;
  std::optional<size_t> FindHubIndex(const std::string& name) const;
  int AddDevNode(DevNode node, int parent);
};

// Reads the "usb" section (null: no USB at all) into an empty tree; false
// with the JSON pointer of the fault and what is wrong in `error`.
bool ReadTree(const nlohmann::json& usb, Tree* tree, std::string* error);
// The section as the tree stands `elapsedMs` after the machine started:
// devices unplugged since are left out, the rest keep their remaining time.
nlohmann::json TreeToJson(const Tree& tree, uint64_t elapsedMs);

}  // namespace sim_usb
