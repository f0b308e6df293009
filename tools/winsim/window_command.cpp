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

int Add(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const std::string caption = TakeCaption(args);
  HWND window = winsim::AddWindow(caption, false);
  std::printf("added window %p \"%s\"\n", static_cast<void*>(window), Printable(caption).c_str());
  return 0;
}

int Close(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const std::string caption = TakeCaption(args);
  const int closed = winsim::RemoveWindowsByCaption(caption);
  if (closed == 0) throw CommandError("no window of the machine has the caption '" + Printable(caption) + "'");
  std::printf("closed %d window%s \"%s\"\n", closed, closed == 1 ? "" : "s", Printable(caption).c_str());
  return 0;
}

// Newest first: handle, owner and caption, separated by tabs.
int List(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  const std::vector<winsim::WindowInfo> windows = winsim::ListWindows();
  if (windows.empty()) std::fprintf(stderr, "no windows\n");  // stderr: the listing stays empty for scripts
  for (const winsim::WindowInfo& w : windows) {
    const std::string owner = w.pid == 0 ? "machine" : "pid " + std::to_string(w.pid);
    std::printf("%p\t%s\t%s\n", static_cast<void*>(w.hwnd), owner.c_str(), Printable(w.caption).c_str());
  }
  return 0;
}

const Command winsim_command_window_add{
    "window add", "window add CAPTION        a top-level window of the machine, until it is closed", Add};
WINSIM_COMMAND(window_add);
const Command winsim_command_window_close{
    "window close", "window close CAPTION      closes the machine's windows with this caption", Close};
WINSIM_COMMAND(window_close);
const Command winsim_command_window_list{
    "window list",
    "window list               newest first: handle, owner (machine or pid N), caption (tab-separated, control bytes "
    "as \\xNN)",
    List};
WINSIM_COMMAND(window_list);

}  // namespace
}  // namespace winsim_tool
