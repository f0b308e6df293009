// Events shared by processes of one machine: event_probe processes against this one.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"
#include "temp_machine.h"

extern char** environ;

namespace {

using testing_support::TempMachine;
using testing_support::WaitUntil;

// An event_probe process on the machine, its output followed line by line while it runs.
class Probe {
 public:
  Probe(const TempMachine& machine, std::vector<std::string> steps)
      : out_(machine.Folder().parent_path() / ("probe-" + std::to_string(++count_) + ".out")) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::string_view(*e).substr(0, 7) != "WINSIM_") env.emplace_back(*e);
    env.push_back("WINSIM_MACHINE=" + machine.Folder().string());
    steps.insert(steps.begin(), testing_support::BinPath("event_probe").string());
    std::vector<char*> argv, envp;
    for (auto& s : steps) argv.push_back(s.data());
    for (auto& s : env) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start event_probe");
  }
  ~Probe() {
    if (running()) Kill();
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  std::vector<std::string> Lines() const {
    std::ifstream in(out_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Said(const std::string& line) const {
    auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  bool SaysSoon(const std::string& line) const {
    return WaitUntil([&] { return Said(line); });
  }
  // Waits for the end of the process; its exit code, or -1 when it does not end.
  int Finish() {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    Finish();
  }
  bool running() const { return pid_ > 0; }

 private:
  static inline int count_ = 0;
  std::filesystem::path out_;
  pid_t pid_ = 0;
};

constexpr const char* kSynchronize = "100000";
// The event table's file begins with its 8-byte magic, and then the word of its lock.
constexpr std::streamoff kTableLockWord = 8;
constexpr const char* kSynchronizeAndModify = "100002";

bool EventExists(const char* name) {
  HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (h) CloseHandle(h);
  return h != nullptr;
}

TEST(EventsAcrossProcesses, NamesAreSharedByEveryProcess) {
  TempMachine machine;
  HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, "Shared");
  Probe probe(machine, {"create", "Shared", "open", "shared", kSynchronize, "close"});
  ASSERT_EQ(probe.Finish(), 0);
  EXPECT_EQ(probe.Lines(), (std::vector<std::string>{"exists", "failed 2", "failed 6"}));
  Probe opener(machine, {"open", "Shared", kSynchronizeAndModify, "set"});
  ASSERT_EQ(opener.Finish(), 0);
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0) << "signalled from the other process";
}

struct KilledCase {
  const char* what;
  std::vector<std::string> steps;
  const char* ready;  // the line after which the probe holds the event
};

TEST(EventsAcrossProcesses, AKilledProcessLetsGoOfItsEvents) {
  const KilledCase cases[] = {
      {"holding it", {"create", "Held", "hang"}, "hanging"},
      {"waiting on it", {"create", "Held", "wait", "infinite"}, "created"},
  };
  for (const KilledCase& c : cases) {
    for (bool other_holder : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (other_holder ? ", another holder left" : ""));
      TempMachine machine;
      Probe probe(machine, c.steps);
      ASSERT_TRUE(probe.SaysSoon(c.ready));
      HANDLE mine = other_holder ? OpenEventA(SYNCHRONIZE, FALSE, "Held") : nullptr;
      ASSERT_EQ(other_holder, mine != nullptr);
      probe.Kill();
      EXPECT_EQ(EventExists("Held"), other_holder);
      if (mine) {
        CloseHandle(mine);
        EXPECT_FALSE(EventExists("Held"));
      }
    }
  }
}

TEST(EventsAcrossProcesses, AnEndingProcessReportsAndClosesWhatItLeftOpen) {
  struct Case {
    std::vector<std::string> steps;
    std::vector<std::string> left_open;  // trace args of the "<exit>" lines
  };
  const Case cases[] = {
      {{"create", "Left"}, {"0x4, event \"Left\""}},
      {{"create", "Left", "close"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps.size());
    TempMachine machine;
    winsim::SetTrace(true);
    Probe probe(machine, c.steps);
    ASSERT_EQ(probe.Finish(), 0);
    winsim::SetTrace(false);
    std::vector<std::string> left_open;
    winsim::Stmt s(winsim::CurrentMachine().Database(),
                   "SELECT args, result, error FROM trace WHERE call = '<exit>' ORDER BY id");
    while (s.Step()) {
      left_open.push_back(s.Text(0));
      EXPECT_EQ(s.Text(1), "left open");
      EXPECT_EQ(s.Int(2), 0);
    }
    EXPECT_EQ(left_open, c.left_open);
    EXPECT_FALSE(EventExists("Left"));
  }
}

// Windows sets no cap on how many processes hold one event: far more than a fixed table of holders
// would take open it, and every handle given back leaves room for others.
TEST(EventsAcrossProcesses, AnEventIsHeldByAnyNumberOfProcesses) {
  constexpr int kProcesses = 100;
  TempMachine machine;
  HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, "Crowd");
  ASSERT_NE(mine, nullptr);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::unique_ptr<Probe>> probes;
    for (int i = 0; i < kProcesses; ++i)
      probes.push_back(
          std::make_unique<Probe>(machine, std::vector<std::string>{"open", "Crowd", kSynchronize, "hang"}));
    for (auto& p : probes) {
      ASSERT_TRUE(WaitUntil([&] { return !p->Lines().empty(); }));
      EXPECT_EQ(p->Lines().front(), "opened");
    }
    for (auto& p : probes) p->Kill();
  }
  ASSERT_TRUE(CloseHandle(mine));
  EXPECT_FALSE(EventExists("Crowd"));
}

