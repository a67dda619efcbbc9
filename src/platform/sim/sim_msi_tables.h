// Windows Installer packages and transforms as tables: read with libmsi,
// transforms applied record by record as Windows Installer applies them
// (the layout: docs/machine-format.md, "Windows Installer"). Used by the
// simulated Windows Installer and by the transform tool zentavo-mkmst.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One table of a package as libmsi gives it: string cells in UTF-8.
struct MsiColumn {
  std::string name;
  bool isString = false;
  bool isBinary = false;
  int width = 2;  // bytes of an integer column
  bool isKey = false;
};

struct MsiCell {
  bool null = true;
  int32_t number = 0;
  std::string text;
};

struct MsiTable {
  std::vector<MsiColumn> columns;
  std::vector<std::vector<MsiCell>> rows;
  // The index of a column by name; -1 when the table has none of that name.
  int Column(const std::string& name) const;
  // The text of a cell ("" for null or a missing column).
  std::string Text(size_t row, const std::string& column) const;
  int32_t Number(size_t row, const std::string& column, int32_t absent) const;
};

using MsiTables = std::map<std::string, MsiTable>;

// What the summary information says of a package.
struct MsiSummary {
  std::string templateText;  // "platform;language", e.g. "Intel;1033"
  unsigned codePage = 1252;
  uint64_t created = 0;  // FILETIME of its creation
  std::string packageCode;  // the revision number: the package's own GUID
};

// Reads the named tables of a package given as bytes (all of its tables
// when `names` is empty; a table the package lacks is left out), and its
// summary when asked. False with a message when the bytes are no package.
bool ReadMsiTables(const std::string& packageBytes, const std::vector<std::string>& names,
                   MsiTables* tables, std::string* error, MsiSummary* summary = nullptr);

// The name of a table's stream in a package or transform: U+4840, then the
// characters of "0-9A-Za-z._" packed two to a character, in UTF-8 (as
// libgsf names streams).
std::string MsiTableStreamName(const std::string& table);

// Applies a transform (.mst bytes) to tables read with ReadMsiTables, as
// Windows Installer does: inserts, deletes and updates of rows by their keys.
// Streams of tables that are not in `tables` are passed over. False with a
// message when the bytes are no transform.
bool ApplyMsiTransform(const std::string& transformBytes, MsiTables* tables, std::string* error);
