// Directories and files of drive C:.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/machine.h>
#include <winsim/paths.h>

#include "edge.h"
#include "open_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace fs = std::filesystem;

namespace {

using winsim::Call;

bool HasWildcards(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

bool EndsWithSeparator(std::string_view name) {
  bool separator = false;
  for (size_t i = 0; i < name.size(); i += winsim::CharSize(name, i)) separator = name[i] == '\\' || name[i] == '/';
  return separator;
}

// Windows counts file times in 100 ns steps from 1601.
FILETIME FileTimeOf(const timespec& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL + t.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_ARCHIVE | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
}

std::optional<WIN32_FIND_DATAA> FindDataOf(const fs::path& host, std::string_view name) {
  struct stat st;
  if (name.size() >= MAX_PATH || ::stat(host.c_str(), &st) != 0) return std::nullopt;
  // Only regular files and folders are files of the machine.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return std::nullopt;
  WIN32_FIND_DATAA data{};
  data.dwFileAttributes = AttributesOf(st);
  data.ftCreationTime = FileTimeOf(st.st_mtim);
  data.ftLastAccessTime = FileTimeOf(st.st_atim);
  data.ftLastWriteTime = FileTimeOf(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data.nFileSizeLow = static_cast<DWORD>(st.st_size);
  }
  std::memcpy(data.cFileName, name.data(), name.size());
  return data;
}

// The characters of a folded name, each one or two bytes.
std::vector<std::string_view> CharsOf(std::string_view folded) {
  std::vector<std::string_view> chars;
  for (size_t i = 0; i < folded.size();) {
    const size_t n = winsim::CharSize(folded, i);
    chars.push_back(folded.substr(i, n));
    i += n;
  }
  return chars;
}

// `*` stands for any characters, `?` for one; "*.*" for every name, as on Windows.
bool Matches(std::string_view name, std::string_view pattern) {
  const std::string folded_name = winsim::FoldFileName(name);
  const std::string folded_pattern = pattern == "*.*" ? std::string("*") : winsim::FoldFileName(pattern);
  const std::vector<std::string_view> n = CharsOf(folded_name), p = CharsOf(folded_pattern);
  size_t i = 0, j = 0, star = std::string_view::npos, resume = 0;
  while (i < n.size()) {
    if (j < p.size() && (p[j] == "?" || p[j] == n[i])) {
      ++i;
      ++j;
    } else if (j < p.size() && p[j] == "*") {
      star = j++;
      resume = i;
    } else if (star != std::string_view::npos) {
      j = star + 1;
      i = ++resume;
    } else {
      return false;
    }
  }
  while (j < p.size() && p[j] == "*") ++j;
  return j == p.size();
}

// What a search finds, taken when it starts: "." and ".." first in a folder below the root, then the
// rest in the order of their folded names.
std::vector<WIN32_FIND_DATAA> FindEntries(const std::string& full) {
  std::vector<WIN32_FIND_DATAA> found;
  const std::vector<std::string> parts = winsim::PathParts(full);
  if (!HasWildcards(parts.back())) {
    std::optional<fs::path> host = winsim::FindHostPath(full);
    std::optional<WIN32_FIND_DATAA> data;
    if (host) data = FindDataOf(*host, host->filename().string());
    if (data) found.push_back(*data);
    return found;
  }
  const std::string folder = winsim::ParentPath(full);
  std::optional<fs::path> host = winsim::FindHostPath(folder);
  if (!host) return found;
  if (parts.size() > 1) {
    for (const char* dot : {".", ".."}) {
      std::optional<WIN32_FIND_DATAA> data;
      if (Matches(dot, parts.back())) data = FindDataOf(*host / dot, dot);
      if (data) found.push_back(*data);
    }
  }
  std::vector<std::pair<std::string, WIN32_FIND_DATAA>> entries;
  std::error_code ec;
  for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!Matches(name, parts.back())) continue;
    // A link leading off drive C: is not there for the machine.
    std::error_code link_ec;
    if (it->is_symlink(link_ec) && winsim::FindHostPath(folder + (parts.size() > 1 ? "\\" : "") + name) != it->path())
      continue;
    std::optional<WIN32_FIND_DATAA> data = FindDataOf(it->path(), name);
    if (data) entries.emplace_back(winsim::FoldFileName(name), *data);
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : std::strcmp(a.second.cFileName, b.second.cFileName) < 0;
  });
  for (auto& [key, data] : entries) found.push_back(data);
  return found;
}

class SearchHandle : public winsim::HandleObject {
 public:
  SearchHandle(std::string pattern, std::vector<WIN32_FIND_DATAA> found)
      : pattern_(std::move(pattern)), found_(std::move(found)) {}
  std::string Describe() const override { return "search \"" + pattern_ + "\""; }
  bool Next(WIN32_FIND_DATAA* data) {
    std::lock_guard lock(mutex_);
    if (next_ >= found_.size()) return false;
    *data = found_[next_++];
    return true;
  }

 private:
  std::string pattern_;
  std::mutex mutex_;
  std::vector<WIN32_FIND_DATAA> found_;
  size_t next_ = 1;  // the first one went out with FindFirstFileA
};

// Copies `text` and its terminator when they fit, as the directory calls do; else returns the size
// needed with the terminator and leaves the buffer alone.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

const winsim::MachineSettings& Settings() { return winsim::CurrentMachine().Settings(); }

