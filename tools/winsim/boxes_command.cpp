// winsim boxes: the journal of message boxes and restart requests, and holding boxes open.
#include "command.h"

#include <winsim/call.h>
#include <winsim/journal.h>

#include <cstdio>

namespace winsim_tool {
namespace {

std::string Quoted(const std::optional<std::string>& text) {
  return text ? winsim::Arg(std::string_view(*text)).text : "NULL";
}

// One line per entry, oldest first.
int List() {
  const std::vector<winsim::JournalEntry> journal = winsim::ListJournal();
  // Said on stderr, so that the listing itself stays empty for scripts.
  if (journal.empty()) std::fprintf(stderr, "no boxes and no restart requests\n");
  for (const winsim::JournalEntry& e : journal) {
    std::printf("%lld %s %s program=%s pid=%d", static_cast<long long>(e.id), e.kind.c_str(), e.state.c_str(),
                Quoted(e.program).c_str(), e.pid);
    if (e.kind == "box")
      std::printf(" owner=0x%llX caption=%s text=%s type=0x%X\n", static_cast<unsigned long long>(e.owner),
                  Quoted(e.caption).c_str(), Quoted(e.text).c_str(), e.type);
    else
      std::printf(" flags=0x%X\n", e.type);
  }
  return 0;
}

int Hold(const std::string& value) {
  if (value != "on" && value != "off") throw UsageError("--hold is on or off, not '" + value + "'");
  winsim::SetHoldBoxes(value == "on");
  std::printf("boxes are %s\n", value == "on" ? "held open until closed" : "closed at once");
  return 0;
}

// Without an id, the box shown first of those still open.
int Close(std::vector<std::string>& args) {
  if (TakeFlag(args, "--all")) {
    ExpectNoMore(args);
    std::printf("closed %d boxes\n", winsim::CloseAllBoxes());
    return 0;
  }
  int64_t id = 0;
  if (!args.empty()) {
    const std::string word = args.front();
    args.erase(args.begin());
    ExpectNoMore(args);
    size_t used = 0;
    try {
      id = std::stoll(word, &used);
    } catch (const std::exception&) {
    }
    if (used != word.size() || id <= 0) throw UsageError("'" + word + "' is not a box number");
  } else {
    for (const winsim::JournalEntry& e : winsim::ListJournal())
      if (e.kind == "box" && e.state == "open") {
        id = e.id;
        break;
      }
    if (id == 0) throw CommandError("no box is open");
  }
  if (!winsim::CloseBox(id)) throw CommandError("no open box " + std::to_string(id));
  std::printf("closed box %lld\n", static_cast<long long>(id));
  return 0;
}

int RunBoxes(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.empty()) return List();
  const std::string first = args.front();
  args.erase(args.begin());
  if (first == "--clear") {
    ExpectNoMore(args);
    winsim::ClearJournal();
    std::printf("journal cleared\n");
    return 0;
  }
  if (first == "--hold") {
    if (args.empty()) throw UsageError("--hold needs on or off");
    const std::string value = args.front();
    args.erase(args.begin());
    ExpectNoMore(args);
    return Hold(value);
  }
  if (first == "--close") return Close(args);
  throw UsageError("unexpected '" + first + "'");
}

const Command winsim_command_boxes{
    "boxes",
    "boxes [--clear]           message boxes and restart requests, oldest first; --clear empties the journal\n"
    "boxes --hold on|off       on: each new box stays open, its program waiting, until it is closed\n"
    "boxes --close [ID|--all]  closes open boxes (their programs get OK); no ID: the oldest open one",
    RunBoxes};
WINSIM_COMMAND(boxes);

}  // namespace
}  // namespace winsim_tool