// The table's file with its magic kept and garbage written over the rest of its fixed part.
struct DamageCase {
  const char* what;
  std::function<std::string(size_t size)> garbage;
};

TEST(EventsAcrossProcesses, ADamagedTableIsLaidOutAfreshAndNoCallWaitsOnIt) {
  const DamageCase cases[] = {
      {"every byte 0xff", [](size_t size) { return std::string(size, '\xff'); }},
      {"every byte 0x01", [](size_t size) { return std::string(size, '\x01'); }},
      {"random bytes",
       [](size_t size) {
         std::mt19937 random(4471);
         std::string bytes(size, '\0');
         for (char& b : bytes) b = static_cast<char>(random());
         return bytes;
       }},
      {"a lock word naming a live process that does not hold it",
       [](size_t size) {
         std::string bytes(size, '\0');
         const uint32_t pid = static_cast<uint32_t>(::getpid());
         std::memcpy(bytes.data(), &pid, sizeof pid);
         return bytes;
       }},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine machine;
    HANDLE before = CreateEventA(nullptr, TRUE, FALSE, "Before");
    ASSERT_NE(before, nullptr);
    const std::filesystem::path file = machine.Folder() / "events.shm";
    {
      std::fstream table(file, std::ios::in | std::ios::out | std::ios::binary);
      const size_t size = 16384;
      table.seekp(kTableLockWord);
      const std::string garbage = c.garbage(size);
      table.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
      ASSERT_TRUE(table.good());
    }

    Probe probe(machine, {"create", "After", "wait", "0", "set", "wait", "0", "close"});
    ASSERT_EQ(probe.Finish(), 0) << "an event call hung or failed on the damaged table";
    EXPECT_EQ(probe.Lines(), (std::vector<std::string>{"created", "timeout", "set", "signalled", "closed"}));
    // This process's event went with the old table; the calls on it fail at once.
    EXPECT_FALSE(SetEvent(before));
    EXPECT_EQ(WaitForSingleObject(before, 0), WAIT_FAILED);
    EXPECT_FALSE(EventExists("Before"));
    HANDLE again = CreateEventA(nullptr, FALSE, FALSE, "Again");
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(again);
    CloseHandle(before);
  }
}

TEST(EventsAcrossProcesses, OneSignalReleasesOneWaitingProcess) {
  TempMachine machine;
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, "Turn");
  // Waits far longer than the test: a waiter that returns was woken by the signal.
  std::unique_ptr<Probe> waiters[] = {
      std::make_unique<Probe>(machine, std::vector<std::string>{"open", "Turn", kSynchronize, "wait", "600000"}),
      std::make_unique<Probe>(machine, std::vector<std::string>{"open", "Turn", kSynchronize, "wait", "600000"}),
  };
  for (auto& w : waiters) ASSERT_TRUE(w->SaysSoon("opened"));
  ASSERT_TRUE(SetEvent(h));
  auto released = [&] {
    return std::count_if(std::begin(waiters), std::end(waiters), [](auto& w) { return w->Said("signalled"); });
  };
  ASSERT_TRUE(WaitUntil([&] { return released() >= 1; }));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT) << "the released waiter consumed the signal";
  EXPECT_EQ(released(), 1);
  ASSERT_TRUE(SetEvent(h));
  for (auto& w : waiters) {
    EXPECT_EQ(w->Finish(), 0);
    EXPECT_EQ(w->Lines().back(), "signalled");
  }
}

TEST(EventsAcrossProcesses, AnAutoResetEventLetsOneProcessInAtATime) {
  TempMachine machine;
  HANDLE lock = CreateEventA(nullptr, FALSE, TRUE, "Lock");
  const std::string marker = (machine.Folder().parent_path() / "inside").string();
  std::vector<std::unique_ptr<Probe>> probes;
  for (int i = 0; i < 4; ++i)
    probes.push_back(std::make_unique<Probe>(
        machine, std::vector<std::string>{"open", "Lock", kSynchronizeAndModify, "cycle", "300", marker}));
  for (auto& p : probes) {
    EXPECT_EQ(p->Finish(), 0);
    EXPECT_EQ(p->Lines(), (std::vector<std::string>{"opened", "overlaps 0"}));
  }
  // Every pass consumed one signal and gave one back: exactly the first one is left.
  EXPECT_EQ(WaitForSingleObject(lock, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(lock, 0), WAIT_TIMEOUT);
}

}  // namespace
