#include "platform/sim/sim_msi_tables.h"
#include "platform/sim/gobject_ptr.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>
#include <libmsi.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

namespace {

std::string TakeError(GError* error) {
  std::string what = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return what;
}

std::string RecordString(LibmsiRecord* record, guint field) {
  gchar* text = libmsi_record_get_string(record, field);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

}  // namespace

std::string MsiTableStreamName(const std::string& name) {
  auto index = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    if (c == '_') return 63;
    return -1;
  };
  std::vector<gunichar> wide{0x4840};
  for (size_t i = 0; i < name.size(); ++i) {
    int a = index(name[i]);
    if (a < 0) {
      wide.push_back(static_cast<unsigned char>(name[i]));
      continue;
    }
    int b = i + 1 < name.size() ? index(name[i + 1]) : -1;
    if (b >= 0) {
      wide.push_back(static_cast<gunichar>(0x3800 + a + (b << 6)));
      ++i;
    } else {
      wide.push_back(static_cast<gunichar>(0x4800 + a));
    }
  }
  std::string utf8;
  for (gunichar c : wide) {
    char buffer[8];
    utf8.append(buffer, static_cast<size_t>(g_unichar_to_utf8(c, buffer)));
  }
  return utf8;
}

namespace {

bool ReadStream(GsfInfile* storage, const std::string& name, std::string* bytes) {
  GPtr<GsfInput> input{gsf_infile_child_by_name(storage, name.c_str())};
  if (!input) return false;
  gsf_off_t size = gsf_input_size(input.get());
  if (size < 0 || size > (64 << 20)) return false;
  bytes->resize(static_cast<size_t>(size));
  return size == 0 || gsf_input_read(input.get(), static_cast<size_t>(size),
                                     reinterpret_cast<guint8*>(bytes->data())) != nullptr;
}

// Whether every storage and stream of a compound file can be opened and read
// to its end. libmsi trusts the file's structure and crashes on a stream
// whose blocks are missing, so a package is walked with libgsf first; a file
// that fails here is refused as damaged.
bool CompoundFileWhole(GsfInfile* storage, int depth) {
  if (depth > 32) return false;  // storages nested deeper than any package's
  const int children = gsf_infile_num_children(storage);
  for (int i = 0; i < children; ++i) {
    GPtr<GsfInput> child{gsf_infile_child_by_index(storage, i)};
    if (!child) return false;
    if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
      if (!CompoundFileWhole(GSF_INFILE(child.get()), depth + 1)) return false;
      continue;
    }
    gsf_off_t size = gsf_input_size(child.get());
    if (size < 0 || size > (64 << 20)) return false;
    guint8 block[4096];
    for (gsf_off_t left = size; left > 0;) {
      size_t part = static_cast<size_t>(std::min<gsf_off_t>(left, sizeof block));
      if (gsf_input_read(child.get(), part, block) == nullptr) return false;
      left -= static_cast<gsf_off_t>(part);
    }
  }
  return true;
}

uint32_t ReadLittle(const std::string& bytes, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

// The transform's string table: ids from 1, in the pool's code page.
bool ReadStringPool(GsfInfile* storage, std::vector<std::string>* strings, size_t* refBytes,
                    std::string* error) {
  std::string pool, data;
  if (!ReadStream(storage, MsiTableStreamName("_StringPool"), &pool) ||
      !ReadStream(storage, MsiTableStreamName("_StringData"), &data) || pool.size() < 4) {
    *error = "the transform has no string table";
    return false;
  }
  uint32_t header = ReadLittle(pool, 0, 4);
  *refBytes = (header & 0x80000000u) ? 3 : 2;
  std::string charset = "CP" + std::to_string(header & 0xFFFF);
  strings->assign(1, std::string());
  size_t offset = 0;
  for (size_t at = 4; at + 4 <= pool.size(); at += 4) {
    uint32_t length = ReadLittle(pool, at, 2);
    uint32_t references = ReadLittle(pool, at + 2, 2);
    if (length == 0 && references != 0 && at + 8 <= pool.size()) {
      // A string of 64 KB or more: its length takes the next entry too.
      length = ReadLittle(pool, at + 4, 2) | (references << 16);
      at += 4;
    }
    if (offset + length > data.size()) {
      *error = "the transform's string table is cut short";
      return false;
    }
    std::string text = data.substr(offset, length);
    offset += length;
    gsize written = 0;
    gchar* utf8 = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                            charset.c_str(), nullptr, &written, nullptr);
    strings->push_back(utf8 ? std::string(utf8, written) : text);
    g_free(utf8);
  }
  return true;
}

