// Stand-in for the path resolution that the file system brings (to be dropped when it lands):
// just enough of FullWindowsPath, FindHostPath and WindowsPathOf for the module loader.
#include <winsim/machine.h>
#include <winsim/paths.h>

#include <cctype>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {
namespace {

bool SameFold(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::vector<std::string> Parts(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
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
  std::string base;
  if (path.size() >= 2 && path[1] == ':') {
    if (std::toupper(static_cast<unsigned char>(path[0])) != 'C') {
      *error = ERROR_PATH_NOT_FOUND;
      return std::nullopt;
    }
    path.erase(0, 2);
    if (path.empty() || path[0] != '\\') base = CurrentDirectory();
  } else if (path[0] != '\\') {
    base = CurrentDirectory();
  }
  std::vector<std::string> parts;
  for (const std::string& part : Parts(base.size() > 2 ? base.substr(2) : "")) parts.push_back(part);
  for (const std::string& part : Parts(path)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string full = "C:";
  for (const std::string& part : parts) full += "\\" + part;
  if (parts.empty()) full += "\\";
  if (full.size() >= MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return std::nullopt;
  }
  return full;
}

std::optional<fs::path> FindHostPath(std::string_view full_windows_path) {
  if (full_windows_path.size() < 2 || full_windows_path[1] != ':') return std::nullopt;
  fs::path host = CurrentMachine().DriveC();
  for (const std::string& part : Parts(full_windows_path.substr(2))) {
    std::error_code ec;
    if (fs::exists(host / part, ec)) {
      host /= part;
      continue;
    }
    bool found = false;
    for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
      if (SameFold(it->path().filename().string(), part)) {
        host = it->path();
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  return host;
}

std::optional<std::string> WindowsPathOf(const fs::path& host) {
  std::error_code ec;
  fs::path drive = fs::weakly_canonical(CurrentMachine().DriveC(), ec);
  fs::path file = fs::weakly_canonical(host, ec);
  fs::path relative = file.lexically_relative(drive);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  std::string out = "C:";
  for (const fs::path& part : relative)
    if (part != ".") out += "\\" + part.string();
  return out.size() == 2 ? "C:\\" : out;
}

}  // namespace winsim
