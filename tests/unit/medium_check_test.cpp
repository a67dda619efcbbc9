// SHA-256 against the published test vectors (FIPS 180-2, appendix B), and
// the manifest's lines: what parses and what makes the medium damaged.
#include <gtest/gtest.h>

#include "analysis/medium_check.h"
#include "platform/sha256.h"

namespace {

// The digest of `message` fed in pieces of `piece` bytes.
std::string InPieces(const std::string& message, size_t piece) {
  CSha256 hash;
  for (size_t at = 0; at < message.size(); at += piece) {
    hash.Update(message.data() + at, std::min(piece, message.size() - at));
  }
  uint8_t digest[CSha256::kDigestSize];
  hash.Final(digest);
  return CSha256::ToHex(digest);
}

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
  struct Vector {
    std::string message;
    const char* digest;
  };
  const Vector vectors[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
  };
  for (const Vector& v : vectors) {
    EXPECT_EQ(CSha256::HexDigest(v.message), v.digest) << v.message.size();
    // Pieces that end inside, at and across the 64-byte blocks.
    for (size_t piece : {1, 7, 55, 56, 64, 65, 4096}) {
      EXPECT_EQ(InPieces(v.message, piece), v.digest) << v.message.size() << " by " << piece;
    }
  }
}

TEST(MediumManifest, LinesThatParseAndLinesThatDoNot) {
  const std::string d(64, 'a');
  const std::string upper(64, 'A');
  struct Case {
    std::string text;
    size_t badLine;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {d + "  setup.ini\n" + d + "  System32/swflash.ocx\n", 0, {"setup.ini", "System32\\swflash.ocx"}},
      {d + " *Zentavo.msi\r\n" + upper + "  1033.mst", 0, {"Zentavo.msi", "1033.mst"}},
      {d + "  a b.txt\n", 0, {"a b.txt"}},
      {d + " setup.ini\n", 1, {}},               // one blank
      {d.substr(1) + "  setup.ini\n", 1, {}},    // a digit short
      {"g" + d.substr(1) + "  setup.ini\n", 1, {}},
      {d + "  setup.ini\n\n" + d + "  x\n", 2, {}},  // an empty line
      {d + "  ..\\boot.ini\n", 1, {}},
      {d + "  C:\\boot.ini\n", 1, {}},
      {d + "  \\boot.ini\n", 1, {}},
      {d + "  a//b\n", 1, {}},
      {d + "  \n", 1, {}},
      {d + "  setup.ini\n" + d + "  SETUP.INI\n", 2, {}},  // named twice
      {d + "  setup.ini\n" + d.substr(0, 20), 2, {}},       // cut off
  };
  for (const Case& c : cases) {
    std::vector<MediumFile> files;
    EXPECT_EQ(ParseMediumManifest(c.text, &files), c.badLine) << c.text;
    if (c.badLine != 0) continue;
    ASSERT_EQ(files.size(), c.names.size()) << c.text;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(files[i].name, c.names[i]);
      EXPECT_EQ(files[i].digest, d);
    }
  }
}

}  // namespace
