// The simulation's device service: USB host controllers, hubs and devices
// described in the machine file, answered with the byte layouts of the
// Windows USB requests, and the configuration manager's device tree.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/devices.h"
#include "platform/sim/sim_clock.h"

class SimDevices : public Devices {
 public:
  // The lines written with OutputDebugString, in order.
  virtual const std::string& debugOutput() const = 0;
  // The "usb" section of the machine format (null when the machine has none).
  virtual nlohmann::json ToJson() const = 0;
};

// Builds the devices from the "usb" section (may be null: no controllers).
// On a bad description returns null and sets *error to "<json pointer>: what is wrong".
std::unique_ptr<SimDevices> NewSimDevices(const nlohmann::json* usb,
                                          std::string* error);
