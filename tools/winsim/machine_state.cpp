#include "machine_state.h"

#include "command.h"

#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

constexpr const char* kHeader = "winsim snapshot 1";
constexpr const char* kKey = "1 key";
constexpr const char* kValue = "2 value";
constexpr const char* kFolder = "3 folder";
constexpr const char* kFile = "4 file";
constexpr const char* kPrinter = "5 printer";
constexpr const char* kWindow = "6 window";

// Control bytes shown as \xNN, so that every item stays on one line.
std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + Printable(text) + "\""; }

std::string Hex(const std::vector<unsigned char>& data) {
  std::string out;
  char buf[4];
  for (unsigned char c : data) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

// Registry data as a person reads it; long binary data is cut short (the content still tells changes).
std::string ShowData(int64_t type, const std::vector<unsigned char>& data) {
  std::string text(data.begin(), data.end());
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return (type == REG_EXPAND_SZ ? "expand:" : "") + Quoted(text);
  }
  if (type == REG_DWORD && data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", data[0] | data[1] << 8 | data[2] << 16 | unsigned{data[3]} << 24);
    return buf;
  }
  std::string out = type == REG_BINARY ? "hex:" : "hex(" + std::to_string(type) + "):";
  for (size_t i = 0; i < data.size() && i < 16; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    out += (i ? "," : "") + std::string(buf);
  }
  return out + (data.size() > 16 ? ",... (" + std::to_string(data.size()) + " bytes)" : "");
}

// A read transaction, so that keys, values, printers and windows come from one moment.
class ReadTx {
 public:
  explicit ReadTx(winsim::Db& db) : db_(db), lock_(db.Mutex()) { db_.Exec("BEGIN"); }
  ~ReadTx() {
    try {
      db_.Exec("COMMIT");
    } catch (...) {
    }
  }

 private:
  winsim::Db& db_;
  std::lock_guard<std::recursive_mutex> lock_;
};

void CaptureRegistry(winsim::Db& db, MachineState& state) {
  struct Key {
    int64_t parent;
    std::string name, path;
  };
  std::map<int64_t, Key> keys;
  {
    winsim::Stmt s(db, "SELECT id, parent, name, path FROM reg_keys");
    while (s.Step()) keys[s.Int(0)] = {s.IsNull(1) ? 0 : s.Int(1), s.Text(2), s.Text(3)};
  }
  std::map<int64_t, std::string> shown;
  std::function<std::string(int64_t)> show = [&](int64_t id) -> std::string {
    auto known = shown.find(id);
    if (known != shown.end()) return known->second;
    auto key = keys.find(id);
    std::string name =
        key == keys.end() || key->second.parent == 0 ? "HKLM" : show(key->second.parent) + "\\" + key->second.name;
    return shown[id] = name;
  };
  for (auto& [id, key] : keys)
    if (key.parent != 0) state[{kKey, key.path}] = {Printable(show(id)), "", ""};

  winsim::Stmt s(db, "SELECT key, name, fold, type, data FROM reg_values");
  while (s.Step()) {
    const std::string name = s.Text(1);
    const int64_t type = s.Int(3);
    const std::vector<unsigned char> data = s.Blob(4);
    std::string identity = keys[s.Int(0)].path;
    identity += '\0';
    identity += s.Text(2);
    state[{kValue, identity}] = {Printable(show(s.Int(0))) + "\\" + (name.empty() ? "@" : Quoted(name)),
                                 std::to_string(type) + ":" + Hex(data), ShowData(type, data)};
  }
}

// Columns other than the name make a printer's content, whatever the spooler keeps.
void CapturePrinters(winsim::Db& db, MachineState& state) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db.Raw(), "SELECT * FROM printers ORDER BY id", -1, &stmt, nullptr) != SQLITE_OK)
    db.Fail(sqlite3_errcode(db.Raw()));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owner(stmt, sqlite3_finalize);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string name, fold, detail;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const std::string column = sqlite3_column_name(stmt, i);
      const int type = sqlite3_column_type(stmt, i);
      auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      const std::string value(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
      if (column == "name")
        name = value;
      else if (column == "fold")
        fold = value;
      else if (column != "id")
        detail += (detail.empty() ? "" : ", ") + column + " " +
                  (type == SQLITE_TEXT || type == SQLITE_BLOB ? Quoted(value) : Printable(value));
    }
    state[{kPrinter, fold.empty() ? name : fold}] = {Printable(name), detail, detail};
  }
}

