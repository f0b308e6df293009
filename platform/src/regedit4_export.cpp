// Writing the registry as REGEDIT4 text that reads back into the same bytes.
#include <winsim/registry.h>

#include <winsim/codepage.h>
#include <winsim/db.h>
#include <winsim/machine.h>

#include "regedit4_format.h"
#include "registry_names.h"
#include "registry_store.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace winsim {
namespace {

constexpr const char* kEol = "\r\n";
// Hex lines break before this column, as REGEDIT writes them.
constexpr size_t kHexWidth = 78;

struct KeyEntry {
  int64_t id;
  int64_t parent;
  std::string name;
  std::string path;
};

class Writer {
 public:
  explicit Writer(unsigned codepage) : codepage_(codepage) {}

  std::string Take() { return std::move(out_); }

  void Header() {
    out_ += regedit4::kHeader;
    out_ += kEol;
    out_ += kEol;
  }

  void Section(const std::string& shown) {
    if (shown.find('\n') != std::string::npos)
      throw RegistryError("key " + shown + " has a line break in its name, which REGEDIT4 cannot carry");
    out_ += '[';
    out_ += shown;
    out_ += ']';
    out_ += kEol;
  }

  void EndSection() { out_ += kEol; }

  void Value(const std::string& key_shown, const std::string& name, DWORD type, const std::string& data) {
    const size_t line_start = out_.size();
    if (name.empty()) {
      out_ += '@';
    } else {
      if (name.find('\n') != std::string::npos || EndsInsideCharacter(name))
        throw RegistryError("value " + name + " of key " + key_shown + " has a name that REGEDIT4 cannot carry");
      Quoted(name);
    }
    out_ += '=';
    if (type == REG_SZ && IsPlainText(data)) {
      Quoted(std::string_view(data).substr(0, data.size() - 1));
    } else if (type == REG_DWORD && data.size() == 4) {
      DWORD number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(data[i]);
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", number);
      out_ += buf;
    } else {
      Hex(type, data, line_start);
    }
    out_ += kEol;
  }

 private:
  bool EndsInsideCharacter(std::string_view text) const { return reg::EndsInsideCharacter(text, codepage_); }

  // Text that "..." gives back exactly: one terminator at the end and none before, no line break,
  // and no half character that would swallow the closing quote.
  bool IsPlainText(std::string_view data) const {
    if (data.empty() || data.back() != '\0') return false;
    std::string_view text = data.substr(0, data.size() - 1);
    return text.find('\0') == std::string_view::npos && text.find('\n') == std::string_view::npos &&
           !EndsInsideCharacter(text);
  }

  void Quoted(std::string_view text) {
    out_ += '"';
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (IsLeadByte(codepage_, static_cast<unsigned char>(c)) && i + 1 < text.size()) {
        out_ += c;
        out_ += text[++i];
        continue;
      }
      if (c == '"' || c == '\\') out_ += '\\';
      out_ += c;
    }
    out_ += '"';
  }

  void Hex(DWORD type, std::string_view data, size_t line_start) {
    char buf[24];
    if (type == REG_BINARY)
      out_ += "hex:";
    else {
      std::snprintf(buf, sizeof buf, "hex(%x):", type);
      out_ += buf;
    }
    for (size_t i = 0; i < data.size(); ++i) {
      std::snprintf(buf, sizeof buf, i + 1 < data.size() ? "%02x," : "%02x", static_cast<unsigned char>(data[i]));
      if (out_.size() - line_start + std::char_traits<char>::length(buf) > kHexWidth - 1) {
        out_ += '\\';
        out_ += kEol;
        line_start = out_.size();
        out_ += "  ";
      }
      out_ += buf;
    }
  }

  unsigned codepage_;
  std::string out_;
};

// The key's name as stored, with those of its parents: "HKEY_LOCAL_MACHINE\Software\X".
std::string ShownPath(Db& db, int64_t id) {
  std::vector<std::string> names;
  while (id != reg::kRootKey) {
    Stmt s(db, "SELECT parent, name FROM reg_keys WHERE id = ?");
    s.Bind(1, id);
    if (!s.Step()) break;
    names.push_back(s.Text(1));
    id = s.Int(0);
  }
  std::string shown(regedit4::kRoot);
  for (auto it = names.rbegin(); it != names.rend(); ++it) shown += '\\' + *it;
  return shown;
}

std::vector<KeyEntry> Subtree(Db& db, int64_t top) {
  std::vector<KeyEntry> keys;
  Stmt s(db,
         "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN tree ON k.parent = tree.id) "
         "SELECT k.id, k.parent, k.name, k.path FROM reg_keys k JOIN tree USING (id)");
  s.Bind(1, top);
  while (s.Step()) keys.push_back({s.Int(0), s.IsNull(1) ? 0 : s.Int(1), s.Text(2), s.Text(3)});
  return keys;
}

}  // namespace

std::string ExportRegedit4(std::optional<std::string_view> key) {
  const unsigned codepage = CurrentMachine().Settings().codepage;
  std::vector<std::string_view> names;
  if (key) {
    if (std::string reason = regedit4::SplitRootedPath(*key, codepage, &names); !reason.empty())
      throw RegistryError(std::string(*key) + ": " + reason);
  }
  Db& db = CurrentMachine().Database();
  ReadTx snapshot(db);
  int64_t top = reg::kRootKey;
  if (!names.empty()) {
    std::optional<int64_t> found = reg::FindKey(db, reg::JoinedPath("", names, codepage));
    if (!found) throw RegistryError("no key " + std::string(*key));
    top = *found;
  }

  std::vector<KeyEntry> keys = Subtree(db, top);
  std::unordered_map<int64_t, std::vector<size_t>> children;
  size_t top_index = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].id == top)
      top_index = i;
    else
      children[keys[i].parent].push_back(i);
  }
  // Siblings in folded-name order, which is their path order; pushed last-first onto the stack.
  for (auto& [parent, list] : children)
    std::sort(list.begin(), list.end(), [&](size_t a, size_t b) { return keys[a].path > keys[b].path; });

  Writer writer(codepage);
  writer.Header();
  std::vector<std::pair<size_t, std::string>> stack{{top_index, ShownPath(db, top)}};
  while (!stack.empty()) {
    auto [index, shown] = std::move(stack.back());
    stack.pop_back();
    writer.Section(shown);
    Stmt s(db, "SELECT name, type, data FROM reg_values WHERE key = ? ORDER BY fold");
    s.Bind(1, keys[index].id);
    while (s.Step()) writer.Value(shown, s.Text(0), static_cast<DWORD>(s.Int(1)), s.Text(2));
    writer.EndSection();
    if (auto it = children.find(keys[index].id); it != children.end())
      for (size_t child : it->second) stack.emplace_back(child, shown + '\\' + keys[child].name);
  }
  return writer.Take();
}

}  // namespace winsim
