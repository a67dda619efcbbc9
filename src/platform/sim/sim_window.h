// A top-level window of another program on the simulated desktop. The
// desktop keeps them; a simulated program that opens a window hands one over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/wintypes.h"

struct SimWindow {
  uintptr_t handle = 0;
  std::string title;
  std::string className;
  std::string program;  // full path of the owning program
  DWORD processId = 0;
  bool closesOnRequest = true;
  std::string button;                    // caption of its default button; "" none
  uint64_t closeDelayMs = 0;             // how long it takes to close once asked
  std::optional<uint64_t> closingAtMs;   // asked to close; goes at this virtual time
};
