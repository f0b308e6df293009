// winsim ls: the entries of a folder of the machine, as stored, with their sizes.
#include "command.h"
#include "printable.h"
#include "windows_path.h"

#include <winsim/paths.h>

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

struct Entry {
  std::string folded;
  std::string name;
  bool folder;
  uintmax_t size;
};

void Print(const Entry& e) {
  // A name made on the host may hold bytes that no Windows name holds: each entry stays one line.
  if (e.folder)
    std::printf("%12s  %s\n", "<DIR>", Printable(e.name).c_str());
  else
    std::printf("%12ju  %s\n", e.size, Printable(e.name).c_str());
}

Entry EntryOf(const fs::path& host) {
  std::error_code ec;
  const std::string name = host.filename().string();
  const bool folder = fs::is_directory(host, ec);
  const uintmax_t size = folder ? 0 : fs::file_size(host, ec);
  return {winsim::FoldFileName(name), name, folder, ec ? 0 : size};
}

int RunLs(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.size() != 1) throw UsageError("ls takes one Windows path");
  const std::string full = FullPathOnC(args[0]);
  std::optional<fs::path> host = winsim::FindHostPath(full);
  if (!host) throw CommandError("no file or folder " + full);
  std::error_code ec;
  if (!fs::is_directory(*host, ec)) {
    Print(EntryOf(*host));
    return 0;
  }
  std::vector<Entry> entries;
  for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // What the machine can't reach (a link off drive C:) is not listed.
    if (winsim::FindHostPath(full + (full.back() == '\\' ? "" : "\\") + name) == it->path())
      entries.push_back(EntryOf(it->path()));
  }
  if (ec) throw CommandError("cannot read " + full + ": " + ec.message());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.folded != b.folded ? a.folded < b.folded : a.name < b.name;
  });
  if (entries.empty()) std::fprintf(stderr, "empty folder\n");
  for (const Entry& e : entries) Print(e);
  return 0;
}

const Command winsim_command_ls{"ls", "ls WINPATH", RunLs};
WINSIM_COMMAND(ls);

}  // namespace
}  // namespace winsim_tool