std::string CellKey(const MsiTable& table, const std::vector<MsiCell>& row) {
  std::string key;
  for (size_t i = 0; i < table.columns.size() && i < row.size(); ++i) {
    if (!table.columns[i].isKey) continue;
    const MsiCell& cell = row[i];
    key += cell.null ? std::string("\x01") : table.columns[i].isString ? cell.text
                                                                      : std::to_string(cell.number);
    key += '\0';
  }
  return key;
}

// One table's records: a 16-bit mask, then the values it names.
bool ApplyTableRecords(const std::string& bytes, const std::vector<std::string>& strings,
                       size_t refBytes, MsiTable* table, std::string* error) {
  size_t at = 0;
  const size_t columns = table->columns.size();
  auto width = [&](const MsiColumn& column) {
    return column.isString ? refBytes : column.isBinary ? 2 : static_cast<size_t>(column.width);
  };
  while (at + 2 <= bytes.size()) {
    uint32_t mask = ReadLittle(bytes, at, 2);
    at += 2;
    bool insert = mask & 1;
    size_t present = insert ? std::min<size_t>(mask >> 8, columns) : columns;
    std::vector<MsiCell> row(columns);
    std::vector<bool> given(columns, false);
    for (size_t i = 0; i < present; ++i) {
      const MsiColumn& column = table->columns[i];
      if (!insert && !column.isKey && !(i < 16 && (mask & (1u << i)))) continue;
      size_t w = width(column);
      if (at + w > bytes.size()) {
        *error = "a transform record is cut short";
        return false;
      }
      uint32_t raw = ReadLittle(bytes, at, w);
      at += w;
      given[i] = true;
      MsiCell& cell = row[i];
      if (column.isBinary) continue;
      if (column.isString) {
        cell.null = raw == 0 || raw >= strings.size() || strings[raw].empty();
        if (!cell.null) cell.text = strings[raw];
      } else if (raw != 0) {
        cell.null = false;
        cell.number = w == 2 ? static_cast<int32_t>(raw) - 0x8000
                             : static_cast<int32_t>(raw ^ 0x80000000u);
      }
    }
    std::string key = CellKey(*table, row);
    auto found = std::find_if(table->rows.begin(), table->rows.end(),
                              [&](const std::vector<MsiCell>& r) { return CellKey(*table, r) == key; });
    if (found == table->rows.end()) {
      if (insert || mask != 0) table->rows.push_back(row);
    } else if (mask == 0) {
      table->rows.erase(found);
    } else {
      for (size_t i = 0; i < columns; ++i) {
        if (given[i]) (*found)[i] = row[i];
      }
    }
  }
  return true;
}

}  // namespace
int MsiTable::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string MsiTable::Text(size_t row, const std::string& column) const {
  int index = Column(column);
  if (index < 0 || row >= rows.size()) return std::string();
  const MsiCell& cell = rows[row][static_cast<size_t>(index)];
  if (cell.null) return std::string();
  return columns[static_cast<size_t>(index)].isString ? cell.text : std::to_string(cell.number);
}

int32_t MsiTable::Number(size_t row, const std::string& column, int32_t absent) const {
  int index = Column(column);
  if (index < 0 || row >= rows.size()) return absent;
  const MsiCell& cell = rows[row][static_cast<size_t>(index)];
  return cell.null || columns[static_cast<size_t>(index)].isString ? absent : cell.number;
}

