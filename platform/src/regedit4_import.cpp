// Reading REGEDIT4 text into the registry: the whole text is checked first, then applied in one
// transaction, so a bad line leaves the registry as it was.
#include <winsim/registry.h>

#include <winsim/codepage.h>
#include <winsim/db.h>
#include <winsim/machine.h>

#include "regedit4_format.h"
#include "registry_names.h"
#include "registry_store.h"

#include <unordered_map>

namespace winsim {
namespace {

struct ValueLine {
  std::string name;
  bool remove = false;
  DWORD type = REG_NONE;
  std::string data;
};

struct Section {
  bool remove = false;
  std::vector<std::string_view> names;
  std::vector<ValueLine> values;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Lines end at LF; a CR before it belongs to the line end.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != prefix[i]) return false;
  }
  return true;
}

// 1 to 8 hex digits, the whole of `digits`.
bool ParseHexNumber(std::string_view digits, DWORD* out) {
  if (digits.empty() || digits.size() > 8) return false;
  DWORD value = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) return false;
    value = value << 4 | static_cast<DWORD>(d);
  }
  *out = value;
  return true;
}

class Reader {
 public:
  Reader(std::string_view text, unsigned codepage) : lines_(SplitLines(text)), codepage_(codepage) {}

  std::vector<Section> Read() {
    if (lines_.empty() || TrimBlanks(lines_[0]) != regedit4::kHeader)
      throw RegeditError(1, "the first line is not REGEDIT4");
    std::vector<Section> sections;
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      std::string_view line = TrimBlanks(lines_[index_]);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        sections.push_back(ReadSection(line));
        continue;
      }
      if (sections.empty()) Fail("value line before the first [key] line");
      if (sections.back().remove) Fail("value line under a [-key] line, which deletes the key");
      sections.back().values.push_back(ReadValue(line));
    }
    return sections;
  }

 private:
  int Number() const { return static_cast<int>(index_) + 1; }
  [[noreturn]] void Fail(const std::string& reason) const { throw RegeditError(Number(), reason); }

  Section ReadSection(std::string_view line) {
    if (line.back() != ']') Fail("key line does not end with ]");
    std::string_view inner = line.substr(1, line.size() - 2);
    Section section;
    section.remove = !inner.empty() && inner.front() == '-';
    if (section.remove) inner.remove_prefix(1);
    if (std::string reason = regedit4::SplitRootedPath(inner, codepage_, &section.names); !reason.empty()) Fail(reason);
    if (section.remove && section.names.empty()) Fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
    return section;
  }

  // Reads "..." starting at the opening quote; `rest` is left after the closing quote. A trail
  // byte of a double-byte character is never a quote or an escape.
  std::string ReadQuoted(std::string_view& rest) {
    std::string out;
    size_t i = 1;
    while (true) {
      if (i >= rest.size()) Fail("no closing quote");
      const char c = rest[i];
      if (c == '"') break;
      if (c == '\0') Fail("NUL byte inside quotes");
      if (IsLeadByte(codepage_, static_cast<unsigned char>(c)) && i + 1 < rest.size()) {
        out.append(rest.substr(i, 2));
        i += 2;
        continue;
      }
      if (c == '\\') {
        if (i + 1 >= rest.size()) Fail("no closing quote");
        const char next = rest[i + 1];
        if (next != '"' && next != '\\') Fail(std::string("\\") + next + " is not an escape (write \\\\ or \\\")");
        out += next;
        i += 2;
        continue;
      }
      out += c;
      ++i;
    }
    rest.remove_prefix(i + 1);
    return out;
  }

  ValueLine ReadValue(std::string_view line) {
    ValueLine value;
    std::string_view rest = line;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else if (rest.front() == '"') {
      value.name = ReadQuoted(rest);
    } else {
      Fail("expected a [key] line, a \"name\"= or @= line");
    }
    if (reg::NameCheck check = reg::CheckValueName(value.name, codepage_); !check) Fail(check.reason);
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != '=') Fail("expected = after the value name");
    rest = TrimBlanks(rest.substr(1));

    if (rest == "-") {
      value.remove = true;
    } else if (!rest.empty() && rest.front() == '"') {
      value.type = REG_SZ;
      value.data = ReadQuoted(rest);
      value.data += '\0';
      if (!rest.empty()) Fail("text after the closing quote");
    } else if (StartsWithNoCase(rest, "dword:")) {
      DWORD number = 0;
      if (!ParseHexNumber(rest.substr(6), &number)) Fail("dword: takes 1 to 8 hex digits");
      value.type = REG_DWORD;
      for (int i = 0; i < 4; ++i) value.data += static_cast<char>(number >> (8 * i) & 0xFF);
    } else if (StartsWithNoCase(rest, "hex:")) {
      value.type = REG_BINARY;
      value.data = ReadHexBytes(rest.substr(4));
    } else if (StartsWithNoCase(rest, "hex(")) {
      const size_t close = rest.find("):");
      if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), &value.type))
        Fail("hex(N): takes the type N in 1 to 8 hex digits");
      value.data = ReadHexBytes(rest.substr(close + 2));
    } else {
      Fail("unknown data (expected \"text\", dword:, hex:, hex(N): or -)");
    }
    return value;
  }

  // Bytes "00,01,..."; a backslash at the end of a line continues the list on the next line.
  std::string ReadHexBytes(std::string_view first) {
    struct Piece {
      size_t offset;
      size_t index;
    };
    std::string joined;
    std::vector<Piece> pieces;
    std::string_view part = TrimBlanks(first);
    while (true) {
      pieces.push_back({joined.size(), index_});
      const bool continued = !part.empty() && part.back() == '\\';
      if (continued) part.remove_suffix(1);
      joined += part;
      if (!continued) break;
      if (index_ + 1 >= lines_.size()) Fail("the last line ends with a backslash");
      part = TrimBlanks(lines_[++index_]);
    }
    // Errors name the line that holds the bad byte.
    const size_t last_index = index_;
    auto fail_at = [&](size_t offset, const char* reason) {
      for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        if (it->offset <= offset) {
          index_ = it->index;
          break;
        }
      }
      Fail(reason);
    };
    std::string bytes;
    size_t i = 0;
    auto skip_blanks = [&] {
      while (i < joined.size() && IsBlank(joined[i])) ++i;
    };
    skip_blanks();
    while (i < joined.size()) {
      if (i + 1 >= joined.size() || HexDigit(joined[i]) < 0 || HexDigit(joined[i + 1]) < 0)
        fail_at(i, "bad hex byte (expected two hex digits)");
      bytes += static_cast<char>(HexDigit(joined[i]) << 4 | HexDigit(joined[i + 1]));
      i += 2;
      skip_blanks();
      if (i == joined.size()) break;
      if (joined[i] != ',') fail_at(i, "expected , between hex bytes");
      ++i;
      skip_blanks();
      if (i == joined.size()) fail_at(i, "hex bytes end with a comma");
    }
    index_ = last_index;
    return bytes;
  }

  std::vector<std::string_view> lines_;
  unsigned codepage_;
  size_t index_ = 0;
};

