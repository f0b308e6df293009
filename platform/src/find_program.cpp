// Finding the file of a program to start, by Windows rules.
#include <winsim/process.h>

#include <winsim/machine.h>
#include <winsim/paths.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {
namespace {

constexpr std::string_view kBlanks = " \t";

// Just past the last separator: a backslash that is no trail byte, a slash or the drive's colon.
size_t FileNameStart(std::string_view path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    auto c = static_cast<BYTE>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size())
      ++i;
    else if (c == '\\' || c == '/' || c == ':')
      start = i + 1;
  }
  return start;
}

// The folder of a full Windows path: "C:\A" for "C:\A\B.EXE", "C:\" for "C:\B.EXE".
std::string FolderOf(std::string_view full) {
  size_t start = FileNameStart(full);
  return start <= 3 ? std::string(full.substr(0, 2)) + "\\" : std::string(full.substr(0, start - 1));
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder.size() == 3 ? folder + std::string(name) : folder + "\\" + std::string(name);
}

// ".exe" goes to a name without extension; a name ending in a dot is taken as written.
std::string WithDefaultExtension(std::string_view name) {
  std::string out(name);
  if (out.find('.', FileNameStart(out)) == std::string::npos) out += ".exe";
  return out;
}

// What the host can run: an ELF image or a #! script, with its execute bit.
bool Runnable(const fs::path& file) {
  if (::access(file.c_str(), X_OK) != 0) return false;
  constexpr char kElf[] = {0x7f, 'E', 'L', 'F'};
  char head[sizeof kElf] = {};
  std::ifstream in(file, std::ios::binary);
  in.read(head, sizeof head);
  const std::streamsize n = in.gcount();
  return (n == sizeof kElf && std::memcmp(head, kElf, sizeof kElf) == 0) ||
         (n >= 2 && head[0] == '#' && head[1] == '!');
}

DWORD Locate(std::string_view name, ProgramFile* found) {
  DWORD error = ERROR_SUCCESS;
  std::optional<std::string> full = FullWindowsPath(name, &error);
  if (!full) return error;
  std::error_code ec;
  std::optional<fs::path> host = FindHostPath(*full);
  if (!host) {
    std::optional<fs::path> folder = FindHostPath(FolderOf(*full));
    return folder && fs::is_directory(*folder, ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  if (fs::is_directory(*host, ec)) return ERROR_ACCESS_DENIED;
  if (!Runnable(*host)) return ERROR_BAD_FORMAT;
  *found = {*full, *host};
  return ERROR_SUCCESS;
}

// The name is there, runnable or not: the search ends at it.
bool NameExists(DWORD error) {
  return error == ERROR_SUCCESS || error == ERROR_ACCESS_DENIED || error == ERROR_BAD_FORMAT;
}

// Where a bare name is looked for, in order.
std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  if (const char* image = std::getenv(kEnvImage); image && *image) folders.push_back(FolderOf(image));
  folders.push_back(CurrentDirectory());
  const MachineSettings& settings = CurrentMachine().Settings();
  folders.push_back(settings.system_dir);
  folders.push_back(settings.windows_dir);
  return folders;
}

DWORD FindByName(std::string_view written, ProgramFile* found) {
  const std::string name = WithDefaultExtension(written);
  if (FileNameStart(name) > 0) return Locate(name, found);
  for (const std::string& folder : SearchFolders()) {
    const DWORD error = Locate(Join(folder, name), found);
    if (NameExists(error)) return error;
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD FindFromCommandLine(std::string_view line, ProgramFile* found) {
  const size_t begin = line.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return ERROR_FILE_NOT_FOUND;
  line.remove_prefix(begin);
  if (line[0] == '"') {
    size_t end = 1;
    while (end < line.size() && line[end] != '"')
      end += IsDBCSLeadByte(static_cast<BYTE>(line[end])) && end + 1 < line.size() ? 2 : 1;
    return FindByName(line.substr(1, end - 1), found);
  }
  // Unquoted, any run of blanks may end the name: the shortest name that exists is the program,
  // and when none does, the first word is what was meant.
  DWORD first_error = ERROR_SUCCESS;
  size_t end = 0;
  do {
    end = line.find_first_of(kBlanks, end);
    const std::string_view name = line.substr(0, end);
    if (name.size() >= MAX_PATH) break;  // no longer name can exist
    const DWORD error = FindByName(name, found);
    if (NameExists(error)) return error;
    if (first_error == ERROR_SUCCESS) first_error = error;
    end = line.find_first_not_of(kBlanks, end);
  } while (end != std::string_view::npos);
  return first_error == ERROR_SUCCESS ? ERROR_FILENAME_EXCED_RANGE : first_error;
}

}  // namespace

DWORD FindProgram(const StartRequest& request, ProgramFile* found) {
  if (!request.application.empty()) return Locate(request.application, found);
  return FindFromCommandLine(request.command_line, found);
}

}  // namespace winsim
