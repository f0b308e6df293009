#include "rc_script.h"

#include "compile_error.h"
#include "icon_file.h"
#include "preprocessor.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

namespace fs = std::filesystem;

namespace winrc {
namespace {

struct Token {
  enum Kind { kWord, kString, kPunct } kind;
  std::string text;  // a string's bytes after its escapes
  const SourceLine* line;
};

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A string literal starting at text[*i] (the opening quote): "" is a quote; \n \t \r \\ \" are
// escapes; any other backslash stays as written.
std::string ReadString(const SourceLine& line, size_t* i) {
  const std::string& text = line.text;
  std::string out;
  for (size_t p = *i + 1; p < text.size(); ++p) {
    char c = text[p];
    if (c == '"') {
      if (p + 1 < text.size() && text[p + 1] == '"') {
        out += '"';
        ++p;
        continue;
      }
      *i = p + 1;
      return out;
    }
    if (c == '\\' && p + 1 < text.size()) {
      char e = text[p + 1];
      const char* escapes = "ntr\\\"";
      const char* values = "\n\t\r\\\"";
      if (const char* hit = std::strchr(escapes, e); hit && e) {
        out += values[hit - escapes];
        ++p;
        continue;
      }
    }
    out += c;
  }
  throw CompileError(line.file, line.number, "unterminated string");
}

std::vector<Token> Tokenize(const std::vector<SourceLine>& lines) {
  std::vector<Token> tokens;
  for (const SourceLine& line : lines) {
    const std::string& text = line.text;
    for (size_t i = 0; i < text.size();) {
      char c = text[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (c == '"') {
        tokens.push_back({Token::kString, ReadString(line, &i), &line});
      } else if ((c == 'L' || c == 'l') && i + 1 < text.size() && text[i + 1] == '"') {
        throw CompileError(line.file, line.number, "wide strings are not supported");
      } else if (IsWordChar(c)) {
        size_t start = i;
        while (i < text.size() && IsWordChar(text[i])) ++i;
        tokens.push_back({Token::kWord, text.substr(start, i - start), &line});
      } else {
        tokens.push_back({Token::kPunct, std::string(1, c), &line});
        ++i;
      }
    }
  }
  return tokens;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, CompiledScript* out) : tokens_(std::move(tokens)), out_(out) {}

  void Run() {
    while (pos_ < tokens_.size()) {
      const Token& t = tokens_[pos_++];
      const std::string keyword = t.kind == Token::kWord ? Upper(t.text) : "";
      if (keyword == "LANGUAGE") {
        SkipLanguage();
      } else if (keyword == "STRINGTABLE") {
        StringTable();
      } else {
        Statement(t);
      }
    }
  }

 private:
  [[noreturn]] void Fail(const Token& at, const std::string& message) {
    throw CompileError(at.line->file, at.line->number, message);
  }

  const Token& Next(const Token& after, const char* what) {
    if (pos_ >= tokens_.size()) Fail(after, std::string("unexpected end of script: expected ") + what);
    return tokens_[pos_++];
  }

  bool TakePunct(char c) {
    if (pos_ < tokens_.size() && tokens_[pos_].kind == Token::kPunct && tokens_[pos_].text[0] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool AtWord(const char* upper) const {
    return pos_ < tokens_.size() && tokens_[pos_].kind == Token::kWord && Upper(tokens_[pos_].text) == upper;
  }

  bool AtBlockStart() const {
    return AtWord("BEGIN") ||
           (pos_ < tokens_.size() && tokens_[pos_].kind == Token::kPunct && tokens_[pos_].text == "{");
  }
  bool AtBlockEnd() const {
    return AtWord("END") || (pos_ < tokens_.size() && tokens_[pos_].kind == Token::kPunct && tokens_[pos_].text == "}");
  }

  // LANGUAGE lang, sublang: every resource here is of one language, so the pair is not kept.
  void SkipLanguage() {
    const Token& lang = Next(tokens_[pos_ - 1], "a language");
    if (lang.kind != Token::kWord) Fail(lang, "LANGUAGE needs a language and a sublanguage");
    TakePunct(',');
    const Token& sub = Next(lang, "a sublanguage");
    if (sub.kind != Token::kWord) Fail(sub, "LANGUAGE needs a language and a sublanguage");
  }

  // A number, or one in parentheses, as a #defined id reads once its macro is expanded.
  uint32_t Id(const Token& t) {
    if (t.kind == Token::kPunct && t.text == "(") {
      const uint32_t id = Id(Next(t, "a resource id"));
      if (!TakePunct(')')) Fail(t, "a resource id in parentheses must be a plain number");
      return id;
    }
    if (t.kind != Token::kWord) Fail(t, "expected a resource id, not '" + t.text + "'");
    if (!std::isdigit(static_cast<unsigned char>(t.text[0])))
      Fail(t, "unknown symbol " + t.text + " (ids are numbers or #defined symbols)");
    std::optional<long> value = IntegerLiteral(t.text);
    if (!value) Fail(t, "'" + t.text + "' is not a number");
    if (*value > 0xFFFF) Fail(t, "id " + std::to_string(*value) + " is above 65535");
    return static_cast<uint32_t>(*value);
  }

  void Add(const Token& at, uint32_t type, uint32_t id, std::vector<uint8_t> data, const char* what) {
    if (!seen_.insert({type, id}).second) Fail(at, std::string("duplicate ") + what + " id " + std::to_string(id));
    out_->resources.push_back({type, id, std::move(data)});
  }

  void StringTable() {
    const Token& head = tokens_[pos_ - 1];
    while (pos_ < tokens_.size() && !AtBlockStart()) ++pos_;  // options: LANGUAGE, CHARACTERISTICS, memory flags
    if (pos_ >= tokens_.size()) Fail(head, "STRINGTABLE without BEGIN");
    ++pos_;
    for (;;) {
      if (pos_ >= tokens_.size()) Fail(head, "STRINGTABLE without END");
      if (AtBlockEnd()) {
        ++pos_;
        return;
      }
      const Token& id_token = tokens_[pos_++];
      uint32_t id = Id(id_token);
      TakePunct(',');
      const Token& text = Next(id_token, "a string");
      if (text.kind != Token::kString) Fail(text, "expected a quoted string for string id " + std::to_string(id));
      Add(id_token, kStringType, id, std::vector<uint8_t>(text.text.begin(), text.text.end()), "string");
    }
  }

  // `id TYPE ...`: only icons are supported.
  void Statement(const Token& name) {
    const Token& type = Next(name, "a resource type");
    if (type.kind != Token::kWord || Upper(type.text) != "ICON")
      Fail(type,
           "unsupported statement '" + name.text + " " + type.text + "' (supported: STRINGTABLE, ICON, LANGUAGE)");
    const uint32_t id = Id(name);
    static const std::set<std::string> kMemoryOptions = {"PRELOAD", "LOADONCALL", "FIXED",  "MOVEABLE", "DISCARDABLE",
                                                         "PURE",    "IMPURE",     "SHARED", "NONSHARED"};
    while (pos_ < tokens_.size() && tokens_[pos_].kind == Token::kWord &&
           kMemoryOptions.count(Upper(tokens_[pos_].text)))
      ++pos_;
    const Token& file = Next(type, "an icon file name");
    if (file.kind != Token::kString) Fail(file, "the icon file name must be quoted");
    std::string relative = file.text;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    fs::path path = file.line->folder / relative;
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(file, "cannot read icon file " + path.string());
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out_->files.push_back(path);
    if (seen_.count({kGroupIconType, id})) Fail(name, "duplicate icon id " + std::to_string(id));
    try {
      AddIconResources(bytes, path.string(), id, &next_icon_image_, &out_->resources);
    } catch (const CompileError& e) {
      Fail(file, e.what());
    }
    seen_.insert({kGroupIconType, id});
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  CompiledScript* out_;
  std::set<std::pair<uint32_t, uint32_t>> seen_;
  uint32_t next_icon_image_ = 1;
};

}  // namespace

CompiledScript CompileScript(const fs::path& script, const PreprocessorSettings& settings) {
  Preprocessed pre = Preprocess(script, settings);
  CompiledScript out;
  out.files = pre.files;
  Parser(Tokenize(pre.lines), &out).Run();
  return out;
}

}  // namespace winrc