namespace {

// Reads the tables with libmsi in this process.
bool ReadWithLibmsi(const std::string& packageBytes, const std::vector<std::string>& wanted,
                    MsiTables* tables, std::string* error, MsiSummary* summary) {
  // libmsi reads files only: the bytes go to a host temporary file for the read.
  std::string path = std::string(g_get_tmp_dir()) + "/zentavo-sim-msi-XXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) {
    *error = "cannot create a temporary file for the package";
    return false;
  }
  bool written = ::write(fd, packageBytes.data(), packageBytes.size()) ==
                 static_cast<ssize_t>(packageBytes.size());
  ::close(fd);
  struct Remove {
    std::string path;
    ~Remove() { std::remove(path.c_str()); }
  } remove{path};
  if (!written) {
    *error = "cannot write the package to a temporary file";
    return false;
  }
  {
    GPtr<GsfInput> input{gsf_input_memory_new(
        reinterpret_cast<const guint8*>(packageBytes.data()),
        static_cast<gsf_off_t>(packageBytes.size()), FALSE)};
    GPtr<GsfInfile> storage{input ? gsf_infile_msole_new(input.get(), nullptr) : nullptr};
    if (!storage) {
      *error = "not a Windows Installer package: not a compound file";
      return false;
    }
    if (!CompoundFileWhole(storage.get(), 0)) {
      *error = "not a Windows Installer package: a stream of the file is damaged";
      return false;
    }
  }
  GError* gerror = nullptr;
  GPtr<LibmsiDatabase> db{libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr,
                                              &gerror)};
  if (!db) {
    *error = "not a Windows Installer package: " + TakeError(gerror);
    return false;
  }
  if (summary) {
    GPtr<LibmsiSummaryInfo> info{libmsi_summary_info_new(db.get(), 0, nullptr)};
    if (info && libmsi_summary_info_get_property_type(info.get(), LIBMSI_PROPERTY_TEMPLATE,
                                                      nullptr) == LIBMSI_PROPERTY_TYPE_STRING) {
      const gchar* text =
          libmsi_summary_info_get_string(info.get(), LIBMSI_PROPERTY_TEMPLATE, nullptr);
      summary->templateText = text ? text : "";
    }
    if (info && libmsi_summary_info_get_property_type(info.get(), LIBMSI_PROPERTY_CODEPAGE,
                                                      nullptr) == LIBMSI_PROPERTY_TYPE_INT) {
      int codePage = libmsi_summary_info_get_int(info.get(), LIBMSI_PROPERTY_CODEPAGE, nullptr);
      if (codePage > 0) summary->codePage = static_cast<unsigned>(codePage);
    }
    if (info && libmsi_summary_info_get_property_type(info.get(), LIBMSI_PROPERTY_UUID,
                                                      nullptr) == LIBMSI_PROPERTY_TYPE_STRING) {
      const gchar* text =
          libmsi_summary_info_get_string(info.get(), LIBMSI_PROPERTY_UUID, nullptr);
      summary->packageCode = text ? text : "";
    }
    if (info && libmsi_summary_info_get_property_type(info.get(), LIBMSI_PROPERTY_CREATED_TM,
                                                      nullptr) == LIBMSI_PROPERTY_TYPE_FILETIME) {
      summary->created =
          libmsi_summary_info_get_filetime(info.get(), LIBMSI_PROPERTY_CREATED_TM, nullptr);
    }
  }
  std::vector<std::string> names = wanted;
  if (names.empty()) {
    GPtr<LibmsiQuery> all{libmsi_query_new(db.get(), "SELECT `Name` FROM `_Tables`", nullptr)};
    if (all && libmsi_query_execute(all.get(), nullptr, nullptr)) {
      while (GPtr<LibmsiRecord> record{libmsi_query_fetch(all.get(), nullptr)}) {
        names.push_back(RecordString(record.get(), 1));
      }
    }
  }
  for (const std::string& name : names) {
    if (!libmsi_database_is_table_persistent(db.get(), name.c_str(), nullptr)) continue;
    GPtr<LibmsiQuery> query{libmsi_query_new(db.get(), ("SELECT * FROM `" + name + "`").c_str(),
                                             nullptr)};
    if (!query || !libmsi_query_execute(query.get(), nullptr, nullptr)) continue;
    GPtr<LibmsiRecord> columnNames{
        libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_NAMES, nullptr)};
    GPtr<LibmsiRecord> columnTypes{
        libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_TYPES, nullptr)};
    GPtr<LibmsiRecord> keys{libmsi_database_get_primary_keys(db.get(), name.c_str(), nullptr)};
    if (!columnNames || !columnTypes) continue;
    std::set<std::string> keyNames;
    for (guint i = 1; keys && i <= libmsi_record_get_field_count(keys.get()); ++i) {
      keyNames.insert(RecordString(keys.get(), i));
    }
    MsiTable table;
    guint count = libmsi_record_get_field_count(columnNames.get());
    for (guint i = 1; i <= count; ++i) {
      MsiColumn column;
      column.name = RecordString(columnNames.get(), i);
      std::string type = RecordString(columnTypes.get(), i);
      char kind = type.empty() ? 'i' : static_cast<char>(type[0] | 0x20);
      column.isString = kind == 's' || kind == 'l' || kind == 'g';
      column.isBinary = kind == 'v';
      column.width = kind == 'i' && std::atoi(type.c_str() + 1) == 2 ? 2 : 4;
      column.isKey = keyNames.count(column.name) > 0;
      table.columns.push_back(column);
    }
    while (GPtr<LibmsiRecord> record{libmsi_query_fetch(query.get(), nullptr)}) {
      std::vector<MsiCell> row(count);
      for (guint i = 1; i <= count; ++i) {
        MsiCell& cell = row[i - 1];
        const MsiColumn& column = table.columns[i - 1];
        if (libmsi_record_is_null(record.get(), i) || column.isBinary) continue;
        if (column.isString) {
          cell.text = RecordString(record.get(), i);
          cell.null = cell.text.empty();
        } else {
          cell.number = libmsi_record_get_int(record.get(), i);
          cell.null = false;
        }
      }
      table.rows.push_back(std::move(row));
    }
    (*tables)[name] = std::move(table);
  }
  if (!tables->count("Property")) {
    *error = "the package has no Property table";
    return false;
  }
  return true;
}

