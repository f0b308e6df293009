// winsim put: copies a host file onto drive C:, creating the folders it needs.
#include "command.h"
#include "whole_file.h"
#include "windows_path.h"

#include <winsim/machine.h>
#include <winsim/paths.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

bool InsideDrive(const fs::path& host) {
  std::error_code ec;
  const fs::path drive = fs::canonical(winsim::CurrentMachine().DriveC(), ec);
  if (ec) return false;
  const fs::path resolved = fs::weakly_canonical(host, ec);
  if (ec) return false;
  auto [d, h] = std::mismatch(drive.begin(), drive.end(), resolved.begin(), resolved.end());
  return d == drive.end();
}

// Holds drive C: for one put from looking up its names to the new file's rename: two puts of names
// that differ only in case find one folder, never make two.
class DriveLock {
 public:
  explicit DriveLock(const fs::path& drive) : fd_(::open(drive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) throw CommandError("cannot open drive C: (" + drive.string() + ")");
    // As long as the machine's other writers wait for each other; a stopped put holds no one longer.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        ::close(fd_);
        throw CommandError("cannot lock drive C: (" + drive.string() + ")");
      }
      if (std::chrono::steady_clock::now() > give_up) {
        ::close(fd_);
        throw CommandError("machine busy: another put is writing to drive C:");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~DriveLock() { ::close(fd_); }
  DriveLock(const DriveLock&) = delete;
  DriveLock& operator=(const DriveLock&) = delete;

 private:
  int fd_;
};

// The folders of `full` with a file in the way are an error.
void ExpectFolders(const std::string& full) {
  std::string folder = "C:";
  const std::vector<std::string> parts = winsim::PathParts(full);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += "\\" + parts[i];
    std::optional<fs::path> host = winsim::FindHostPath(folder);
    if (!host) return;
    std::error_code ec;
    if (!fs::is_directory(*host, ec)) throw CommandError(*winsim::WindowsPathOf(*host) + " is a file, not a folder");
  }
}

// The folders that this put makes, taken away again if it fails: only those, and only while empty,
// so that nothing another writer put there meanwhile is lost.
class NewFolders {
 public:
  void Make(const fs::path& drive, const fs::path& folder, const std::string& full) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path f = folder; f != drive && !fs::exists(f, ec); f = f.parent_path()) missing.push_back(f);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (::mkdir(it->c_str(), 0755) == 0)
        made_.push_back(*it);
      else if (errno != EEXIST)
        throw CommandError("cannot create the folders of " + full + ": " + std::strerror(errno));
    }
  }
  void Keep() { made_.clear(); }
  ~NewFolders() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::rmdir(it->c_str());
  }

 private:
  std::vector<fs::path> made_;
};

int RunPut(const Invocation& invocation) {
  const std::vector<std::string>& args = invocation.args;
  if (args.size() != 2) throw UsageError("put takes a host file and a Windows path");
  const fs::path source = args[0];
  std::error_code ec;
  if (!fs::exists(source, ec)) throw CommandError("no host file " + source.string());
  if (!fs::is_regular_file(source, ec)) throw CommandError(source.string() + " is not a file");

  const std::string full = FullPathOnC(args[1]);
  if (winsim::PathParts(full).empty()) throw CommandError("C:\\ is a folder; name the file to create");

  // The copy is made off the drive first: a put that fails or is killed while copying leaves the
  // drive as it was.
  winsim::Machine& machine = winsim::CurrentMachine();
  WholeFile copy(machine.Folder());
  copy.CopyFrom(source);
  // A runnable file stays runnable; every copy stays writable, so that the machine can delete it.
  const bool runnable = (fs::status(source, ec).permissions() & fs::perms::owner_exec) != fs::perms::none;

  DriveLock lock(machine.DriveC());
  ExpectFolders(full);
  const std::optional<fs::path> target = winsim::HostPathForCreate(full);
  if (!target) throw CommandError("'" + args[1] + "' is not a valid Windows path");
  if (fs::is_directory(*target, ec)) throw CommandError(*winsim::WindowsPathOf(*target) + " is a folder");
  if (!InsideDrive(*target)) throw CommandError(full + " leads off drive C:");

  NewFolders folders;
  folders.Make(machine.DriveC(), target->parent_path(), full);
  copy.Publish(*target, runnable ? 0755 : 0644);
  folders.Keep();
  std::printf("%s (%ju bytes)\n", winsim::WindowsPathOf(*target).value_or(full).c_str(), fs::file_size(*target, ec));
  return 0;
}

const Command winsim_command_put{"put", "put HOSTFILE WINPATH", RunPut};
WINSIM_COMMAND(put);

}  // namespace
}  // namespace winsim_tool
