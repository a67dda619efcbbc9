// The product's running program and its installer's windows.
#pragma once

#include "platform/wintypes.h"

class CSetupContext;

// The window of the product's own installer while it runs, or null.
HWND FindProductSetupWindow(CSetupContext& context);
