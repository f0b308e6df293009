// winsim window: the machine's top-level windows.
#include "command.h"
#include "printable.h"

#include <winsim/windows_table.h>

#include <cstdio>

namespace winsim_tool {
namespace {

std::string TakeCaption(std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("a caption is needed");
  std::string caption = args.front();
  args.erase(args.begin());
  ExpectNoMore(args);
  return caption;
}

int RunWindow(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.empty()) throw UsageError("add, close or list?");
  const std::string verb = args.front();
  args.erase(args.begin());
  if (verb == "add") {
    const std::string caption = TakeCaption(args);
    HWND window = winsim::AddWindow(caption, false);
    std::printf("added window %p \"%s\"\n", static_cast<void*>(window), Printable(caption).c_str());
    return 0;
  }
  if (verb == "close") {
    const std::string caption = TakeCaption(args);
    const int closed = winsim::RemoveWindowsByCaption(caption);
    if (closed == 0) throw CommandError("no window of the machine has the caption '" + Printable(caption) + "'");
    std::printf("closed %d window%s \"%s\"\n", closed, closed == 1 ? "" : "s", Printable(caption).c_str());
    return 0;
  }
  if (verb == "list") {
    ExpectNoMore(args);
    // Newest first: handle, owner and caption, separated by tabs.
    for (const winsim::WindowInfo& w : winsim::ListWindows()) {
      const std::string owner = w.pid == 0 ? "machine" : "pid " + std::to_string(w.pid);
      std::printf("%p\t%s\t%s\n", static_cast<void*>(w.hwnd), owner.c_str(), Printable(w.caption).c_str());
    }
    return 0;
  }
  throw UsageError("unknown window command '" + verb + "'");
}

const Command winsim_command_window{"window",
                                    "window add CAPTION        a top-level window of the machine, until it is closed\n"
                                    "window close CAPTION      closes the machine's windows with this caption\n"
                                    "window list               newest first: handle, owner (machine or pid N), caption "
                                    "(tab-separated, control bytes as \\xNN)",
                                    RunWindow};
WINSIM_COMMAND(window);

}  // namespace
}  // namespace winsim_tool
