#include "actions/fingerprints.h"

#include "actions/registry_hives.h"
#include "app/context.h"
#include "platform/sha256.h"

namespace {

constexpr size_t kDigestPiece = 64 * 1024;

}  // namespace

void Mix(uint64_t* hash, const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    *hash ^= bytes[i];
    *hash *= 1099511628211ull;
  }
}

bool MixKey(CSetupContext& context, HKEY key, int depth, uint64_t* hash) {
  Registry& registry = context.machine().registry();
  if (depth > 32) return false;
  DWORD count = 0, longestData = 0;
  if (registry.QueryInfoKey(key, nullptr, nullptr, &count, nullptr, &longestData) !=
      ERROR_SUCCESS) {
    return false;
  }
  std::string data(longestData + 1, '\0');
  for (DWORD index = 0; index < count; ++index) {
    char name[kKeyNameBuffer] = {};
    DWORD nameSize = kKeyNameBuffer;
    DWORD dataSize = longestData;
    DWORD type = REG_NONE;
    if (registry.EnumValue(key, index, name, &nameSize, &type,
                           reinterpret_cast<BYTE*>(data.data()), &dataSize) != ERROR_SUCCESS) {
      return false;
    }
    Mix(hash, name, nameSize + 1);
    Mix(hash, &type, sizeof(type));
    Mix(hash, data.data(), dataSize);
  }
  for (DWORD index = 0;; ++index) {
    std::string name, keyClass;
    LONG rc = EnumSubKey(registry, key, index, &name, &keyClass);
    if (rc == ERROR_NO_MORE_ITEMS) return true;
    if (rc != ERROR_SUCCESS) return false;
    Mix(hash, "\\", 1);
    Mix(hash, name.c_str(), name.size() + 1);
    RegKey child(registry);
    if (child.Open(key, name, KEY_READ) != ERROR_SUCCESS ||
        !MixKey(context, child.get(), depth + 1, hash)) {
      return false;
    }
  }
}

DWORD OpenAndDigest(FileSystem& files, const std::string& path, UniqueRead* open,
                    std::string* hex) {
  uint64_t size = 0;
  DWORD rc = files.OpenForRead(path, open->put(), &size);
  if (rc != ERROR_SUCCESS) return rc;
  CSha256 sha;
  for (;;) {
    std::string piece;
    rc = files.ReadPiece(open->get(), kDigestPiece, &piece);
    if (rc != ERROR_SUCCESS) return rc;
    if (piece.empty()) break;
    sha.Update(piece.data(), piece.size());
  }
  uint8_t digest[CSha256::kDigestSize];
  sha.Final(digest);
  *hex = CSha256::ToHex(digest);
  return ERROR_SUCCESS;
}
