#include "bounded_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace sweep {
namespace {

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

void AdoptOrphans() {
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) throw std::runtime_error("cannot become the reaper of orphans");
}

BoundedRun RunBounded(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      std::chrono::milliseconds bound) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  if (rc != 0) {
    ::close(out[0]);
    ::close(err[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }

  BoundedRun run;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  bool group_left = true;
  while (group_left) {
    ::poll(fds, 2, 10);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    // Reaps the program and, since this process adopts orphans, whatever it started.
    int status = 0;
    pid_t ended;
    while ((ended = ::waitpid(-pid, &status, WNOHANG)) > 0) {
      if (ended == pid) run.exit_code = ExitCode(status);
    }
    group_left = !(ended < 0 && errno == ECHILD);
    if (group_left && std::chrono::steady_clock::now() >= deadline) {
      run.overran = true;
      ::kill(-pid, SIGKILL);
      while (::waitpid(-pid, &status, 0) > 0) {
      }
      group_left = false;
    }
  }
  // What the group wrote last; a process that left the group may still hold a pipe, so no waiting.
  while (::poll(fds, 2, 0) > 0) {
    bool read_any = false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & POLLIN)) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) continue;
      (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
      read_any = true;
    }
    if (!read_any) break;
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  return run;
}

}  // namespace sweep
