// Starting a program of the machine as a host process, and waiting for one.
#include <winsim/process.h>

#include <winsim/machine.h>
#include <winsim/paths.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace winsim {
namespace {

// Everything the started process needs, made before fork: after it only async-signal-safe calls run.
// Its argv and envp point into its own strings: made in place, never copied.
struct Launch {
  Launch() = default;
  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;
  std::string file;
  std::string folder;
  std::vector<std::string> environment;
  std::vector<char*> argv;
  std::vector<char*> envp;
  long max_fd = 0;
};

bool HandedByLayer(const char* entry) {
  for (const char* name : {kEnvMachine, kEnvCommandLine, kEnvCurrentDirectory, kEnvImage, kEnvShow}) {
    const size_t n = std::strlen(name);
    if (std::strncmp(entry, name, n) == 0 && entry[n] == '=') return true;
  }
  return false;
}

void Prepare(const StartRequest& request, const ProgramFile& program, const std::string& directory,
             const fs::path& host_directory, Launch& launch) {
  launch.file = program.host_path.string();
  launch.folder = host_directory.string();
  for (char** entry = environ; *entry; ++entry)
    if (!HandedByLayer(*entry)) launch.environment.emplace_back(*entry);
  launch.environment.push_back(std::string(kEnvMachine) + "=" + CurrentMachine().Folder().string());
  launch.environment.push_back(std::string(kEnvCommandLine) + "=" + request.command_line);
  launch.environment.push_back(std::string(kEnvCurrentDirectory) + "=" + directory);
  launch.environment.push_back(std::string(kEnvImage) + "=" + program.windows_path);
  if (request.use_show) launch.environment.push_back(std::string(kEnvShow) + "=" + std::to_string(request.show));
  launch.argv = {launch.file.data(), nullptr};
  for (std::string& entry : launch.environment) launch.envp.push_back(entry.data());
  launch.envp.push_back(nullptr);
  launch.max_fd = ::sysconf(_SC_OPEN_MAX);
}

// What the forked processes tell the starter through the report pipe.
struct Report {
  enum Kind : int { kPid, kForkFailed, kExecFailed } kind;
  int value;
};

void Send(int fd, Report report) {
  while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
  }
}

// Turns this process into the program; only async-signal-safe calls. Returns errno when exec fails.
int ExecLaunch(const Launch& launch) {
  // A fresh program: no signal blocked, and SIGPIPE as the host's default even if the starter ignores it.
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction fresh {};
  fresh.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &fresh, nullptr);
  if (::chdir(launch.folder.c_str()) != 0) {
    // The host folder only helps scripts; the Windows current directory travels in the environment.
  }
  // Descriptors of the starter stay with the starter; the report pipe closes by itself at exec.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
    for (long fd = 3; fd < launch.max_fd; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  ::execve(launch.file.c_str(), launch.argv.data(), launch.envp.data());
  return errno;
}

[[noreturn]] void Exec(const Launch& launch, int report_fd) {
  Send(report_fd, {Report::kExecFailed, ExecLaunch(launch)});
  ::_exit(127);
}

DWORD ErrorOfStart(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case ENOENT:  // the file was just found: what is missing is its interpreter or loader
    case ELIBBAD:
      return ERROR_BAD_FORMAT;
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

void Reap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

struct Outcome {
  pid_t pid = 0;
  int error = 0;
};

// Reads the reports until every writer is gone: the program has exec'd or failed.
Outcome Collect(int fd) {
  Outcome outcome;
  Report report;
  for (;;) {
    const ssize_t n = ::read(fd, &report, sizeof report);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof report)) return outcome;
    if (report.kind == Report::kPid)
      outcome.pid = report.value;
    else
      outcome.error = report.value;
  }
}

// Forks the program; unless it is to be waited for, through a child that ends at once, so that
// the program is not this process's child and never lingers as its zombie.
DWORD Spawn(const Launch& launch, bool wait_later, pid_t* pid) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return ErrorOfStart(errno);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(report[0]);
    if (wait_later) Exec(launch, report[1]);
    // This child has a single thread, so the program may borrow its memory until it execs.
    const pid_t grandchild = ::vfork();
    if (grandchild == 0) Exec(launch, report[1]);
    Send(report[1], grandchild > 0 ? Report{Report::kPid, grandchild} : Report{Report::kForkFailed, errno});
    ::_exit(0);
  }
  const int fork_error = errno;
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return ErrorOfStart(fork_error);
  }
  Outcome outcome = Collect(report[0]);
  ::close(report[0]);
  if (wait_later) outcome.pid = child;
  if (!wait_later || outcome.error) Reap(child);
  if (outcome.error) return ErrorOfStart(outcome.error);
  if (outcome.pid <= 0) return ERROR_GEN_FAILURE;  // the go-between died before it could tell
  *pid = outcome.pid;
  return ERROR_SUCCESS;
}

// The program of a request found, and everything its process needs made ready.
DWORD PrepareLaunch(const StartRequest& request, ProgramFile* program, Launch* launch) {
  if (request.command_line.size() > kMaxCommandLine) return ERROR_FILENAME_EXCED_RANGE;
  if (DWORD error = FindProgram(request, program)) return error;
  const std::string directory = request.current_directory.empty() ? CurrentDirectory() : request.current_directory;
  std::optional<fs::path> host_directory = FindHostPath(directory);
  std::error_code ec;
  if (!host_directory || !fs::is_directory(*host_directory, ec)) {
    if (!request.current_directory.empty()) return ERROR_DIRECTORY;
    host_directory = CurrentMachine().DriveC();  // this process's own folder has gone
  }
  Prepare(request, *program, directory, *host_directory, *launch);
  return ERROR_SUCCESS;
}

// Host failures on the way become Windows errors.
template <class Body>
DWORD Guard(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::exception&) {
    return ERROR_GEN_FAILURE;
  }
}

}  // namespace

DWORD StartProgram(const StartRequest& request, StartedProgram* started) {
  return Guard([&] {
    ProgramFile program;
    Launch launch;
    if (DWORD error = PrepareLaunch(request, &program, &launch)) return error;
    pid_t pid = 0;
    if (DWORD error = Spawn(launch, request.wait_later, &pid)) return error;
    started->id = IdentifyProcess(pid);
    started->image = program.windows_path;
    return DWORD{ERROR_SUCCESS};
  });
}

DWORD ReplaceWithProgram(const StartRequest& request) {
  return Guard([&] {
    ProgramFile program;
    Launch launch;
    if (DWORD error = PrepareLaunch(request, &program, &launch)) return error;
    return ErrorOfStart(ExecLaunch(launch));
  });
}

int WaitProgram(const StartedProgram& started) {
  int status = 0;
  while (::waitpid(started.id.pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace winsim
