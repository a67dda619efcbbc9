// The program's own English resource strings, shown before the language file
// is read. The Windows build carries the same texts in its string table.
#pragma once

inline constexpr unsigned kIdsInitFailed = 156;
inline constexpr unsigned kIdsIeRequired = 157;
inline constexpr const char* kTextInitFailed =
    "Initialization failed. A component required by this setup program could not be initialized.";
inline constexpr const char* kTextIeRequired =
    "Internet Explorer 4 or later is required by this application. Setup will now exit.";
