// SHA-256 (FIPS 180-2) of our own: Windows 98 to XP before SP3 have no
// SHA-256 in their crypto libraries, and the medium check must run there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
 public:
  static constexpr size_t kDigestSize = 32;

  CSha256() { Reset(); }
  void Reset();
  // Adds bytes to the message; any number of calls, pieces of any size.
  void Update(const void* data, size_t size);
  // Ends the message and writes the digest; Reset before hashing another.
  void Final(uint8_t digest[kDigestSize]);

  // The digest of `bytes` as 64 lower-case hexadecimal digits.
  static std::string HexDigest(const std::string& bytes);
  static std::string ToHex(const uint8_t digest[kDigestSize]);

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint64_t length_;  // bytes so far
  uint8_t buffer_[64];
  size_t buffered_;
};
