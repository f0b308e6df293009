#include "machine_state.h"

#include "command.h"
#include "printable.h"
#include "whole_file.h"

#include <winsim/machine.h>
#include <winsim/machine_content.h>

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

constexpr const char* kHeader = "winsim snapshot 2";
constexpr const char* kTrailer = "end of snapshot";
constexpr const char* kKey = "1 key";
constexpr const char* kValue = "2 value";
constexpr const char* kFolder = "3 folder";
constexpr const char* kFile = "4 file";
constexpr const char* kPrinter = "5 printer";
constexpr const char* kWindow = "6 window";

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

void CaptureRegistry(const winsim::MachineContent& content, MachineState& state) {
  std::map<int64_t, const winsim::KeyRecord*> keys;
  for (const winsim::KeyRecord& key : content.keys) keys[key.id] = &key;
  std::map<int64_t, std::string> shown;
  std::function<std::string(int64_t)> show = [&](int64_t id) -> std::string {
    auto known = shown.find(id);
    if (known != shown.end()) return known->second;
    auto key = keys.find(id);
    std::string name =
        key == keys.end() || key->second->parent == 0 ? "HKLM" : show(key->second->parent) + "\\" + key->second->name;
    return shown[id] = name;
  };
  for (const winsim::KeyRecord& key : content.keys)
    if (key.parent != 0) state[{kKey, key.folded_path}] = {Printable(show(key.id)), "", ""};

  for (const winsim::ValueRecord& value : content.values) {
    auto key = keys.find(value.key);
    std::string identity = key == keys.end() ? "" : key->second->folded_path;
    identity += '\0';
    identity += value.folded_name;
    state[{kValue, identity}] = {Printable(show(value.key)) + "\\" + (value.name.empty() ? "@" : Quoted(value.name)),
                                 std::to_string(value.type) + ":" + Hex(value.data), ShowData(value.type, value.data)};
  }
}

void CapturePrinters(const winsim::MachineContent& content, MachineState& state) {
  for (const winsim::PrinterInfo& printer : content.printers) {
    const std::string detail = "driver " + Quoted(printer.driver) + ", port " + Quoted(printer.port) +
                               ", needs_admin " + (printer.needs_admin ? "1" : "0");
    state[{kPrinter, printer.name}] = {Printable(printer.name), detail, detail};
  }
}

void CaptureWindows(const winsim::MachineContent& content, MachineState& state) {
  std::map<std::string, int> seen;
  for (const std::string& caption : content.window_captions) {
    const int n = ++seen[caption];
    state[{kWindow, caption + '\0' + std::to_string(n)}] = {Printable(caption), "", ""};
  }
}

// FNV-1a: enough to tell a change, and a cut snapshot from a whole one.
class Fnv1a {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) {
      hash_ ^= c;
      hash_ *= 0x100000001b3ULL;
    }
  }
  std::string Hex() const {
    char out[20];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash_));
    return out;
  }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ULL;
};

// Opens a regular file for reading without ever waiting on a FIFO or device; -1 otherwise.
int OpenRegularFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Hands `file`'s bytes to `take` piece by piece; false when it is no regular file or can't be read.
template <typename Take>
bool ReadRegularFile(const fs::path& file, Take take) {
  const int fd = OpenRegularFile(file);
  if (fd < 0) return false;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) take(std::string_view(buf, static_cast<size_t>(n)));
  ::close(fd);
  return n == 0;
}

std::string ContentHash(const fs::path& file) {
  Fnv1a hash;
  ReadRegularFile(file, [&](std::string_view bytes) { hash.Add(bytes); });
  return hash.Hex();
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
    } else if (!it->is_regular_file(status_ec)) {
      // A FIFO or device is never opened: it would hang the snapshot or harm the host.
      state[{kFile, windows}] = {Printable(windows), "other", "not a file of the machine"};
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
  const winsim::MachineContent content = winsim::ReadMachineContent();
  CaptureRegistry(content, state);
  CapturePrinters(content, state);
  CaptureWindows(content, state);
  CaptureFiles(machine.DriveC(), state);
  return state;
}

void SaveState(const MachineState& state, const fs::path& file) {
  // A new file renamed over the old one: a snapshot cut short never takes the place of a whole one.
  WholeFile out(file.parent_path().empty() ? fs::path(".") : file.parent_path());
  Fnv1a hash;
  std::string text = std::string(kHeader) + '\n';
  auto flush = [&] {
    hash.Add(text);
    out.Write(text);
    text.clear();
  };
  for (const auto& [key, item] : state) {
    text += Escape(key.first) + '\t' + Escape(key.second) + '\t' + Escape(item.name) + '\t' + Escape(item.content) +
            '\t' + Escape(item.detail) + '\n';
    if (text.size() > (1 << 20)) flush();
  }
  flush();
  out.Write(std::string(kTrailer) + " " + std::to_string(state.size()) + " " + hash.Hex() + "\n");
  out.Publish(file, 0644);
}

MachineState LoadState(const fs::path& file) {
  std::string text;
  if (!ReadRegularFile(file, [&](std::string_view bytes) { text += bytes; }))
    throw CommandError("cannot read " + file.string() + " (no regular file)");
  const std::string header = std::string(kHeader) + '\n';
  if (text.compare(0, header.size(), header) != 0) throw CommandError(file.string() + " is not a winsim snapshot");
  // The last line holds the number of items and the hash of all bytes before it: without it, the
  // snapshot was cut short. The hash is checked before any line is read.
  const std::string cut = file.string() + " is cut short or damaged; take the snapshot again";
  const size_t end = text.back() == '\n' ? text.rfind('\n', text.size() - 2) : std::string::npos;
  if (end == std::string::npos || end + 1 < header.size()) throw CommandError(cut);
  const std::string_view body = std::string_view(text).substr(0, end + 1);
  const std::string_view trailer = std::string_view(text).substr(end + 1);
  Fnv1a hash;
  hash.Add(body);
  if (!trailer.starts_with(std::string(kTrailer) + " ") || !trailer.ends_with(" " + hash.Hex() + "\n"))
    throw CommandError(cut);
  MachineState state;
  std::istringstream in{std::string(body.substr(header.size()))};
  std::string line;
  for (int number = 2; std::getline(in, line); ++number) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      std::optional<std::string> field = Unescape(std::string_view(line).substr(start, tab - start));
      if (!field) break;
      fields.push_back(*field);
    }
    std::optional<std::string> last_field = Unescape(std::string_view(line).substr(start));
    if (last_field) fields.push_back(*last_field);
    if (fields.size() != 5 || fields[0].size() < 3)
      throw CommandError(file.string() + " line " + std::to_string(number) + ": not a snapshot item");
    state[{fields[0], fields[1]}] = {fields[2], fields[3], fields[4]};
  }
  if (trailer != std::string(kTrailer) + " " + std::to_string(state.size()) + " " + hash.Hex() + "\n")
    throw CommandError(cut);
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
