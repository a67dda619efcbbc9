// The USB part of a capture: the controllers and hubs as the camera probe's
// walk reads them, the configuration manager's device tree, and the driver
// devices that open.
#pragma once

#include "capture/json_text.h"
#include "capture/values.h"
#include "platform/machine.h"

namespace capture {

// The "usb" section (empty when the machine shows nothing of it).
JsonValue CaptureUsb(Machine& machine, const MachineText& texts);

}  // namespace capture
