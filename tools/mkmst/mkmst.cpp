// zentavo-mkmst: writes a Windows Installer transform (.mst) from the
// difference between two packages, the base and a copy edited with msibuild.
//
//   zentavo-mkmst BASE.msi TARGET.msi OUT.mst
//
// A transform is an OLE compound file (class {000C1082-0000-0000-C000-
// 000000000046}) holding a summary information stream, a string table
// (_StringPool, _StringData) and one stream per changed table, each a list of
// row records: insert (every column), delete (the key columns) or update (the
// key columns and the changed ones). Rows are compared through libmsi; the
// tool handles changed, added and removed rows of tables that both packages
// have with the same columns. Tables or columns that differ, and changed
// binary columns, are refused with a message: they need records this tool
// does not write.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include "platform/sim/sim_msi_tables.h"
#include "platform/sim/gobject_ptr.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

struct ErrorText {
  GError* error = nullptr;
  ~ErrorText() {
    if (error) g_error_free(error);
  }
  std::string What() const { return error ? error->message : "unknown error"; }
};

class Failure {
 public:
  explicit Failure(std::string what) : what_(std::move(what)) {}
  const std::string& what() const { return what_; }

 private:
  std::string what_;
};

// Rows of a table by the text of their key cells.
std::map<std::string, const std::vector<MsiCell>*> RowsByKey(const MsiTable& table) {
  std::map<std::string, const std::vector<MsiCell>*> rows;
  for (const std::vector<MsiCell>& row : table.rows) {
    std::string key;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (!table.columns[i].isKey) continue;
      const MsiCell& cell = row[i];
      key += cell.null ? std::string("\x01") : table.columns[i].isString ? cell.text
                                                                        : std::to_string(cell.number);
      key += '\0';
    }
    rows[key] = &row;
  }
  return rows;
}

bool SameCell(const MsiCell& a, const MsiCell& b) {
  return a.null == b.null && a.number == b.number && a.text == b.text;
}

// The string table of the transform: ids from 1 in the order of first use.
class StringPool {
 public:
  explicit StringPool(unsigned codePage) : codePage_(codePage) {}

  uint16_t Id(const std::string& utf8) {
    if (utf8.empty()) return 0;
    auto it = ids_.find(utf8);
    if (it == ids_.end()) {
      if (strings_.size() >= 0xFFFF) throw Failure("more strings than two-byte ids can name");
      strings_.push_back({Encode(utf8), 0});
      it = ids_.emplace(utf8, static_cast<uint16_t>(strings_.size())).first;
    }
    ++strings_[it->second - 1].references;
    return it->second;
  }

  std::string PoolBytes() const {
    std::string out;
    Put16(&out, codePage_);
    Put16(&out, 0);
    for (const Entry& entry : strings_) {
      Put16(&out, static_cast<uint16_t>(entry.bytes.size()));
      Put16(&out, entry.references);
    }
    return out;
  }
  std::string DataBytes() const {
    std::string out;
    for (const Entry& entry : strings_) out += entry.bytes;
    return out;
  }

  static void Put16(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
  }

 private:
  struct Entry {
    std::string bytes;
    uint16_t references;
  };

  std::string Encode(const std::string& utf8) const {
    std::string charset = "CP" + std::to_string(codePage_);
    gsize written = 0;
    GError* error = nullptr;
    gchar* converted = g_convert(utf8.c_str(), static_cast<gssize>(utf8.size()), charset.c_str(),
                                 "UTF-8", nullptr, &written, &error);
    if (!converted) {
      std::string what = error ? error->message : "conversion failed";
      if (error) g_error_free(error);
      throw Failure("\"" + utf8 + "\" in code page " + std::to_string(codePage_) + ": " + what);
    }
    std::string out(converted, written);
    g_free(converted);
    if (out.size() > 0xFFFF) throw Failure("a string longer than 65535 bytes");
    return out;
  }

  unsigned codePage_;
  std::map<std::string, uint16_t> ids_;
  std::vector<Entry> strings_;
};

void PutValue(std::string* out, const MsiColumn& column, const MsiCell& cell, StringPool* pool) {
  if (column.isString) {
    StringPool::Put16(out, cell.null ? 0 : pool->Id(cell.text));
  } else if (column.width == 2) {
    StringPool::Put16(out, cell.null ? 0 : static_cast<uint32_t>(cell.number + 0x8000));
  } else {
    uint32_t raw = cell.null ? 0 : static_cast<uint32_t>(cell.number) ^ 0x80000000u;
    StringPool::Put16(out, raw & 0xFFFF);
    StringPool::Put16(out, raw >> 16);
  }
}

