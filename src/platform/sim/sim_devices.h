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

  // Device handles opened and not closed yet.
  virtual int openHandleCount() const = 0;
  // Sets the connection status of every port that holds a device with these
  // ids (0 unplugs it, 1 plugs it in again); returns how many ports changed.
  virtual int SetDeviceConnectionStatus(WORD vendorId, WORD productId, DWORD status) = 0;
  // Adds or removes a device that a driver offers, such as "crvnusb".
  virtual void SetDriverDevicePresent(const std::string& name, bool present) = 0;
};

// Builds the devices from the "usb" section (may be null: no controllers).
// On a bad description returns null and sets *error to "<json pointer>: what is wrong".
// With a clock, devices described with "connectedUntilMs" go away once that
// many virtual milliseconds have passed since the devices were built.
std::unique_ptr<SimDevices> NewSimDevices(const nlohmann::json* usb,
                                          std::string* error,
                                          const SimClock* clock = nullptr);
