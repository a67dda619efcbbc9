// The registry service on both back ends: names without regard to case that
// keep their case, the codes of missing keys and values, of short buffers and
// of the end of an enumeration, typed values, deleting keys with subkeys, and
// what a saved hive file keeps.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "contract/contract_machine.h"
#include "platform/owners.h"

namespace {

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override {
    contract_ = MakeContractMachine();
    base_ = contract_->scratchKey();
  }
  void TearDown() override {
    reg().UnLoadKey(HKEY_USERS, kHiveName);  // left loaded only by a failed test
    DeleteTree(HKEY_CURRENT_USER, base_);
  }

  Registry& reg() { return contract_->machine().registry(); }

  // Removes a key and everything below it through the service itself.
  void DeleteTree(HKEY root, const std::string& path) {
    RegKey key(reg());
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS) return;
    for (;;) {
      char name[256];
      DWORD size = sizeof(name);
      if (reg().EnumKey(key.get(), 0, name, &size, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::string child = path + "\\" + name;
      DeleteTree(root, child);
      RegKey left(reg());
      if (left.Open(root, child, KEY_READ) == ERROR_SUCCESS) break;
    }
    key.Close();
    reg().DeleteKey(root, path);
  }

  static constexpr const char* kHiveName = "ZentavoContractHive";
  std::unique_ptr<ContractMachine> contract_;
  std::string base_;
};

TEST_F(RegistryContract, NamesIgnoreCaseAndKeepTheCaseTheyWereGiven) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_ + "\\MixedCase", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("ValueName", "text"), ERROR_SUCCESS);
  key.Close();

  std::string lower = base_ + "\\mixedcase";
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, lower, KEY_READ), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(key.QueryString("VALUENAME", 64, &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "text");
  char name[64];
  DWORD size = sizeof(name);
  ASSERT_EQ(reg().EnumValue(key.get(), 0, name, &size, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "ValueName");
  EXPECT_EQ(size, 9u);
  key.Close();

  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, base_, KEY_READ), ERROR_SUCCESS);
  size = sizeof(name);
  ASSERT_EQ(reg().EnumKey(key.get(), 0, name, &size, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "MixedCase");
  EXPECT_EQ(size, 9u);
}

