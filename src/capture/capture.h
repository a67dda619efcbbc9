// The capture: a machine, as the setup can see it, written in the machine
// format of docs/machine-format.md, so that zentavo-sim rehearses the setup
// on it. It is written against the seam, so the same code reads the real
// machine in zentavo-capture.exe and a simulated one in the tests. It only
// reads: keys are opened for reading, nothing is created, written or started.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/path_chars.h"

namespace capture {

struct CaptureOptions {
  // A label for people (the description's "name").
  std::string name;
  // An earlier capture (its JSON text), for a capture after a run: every key
  // and file it holds is looked at again, so that what the run removed, also
  // where nothing names it any more, shows as removed.
  std::string earlier;
};

// The machine in the machine format, UTF-8. On a bad `earlier` text returns
// an empty string and sets *error.
std::string CaptureMachine(Machine& machine, const CaptureOptions& options, std::string* error);

// The registry keys and file paths of a description ("registry" and "files"
// members), UTF-8. False when the text is no JSON object.
bool DescribedNames(const std::string& json, std::vector<std::string>* keys,
                    std::vector<std::string>* files);

// The short (8.3) names of the folders on a path, from the path as Windows
// gives it and its long form: {"C:\\Documents and Settings": "DOCUME~1", ...}
// for "C:\\DOCUME~1\\User\\LOCALS~1\\Temp" and its long form.
// `paths` splits them (the machine's code page; single-byte when not given).
std::vector<std::pair<std::string, std::string>> ShortNamesOf(const std::string& path,
                                                             const std::string& longPath,
                                                             const PathChars& paths = PathChars());

// A Windows shell link file (.lnk) as the simulation writes its links: the
// "[ZentavoSimShellLink]" text of docs/machine-format.md with the target,
// working folder, description and arguments, the texts in the ANSI code page
// (`toAnsi` converts UTF-16 ones). False when the bytes are no shell link or
// name no target path.
bool ShellLinkAsText(const std::string& bytes,
                     const std::function<std::string(const std::u16string&)>& toAnsi,
                     std::string* text);

}  // namespace capture
