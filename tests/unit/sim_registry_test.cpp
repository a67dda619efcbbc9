// The simulated registry: names, codes, access, deleted keys, hives and the
// description format.
#include <cstring>

#include "platform/owners.h"
#include "sim_test_support.h"

namespace {

const char kMachine[] = R"({"registry": {
  "HKLM\\SOFTWARE\\Vendor\\Product": {"Path": "C:\\Product", "Count": 7,
    "Zeta": "z", "alpha": "a",
    "Raw": {"type": "REG_BINARY", "data": "01 02 ff"},
    "List": {"type": "REG_MULTI_SZ", "data": ["one", "two"]},
    "Expand": {"type": "REG_EXPAND_SZ", "data": "%SystemRoot%\\x"}},
  "HKLM\\SOFTWARE\\Vendor\\Product\\Beta": {},
  "HKLM\\SOFTWARE\\Vendor\\Product\\alpha": {},
  "HKLM\\SOFTWARE\\Vendor\\Product\\Gamma\\Deep": {},
  "HKLM\\SOFTWARE\\Locked": {"$deny": "write", "v": 1},
  "HKLM\\SOFTWARE\\Hidden": {"$deny": "all"}
}})";

class SimRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = SimFrom(kMachine);
    ASSERT_TRUE(machine_);
  }
  Registry& reg() { return machine_->registry(); }
  std::unique_ptr<SimMachine> machine_;
};

