// Windows paths on drive C: of the machine: the two lookups that starting programs needs.
#include <winsim/paths.h>

#include <winsim/machine.h>

#include <vector>

namespace fs = std::filesystem;

namespace winsim {
namespace {

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// Splits at backslashes that are not the trail byte of a double-byte character.
std::vector<std::string> Parts(std::string_view path) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < path.size()) {
      parts.back() += c;
      parts.back() += path[++i];
    } else if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

std::optional<std::string> FullWindowsPath(std::string_view name, DWORD* error) {
  std::string path(name);
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.empty()) {
    *error = ERROR_INVALID_NAME;
    return std::nullopt;
  }
  if (path.size() >= 2 && path[1] == ':') {
    if (path[0] != 'C' && path[0] != 'c') {
      *error = ERROR_PATH_NOT_FOUND;
      return std::nullopt;
    }
    path.erase(0, 2);
    if (path.empty() || path[0] != '\\') path = CurrentDirectory().substr(2) + "\\" + path;
  } else if (path[0] != '\\') {
    path = CurrentDirectory().substr(2) + "\\" + path;
  }
  std::vector<std::string> kept;
  for (std::string& part : Parts(path)) {
    // Windows drops trailing dots and blanks of each name.
    while (!part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    for (unsigned char c : part) {
      if (c < 0x20 || std::string_view("<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos) {
        *error = ERROR_INVALID_NAME;
        return std::nullopt;
      }
    }
    kept.push_back(std::move(part));
  }
  std::string full = "C:";
  for (const std::string& part : kept) full += "\\" + part;
  if (kept.empty()) full += "\\";
  if (full.size() >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return std::nullopt;
  }
  return full;
}

std::optional<fs::path> FindHostPath(std::string_view full_windows_path) {
  fs::path host = CurrentMachine().DriveC();
  std::vector<std::string> parts = Parts(full_windows_path.substr(2));
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    std::error_code ec;
    if (fs::exists(host / part, ec)) {
      host /= part;
      continue;
    }
    bool found = false;
    for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
      if (SameIgnoringAsciiCase(it->path().filename().string(), part)) {
        host = it->path();
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  return host;
}

}  // namespace winsim