// The host file behind an existing name without wildcards, with its status; nullopt and the
// Windows error otherwise.
std::optional<fs::path> ExistingFile(LPCSTR name, struct stat* st, DWORD* error) {
  std::optional<std::string> full = winsim::FullWindowsPath(name, error);
  if (!full) return std::nullopt;
  if (HasWildcards(*full)) {
    *error = ERROR_INVALID_NAME;
    return std::nullopt;
  }
  std::optional<fs::path> host = winsim::FindHostPath(*full);
  if (!host) {
    *error = winsim::NotFoundError(*full);
    return std::nullopt;
  }
  if (::stat(host->c_str(), st) != 0) {
    *error = winsim::ErrorFromErrno(errno);
    return std::nullopt;
  }
  return host;
}

}  // namespace

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  Call call("GetCurrentDirectoryA", size, static_cast<const void*>(buffer));
  if (call.Faulted()) return call.Fail(DWORD{0});
  return winsim::Guarded(call, DWORD{0},
                         [&] { return call.Return(CopyOut(winsim::CurrentDirectory(), buffer, size)); });
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Call call("GetSystemDirectoryA", static_cast<const void*>(buffer), size);
  if (call.Faulted()) return call.Fail(UINT{0});
  return winsim::Guarded(call, UINT{0}, [&] { return call.Return(CopyOut(Settings().system_dir, buffer, size)); });
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  Call call("GetWindowsDirectoryA", static_cast<const void*>(buffer), size);
  if (call.Faulted()) return call.Fail(UINT{0});
  return winsim::Guarded(call, UINT{0}, [&] { return call.Return(CopyOut(Settings().windows_dir, buffer, size)); });
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR name) {
  Call call("SetCurrentDirectoryA", name);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!name) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  return winsim::Guarded(call, FALSE, [&] {
    DWORD error = 0;
    std::optional<std::string> full = winsim::FullWindowsPath(name, &error);
    if (!full) return call.Fail(FALSE, error);
    if (HasWildcards(*full)) return call.Fail(FALSE, ERROR_INVALID_NAME);
    // The current directory keeps room for a trailing backslash within MAX_PATH.
    if (full->size() > MAX_PATH - 2) return call.Fail(FALSE, ERROR_FILENAME_EXCED_RANGE);
    std::optional<fs::path> host = winsim::FindHostPath(*full);
    if (!host) return call.Fail(FALSE, winsim::NotFoundError(*full));
    std::error_code ec;
    if (!fs::is_directory(*host, ec)) return call.Fail(FALSE, ERROR_DIRECTORY);
    winsim::ResetCurrentDirectory(*full);
    return call.Return(TRUE);
  });
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR name) {
  Call call("DeleteFileA", name);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!name) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  return winsim::Guarded(call, FALSE, [&] {
    DWORD error = 0;
    struct stat st;
    std::optional<fs::path> host = ExistingFile(name, &st, &error);
    if (!host) return call.Fail(FALSE, error);
    // Folders go with RemoveDirectory, read-only files not at all.
    if (AttributesOf(st) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
      return call.Fail(FALSE, ERROR_ACCESS_DENIED);
    if (winsim::HeldOpen(*host)) return call.Fail(FALSE, ERROR_SHARING_VIOLATION);
    if (::unlink(host->c_str()) != 0) return call.Fail(FALSE, winsim::ErrorFromErrno(errno));
    return call.Return(TRUE);
  });
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR name) {
  Call call("GetFileAttributesA", name);
  if (call.Faulted()) return call.Fail(INVALID_FILE_ATTRIBUTES);
  if (!name) return call.Fail(INVALID_FILE_ATTRIBUTES, ERROR_INVALID_PARAMETER);
  return winsim::Guarded(call, INVALID_FILE_ATTRIBUTES, [&] {
    DWORD error = 0;
    struct stat st;
    if (!ExistingFile(name, &st, &error)) return call.Fail(INVALID_FILE_ATTRIBUTES, error);
    return call.Return(AttributesOf(st));
  });
}

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
  Call call("FindFirstFileA", name, data);
  if (call.Faulted()) return call.Fail(INVALID_HANDLE_VALUE);
  if (!name || !data) return call.Fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
  return winsim::Guarded(call, INVALID_HANDLE_VALUE, [&] {
    DWORD error = 0;
    std::optional<std::string> full = winsim::FullWindowsPath(name, &error);
    if (!full) return call.Fail(INVALID_HANDLE_VALUE, error);
    // A search names the entries of a folder: "C:\WINDOWS\" and "C:\" name none.
    if (EndsWithSeparator(name) || winsim::PathParts(*full).empty())
      return call.Fail(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    std::vector<WIN32_FIND_DATAA> found = FindEntries(*full);
    if (found.empty()) return call.Fail(INVALID_HANDLE_VALUE, winsim::NotFoundError(*full));
    *data = found.front();
    uintptr_t handle = winsim::AddHandle(std::make_shared<SearchHandle>(*full, std::move(found)));
    return call.Return(reinterpret_cast<HANDLE>(handle));
  });
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
  Call call("FindNextFileA", search, data);
  if (call.Faulted()) return call.Fail(FALSE);
  std::shared_ptr<SearchHandle> handle = winsim::FindHandleOf<SearchHandle>(search);
  if (!handle) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  if (!data) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  if (!handle->Next(data)) return call.Fail(FALSE, ERROR_NO_MORE_FILES);
  return call.Return(TRUE);
}

extern "C" BOOL WINAPI FindClose(HANDLE search) {
  Call call("FindClose", search);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!winsim::FindHandleOf<SearchHandle>(search)) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  winsim::RemoveHandle(reinterpret_cast<uintptr_t>(search));
  return call.Return(TRUE);
}
