#include "preprocessor.h"

#include "compile_error.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace winrc {
namespace {

constexpr int kMaxIncludeDepth = 16;

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r\f\v");
  if (begin == std::string::npos) return {};
  size_t end = s.find_last_not_of(" \t\r\f\v");
  return s.substr(begin, end - begin + 1);
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool IsHeader(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".h" || ext == ".hpp" || ext == ".c";
}

// Removes // and /* */ comments, leaving string literals alone; `in_block` carries an open
// block comment from one line to the next.
std::string StripComments(const std::string& line, bool* in_block) {
  std::string out;
  bool in_string = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (*in_block) {
      if (c == '*' && i + 1 < line.size() && line[i + 1] == '/') {
        *in_block = false;
        ++i;
        out += ' ';
      }
      continue;
    }
    if (in_string) {
      out += c;
      if (c == '\\' && i + 1 < line.size()) {
        out += line[++i];
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
      out += c;
    } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
      break;
    } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '*') {
      *in_block = true;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

// Evaluates the expression of #if / #elif: integers, symbols, defined(X), !, &&, ||, ==, !=, ( ).
class Condition {
 public:
  Condition(const std::string& text, const std::map<std::string, std::string>& defines, const std::string& file,
            int line)
      : defines_(defines), file_(file), line_(line) {
    Tokenize(text);
  }

  bool Evaluate() {
    long value = Or();
    if (pos_ != tokens_.size()) Fail("unexpected '" + tokens_[pos_] + "'");
    return value != 0;
  }

 private:
  void Tokenize(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
      char c = text[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (IsWordChar(c)) {
        size_t start = i;
        while (i < text.size() && IsWordChar(text[i])) ++i;
        tokens_.push_back(text.substr(start, i - start));
      } else if (i + 1 < text.size() && (text.compare(i, 2, "&&") == 0 || text.compare(i, 2, "||") == 0 ||
                                         text.compare(i, 2, "==") == 0 || text.compare(i, 2, "!=") == 0)) {
        tokens_.push_back(text.substr(i, 2));
        i += 2;
      } else if (c == '!' || c == '(' || c == ')') {
        tokens_.push_back(std::string(1, c));
        ++i;
      } else {
        Fail(std::string("unsupported character '") + c + "' in a condition");
      }
    }
  }

  [[noreturn]] void Fail(const std::string& message) { throw CompileError(file_, line_, message); }

  bool Take(const char* token) {
    if (pos_ < tokens_.size() && tokens_[pos_] == token) {
      ++pos_;
      return true;
    }
    return false;
  }

  const std::string& Next() {
    if (pos_ >= tokens_.size()) Fail("incomplete condition");
    return tokens_[pos_++];
  }

  long Or() {
    long value = And();
    while (Take("||")) value = (And() != 0) || value != 0;
    return value;
  }

  long And() {
    long value = Compare();
    while (Take("&&")) value = (Compare() != 0) && value != 0;
    return value;
  }

  long Compare() {
    long value = Unary();
    if (Take("==")) return value == Unary();
    if (Take("!=")) return value != Unary();
    return value;
  }

  long Unary() {
    if (Take("!")) return !Unary();
    if (Take("(")) {
      long value = Or();
      if (!Take(")")) Fail("missing ')' in a condition");
      return value;
    }
    const std::string& word = Next();
    if (word == "defined") {
      bool paren = Take("(");
      const std::string& name = Next();
      if (paren && !Take(")")) Fail("missing ')' after defined(" + name);
      return defines_.count(name) ? 1 : 0;
    }
    if (std::isdigit(static_cast<unsigned char>(word[0]))) {
      std::optional<long> value = IntegerLiteral(word);
      if (!value) Fail("'" + word + "' is not a number");
      return *value;
    }
    if (!IsWordChar(word[0])) Fail("unexpected '" + word + "'");
    return DefineValue(defines_, word).value_or(0);
  }

  const std::map<std::string, std::string>& defines_;
  std::string file_;
  int line_;
  std::vector<std::string> tokens_;
  size_t pos_ = 0;
};

struct Branch {
  bool outer_active;  // the enclosing block is active
  bool active;        // this branch is active
  bool taken;         // some branch of this block was active
};

class Run {
 public:
  explicit Run(const fs::path& script) : script_folder_(script.parent_path()) { out_.defines["RC_INVOKED"] = "1"; }

  Preprocessed Take(const fs::path& script) {
    Read(script, script.filename().string(), false, 0);
    return std::move(out_);
  }

 private:
  void Read(const fs::path& path, const std::string& name, bool header, int depth) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CompileError("cannot read " + path.string());
    out_.files.push_back(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string content = buffer.str();

    std::vector<Branch> branches;
    bool in_block = false;
    int number = 0;
    size_t start = 0;
    while (start < content.size()) {
      size_t end = content.find('\n', start);
      if (end == std::string::npos) end = content.size();
      std::string raw = content.substr(start, end - start);
      start = end + 1;
      ++number;
      const int first = number;
      std::string text = Trim(StripComments(raw, &in_block));
      // A directive continues on the next line after a trailing backslash.
      while (!text.empty() && text[0] == '#' && text.back() == '\\' && start < content.size()) {
        end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        text.pop_back();
        text += " " + Trim(StripComments(content.substr(start, end - start), &in_block));
        start = end + 1;
        ++number;
      }
      const bool active = branches.empty() || branches.back().active;
      if (!text.empty() && text[0] == '#') {
        Directive(Trim(text.substr(1)), path, name, first, header, depth, active, branches);
      } else if (active && !header && !text.empty()) {
        out_.lines.push_back({name, first, path.parent_path(), text});
      }
    }
    if (!branches.empty()) throw CompileError(name, number, "missing #endif");
  }

  void Directive(const std::string& text, const fs::path& path, const std::string& name, int line, bool header,
                 int depth, bool active, std::vector<Branch>& branches) {
    size_t word_end = 0;
    while (word_end < text.size() && IsWordChar(text[word_end])) ++word_end;
    const std::string word = text.substr(0, word_end);
    const std::string rest = Trim(text.substr(word_end));

    if (word == "ifdef" || word == "ifndef" || word == "if") {
      bool value = false;
      if (active) {
        if (word == "if") {
          value = Condition(rest, out_.defines, name, line).Evaluate();
        } else {
          if (rest.empty()) throw CompileError(name, line, "#" + word + " needs a name");
          value = out_.defines.count(rest) != 0;
          if (word == "ifndef") value = !value;
        }
      }
      branches.push_back({active, active && value, active && value});
      return;
    }
    if (word == "elif" || word == "else" || word == "endif") {
      if (branches.empty()) throw CompileError(name, line, "#" + word + " without #if");
      Branch& b = branches.back();
      if (word == "endif") {
        branches.pop_back();
      } else if (word == "else") {
        b.active = b.outer_active && !b.taken;
        b.taken = true;
      } else {
        bool value = b.outer_active && !b.taken && Condition(rest, out_.defines, name, line).Evaluate();
        b.active = value;
        b.taken = b.taken || value;
      }
      return;
    }
    if (!active) return;

    if (word == "define") {
      size_t n = 0;
      while (n < rest.size() && IsWordChar(rest[n])) ++n;
      if (n == 0) throw CompileError(name, line, "#define needs a name");
      out_.defines[rest.substr(0, n)] = Trim(rest.substr(n));
    } else if (word == "undef") {
      out_.defines.erase(rest);
    } else if (word == "include") {
      Include(rest, path, name, line, depth);
    } else if (word == "pragma") {
      // code_page and the like: the script's bytes are taken as they are.
    } else if (word == "error") {
      throw CompileError(name, line, "#error " + rest);
    } else if (!header) {
      throw CompileError(name, line, "unsupported directive #" + word);
    }
  }

  void Include(const std::string& rest, const fs::path& path, const std::string& name, int line, int depth) {
    if (!rest.empty() && rest[0] == '<') return;
    if (rest.size() < 2 || rest[0] != '"' || rest.back() != '"')
      throw CompileError(name, line, "#include needs a quoted file name");
    std::string target = rest.substr(1, rest.size() - 2);
    for (char& c : target)
      if (c == '\\') c = '/';
    if (depth + 1 > kMaxIncludeDepth) throw CompileError(name, line, "#include nested too deep");
    for (const fs::path& folder : {path.parent_path(), script_folder_}) {
      fs::path candidate = folder / target;
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec)) {
        Read(candidate, target, IsHeader(candidate), depth + 1);
        return;
      }
    }
  }

  fs::path script_folder_;
  Preprocessed out_;
};

}  // namespace

Preprocessed Preprocess(const fs::path& script) { return Run(script).Take(script); }

std::optional<long> IntegerLiteral(std::string text) {
  while (!text.empty() && (text.back() == 'L' || text.back() == 'l' || text.back() == 'U' || text.back() == 'u'))
    text.pop_back();
  if (text.empty()) return std::nullopt;
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  long value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFL) return std::nullopt;
  }
  return value;
}

std::optional<long> DefineValue(const std::map<std::string, std::string>& defines, const std::string& name) {
  auto it = defines.find(name);
  if (it == defines.end()) return std::nullopt;
  std::string text = it->second;
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = Trim(text.substr(1, text.size() - 2));
  return IntegerLiteral(text);
}

}  // namespace winrc
