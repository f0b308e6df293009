// Windows names of drive C: and the host files behind them.
#include <winsim/paths.h>

#include <winsim/machine.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace winsim {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Splits at separators that are characters of their own; empty parts ("A\\B") drop out.
std::vector<std::string> SplitParts(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < path.size();) {
    const size_t n = CharSize(path, i);
    if (n == 1 && IsSeparator(path[i])) {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.append(path.substr(i, n));
    }
    i += n;
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

std::string_view WithoutDrive(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
  return path;
}

// Windows drops trailing dots and blanks from a name ("SETUP.EXE." is SETUP.EXE); a name of dots and
// blanks alone, or with a character that no file name may hold, is ERROR_INVALID_NAME. A name is at
// most 255 characters, and the host holds at most NAME_MAX bytes of it: ERROR_FILENAME_EXCED_RANGE.
DWORD CleanPart(std::string& part) {
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
  if (part.empty()) return ERROR_INVALID_NAME;
  size_t chars = 0;
  for (size_t i = 0; i < part.size(); ++chars) {
    const size_t n = CharSize(part, i);
    const unsigned char c = static_cast<unsigned char>(part[i]);
    if (n == 1 && (c < 0x20 || c == '<' || c == '>' || c == '|' || c == '"' || c == ':')) return ERROR_INVALID_NAME;
    // A slash is never the second byte of a character; after a lead byte it would still split the
    // name on the host.
    if (n == 2 && part[i + 1] == '/') return ERROR_INVALID_NAME;
    i += n;
  }
  if (chars > kMaxNameChars || part.size() > NAME_MAX) return ERROR_FILENAME_EXCED_RANGE;
  return ERROR_SUCCESS;
}

// A part that the host takes as one name in its folder: no separator of its own, no step up.
bool IsHostName(std::string_view part) {
  return !part.empty() && part != "." && part != ".." && part.size() <= NAME_MAX &&
         part.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string full = "C:\\";
  for (size_t i = 0; i < parts.size(); ++i) full += (i ? "\\" : "") + parts[i];
  return full;
}

// The host root of drive C: with links resolved, to tell where a link leads.
// Asked on every lookup, so the answer is kept per drive: a machine's folder does not move.
fs::path CanonicalDrive(const fs::path& drive) {
  static std::mutex mutex;
  static std::map<fs::path, fs::path>* known = new std::map<fs::path, fs::path>;
  std::lock_guard lock(mutex);
  auto it = known->find(drive);
  if (it != known->end()) return it->second;
  std::error_code ec;
  fs::path root = fs::canonical(drive, ec);
  if (ec) return drive;
  return known->emplace(drive, root).first->second;
}

bool Inside(const fs::path& path, const fs::path& root) {
  auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return r == root.end();
}

// An entry of `dir` that is a file or folder of the machine: a link only when it stays on drive C:,
// and only regular files and folders (a FIFO or device would hang or harm whoever opens it).
bool Usable(const fs::path& entry, const fs::path& canonical_drive) {
  std::error_code ec;
  fs::file_status status = fs::symlink_status(entry, ec);
  if (ec || !fs::exists(status)) return false;
  if (fs::is_symlink(status)) {
    fs::path target = fs::canonical(entry, ec);
    if (ec || !Inside(target, canonical_drive)) return false;
    status = fs::status(target, ec);
    if (ec) return false;
  }
  return fs::is_regular_file(status) || fs::is_directory(status);
}

// The entry of `dir` named `part` without regard to case: the exact name first, else the first match
// in byte order, so that the choice stays the same from call to call.
std::optional<fs::path> FindEntry(const fs::path& dir, const std::string& part, const fs::path& canonical_drive) {
  if (!IsHostName(part)) return std::nullopt;
  const std::string folded = FoldFileName(part);
  // A name written in another case than on disk ("inf" for "INF") would miss and list its folder
  // on every lookup: the answer found is kept, and tried first, while it still exists.
  static std::mutex mutex;
  static std::map<std::pair<fs::path, std::string>, fs::path>* answers =
      new std::map<std::pair<fs::path, std::string>, fs::path>;
  const auto key = std::make_pair(dir, folded);
  {
    std::lock_guard lock(mutex);
    auto it = answers->find(key);
    if (it != answers->end() && Usable(it->second, canonical_drive)) return it->second;
  }
  if (Usable(dir / part, canonical_drive)) return dir / part;
  std::optional<std::string> best;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (FoldFileName(name) == folded && (!best || name < *best) && Usable(it->path(), canonical_drive)) best = name;
  }
  if (!best) return std::nullopt;
  std::lock_guard lock(mutex);
  return (*answers)[key] = dir / *best;
}

}  // namespace

