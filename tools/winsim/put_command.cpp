// winsim put: copies a host file onto drive C:, creating the folders it needs.
#include "command.h"
#include "windows_path.h"

#include <winsim/machine.h>
#include <winsim/paths.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

// The first folder of `full`'s folders that is missing, or nullopt when all are there. A file in the
// way is an error.
std::optional<std::string> FirstMissingFolder(const std::string& full) {
  std::string folder = "C:";
  const std::vector<std::string> parts = winsim::PathParts(full);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += "\\" + parts[i];
    std::optional<fs::path> host = winsim::FindHostPath(folder);
    if (!host) return folder;
    std::error_code ec;
    if (!fs::is_directory(*host, ec)) throw CommandError(*winsim::WindowsPathOf(*host) + " is a file, not a folder");
  }
  return std::nullopt;
}

// Writes the copy beside the target and renames it over, so that the machine never sees half a file.
void CopyInto(const fs::path& source, const fs::path& target) {
  std::string temp = (target.parent_path() / ".winsim-put-XXXXXX").string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw CommandError("cannot write into " + target.parent_path().string());
  ::close(fd);
  std::error_code ec;
  fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
  // A runnable file stays runnable; every copy stays writable, so that the machine can delete it.
  const bool runnable = (fs::status(source).permissions() & fs::perms::owner_exec) != fs::perms::none;
  if (!ec) fs::permissions(temp, runnable ? fs::perms(0755) : fs::perms(0644), ec);
  if (!ec) fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp);
    throw CommandError("cannot copy " + source.string() + ": " + ec.message());
  }
}

int RunPut(const Invocation& invocation) {
  const std::vector<std::string>& args = invocation.args;
  if (args.size() != 2) throw UsageError("put takes a host file and a Windows path");
  const fs::path source = args[0];
  std::error_code ec;
  if (!fs::exists(source, ec)) throw CommandError("no host file " + source.string());
  if (!fs::is_regular_file(source, ec)) throw CommandError(source.string() + " is not a file");

  const std::string full = FullPathOnC(args[1]);
  if (winsim::PathParts(full).empty()) throw CommandError("C:\\ is a folder; name the file to create");
  const std::optional<std::string> missing = FirstMissingFolder(full);
  const fs::path target = winsim::HostPathForCreate(full);
  if (fs::is_directory(target, ec)) throw CommandError(*winsim::WindowsPathOf(target) + " is a folder");
  if (!InsideDrive(target)) throw CommandError(full + " leads off drive C:");

  try {
    std::error_code made;
    fs::create_directories(target.parent_path(), made);
    if (made) throw CommandError("cannot create the folders of " + full + ": " + made.message());
    CopyInto(source, target);
  } catch (...) {
    std::error_code ignored;
    if (missing) fs::remove_all(winsim::HostPathForCreate(*missing), ignored);
    throw;
  }
  std::printf("%s (%ju bytes)\n", winsim::WindowsPathOf(target).value_or(full).c_str(), fs::file_size(target, ec));
  return 0;
}

const Command winsim_command_put{"put", "put HOSTFILE WINPATH", RunPut};
WINSIM_COMMAND(put);

}  // namespace
}  // namespace winsim_tool
