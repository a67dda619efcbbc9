// The real machine: every platform service over the Win32 API of the running
// Windows. Built only for Windows (the win32 and win64 builds).
#pragma once

#include <memory>

#include "platform/machine.h"

std::unique_ptr<Machine> NewWin32Machine();
