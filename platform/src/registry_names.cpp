#include "registry_names.h"

#include <winsim/codepage.h>

namespace winsim::reg {
namespace {

// Width in bytes of the character at `i`: a lead byte takes the next byte with it.
size_t CharWidth(std::string_view text, size_t i, unsigned codepage) {
  return IsLeadByte(codepage, static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// Limits shared by key and value names. Windows converts names to Unicode, where half a
// character has no form; refusing it keeps every stored name one that Windows could hold.
NameCheck CheckName(std::string_view name, unsigned codepage) {
  size_t chars = 0;
  size_t i = 0;
  while (i < name.size()) {
    i += CharWidth(name, i, codepage);
    ++chars;
  }
  if (chars > kMaxNameChars) return {ERROR_INVALID_PARAMETER, "name longer than 255 characters"};
  // A C string ends there: no call could ever name it again.
  if (name.find('\0') != std::string_view::npos) return {ERROR_INVALID_PARAMETER, "name holds a NUL byte"};
  if (EndsInsideCharacter(name, codepage)) return {ERROR_INVALID_PARAMETER, "name ends inside a double-byte character"};
  return {};
}

}  // namespace

bool EndsInsideCharacter(std::string_view text, unsigned codepage) {
  size_t i = 0;
  size_t last = 0;
  while (i < text.size()) {
    last = i;
    i += CharWidth(text, i, codepage);
  }
  return !text.empty() && IsLeadByte(codepage, static_cast<unsigned char>(text[last])) && last + 1 == text.size();
}

NameCheck SplitKeyPath(std::string_view path, unsigned codepage, std::vector<std::string_view>* names) {
  names->clear();
  if (path.empty()) return {};
  if (path.front() == '\\') return {ERROR_BAD_PATHNAME, "key path begins with a backslash"};
  size_t start = 0;
  size_t i = 0;
  while (true) {
    if (i < path.size() && path[i] != '\\') {
      i += CharWidth(path, i, codepage);
      continue;
    }
    std::string_view name = path.substr(start, i - start);
    if (name.empty()) {
      if (i == path.size()) break;  // "A\" names A
      return {ERROR_BAD_PATHNAME, "empty key name in the path"};
    }
    if (NameCheck check = CheckName(name, codepage); !check) return check;
    names->push_back(name);
    if (i == path.size()) break;
    start = ++i;
  }
  return {};
}

NameCheck CheckDepth(size_t depth) {
  if (depth > kMaxDepth) return {ERROR_INVALID_PARAMETER, "key deeper than 512 levels"};
  return {};
}

NameCheck CheckValueName(std::string_view name, unsigned codepage) { return CheckName(name, codepage); }

void AppendFolded(std::string& out, std::string_view name, unsigned codepage) {
  size_t i = 0;
  while (i < name.size()) {
    const size_t width = CharWidth(name, i, codepage);
    char c = name[i];
    out += (width == 1 && c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (width == 2) out += name[i + 1];
    i += width;
  }
}

std::string Folded(std::string_view name, unsigned codepage) {
  std::string out;
  out.reserve(name.size());
  AppendFolded(out, name, codepage);
  return out;
}

std::string ChildPath(std::string_view parent, std::string_view name, unsigned codepage) {
  std::string out;
  out.reserve(parent.size() + 1 + name.size());
  out += parent;
  if (!parent.empty()) out += '\\';
  AppendFolded(out, name, codepage);
  return out;
}

std::string JoinedPath(std::string_view parent, const std::vector<std::string_view>& names, unsigned codepage) {
  std::string out(parent);
  for (std::string_view name : names) {
    if (!out.empty()) out += '\\';
    AppendFolded(out, name, codepage);
  }
  return out;
}

}  // namespace winsim::reg
