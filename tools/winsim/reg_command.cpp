// winsim reg: the machine's registry in and out as REGEDIT4 text.
#include "command.h"

#include <winsim/registry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace winsim_tool {
namespace {

// Far above any registry a machine of the kit holds (100,000 keys export to about 10 MB); a bigger
// input is a mistake, and reading it whole would only eat the host's memory.
constexpr size_t kMaxRegFileBytes = size_t{64} << 20;

// The whole of `fd`, or a CommandError once it passes the limit.
std::string ReadBounded(int fd, const std::string& shown) {
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw CommandError("cannot read " + shown + ": " + std::strerror(errno));
    }
    if (text.size() + static_cast<size_t>(n) > kMaxRegFileBytes)
      throw CommandError(shown + ": file too large for a .reg (over 64 MB)");
    text.append(buffer, static_cast<size_t>(n));
  }
}

// Only a regular file is read: a device, a FIFO or a folder would never end or never begin.
std::string ReadAll(const std::string& file) {
  if (file == "-") return ReadBounded(STDIN_FILENO, "standard input");
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw CommandError("cannot read " + file + ": " + std::strerror(errno));
  struct stat st {};
  std::string text;
  try {
    if (::fstat(fd, &st) != 0) throw CommandError("cannot read " + file + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw CommandError(file + ": not a file");
    if (static_cast<unsigned long long>(st.st_size) > kMaxRegFileBytes)
      throw CommandError(file + ": file too large for a .reg (over 64 MB)");
    text = ReadBounded(fd, file);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return text;
}

int Import(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.empty()) throw UsageError("reg import needs a FILE (- for standard input)");
  const std::string file = args.front();
  args.erase(args.begin());
  ExpectNoMore(args);
  const std::string text = ReadAll(file);
  try {
    winsim::ImportRegedit4(text);
  } catch (const winsim::RegeditError& e) {
    throw CommandError((file == "-" ? std::string("(stdin)") : file) + ":" + std::to_string(e.Line()) + ": " +
                       e.Reason());
  }
  return 0;
}

int Export(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  std::optional<std::string> key;
  if (!args.empty()) {
    key = args.front();
    args.erase(args.begin());
  }
  ExpectNoMore(args);
  const std::string text = winsim::ExportRegedit4(key);
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw CommandError(std::string("cannot write the export: ") + std::strerror(errno));
  return 0;
}

const Command winsim_command_reg_import{"reg import", "reg import FILE|-", Import};
WINSIM_COMMAND(reg_import);
const Command winsim_command_reg_export{"reg export", "reg export [KEY]", Export};
WINSIM_COMMAND(reg_export);

}  // namespace
}  // namespace winsim_tool