void Apply(const std::vector<Section>& sections, unsigned codepage) {
  Db& db = CurrentMachine().Database();
  Tx tx(db);
  // Keys this import has reached, by folded path; emptied when a deletion may have taken some.
  std::unordered_map<std::string, int64_t> known;
  const reg::KeyRow root{reg::kRootKey, ""};
  for (const Section& section : sections) {
    std::string path = reg::JoinedPath("", section.names, codepage);
    if (section.remove) {
      if (std::optional<int64_t> id = reg::FindKey(db, path)) reg::DeleteTree(db, *id);
      known.clear();
      continue;
    }
    auto found = known.find(path);
    int64_t key = found != known.end() ? found->second : reg::CreateKeys(db, root, section.names, codepage).id;
    if (found == known.end()) known.emplace(std::move(path), key);
    for (const ValueLine& value : section.values) {
      const std::string fold = reg::Folded(value.name, codepage);
      if (value.remove)
        reg::DeleteValue(db, key, fold);
      else
        reg::SetValue(db, key, value.name, fold, value.type, value.data.data(), value.data.size());
    }
  }
  tx.Commit();
}

}  // namespace

void ImportRegedit4(std::string_view text) {
  const unsigned codepage = CurrentMachine().Settings().codepage;
  Apply(Reader(text, codepage).Read(), codepage);
}

}  // namespace winsim
