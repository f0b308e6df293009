// Temporary: the process calls bring the real StartProgram and WaitProgram. This one takes the
// first word of the command line (quoted or not) as a full path on drive C:, nothing more.
#include <winsim/machine.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace winsim {
namespace {

namespace fs = std::filesystem;

fs::path FindOnDriveC(const std::string& windows_path) {
  fs::path at = CurrentMachine().DriveC();
  size_t start = 3;  // after "C:\"
  while (start < windows_path.size()) {
    size_t end = windows_path.find('\\', start);
    if (end == std::string::npos) end = windows_path.size();
    std::string part = windows_path.substr(start, end - start);
    std::error_code ec;
    bool found = false;
    for (auto& entry : fs::directory_iterator(at, ec)) {
      if (strcasecmp(entry.path().filename().c_str(), part.c_str()) == 0) {
        at = entry.path();
        found = true;
        break;
      }
    }
    if (!found) return {};
    start = end + 1;
  }
  return at;
}

}  // namespace

DWORD StartProgram(const StartRequest& request, StartedProgram* started) {
  const std::string& line = request.command_line;
  std::string image;
  if (!line.empty() && line[0] == '"')
    image = line.substr(1, line.find('"', 1) - 1);
  else
    image = line.substr(0, line.find(' '));
  if (image.size() < 3 || image.compare(1, 2, ":\\") != 0) return ERROR_FILE_NOT_FOUND;
  fs::path host = FindOnDriveC(image);
  if (host.empty()) return ERROR_FILE_NOT_FOUND;

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "WINSIM_", 7) != 0) env.emplace_back(*e);
  env.push_back(std::string(kEnvMachine) + "=" + CurrentMachine().Folder().string());
  env.push_back(std::string(kEnvCommandLine) + "=" + line);
  env.push_back(std::string(kEnvImage) + "=" + image);
  env.push_back(std::string(kEnvCurrentDirectory) + "=" +
                (request.current_directory.empty() ? CurrentDirectory() : request.current_directory));
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string path = host.string();
  char* argv[] = {path.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return ERROR_ACCESS_DENIED;
  if (!request.wait_later) std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  started->id = {pid, 0};
  started->image = image;
  return ERROR_SUCCESS;
}

int WaitProgram(const StartedProgram& started) {
  int status = 0;
  while (::waitpid(started.id.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace winsim
