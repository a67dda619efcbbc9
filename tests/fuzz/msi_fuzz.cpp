// The product package and its transforms as the simulated Windows Installer
// reads them from a medium: any bytes, taken as a package, give tables or a
// message; taken as a transform over the demo package's tables, they apply
// or give a message. Tables keep their shape either way: every row has one
// cell per column, and the tables a transform touches are still there.
// The demo package is named by ZT_FUZZ_MSI_PACKAGE (scripts/fuzz.sh sets it).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "platform/sim/sim_msi_tables.h"

namespace {

// The tables the simulated Windows Installer reads.
const std::vector<std::string> kTables = {"Property", "Directory",  "Component",
                                          "File",     "Registry",   "CreateFolder"};

MsiTables g_base;

void CheckShape(const MsiTables& tables) {
  for (const auto& [name, table] : tables) {
    FUZZ_CHECK(!name.empty());
    for (const std::vector<MsiCell>& row : table.rows) {
      FUZZ_CHECK(row.size() == table.columns.size());
    }
    for (size_t row = 0; row < table.rows.size(); ++row) {
      for (const MsiColumn& column : table.columns) (void)table.Text(row, column.name);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* path = getenv("ZT_FUZZ_MSI_PACKAGE");
  if (path == nullptr) {
    fprintf(stderr, "fuzz_msi: set ZT_FUZZ_MSI_PACKAGE to the demo medium's Zentavo.msi\n");
    exit(2);
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string error;
  if (!ReadMsiTables(bytes.str(), kTables, &g_base, &error)) {
    fprintf(stderr, "fuzz_msi: %s: %s\n", path, error.c_str());
    exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // As the package itself.
  MsiTables package;
  std::string error;
  MsiSummary summary;
  if (ReadMsiTables(bytes, kTables, &package, &error, &summary)) {
    CheckShape(package);
  } else {
    FUZZ_CHECK(!error.empty());
  }

  // As a transform of the demo package.
  MsiTables transformed = g_base;
  error.clear();
  if (ApplyMsiTransform(bytes, &transformed, &error)) {
    FUZZ_CHECK(transformed.size() == g_base.size());
    CheckShape(transformed);
  } else {
    FUZZ_CHECK(!error.empty());
  }
  return 0;
}
