#include "platform/sha256.h"

#include <cstring>

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void CSha256::Reset() {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(state_, kInitial, sizeof(state_));
  length_ = 0;
  buffered_ = 0;
}

// The message schedule is kept as a window of sixteen words, each extended in
// place as the rounds reach it. Where speed is wanted (the simulation hashes
// every file of a medium in each rehearsal) the rounds are unrolled, so that
// the eight working variables rotate by renaming instead of by moves; the
// size-optimised Windows build keeps the loops.
#if defined(__OPTIMIZE_SIZE__) || !defined(__GNUC__)
#define ZT_SHA256_UNROLL(n)
#else
#define ZT_SHA256_PRAGMA(x) _Pragma(#x)
#define ZT_SHA256_UNROLL(n) ZT_SHA256_PRAGMA(GCC unroll n)
#endif

void CSha256::Block(const uint8_t* block) {
  uint32_t w[16];
  ZT_SHA256_UNROLL(16)
  for (int i = 0; i < 16; ++i) {
    w[i] = (uint32_t{block[4 * i]} << 24) | (uint32_t{block[4 * i + 1]} << 16) |
           (uint32_t{block[4 * i + 2]} << 8) | uint32_t{block[4 * i + 3]};
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  ZT_SHA256_UNROLL(64)
  for (int i = 0; i < 64; ++i) {
    if (i >= 16) {
      uint32_t w15 = w[(i - 15) & 15], w2 = w[(i - 2) & 15];
      uint32_t s0 = Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3);
      uint32_t s1 = Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10);
      w[i & 15] += s0 + w[(i - 7) & 15] + s1;
    }
    uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) +
                  kRound[i] + w[i & 15];
    uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

void CSha256::Update(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  length_ += size;
  if (buffered_ > 0) {
    size_t take = sizeof(buffer_) - buffered_;
    if (take > size) take = size;
    memcpy(buffer_ + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ < sizeof(buffer_)) return;
    Block(buffer_);
    buffered_ = 0;
  }
  for (; size >= sizeof(buffer_); bytes += sizeof(buffer_), size -= sizeof(buffer_)) Block(bytes);
  memcpy(buffer_, bytes, size);
  buffered_ = size;
}

void CSha256::Final(uint8_t digest[kDigestSize]) {
  const uint64_t bits = length_ * 8;
  // A 1 bit, zeros up to 56 bytes into the last block, then the length in bits.
  static const uint8_t kPad[64] = {0x80};
  Update(kPad, buffered_ < 56 ? 56 - buffered_ : 120 - buffered_);
  uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(lengthBytes, sizeof(lengthBytes));
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
}

std::string CSha256::ToHex(const uint8_t digest[kDigestSize]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * kDigestSize);
  for (size_t i = 0; i < kDigestSize; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

std::string CSha256::HexDigest(const std::string& bytes) {
  CSha256 hash;
  hash.Update(bytes.data(), bytes.size());
  uint8_t digest[kDigestSize];
  hash.Final(digest);
  return ToHex(digest);
}
