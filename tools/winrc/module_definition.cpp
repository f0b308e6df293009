#include "module_definition.h"

#include "compile_error.h"
#include "preprocessor.h"

#include <cctype>
#include <set>

namespace winrc {
namespace {

struct Word {
  enum Kind { kName, kQuoted, kEquals, kOrdinal } kind;
  std::string text;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsCIdentifier(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

class LineParser {
 public:
  LineParser(const std::string& file, int number) : file_(file), number_(number) {}

  [[noreturn]] void Fail(const std::string& message) const { throw CompileError(file_, number_, message); }

  // Words of one line; `;` starts a comment. "@5" and "@ 5" are ordinals; a name may hold '@' and '?'.
  std::vector<Word> Split(std::string_view line) const {
    std::vector<Word> words;
    size_t i = 0;
    auto space = [&](size_t at) { return std::isspace(static_cast<unsigned char>(line[at])) != 0; };
    while (i < line.size()) {
      char c = line[i];
      if (space(i)) {
        ++i;
      } else if (c == ';') {
        break;
      } else if (c == '=') {
        words.push_back({Word::kEquals, "="});
        ++i;
      } else if (c == '"') {
        size_t end = line.find('"', i + 1);
        if (end == std::string_view::npos) Fail("unterminated quoted name");
        words.push_back({Word::kQuoted, std::string(line.substr(i + 1, end - i - 1))});
        i = end + 1;
      } else {
        size_t start = i;
        size_t digits = i + 1;
        while (c == '@' && digits < line.size() && space(digits)) ++digits;
        if (c == '@' && digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
          i = digits;
          while (i < line.size() && !space(i) && line[i] != ';') ++i;
          words.push_back({Word::kOrdinal, std::string(line.substr(digits, i - digits))});
          continue;
        }
        while (i < line.size() && !space(i) && line[i] != '=' && line[i] != ';') ++i;
        words.push_back({Word::kName, std::string(line.substr(start, i - start))});
      }
    }
    return words;
  }

  Export ParseExport(const std::vector<Word>& words, size_t at) const {
    Export e;
    if (words[at].kind != Word::kName && words[at].kind != Word::kQuoted) Fail("expected an export name");
    e.name = words[at++].text;
    e.internal = e.name;
    if (at < words.size() && words[at].kind == Word::kEquals) {
      if (++at >= words.size() || words[at].kind != Word::kName) Fail("expected an internal name after '='");
      e.internal = words[at++].text;
    }
    if (!IsCIdentifier(e.internal)) Fail("'" + e.internal + "' is not a C symbol; write " + e.name + "=internalname");
    for (; at < words.size(); ++at) {
      const Word& w = words[at];
      if (w.kind == Word::kOrdinal) {
        std::optional<long> value = IntegerLiteral(w.text);
        if (!value || *value < 1 || *value > 0xFFFF) Fail("ordinal '" + w.text + "' is not between 1 and 65535");
        if (e.ordinal) Fail("two ordinals for " + e.name);
        e.ordinal = static_cast<uint32_t>(*value);
      } else if (w.kind == Word::kName && Upper(w.text) == "NONAME") {
        e.by_ordinal_only = true;
      } else if (w.kind == Word::kName && Upper(w.text) == "PRIVATE") {
      } else {
        Fail("unexpected '" + w.text + "' after export " + e.name);
      }
    }
    if (e.by_ordinal_only && !e.ordinal) Fail("NONAME export " + e.name + " needs an ordinal");
    return e;
  }

 private:
  std::string file_;
  int number_;
};

bool IsStatement(const std::string& upper) {
  return upper == "LIBRARY" || upper == "EXPORTS" || upper == "DESCRIPTION" || upper == "NAME" || upper == "VERSION" ||
         upper == "HEAPSIZE" || upper == "STACKSIZE" || upper == "SECTIONS" || upper == "STUB" || upper == "IMPORTS";
}

void AssignOrdinals(ModuleDefinition& def) {
  std::set<uint32_t> used;
  for (const Export& e : def.exports)
    if (e.ordinal) used.insert(e.ordinal);
  uint32_t next = 1;
  for (Export& e : def.exports) {
    if (e.ordinal) continue;
    while (used.count(next)) ++next;
    if (next > 0xFFFF) throw CompileError("more than 65535 exports");
    e.ordinal = next;
    used.insert(next);
  }
}

}  // namespace

ModuleDefinition ParseModuleDefinition(std::string_view text, const std::string& file) {
  ModuleDefinition def;
  bool in_exports = false;
  bool have_library = false;
  std::set<std::string> names;
  std::set<uint32_t> ordinals;
  int number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    LineParser parser(file, number);
    std::vector<Word> words = parser.Split(line);
    if (words.empty()) continue;

    size_t at = 0;
    const std::string head = words[0].kind == Word::kName ? Upper(words[0].text) : "";
    if (IsStatement(head)) {
      in_exports = false;
      at = 1;
      if (head == "LIBRARY") {
        if (have_library) parser.Fail("a second LIBRARY statement");
        have_library = true;
        const bool option_only = words.size() > 2 && words[2].kind == Word::kEquals;  // LIBRARY BASE=...
        if (words.size() > 1 && words[1].kind != Word::kEquals && !option_only) {
          def.library = words[1].text;
          if (def.library.find('.') == std::string::npos) def.library += ".dll";
        }
        continue;
      }
      if (head == "DESCRIPTION") continue;
      if (head != "EXPORTS") parser.Fail("unsupported statement " + words[0].text);
      in_exports = true;
      if (words.size() == 1) continue;
    }
    if (!in_exports) parser.Fail("'" + words[0].text + "' outside EXPORTS");
    Export e = parser.ParseExport(words, at);
    if (!names.insert(e.name).second) parser.Fail("export " + e.name + " listed twice");
    if (e.ordinal && !ordinals.insert(e.ordinal).second)
      parser.Fail("ordinal " + std::to_string(e.ordinal) + " used twice");
    def.exports.push_back(std::move(e));
  }
  AssignOrdinals(def);
  return def;
}

}  // namespace winrc