// The records of one table's stream: deletes, updates, inserts.
std::string TableRecords(const std::string& name, const MsiTable& base, const MsiTable& target,
                         StringPool* pool) {
  std::string out;
  size_t columns = base.columns.size();
  bool hasBinary = false;
  for (const MsiColumn& column : base.columns) hasBinary = hasBinary || column.isBinary;
  auto refuseBinary = [&]() {
    if (hasBinary) throw Failure(name + ": rows of a table with binary columns changed");
  };
  auto before = RowsByKey(base), after = RowsByKey(target);
  for (const auto& [key, row] : before) {
    if (after.count(key)) continue;
    refuseBinary();
    StringPool::Put16(&out, 0);
    for (size_t i = 0; i < columns; ++i) {
      if (base.columns[i].isKey) PutValue(&out, base.columns[i], (*row)[i], pool);
    }
  }
  for (const auto& [key, row] : after) {
    auto old = before.find(key);
    if (old == before.end()) {
      refuseBinary();
      StringPool::Put16(&out, static_cast<uint32_t>((columns << 8) | 1));
      for (size_t i = 0; i < columns; ++i) PutValue(&out, base.columns[i], (*row)[i], pool);
      continue;
    }
    uint32_t mask = 0;
    for (size_t i = 0; i < columns; ++i) {
      if (!base.columns[i].isKey && !SameCell((*row)[i], (*old->second)[i])) {
        mask |= i < 31 ? 1u << i : 0x80000000u;
      }
    }
    if (!mask) continue;
    refuseBinary();
    if (mask > 0xFFFF) throw Failure(name + ": a change past column 16 does not fit a mask");
    StringPool::Put16(&out, mask);
    for (size_t i = 0; i < columns; ++i) {
      if (base.columns[i].isKey || (mask & (1u << i))) {
        PutValue(&out, base.columns[i], (*row)[i], pool);
      }
    }
  }
  return out;
}

// The summary information property set (one section, FMTID_SummaryInformation).
class PropertySet {
 public:
  void AddShort(uint32_t id, int16_t value) {
    std::string data;
    Put32(&data, 2);  // VT_I2
    StringPool::Put16(&data, static_cast<uint16_t>(value));
    StringPool::Put16(&data, 0);
    properties_.emplace_back(id, data);
  }
  void AddLong(uint32_t id, int32_t value) {
    std::string data;
    Put32(&data, 3);  // VT_I4
    Put32(&data, static_cast<uint32_t>(value));
    properties_.emplace_back(id, data);
  }
  void AddText(uint32_t id, const std::string& bytes) {
    std::string data;
    Put32(&data, 30);  // VT_LPSTR
    Put32(&data, static_cast<uint32_t>(bytes.size() + 1));
    data += bytes;
    data.push_back('\0');
    while (data.size() % 4) data.push_back('\0');
    properties_.emplace_back(id, data);
  }
  void AddFileTime(uint32_t id, uint64_t value) {
    std::string data;
    Put32(&data, 64);  // VT_FILETIME
    Put32(&data, static_cast<uint32_t>(value & 0xFFFFFFFFu));
    Put32(&data, static_cast<uint32_t>(value >> 32));
    properties_.emplace_back(id, data);
  }

  std::string Bytes() const {
    static const unsigned char kFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    std::string out;
    StringPool::Put16(&out, 0xFFFE);  // byte order
    StringPool::Put16(&out, 0);       // format version
    Put32(&out, 0x00020005);          // system identifier
    out.append(16, '\0');             // class id
    Put32(&out, 1);                   // one section
    out.append(reinterpret_cast<const char*>(kFormatId), 16);
    Put32(&out, 48);  // the section starts right after this header
    std::string section;
    uint32_t offset = 8 + 8 * static_cast<uint32_t>(properties_.size());
    std::string table, values;
    for (const auto& [id, data] : properties_) {
      Put32(&table, id);
      Put32(&table, offset + static_cast<uint32_t>(values.size()));
      values += data;
    }
    Put32(&section, 8 + static_cast<uint32_t>(table.size() + values.size()));
    Put32(&section, static_cast<uint32_t>(properties_.size()));
    return out + section + table + values;
  }

 private:
  static void Put32(std::string* out, uint32_t value) {
    StringPool::Put16(out, value & 0xFFFF);
    StringPool::Put16(out, value >> 16);
  }
  std::vector<std::pair<uint32_t, std::string>> properties_;
};

std::optional<std::string> PropertyValue(const MsiTable& property, const std::string& name) {
  for (size_t r = 0; r < property.rows.size(); ++r) {
    if (property.Text(r, "Property") == name) return property.Text(r, "Value");
  }
  return std::nullopt;
}

std::string HostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path + ": cannot read the file");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteStream(GsfOutfile* outfile, const std::string& name, const std::string& bytes) {
  GPtr<GsfOutput> stream{gsf_outfile_new_child(outfile, name.c_str(), FALSE)};
  if (!stream) throw Failure("cannot create the stream " + name);
  if (!bytes.empty() &&
      !gsf_output_write(stream.get(), bytes.size(), reinterpret_cast<const guint8*>(bytes.data()))) {
    throw Failure("cannot write the stream " + name);
  }
  if (!gsf_output_close(stream.get())) throw Failure("cannot close the stream " + name);
}

