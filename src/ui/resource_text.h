// The program's own English resource strings, shown before the language file
// is read. The Windows build carries the same texts in its string table.
#pragma once

inline constexpr unsigned kIdsInitFailed = 156;
inline constexpr unsigned kIdsIeRequired = 157;
inline constexpr const char* kTextInitFailed =
    "Initialization failed. A component required by this setup program could not be initialized.";
inline constexpr const char* kTextIeRequired =
    "Internet Explorer 4 or later is required by this application. Setup will now exit.";
// /?: the switches of the command line (string 158).
inline constexpr unsigned kIdsUsage = 158;
inline constexpr const char* kTextUsage =
    "setup [/quiet | /passive] [/norestart] [/log FILE] [/l LANGUAGE]\n\n"
    "/quiet, /q\tinstall without showing anything or asking anything\n"
    "/passive\tshow the progress, ask nothing\n"
    "/norestart\tnever restart Windows: a restart that is needed ends the setup with 3010, "
    "and the installation completes at the next start of Windows\n"
    "/log FILE\twrite the log to FILE (a full path; in quotes when it holds a space) "
    "instead of %TEMP%\\ZentavoInstall.log\n"
    "/l LANGUAGE\tthe language: 1033, 2057, 1031, 1034, 1036, 1040, 1041 or 2070\n"
    "/?\tthis list\n\n"
    "Exit codes: 0 installed, 1602 cancelled, 1603 failed, 3010 a restart is needed.";
// A file of the installation medium does not match its manifest or cannot be
// read (string 159); "%s" is the file's name on the medium.
inline constexpr unsigned kIdsMediumDamaged = 159;
inline constexpr const char* kTextMediumDamaged =
    "The installation medium is damaged: its file %s is not as it was made, or cannot be read. "
    "Setup stops before using it.\n\n"
    "If you install from a CD, clean the disc (or use another copy of it) and start the setup "
    "again. If you install from a network share, copy the installation files to the share "
    "again.";