// The result of a read, flattened for the pipe from the reading process:
// numbers as four little-endian bytes, texts with their length first.
class Flat {
 public:
  void Put(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
  void Put(const std::string& text) {
    Put(static_cast<uint32_t>(text.size()));
    bytes_ += text;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class Unflat {
 public:
  explicit Unflat(const std::string& bytes) : bytes_(bytes) {}
  bool Get(uint32_t* value) {
    if (bytes_.size() - at_ < 4) return false;
    *value = ReadLittle(bytes_, at_, 4);
    at_ += 4;
    return true;
  }
  bool Get(std::string* text) {
    uint32_t size = 0;
    if (!Get(&size) || bytes_.size() - at_ < size) return false;
    text->assign(bytes_, at_, size);
    at_ += size;
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

void FlattenResult(bool ok, const MsiTables& tables, const std::string& error,
                   const MsiSummary& summary, Flat* out) {
  out->Put(ok ? 1u : 0u);
  out->Put(error);
  out->Put(summary.templateText);
  out->Put(summary.packageCode);
  out->Put(summary.codePage);
  out->Put(static_cast<uint32_t>(summary.created & 0xFFFFFFFFu));
  out->Put(static_cast<uint32_t>(summary.created >> 32));
  out->Put(static_cast<uint32_t>(tables.size()));
  for (const auto& [name, table] : tables) {
    out->Put(name);
    out->Put(static_cast<uint32_t>(table.columns.size()));
    for (const MsiColumn& column : table.columns) {
      out->Put(column.name);
      out->Put((column.isString ? 1u : 0u) | (column.isBinary ? 2u : 0u) |
               (column.isKey ? 4u : 0u));
      out->Put(static_cast<uint32_t>(column.width));
    }
    out->Put(static_cast<uint32_t>(table.rows.size()));
    for (const std::vector<MsiCell>& row : table.rows) {
      for (const MsiCell& cell : row) {
        out->Put(cell.null ? 1u : 0u);
        out->Put(static_cast<uint32_t>(cell.number));
        out->Put(cell.text);
      }
    }
  }
}

bool UnflattenResult(const std::string& bytes, bool* ok, MsiTables* tables, std::string* error,
                     MsiSummary* summary) {
  Unflat in(bytes);
  uint32_t flag = 0, low = 0, high = 0, count = 0;
  if (!in.Get(&flag) || !in.Get(error) || !in.Get(&summary->templateText) ||
      !in.Get(&summary->packageCode) || !in.Get(&summary->codePage) || !in.Get(&low) || !in.Get(&high) || !in.Get(&count)) {
    return false;
  }
  *ok = flag != 0;
  summary->created = (static_cast<uint64_t>(high) << 32) | low;
  for (uint32_t t = 0; t < count; ++t) {
    std::string name;
    uint32_t columns = 0, rows = 0;
    if (!in.Get(&name) || !in.Get(&columns)) return false;
    MsiTable& table = (*tables)[name];
    for (uint32_t c = 0; c < columns; ++c) {
      MsiColumn column;
      uint32_t flags = 0, width = 0;
      if (!in.Get(&column.name) || !in.Get(&flags) || !in.Get(&width)) return false;
      column.isString = (flags & 1u) != 0;
      column.isBinary = (flags & 2u) != 0;
      column.isKey = (flags & 4u) != 0;
      column.width = static_cast<int>(width);
      table.columns.push_back(column);
    }
    if (!in.Get(&rows)) return false;
    for (uint32_t r = 0; r < rows; ++r) {
      std::vector<MsiCell> row(columns);
      for (MsiCell& cell : row) {
        uint32_t null = 0, number = 0;
        if (!in.Get(&null) || !in.Get(&number) || !in.Get(&cell.text)) return false;
        cell.null = null != 0;
        cell.number = static_cast<int32_t>(number);
      }
      table.rows.push_back(std::move(row));
    }
  }
  return in.AtEnd();
}

}  // namespace

// Set by the sanitizers' run time when it is linked in (the sanitizer and
// fuzzing builds); absent, and null, in the others.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

// The reading process's crash is its parent's answer ("damaged"), not a
// fault of this program: it dies by its signal, without the handlers the
// sanitizers or a fuzzer installed (which would report it and keep the
// input as a finding), and what libmsi and glib print goes nowhere.
void QuietReader() {
  for (int signalNumber : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    signal(signalNumber, SIG_DFL);
  }
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(nullptr);
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
}

// libmsi trusts what it reads: damaged table data can make it read through
// a null or stray pointer. A package on a medium is anybody's file, so libmsi
// reads it in a process of its own, and a reader that does not come back
// with its tables means a damaged package, not a crashed rehearsal.
bool ReadInReader(const std::string& packageBytes, const std::vector<std::string>& wanted,
                  MsiTables* tables, std::string* error, MsiSummary* summary) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    *error = "cannot start the package reader";
    return false;
  }
  fflush(nullptr);  // nothing buffered is written twice
  pid_t reader = fork();
  if (reader < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    *error = "cannot start the package reader";
    return false;
  }
  if (reader == 0) {
    close(pipeFds[0]);
    QuietReader();
    MsiTables read;
    std::string message;
    MsiSummary info;
    bool ok = ReadWithLibmsi(packageBytes, wanted, &read, &message, summary ? &info : nullptr);
    Flat flat;
    FlattenResult(ok, read, message, info, &flat);
    const std::string& bytes = flat.bytes();
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = ::write(pipeFds[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(reader, &status, 0) < 0 && errno == EINTR) {
  }
  bool ok = false;
  MsiTables read;
  MsiSummary info;
  std::string message;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      !UnflattenResult(bytes, &ok, &read, &message, &info)) {
    *error = WIFSIGNALED(status)
                 ? "not a Windows Installer package: its tables are damaged (the reader stopped "
                   "with signal " + std::to_string(WTERMSIG(status)) + ")"
                 : std::string("not a Windows Installer package: its tables could not be read");
    return false;
  }
  if (!ok) {
    *error = message;
    return false;
  }
  *tables = std::move(read);
  if (summary) *summary = info;
  return true;
}

// What a reader brought back for one package: a pure function of the bytes
// and the tables asked for.
struct ReadPackage {
  std::string bytes;
  std::vector<std::string> wanted;
  MsiTables tables;
  bool withSummary;
  MsiSummary summary;
};

// The last packages read in this thread. A process that rehearses many
// installations (the tests, the bench) reads the same few packages again and
// again; each reader is a fork of the whole process, whose pages the process
// then copies as it writes them, so a package read before is answered here.
std::vector<ReadPackage>& RecentPackages() {
  thread_local std::vector<ReadPackage> recent;
  return recent;
}
constexpr size_t kRecentPackages = 4;

}  // namespace

bool ReadMsiTables(const std::string& packageBytes, const std::vector<std::string>& wanted,
                   MsiTables* tables, std::string* error, MsiSummary* summary) {
  std::vector<ReadPackage>& recent = RecentPackages();
  for (const ReadPackage& known : recent) {
    if ((summary && !known.withSummary) || known.wanted != wanted || known.bytes != packageBytes) {
      continue;
    }
    *tables = known.tables;
    if (summary) *summary = known.summary;
    return true;
  }
  MsiSummary info;
  if (!ReadInReader(packageBytes, wanted, tables, error, summary ? &info : nullptr)) return false;
  if (summary) *summary = info;
  if (recent.size() == kRecentPackages) recent.erase(recent.begin());
  recent.push_back({packageBytes, wanted, *tables, summary != nullptr, info});
  return true;
}

bool ApplyMsiTransform(const std::string& transformBytes, MsiTables* tables, std::string* error) {
  static const guint8 kTransformClass[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  GPtr<GsfInput> input{gsf_input_memory_new(
      reinterpret_cast<const guint8*>(transformBytes.data()),
      static_cast<gsf_off_t>(transformBytes.size()), FALSE)};
  GPtr<GsfInfile> storage{input ? gsf_infile_msole_new(input.get(), nullptr) : nullptr};
  guint8 classId[16] = {};
  if (!storage || !gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storage.get()), classId) ||
      std::memcmp(classId, kTransformClass, sizeof classId) != 0) {
    *error = "not a transform";
    return false;
  }
  std::vector<std::string> strings;
  size_t refBytes = 2;
  if (!ReadStringPool(storage.get(), &strings, &refBytes, error)) return false;
  for (auto& [name, table] : *tables) {
    std::string bytes;
    if (!ReadStream(storage.get(), MsiTableStreamName(name), &bytes)) continue;
    if (!ApplyTableRecords(bytes, strings, refBytes, &table, error)) {
      *error = name + ": " + *error;
      return false;
    }
  }
  return true;
}