TEST_F(RegistryContract, MissingKeysAndValuesGiveFileNotFound) {
  RegKey key(reg());
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, base_ + "\\Absent", KEY_READ), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.valid());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_, KEY_ALL_ACCESS), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(key.QueryString("Absent", 64, &text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg().DeleteValue(key.get(), "Absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg().DeleteKey(key.get(), "Absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, ShortBufferGivesMoreDataAndTheNeededSize) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Path", "C:\\Program Files\\Zentavo"), ERROR_SUCCESS);
  BYTE buffer[8];
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  EXPECT_EQ(reg().QueryValue(key.get(), "Path", &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 25u);
  size = 0;
  EXPECT_EQ(reg().QueryValue(key.get(), "Path", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 25u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  BYTE exact[25];
  size = sizeof(exact);
  ASSERT_EQ(reg().QueryValue(key.get(), "Path", &type, exact, &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<const char*>(exact), "C:\\Program Files\\Zentavo");
}

TEST_F(RegistryContract, EnumerationsEndWithNoMoreItems) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_, KEY_ALL_ACCESS), ERROR_SUCCESS);
  for (const char* child : {"Beta", "alpha", "Gamma"}) {
    RegKey sub(reg());
    ASSERT_EQ(sub.Create(key.get(), child, KEY_ALL_ACCESS), ERROR_SUCCESS);
  }
  ASSERT_EQ(key.SetDword("one", 1), ERROR_SUCCESS);
  ASSERT_EQ(key.SetDword("two", 2), ERROR_SUCCESS);
  std::vector<std::string> keys;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof(name);
    LONG rc = reg().EnumKey(key.get(), i, name, &size, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
  DWORD count = 0;
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof(name);
    LONG rc = reg().EnumValue(key.get(), i, name, &size, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    ++count;
  }
  EXPECT_EQ(count, 2u);
  DWORD subKeys = 0, values = 0;
  ASSERT_EQ(reg().QueryInfoKey(key.get(), &subKeys, nullptr, &values, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 2u);
}

TEST_F(RegistryContract, MultiStringAndBinaryValuesComeBackByteForByte) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_, KEY_ALL_ACCESS), ERROR_SUCCESS);
  const char list[] = "first\0second\0";  // and the array's own zero ends the list
  const BYTE binary[] = {0x00, 0xFF, 0x10, 0x80, 0x00};
  ASSERT_EQ(reg().SetValue(key.get(), "List", REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list),
                           sizeof(list)),
            ERROR_SUCCESS);
  ASSERT_EQ(reg().SetValue(key.get(), "Bytes", REG_BINARY, binary, sizeof(binary)), ERROR_SUCCESS);
  BYTE data[64];
  DWORD size = sizeof(data);
  DWORD type = 0;
  ASSERT_EQ(reg().QueryValue(key.get(), "List", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  ASSERT_EQ(size, sizeof(list));
  EXPECT_EQ(memcmp(data, list, sizeof(list)), 0);
  size = sizeof(data);
  ASSERT_EQ(reg().QueryValue(key.get(), "Bytes", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, sizeof(binary));
  EXPECT_EQ(memcmp(data, binary, sizeof(binary)), 0);
}

TEST_F(RegistryContract, HandlesKeepTheirRightsAndOutliveTheirKey) {
  RegKey writable(reg());
  ASSERT_EQ(writable.Create(HKEY_CURRENT_USER, base_ + "\\Doomed", KEY_ALL_ACCESS), ERROR_SUCCESS);
  RegKey readOnly(reg());
  ASSERT_EQ(readOnly.Open(HKEY_CURRENT_USER, base_ + "\\Doomed", KEY_READ), ERROR_SUCCESS);
  // Windows 9x keeps no rights with a handle: a read handle writes too.
  const bool nineX = NineX(contract_->machine());
  EXPECT_EQ(readOnly.SetDword("x", 1), nineX ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
  EXPECT_EQ(readOnly.Open(HKEY_CURRENT_USER, "\\" + base_, KEY_READ), ERROR_BAD_PATHNAME);
  ASSERT_EQ(readOnly.Open(HKEY_CURRENT_USER, base_ + "\\Doomed", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, base_ + "\\Doomed"), ERROR_SUCCESS);
  EXPECT_EQ(writable.SetDword("x", 1), ERROR_KEY_DELETED);
  DWORD value = 0;
  EXPECT_EQ(readOnly.QueryDword("x", &value), ERROR_KEY_DELETED);
}

// On the NT family RegDeleteKey refuses a key with subkeys; Windows 9x
// removes it with everything below it.
TEST_F(RegistryContract, DeleteKeyRefusesAKeyWithSubkeys) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_ + "\\Parent\\Child", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  key.Close();
  if (NineX(contract_->machine())) {
    EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, base_ + "\\Parent"), ERROR_SUCCESS);
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, base_ + "\\Parent\\Child", KEY_READ),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, base_ + "\\Parent", KEY_READ), ERROR_FILE_NOT_FOUND);
    return;
  }
  EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, base_ + "\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, base_ + "\\Parent\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(reg().DeleteKey(HKEY_CURRENT_USER, base_ + "\\Parent"), ERROR_SUCCESS);
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, base_ + "\\Parent", KEY_READ), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, SavedHiveKeepsValuesAndSubkeys) {
  Machine& machine = contract_->machine();
  std::string file = contract_->scratchDir() + "\\saved.hiv";
  {
    RegKey key(reg());
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_ + "\\Saved\\Sub", KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("Inner", "deep"), ERROR_SUCCESS);
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, base_ + "\\Saved", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("Name", "saved"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword("Count", 3), ERROR_SUCCESS);
    DWORD adjust = 0;
    machine.processes().EnablePrivilege("SeBackupPrivilege", &adjust);
    machine.processes().EnablePrivilege("SeRestorePrivilege", &adjust);
    ASSERT_EQ(reg().SaveKey(key.get(), file), ERROR_SUCCESS);
    DWORD attributes = 0;
    EXPECT_EQ(machine.files().GetAttributes(file, &attributes), 0u);
    if (contract_->simulated()) {
      // Windows refuses to write over a file; Wine replaces it.
      EXPECT_EQ(reg().SaveKey(key.get(), file), ERROR_ALREADY_EXISTS);
    }
  }

  ASSERT_EQ(reg().LoadKey(HKEY_USERS, kHiveName, file), ERROR_SUCCESS);
  {
    RegKey loaded(reg());
    ASSERT_EQ(loaded.Open(HKEY_USERS, std::string(kHiveName) + "\\Sub", KEY_READ), ERROR_SUCCESS);
    std::string text;
    EXPECT_EQ(loaded.QueryString("Inner", 64, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "deep");
    ASSERT_EQ(loaded.Open(HKEY_USERS, kHiveName, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(loaded.QueryString("Name", 64, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "saved");
    DWORD count = 0;
    EXPECT_EQ(loaded.QueryDword("Count", &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
  }
  EXPECT_EQ(reg().UnLoadKey(HKEY_USERS, kHiveName), ERROR_SUCCESS);

  if (contract_->simulated()) {
    // RegRestoreKey is a stub under Wine.
    RegKey key(reg());
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, base_ + "\\Restored", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString("Stale", "goes"), ERROR_SUCCESS);
    ASSERT_EQ(reg().RestoreKey(key.get(), file, REG_NO_LAZY_FLUSH), ERROR_SUCCESS);
    std::string text;
    EXPECT_EQ(key.QueryString("Stale", 64, &text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.QueryString("Name", 64, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "saved");
    RegKey sub(reg());
    EXPECT_EQ(sub.Open(key.get(), "Sub", KEY_READ), ERROR_SUCCESS);
  }
  machine.files().Delete(file);
}

}  // namespace
