// The format of the installation medium's manifest, "medium.sha" beside
// setup.exe: one line per file the setup uses, "<SHA-256 in hex><two blanks
// or blank and '*'><name relative to the setup folder>", as sha256sum writes
// and checks it. Read by the setup's medium check and written by the
// simulation when it seals a medium.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

inline constexpr char kMediumManifestName[] = "medium.sha";

struct MediumFile {
  std::string name;    // relative to the setup folder, with backslashes
  std::string digest;  // 64 lower-case hexadecimal digits
};

// Parses the manifest's text. Returns 0 when every line parses, else the
// number (from 1) of the first line that does not: a line that is not a
// digest, two blanks (or a blank and '*') and a relative name, a name that
// leaves the setup folder, or a name given twice. A CR before the line feed
// is allowed; the last line may lack its line feed.
size_t ParseMediumManifest(const std::string& text, std::vector<MediumFile>* files);

// The manifest's text for these files, in their order: the digest, two
// blanks and the name with slashes, as sha256sum writes it.
std::string FormatMediumManifest(const std::vector<MediumFile>& files);