size_t CharSize(std::string_view text, size_t at) {
  return IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size() && text[at + 1] ? 2 : 1;
}

std::string FoldFileName(std::string_view name) {
  std::string folded(name);
  for (size_t i = 0; i < folded.size();) {
    const size_t n = CharSize(folded, i);
    if (n == 1 && folded[i] >= 'a' && folded[i] <= 'z') folded[i] = static_cast<char>(folded[i] - 'a' + 'A');
    i += n;
  }
  return folded;
}

std::vector<std::string> PathParts(std::string_view full_windows_path) {
  return SplitParts(WithoutDrive(full_windows_path));
}

std::string ParentPath(std::string_view full_windows_path) {
  std::vector<std::string> parts = PathParts(full_windows_path);
  if (!parts.empty()) parts.pop_back();
  return Join(parts);
}

std::optional<std::string> FullWindowsPath(std::string_view name, DWORD* error) {
  auto fail = [error](DWORD code) -> std::optional<std::string> {
    if (error) *error = code;
    return std::nullopt;
  };
  if (name.empty()) return fail(ERROR_INVALID_NAME);
  if (name.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  // Network names and device names ("\\server\share", "\\.\LPT1") are not on drive C:.
  if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) return fail(ERROR_PATH_NOT_FOUND);

  std::string_view rest = name;
  bool from_root = IsSeparator(rest[0]);
  if (rest.size() >= 2 && rest[1] == ':' && IsAsciiLetter(rest[0])) {
    if (rest[0] != 'C' && rest[0] != 'c') return fail(ERROR_PATH_NOT_FOUND);
    rest.remove_prefix(2);
    from_root = !rest.empty() && IsSeparator(rest[0]);
  }
  std::vector<std::string> parts;
  if (!from_root) parts = PathParts(CurrentDirectory());
  for (std::string& part : SplitParts(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (const DWORD error = CleanPart(part)) return fail(error);
    parts.push_back(std::move(part));
  }
  std::string full = Join(parts);
  if (full.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  return full;
}

std::optional<fs::path> FindHostPath(std::string_view full_windows_path) {
  const fs::path drive = CurrentMachine().DriveC();
  const fs::path canonical_drive = CanonicalDrive(drive);
  fs::path host = drive;
  for (const std::string& part : PathParts(full_windows_path)) {
    std::optional<fs::path> next = FindEntry(host, part, canonical_drive);
    if (!next) return std::nullopt;
    host = std::move(*next);
  }
  return host;
}

std::optional<fs::path> HostPathForCreate(std::string_view full_windows_path) {
  const fs::path drive = CurrentMachine().DriveC();
  const fs::path canonical_drive = CanonicalDrive(drive);
  fs::path host = drive;
  bool found = true;
  for (const std::string& part : PathParts(full_windows_path)) {
    if (!IsHostName(part)) return std::nullopt;
    std::optional<fs::path> next = found ? FindEntry(host, part, canonical_drive) : std::nullopt;
    found = next.has_value();
    host = found ? std::move(*next) : host / part;
  }
  return host;
}

std::optional<std::string> WindowsPathOf(const fs::path& host) {
  const fs::path drive = CurrentMachine().DriveC().lexically_normal();
  fs::path relative = fs::absolute(host).lexically_normal().lexically_relative(drive);
  if (relative.empty() || *relative.begin() == "..") {
    // The same folder may be reached through links (a temporary folder, a home folder).
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(host, ec);
    if (ec) return std::nullopt;
    relative = resolved.lexically_relative(CanonicalDrive(drive));
    if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  }
  std::vector<std::string> parts;
  for (const fs::path& part : relative)
    if (part != "." && !part.empty()) parts.push_back(part.string());
  return Join(parts);
}

DWORD NotFoundError(std::string_view full_windows_path) {
  std::optional<fs::path> folder = FindHostPath(ParentPath(full_windows_path));
  std::error_code ec;
  return folder && fs::is_directory(*folder, ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace winsim
