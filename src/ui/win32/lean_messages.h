// Forced into every source of setup.exe (-include, top CMakeLists.txt).
// The C++ library's headers hand a message text to each failure they report
// ("basic_string::_M_create" and the like, one copy in every object file
// that uses the function). setup.exe ends the program at each such failure
// without showing or logging anything (lean_runtime.cpp), so the texts are
// never read: each is made empty here, which leaves them out.
#pragma once

#include <bits/c++config.h>

// An empty text where a format is expected is meant here.
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#undef __N
#define __N(msgid) ("")