TEST_F(SimRegistryTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "software\\VENDOR\\product", KEY_READ), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(key.QueryString("PATH", 260, &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "C:\\Product");
  char name[64];
  DWORD size = sizeof(name);
  DWORD type = 0;
  ASSERT_EQ(reg().EnumValue(key.get(), 0, name, &size, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Path");
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, REG_SZ);
}

TEST_F(SimRegistryTest, ValuesAreReplacedInPlaceAndDeletedByAnyCase) {
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("PATH", "D:\\New"), ERROR_SUCCESS);
  ASSERT_EQ(reg().DeleteValue(key.get(), "zeta"), ERROR_SUCCESS);
  EXPECT_EQ(reg().DeleteValue(key.get(), "Zeta"), ERROR_FILE_NOT_FOUND);
  std::vector<std::string> values;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof(name);
    LONG rc = reg().EnumValue(key.get(), i, name, &size, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    values.push_back(name);
  }
  EXPECT_EQ(values, (std::vector<std::string>{"Path", "Count", "alpha", "Raw", "List", "Expand"}))
      << "a replaced value keeps its place and the case it was first given";
  EXPECT_EQ(machine_->simRegistry().GetString("HKLM\\SOFTWARE\\Vendor\\Product", "path"),
            "D:\\New");
  ASSERT_TRUE(machine_->simRegistry().SetString("HKLM\\SOFTWARE\\Vendor\\Product", "COUNT", "x"));
  DWORD type = 0;
  ASSERT_TRUE(machine_->simRegistry().GetValue("HKLM\\SOFTWARE\\Vendor\\Product", "Count", &type,
                                               nullptr));
  EXPECT_EQ(type, REG_SZ);
  DWORD count = 0;
  ASSERT_EQ(reg().QueryInfoKey(key.get(), nullptr, nullptr, &count, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 6u);
}

TEST_F(SimRegistryTest, MissingKeysAndValuesGiveFileNotFound) {
  RegKey key(reg());
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Nothing", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(reg().QueryValue(key.get(), "Nothing", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg().DeleteValue(key.get(), "Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg().DeleteKey(key.get(), "Nothing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimRegistryTest, SmallBufferGivesMoreDataWithTheNeededSize) {
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_READ), ERROR_SUCCESS);
  BYTE buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  EXPECT_EQ(reg().QueryValue(key.get(), "Path", &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);  // "C:\Product" and its zero
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(buffer[0], 0xAA) << "nothing written on failure";
  size = 0;
  EXPECT_EQ(reg().QueryValue(key.get(), "Path", nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 11u);
  BYTE data[32];
  size = sizeof(data);
  ASSERT_EQ(reg().QueryValue(key.get(), "Raw", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(Bytes(data, size), std::string("\x01\x02\xff", 3));
  size = sizeof(data);
  ASSERT_EQ(reg().QueryValue(key.get(), "List", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(Bytes(data, size), std::string("one\0two\0\0", 9));
  DWORD count = 0;
  EXPECT_EQ(key.QueryDword("Count", &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 7u);
}

TEST_F(SimRegistryTest, EnumerationOrderAndEnd) {
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_READ), ERROR_SUCCESS);
  std::vector<std::string> keys;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof(name);
    LONG rc = reg().EnumKey(key.get(), i, name, &size, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(size, strlen(name));
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
  std::vector<std::string> values;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof(name);
    LONG rc = reg().EnumValue(key.get(), i, name, &size, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    values.push_back(name);
  }
  EXPECT_EQ(values, (std::vector<std::string>{"Path", "Count", "Zeta", "alpha", "Raw", "List",
                                              "Expand"}));
  char small[3];
  DWORD size = sizeof(small);
  EXPECT_EQ(reg().EnumKey(key.get(), 0, small, &size, nullptr, nullptr), ERROR_MORE_DATA);
  DWORD subKeys = 0, maxKey = 0, count = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(reg().QueryInfoKey(key.get(), &subKeys, &maxKey, &count, &maxName, &maxData),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxKey, 5u);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(maxName, 6u);
  EXPECT_EQ(maxData, 15u);  // "%SystemRoot%\x" and its zero
}

TEST_F(SimRegistryTest, HandleRightsAndDeniedKeys) {
  RegKey readOnly(reg());
  ASSERT_EQ(readOnly.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_READ),
            ERROR_SUCCESS);
  EXPECT_EQ(readOnly.SetDword("New", 1), ERROR_ACCESS_DENIED);
  RegKey writeOnly(reg());
  ASSERT_EQ(writeOnly.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_SET_VALUE),
            ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(writeOnly.QueryString("Path", 260, &text), ERROR_ACCESS_DENIED);

  RegKey locked(reg());
  EXPECT_EQ(locked.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", KEY_ALL_ACCESS),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(locked.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Child", KEY_READ),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(locked.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", KEY_READ), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(locked.QueryDword("v", &value), ERROR_SUCCESS);
  EXPECT_EQ(reg().DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked"), ERROR_ACCESS_DENIED);
  RegKey hidden(reg());
  EXPECT_EQ(hidden.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hidden", KEY_READ), ERROR_ACCESS_DENIED);
}

TEST_F(SimRegistryTest, DeleteKeyRefusesSubkeysAndDeletedKeysAnswer1018) {
  EXPECT_EQ(reg().DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Gamma"),
            ERROR_ACCESS_DENIED);
  RegKey deep(reg());
  ASSERT_EQ(deep.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Gamma\\Deep",
                      KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  EXPECT_EQ(reg().DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Gamma\\Deep"),
            ERROR_SUCCESS);
  EXPECT_EQ(deep.SetDword("x", 1), ERROR_KEY_DELETED);
  DWORD size = 0;
  EXPECT_EQ(reg().QueryValue(deep.get(), "x", nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(reg().DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Gamma"),
            ERROR_SUCCESS);
  EXPECT_FALSE(machine_->simRegistry().KeyExists("HKLM\\SOFTWARE\\Vendor\\Product\\Gamma"));
}

TEST_F(SimRegistryTest, HandlesAreCountedAndBadOnesRefused) {
  size_t before = machine_->simRegistry().openKeyCount();
  {
    RegKey a(reg()), b(reg());
    DWORD disposition = 0;
    ASSERT_EQ(a.Create(HKEY_CURRENT_USER, "Software\\New\\Key", KEY_ALL_ACCESS, "", &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(b.Create(HKEY_CURRENT_USER, "software\\new\\key", KEY_ALL_ACCESS, "", &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(machine_->simRegistry().openKeyCount(), before + 2);
  }
  EXPECT_EQ(machine_->simRegistry().openKeyCount(), before);
  HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x4321));
  EXPECT_EQ(reg().CloseKey(bogus), ERROR_INVALID_HANDLE);
  DWORD size = 0;
  EXPECT_EQ(reg().QueryValue(bogus, "", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST_F(SimRegistryTest, SavedHiveRestoresTheWholeKey) {
  SimRegistry& sim = machine_->simRegistry();
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  ASSERT_TRUE(machine_->simFiles().MakeFolders("C:\\Temp\\"));
  // On NT the hive calls need the backup and restore privileges enabled.
  EXPECT_EQ(reg().SaveKey(key.get(), "C:\\Temp\\product.hiv"), 1314);
  EXPECT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\product.hiv", 0), 1314);
  EXPECT_EQ(reg().LoadKey(HKEY_USERS, "TEMP_HIVE", "C:\\Temp\\product.hiv"), 1314);
  EXPECT_EQ(reg().UnLoadKey(HKEY_USERS, "TEMP_HIVE"), 1314);
  DWORD adjusted = 0;
  machine_->processes().EnablePrivilege("SeBackupPrivilege", &adjusted);
  machine_->processes().EnablePrivilege("SeRestorePrivilege", &adjusted);
  ASSERT_EQ(reg().SaveKey(key.get(), "C:\\Temp\\product.hiv"), ERROR_SUCCESS);
  EXPECT_EQ(reg().SaveKey(key.get(), "C:\\Temp\\product.hiv"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(reg().SaveKey(key.get(), "C:\\Missing\\product.hiv"), ERROR_PATH_NOT_FOUND);

  ASSERT_EQ(key.SetString("Added", "later"), ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Path", "D:\\Changed"), ERROR_SUCCESS);
  ASSERT_TRUE(sim.SetString("HKLM\\SOFTWARE\\Vendor\\Product\\NewChild", "v", "1"));
  {
    RegKey child(reg());
    ASSERT_EQ(child.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Beta", KEY_READ),
              ERROR_SUCCESS);
    EXPECT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\product.hiv", 0), ERROR_ACCESS_DENIED)
        << "a handle below the key is still open";
  }
  ASSERT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\product.hiv", REG_NO_LAZY_FLUSH),
            ERROR_SUCCESS);
  EXPECT_EQ(sim.GetString("HKLM\\SOFTWARE\\Vendor\\Product", "Path"), "C:\\Product");
  EXPECT_FALSE(sim.GetString("HKLM\\SOFTWARE\\Vendor\\Product", "Added"));
  EXPECT_FALSE(sim.KeyExists("HKLM\\SOFTWARE\\Vendor\\Product\\NewChild"));
  EXPECT_TRUE(sim.KeyExists("HKLM\\SOFTWARE\\Vendor\\Product\\Gamma\\Deep"));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(sim.GetValue("HKLM\\SOFTWARE\\Vendor\\Product", "List", &type, &data));
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(data, std::string("one\0two\0\0", 9));
  {
    // A handle into the replaced tree outlives it, and its old parent too.
    RegKey stale(reg());
    ASSERT_EQ(stale.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Gamma\\Deep", KEY_READ),
              ERROR_SUCCESS);
    ASSERT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\product.hiv", 8), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(reg().QueryValue(stale.get(), "", nullptr, nullptr, &size), ERROR_KEY_DELETED);
    key.Close();
    EXPECT_TRUE(sim.RemoveTree("HKLM\\SOFTWARE\\Vendor"));
    RegKey other(reg());
    ASSERT_EQ(other.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(other.SetString("v", "x"), ERROR_SUCCESS);
    EXPECT_EQ(reg().RestoreKey(other.get(), "C:\\Temp\\product.hiv", 0), ERROR_SUCCESS);
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Again", KEY_ALL_ACCESS), ERROR_SUCCESS);
  }
  EXPECT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\none.hiv", 0), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(machine_->simFiles().Put("C:\\Temp\\garbage.hiv", "not a hive"));
  EXPECT_EQ(reg().RestoreKey(key.get(), "C:\\Temp\\garbage.hiv", 0), ERROR_BADDB);
}

TEST_F(SimRegistryTest, LoadedHiveIsWrittenBackWhenUnloaded) {
  SimRegistry& sim = machine_->simRegistry();
  RegKey key(reg());
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", KEY_READ), ERROR_SUCCESS);
  DWORD adjusted = 0;
  machine_->processes().EnablePrivilege("SeBackupPrivilege", &adjusted);
  machine_->processes().EnablePrivilege("SeRestorePrivilege", &adjusted);
  ASSERT_EQ(reg().SaveKey(key.get(), "C:\\saved.hiv"), ERROR_SUCCESS);
  key.Close();

  EXPECT_EQ(reg().LoadKey(HKEY_CURRENT_USER, "TEMP_HIVE", "C:\\saved.hiv"),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg().UnLoadKey(HKEY_USERS, "TEMP_HIVE"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg().LoadKey(HKEY_USERS, "TEMP_HIVE", "C:\\saved.hiv"), ERROR_SUCCESS);
  EXPECT_EQ(sim.GetString("HKU\\TEMP_HIVE", "Path"), "C:\\Product");
  EXPECT_EQ(reg().LoadKey(HKEY_USERS, "temp_hive", "C:\\saved.hiv"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(machine_->files().Delete("C:\\saved.hiv"), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
      << "the loaded hive's file is in use";
  {
    RegKey inside(reg());
    ASSERT_EQ(inside.Open(HKEY_USERS, "TEMP_HIVE\\Beta", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(inside.SetString("Note", "written while loaded"), ERROR_SUCCESS);
    EXPECT_EQ(reg().UnLoadKey(HKEY_USERS, "TEMP_HIVE"), ERROR_ACCESS_DENIED);
  }
  ASSERT_EQ(reg().UnLoadKey(HKEY_USERS, "TEMP_HIVE"), ERROR_SUCCESS);
  EXPECT_FALSE(sim.KeyExists("HKU\\TEMP_HIVE"));
  ASSERT_EQ(reg().LoadKey(HKEY_LOCAL_MACHINE, "AGAIN", "C:\\saved.hiv"), ERROR_SUCCESS);
  EXPECT_EQ(sim.GetString("HKLM\\AGAIN\\Beta", "Note"), "written while loaded");
  EXPECT_EQ(reg().UnLoadKey(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_INVALID_PARAMETER);
}

TEST_F(SimRegistryTest, DescriptionRoundTripKeepsTypesOrderAndOddBytes) {
  RegKey key(reg());
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Odd", KEY_ALL_ACCESS), ERROR_SUCCESS);
  const BYTE unterminated[] = {'a', 'b'};
  ASSERT_EQ(reg().SetValue(key.get(), "NoZero", REG_SZ, unterminated, sizeof(unterminated)),
            ERROR_SUCCESS);
  const BYTE shortDword[] = {1, 2};
  ASSERT_EQ(reg().SetValue(key.get(), "Short", REG_DWORD, shortDword, sizeof(shortDword)),
            ERROR_SUCCESS);
  ASSERT_EQ(reg().SetValue(key.get(), "Qword", 11, shortDword, sizeof(shortDword)),
            ERROR_SUCCESS);
  ASSERT_EQ(key.SetString("Espa\xF1ol", "Espa\xF1ol"), ERROR_SUCCESS);
  key.Close();

  std::string first = machine_->ToJson();
  std::string error;
  auto again = SimMachine::FromJson(first, "state", &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->ToJson(), first);
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(again->simRegistry().GetValue("HKCU\\Software\\Odd", "NoZero", &type, &data));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, "ab");
  EXPECT_EQ(again->simRegistry().GetString("HKCU\\Software\\Odd", "ESPA\xD1OL"), "Espa\xF1ol");
  EXPECT_NE(first.find("\"Espa\xC3\xB1ol\""), std::string::npos) << "UTF-8 in the description";
  EXPECT_NE(first.find("\"$deny\": \"write\""), std::string::npos);
}

TEST(SimRegistryDescription, BadValuesAreNamedByTheirPointer) {
  EXPECT_EQ(SimError(R"({"registry": {"HKXX\\A": {}}})"),
            "test.json: /registry/HKXX\\A: the key path must begin with HKLM, HKCU, HKCR or HKU");
  EXPECT_EQ(SimError(R"({"registry": {"HKLM\\A": {"v": -1}}})"),
            "test.json: /registry/HKLM\\A/v: expected an unsigned integer");
  EXPECT_EQ(SimError(R"({"registry": {"HKLM\\A": {"v": {"type": "REG_SZ", "data": 1}}}})"),
            "test.json: /registry/HKLM\\A/v/data: expected a string");
  EXPECT_EQ(SimError(R"({"registry": {"HKLM\\A": {"v": {"type": "REG_TEXT", "data": ""}}}})"),
            "test.json: /registry/HKLM\\A/v/type: unknown value type");
  EXPECT_EQ(SimError(R"({"registry": {"HKLM\\A": {"$deny": "read"}}})"),
            "test.json: /registry/HKLM\\A/$deny: expected \"write\", \"all\" or \"none\"");
  EXPECT_EQ(SimError(R"({"registry": {"HKLM\\A": {"v": {"type": "REG_BINARY", "data": "0g"}}}})"),
            "test.json: /registry/HKLM\\A/v/data: not a hex digit: 'g'");
}

}  // namespace
