// The texts that come with a medium or from a user's machine outside the
// setup's own files: the medium's manifest (medium.sha) and an earlier capture
// read by zentavo-capture --since. Any bytes either parse or are refused;
// what parses comes out the same when written and read again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/medium_check.h"
#include "capture/json_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::vector<MediumFile> files;
  if (ParseMediumManifest(text, &files) == 0) {
    std::string again;
    for (const MediumFile& file : files) {
      FUZZ_CHECK(file.digest.size() == 64);
      FUZZ_CHECK(file.digest.find_first_not_of("0123456789abcdef") == std::string::npos);
      FUZZ_CHECK(!file.name.empty() && file.name.front() != '\\' && file.name.back() != '\\');
      FUZZ_CHECK(file.name.find("..\\") != 0 && file.name.find(":") == std::string::npos);
      again += file.digest + "  " + file.name + "\n";
    }
    std::vector<MediumFile> reread;
    FUZZ_CHECK(ParseMediumManifest(again, &reread) == 0);
    FUZZ_CHECK(reread.size() == files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      FUZZ_CHECK(reread[i].digest == files[i].digest && reread[i].name == files[i].name);
    }
  }

  capture::JsonValue value;
  if (capture::JsonValue::Parse(text, &value)) {
    const std::string written = value.Text();
    capture::JsonValue reread;
    FUZZ_CHECK(capture::JsonValue::Parse(written, &reread));
    FUZZ_CHECK(reread.Text() == written);
  }
  return 0;
}