int Run(const std::string& basePath, const std::string& targetPath, const std::string& outPath) {
  MsiTables base, target;
  MsiSummary baseInfo, targetInfo;
  std::string error;
  if (!ReadMsiTables(HostFile(basePath), {}, &base, &error, &baseInfo)) {
    throw Failure(basePath + ": " + error);
  }
  if (!ReadMsiTables(HostFile(targetPath), {}, &target, &error, &targetInfo)) {
    throw Failure(targetPath + ": " + error);
  }
  std::set<std::string> baseTables, targetTables;
  for (const auto& [name, table] : base) baseTables.insert(name);
  for (const auto& [name, table] : target) targetTables.insert(name);
  if (baseTables != targetTables) {
    throw Failure("the packages have different tables; adding or dropping tables is not supported");
  }
  unsigned codePage = baseInfo.codePage;

  StringPool pool(codePage);
  std::vector<std::pair<std::string, std::string>> streams;
  for (const auto& [name, before] : base) {
    const MsiTable& after = target.at(name);
    bool same = before.columns.size() == after.columns.size();
    for (size_t i = 0; same && i < before.columns.size(); ++i) {
      const MsiColumn& a = before.columns[i];
      const MsiColumn& b = after.columns[i];
      same = a.name == b.name && a.isString == b.isString && a.width == b.width &&
             a.isKey == b.isKey && a.isBinary == b.isBinary;
    }
    if (!same) throw Failure(name + ": the columns differ; changing columns is not supported");
    std::string records = TableRecords(name, before, after, &pool);
    if (!records.empty()) streams.emplace_back(name, records);
  }
  // Identical packages give a transform that changes nothing (the one of the
  // base language), which Windows Installer applies like any other.
  const MsiTable& baseProperty = base.at("Property");
  const MsiTable& targetProperty = target.at("Property");

  // Template: the base's "platform;language"; last author: the target's,
  // with its ProductLanguage (an msibuild edit leaves the template as it was).
  const std::string& baseTemplate = baseInfo.templateText;
  const std::string& targetTemplate = targetInfo.templateText;
  std::string platform = targetTemplate.substr(0, targetTemplate.find(';'));
  std::string language = targetTemplate.find(';') == std::string::npos
                             ? std::string()
                             : targetTemplate.substr(targetTemplate.find(';') + 1);
  if (auto productLanguage = PropertyValue(targetProperty, "ProductLanguage")) {
    language = *productLanguage;
  }
  auto property = [](const MsiTable& table, const char* name) {
    return PropertyValue(table, name).value_or(std::string());
  };
  std::string revision = property(baseProperty, "ProductCode") +
                         property(baseProperty, "ProductVersion") + ";" +
                         property(targetProperty, "ProductCode") +
                         property(targetProperty, "ProductVersion") + ";" +
                         property(targetProperty, "UpgradeCode");

  PropertySet summary;
  summary.AddShort(1, static_cast<int16_t>(codePage));
  summary.AddText(2, "Transform");
  summary.AddText(7, baseTemplate);
  summary.AddText(8, platform + ";" + language);
  summary.AddText(9, revision);
  // The base's creation time keeps the build reproducible.
  summary.AddFileTime(12, baseInfo.created);
  summary.AddLong(14, 200);
  summary.AddLong(16, 0);  // no validation: any base accepts it
  summary.AddText(18, "zentavo-mkmst");

  ErrorText e;
  GPtr<GsfOutput> sink{gsf_output_stdio_new(outPath.c_str(), &e.error)};
  if (!sink) throw Failure(outPath + ": " + e.What());
  GPtr<GsfOutfile> outfile{gsf_outfile_msole_new(sink.get())};
  static const guint8 kTransformClass[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(outfile.get()), kTransformClass);
  WriteStream(outfile.get(), "\005SummaryInformation", summary.Bytes());
  WriteStream(outfile.get(), MsiTableStreamName("_StringPool"), pool.PoolBytes());
  WriteStream(outfile.get(), MsiTableStreamName("_StringData"), pool.DataBytes());
  for (const auto& [name, records] : streams) {
    WriteStream(outfile.get(), MsiTableStreamName(name), records);
  }
  if (!gsf_output_close(GSF_OUTPUT(outfile.get()))) throw Failure(outPath + ": cannot finish");
  // Closing the compound file closed its sink too.
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zentavo-mkmst BASE.msi TARGET.msi OUT.mst\n");
    return 2;
  }
  gsf_init();
  int status = 1;
  try {
    status = Run(argv[1], argv[2], argv[3]);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "zentavo-mkmst: %s\n", failure.what().c_str());
    std::remove(argv[3]);
    status = 1;
  }
  gsf_shutdown();
  return status;
}
