// The simulated Windows Installer: the behaviour of "msiexec.exe". It reads
// the package's tables (Property, Directory, Component, File, Registry,
// CreateFolder) with libmsi from the package's bytes on the simulated
// machine, applies the transform named by TRANSFORMS=, and when the run ends
// writes the files (with the File table's versions as version resources),
// the registry values, the product's Uninstall key and its registration with
// a cached copy of the package; "/x {code}" removes them again. Format and
// exit codes: docs/machine-format.md, "Windows Installer".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SimMachine;

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

// Reads the named tables of a package given as bytes (a table the package
// lacks is left out), and the summary's template ("Intel;1033") when asked.
// False with a message when the bytes are no package.
bool ReadMsiTables(const std::string& packageBytes, const std::vector<std::string>& names,
                   MsiTables* tables, std::string* error, std::string* templateText = nullptr);

// Applies a transform (.mst bytes) to tables read with ReadMsiTables, as
// Windows Installer does: inserts, deletes and updates of rows by their keys.
// Streams of tables that are not in `tables` are passed over. False with a
// message when the bytes are no transform.
bool ApplyMsiTransform(const std::string& transformBytes, MsiTables* tables, std::string* error);

// Registers "msiexec.exe" with the machine's processes.
void RegisterSimWindowsInstaller(SimMachine& machine);
