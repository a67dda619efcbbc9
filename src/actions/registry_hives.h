// Registry keys kept in files: a key with everything below it saved into a
// hive file and put back from one (the NT family's key restore, or Windows
// 9x's hive mounted and merged over the key), and the copying of keys that
// the merge is made of.
#pragma once

#include <string>

#include "platform/wintypes.h"

class CSetupContext;
class Registry;

// Value, subkey and class names while copying: 511 characters and the terminator.
inline constexpr DWORD kKeyNameBuffer = 512;

// Saves a key with everything below it into a hive file (which must not
// exist yet: it is deleted first). Win32 error code.
LONG SaveRegKey(CSetupContext& context, HKEY root, const std::string& subKey,
                const std::string& file);
// Puts a saved hive back: on the NT family the key's whole content is
// replaced; on Windows 9x the hive is loaded as HKEY_USERS "TEMP_HIVE" and
// merged over the key. Win32 error code.
LONG LoadRegKey(CSetupContext& context, HKEY root, const std::string& subKey,
                const std::string& file);
// The two ways of LoadRegKey, for a caller that has already asked which
// family it runs on.
LONG LoadRegKeyNt(CSetupContext& context, HKEY root, const std::string& subKey,
                  const std::string& file);
LONG LoadRegKey9x(CSetupContext& context, HKEY root, const std::string& subKey,
                  const std::string& file);
// Copies the values of `parent`'s subkey `subKey` onto `destination`.
LONG CopyKeyValues(CSetupContext& context, HKEY parent, const std::string& subKey,
                   HKEY destination);
// Copies every subkey of `source`, with its values and subkeys, under `destination`.
LONG CopyKeyTree(CSetupContext& context, HKEY destination, HKEY source);

// The `index`-th subkey of an open key with its class (512-byte buffers for
// each); ERROR_NO_MORE_ITEMS after the last.
LONG EnumSubKey(Registry& registry, HKEY key, DWORD index, std::string* name,
                std::string* keyClass);