void CaptureWindows(winsim::Db& db, MachineState& state) {
  std::map<std::string, int> seen;
  winsim::Stmt s(db, "SELECT caption, pid, pid_start FROM windows ORDER BY hwnd");
  while (s.Step()) {
    const int pid = static_cast<int>(s.Int(1));
    // A window of a process that has ended is gone, though its row may linger.
    if (pid != 0 && !winsim::ProcessAlive({pid, static_cast<unsigned long long>(s.Int(2))})) continue;
    const std::string caption = s.Text(0);
    const int n = ++seen[caption];
    state[{kWindow, caption + '\0' + std::to_string(n)}] = {Printable(caption), "", ""};
  }
}

std::string ContentHash(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a: enough to tell a change
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash ^= static_cast<unsigned char>(buf[i]);
      hash *= 0x100000001b3ULL;
    }
  }
  char out[20];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
  return out;
}

void CaptureFiles(const fs::path& drive, MachineState& state) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(drive, ec), end; !ec && it != end; it.increment(ec)) {
    std::string windows = "C:";
    for (const fs::path& part : it->path().lexically_relative(drive)) windows += "\\" + part.string();
    std::error_code status_ec;
    if (it->is_symlink(status_ec)) {
      const std::string target = fs::read_symlink(it->path(), status_ec).string();
      state[{kFile, windows}] = {Printable(windows), "link " + target, "link to " + Printable(target)};
    } else if (it->is_directory(status_ec)) {
      state[{kFolder, windows}] = {Printable(windows), "", ""};
    } else {
      const std::string size = std::to_string(it->file_size(status_ec)) + " bytes";
      state[{kFile, windows}] = {Printable(windows), size + " " + ContentHash(it->path()), size};
    }
  }
  if (ec) throw CommandError("cannot read drive C: (" + drive.string() + "): " + ec.message());
}

std::string Escape(std::string_view field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (++i == field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::string Kind(const std::string& key) { return key.substr(2); }

}  // namespace

MachineState CaptureState() {
  winsim::Machine& machine = winsim::CurrentMachine();
  MachineState state;
  {
    winsim::Db& db = machine.Database();
    ReadTx tx(db);
    CaptureRegistry(db, state);
    CapturePrinters(db, state);
    CaptureWindows(db, state);
  }
  CaptureFiles(machine.DriveC(), state);
  return state;
}

void SaveState(const MachineState& state, const fs::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << kHeader << '\n';
  for (const auto& [key, item] : state)
    out << Escape(key.first) << '\t' << Escape(key.second) << '\t' << Escape(item.name) << '\t' << Escape(item.content)
        << '\t' << Escape(item.detail) << '\n';
  out.close();
  if (!out) throw CommandError("cannot write " + file.string());
}

MachineState LoadState(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CommandError("cannot read " + file.string());
  std::string line;
  if (!std::getline(in, line) || line != kHeader) throw CommandError(file.string() + " is not a winsim snapshot");
  MachineState state;
  for (int number = 2; std::getline(in, line); ++number) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      std::optional<std::string> field = Unescape(std::string_view(line).substr(start, tab - start));
      if (!field) break;
      fields.push_back(*field);
    }
    std::optional<std::string> last = Unescape(std::string_view(line).substr(start));
    if (last) fields.push_back(*last);
    if (fields.size() != 5 || fields[0].size() < 3)
      throw CommandError(file.string() + " line " + std::to_string(number) + ": not a snapshot item");
    state[{fields[0], fields[1]}] = {fields[2], fields[3], fields[4]};
  }
  return state;
}

std::vector<std::string> DiffStates(const MachineState& before, const MachineState& after) {
  std::vector<std::string> lines;
  auto shown = [](const char* sign, const std::string& kind, const StateItem& item) {
    return std::string(sign) + " " + kind + " " + item.name + (item.detail.empty() ? "" : " (" + item.detail + ")");
  };
  auto b = before.begin(), a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      lines.push_back(shown("-", Kind(b->first.first), b->second));
      ++b;
    } else if (b == before.end() || a->first < b->first) {
      lines.push_back(shown("+", Kind(a->first.first), a->second));
      ++a;
    } else {
      if (b->second.content != a->second.content) {
        const std::string& was = b->second.detail;
        const std::string& now = a->second.detail;
        const std::string change = was != now    ? was + " -> " + now
                                   : now.empty() ? "changed"
                                                 : now + ", content changed";
        lines.push_back("~ " + Kind(a->first.first) + " " + a->second.name + " (" + change + ")");
      }
      ++b;
      ++a;
    }
  }
  return lines;
}

}  // namespace winsim_tool
