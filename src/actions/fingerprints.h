// What tells one state of the user's data from another: the SHA-256 of a
// file, read while nobody else may change it, and a 64-bit fingerprint of a
// registry key with everything below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/filesystem.h"
#include "platform/owners.h"

class CSetupContext;

// FNV-1a, 64 bits: enough to tell the new package's data from a change.
void Mix(uint64_t* hash, const void* data, size_t size);
// Every value and subkey below an open key, in the order Windows lists them.
bool MixKey(CSetupContext& context, HKEY key, int depth, uint64_t* hash);

// Opens `path` for reading (shared with readers only: while it is open
// nobody writes or deletes it, or renames its folder away) and reads its
// SHA-256 as 64 hexadecimal digits. The file stays open in `open`.
DWORD OpenAndDigest(FileSystem& files, const std::string& path, UniqueRead* open,
                    std::string* hex);
