// Character classes of plain ASCII, as the C library's "C" locale has them
// (which is the only locale the setup runs in): the few places that fold or
// skip characters do it here, without importing the library's versions.
#pragma once

inline int AsciiLower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// Blank, tab, line feed, vertical tab, form feed, carriage return.
inline bool AsciiSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
