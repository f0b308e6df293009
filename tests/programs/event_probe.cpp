// A process of a machine for the tests: performs event calls given as steps, one line on stdout
// per step, flushed at once so that a test can follow it while it runs.
//
//   event_probe STEP...
//     create NAME          CreateEventA, auto-reset, not signalled  -> created | exists | failed ERROR
//     open NAME ACCESS     OpenEventA, ACCESS in hex                -> opened | failed ERROR
//     wait MS|infinite     WaitForSingleObject                      -> signalled | timeout | failed ERROR
//     set                  SetEvent                                 -> set | failed ERROR
//     close                CloseHandle                              -> closed | failed ERROR
//     hang                 waits to be killed                       -> hanging
//     cycle N MARKER       N times: wait, be inside (MARKER exists), leave, set -> overlaps COUNT
//                          (COUNT: times MARKER was already there, that is, another process was inside)
// Steps work on the handle of the last create or open. Handles left open stay open at exit.
#include <windows.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HANDLE g_event = nullptr;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string Failed() { return "failed " + std::to_string(GetLastError()); }

std::string WaitResult(DWORD result) {
  if (result == WAIT_OBJECT_0) return "signalled";
  if (result == WAIT_TIMEOUT) return "timeout";
  return Failed();
}

int Cycle(long count, const char* marker) {
  int overlaps = 0;
  for (long i = 0; i < count; ++i) {
    if (WaitForSingleObject(g_event, INFINITE) != WAIT_OBJECT_0) return -1;
    int fd = ::open(marker, O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) {
      ++overlaps;
    } else {
      ::close(fd);
      sched_yield();  // gives anyone wrongly let in a chance to show
      ::unlink(marker);
    }
    if (!SetEvent(g_event)) return -1;
  }
  return overlaps;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string step = argv[i];
    auto operand = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "event_probe: %s needs an operand\n", step.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (step == "create") {
      g_event = CreateEventA(nullptr, FALSE, FALSE, operand());
      Say(!g_event ? Failed() : GetLastError() == ERROR_ALREADY_EXISTS ? "exists" : "created");
    } else if (step == "open") {
      const char* name = operand();
      g_event = OpenEventA(static_cast<DWORD>(std::strtoul(operand(), nullptr, 16)), FALSE, name);
      Say(g_event ? "opened" : Failed());
    } else if (step == "wait") {
      const std::string ms = operand();
      Say(WaitResult(WaitForSingleObject(g_event, ms == "infinite" ? INFINITE : std::stoul(ms))));
    } else if (step == "set") {
      Say(SetEvent(g_event) ? "set" : Failed());
    } else if (step == "close") {
      Say(CloseHandle(g_event) ? "closed" : Failed());
    } else if (step == "hang") {
      Say("hanging");
      for (;;) ::pause();
    } else if (step == "cycle") {
      const long count = std::strtol(operand(), nullptr, 10);
      const int overlaps = Cycle(count, operand());
      Say(overlaps < 0 ? Failed() : "overlaps " + std::to_string(overlaps));
    } else {
      std::fprintf(stderr, "event_probe: unknown step '%s'\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
