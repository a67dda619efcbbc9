// WININIT.INI, through which Windows 9x replaces and deletes files when it
// next starts: its [rename] section holds lines "target=source" ("NUL" as
// the target deletes the source), in short (8.3) names, processed before
// Windows itself runs. Windows finds the section without regard to case.
#pragma once

#include <string>

// The text of WININIT.INI with `line` (without its line end) added at the end
// of its [rename] section, whatever case the section's name is written in;
// the section is added at the end when there is none.
std::string AddWininitLine(const std::string& text, const std::string& line);
