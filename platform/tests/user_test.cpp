// Top-level windows, message queues, message boxes and restart requests.
#include <windows.h>

#include <winsim/journal.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

#include "run.h"
#include "temp_machine.h"

namespace {

using testing_support::TempMachine;
using testing_support::WaitUntil;
using winsim::WindowsFlavour;

constexpr DWORD kSentinel = 0xdeadbeef;

struct Walk {
  std::vector<HWND> seen;
  HWND stop_at = nullptr;
  HWND remove_on_first = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* walk = reinterpret_cast<Walk*>(param);
  if (walk->seen.empty()) {
    // Changes made during the walk must not change the walk.
    winsim::AddWindow("opened during the walk", false);
    if (walk->remove_on_first) winsim::RemoveWindow(walk->remove_on_first);
  }
  walk->seen.push_back(window);
  return window == walk->stop_at ? FALSE : TRUE;
}

TEST(EnumWindows, WalksNewestFirstOverTheListTakenAtTheStart) {
  TempMachine machine;
  HWND a = winsim::AddWindow("A", false);
  HWND b = winsim::AddWindow("B", true);
  HWND c = winsim::AddWindow("C", false);

  Walk whole;
  whole.remove_on_first = a;
  EXPECT_EQ(EnumWindows(Visit, reinterpret_cast<LPARAM>(&whole)), TRUE);
  EXPECT_EQ(whole.seen, (std::vector<HWND>{c, b, a}));

  Walk stopped;
  stopped.stop_at = b;
  EXPECT_EQ(EnumWindows(Visit, reinterpret_cast<LPARAM>(&stopped)), FALSE);
  ASSERT_EQ(stopped.seen.size(), 3u);  // the window opened by the first walk, then c and b
  EXPECT_EQ(stopped.seen[1], c);
  EXPECT_EQ(stopped.seen[2], b);
}

TEST(GetWindowText, CopiesWhatFitsAndTerminates) {
  TempMachine machine;
  HWND shell = winsim::AddWindow("Program Manager", false);
  HWND untitled = winsim::AddWindow("", false);
  HWND gone = winsim::AddWindow("gone", false);
  winsim::RemoveWindow(gone);

  struct Case {
    HWND window;
    int size;
    int result;
    const char* text;  // null: the buffer stays untouched
    DWORD error;       // kSentinel: left alone
  } cases[] = {
      {shell, 100, 15, "Program Manager", kSentinel},
      {shell, 16, 15, "Program Manager", kSentinel},
      {shell, 15, 14, "Program Manage", kSentinel},
      {shell, 5, 4, "Prog", kSentinel},
      {shell, 1, 0, "", kSentinel},
      {shell, 0, 0, nullptr, kSentinel},
      {untitled, 100, 0, "", kSentinel},
      {gone, 100, 0, "", ERROR_INVALID_WINDOW_HANDLE},
      {nullptr, 100, 0, "", ERROR_INVALID_WINDOW_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "window " << c.window << ", size " << c.size);
    char buf[128];
    std::memset(buf, 0xAB, sizeof buf);
    SetLastError(kSentinel);
    EXPECT_EQ(GetWindowTextA(c.window, buf, c.size), c.result);
    EXPECT_EQ(GetLastError(), c.error);
    size_t written = 0;
    if (c.text) {
      EXPECT_STREQ(buf, c.text);
      written = std::strlen(c.text) + 1;
    }
    for (size_t i = written; i < sizeof buf; ++i) ASSERT_EQ(static_cast<unsigned char>(buf[i]), 0xAB) << "at " << i;
  }
}

TEST(GetWindowText, LengthAndIsWindowFollowTheWindow) {
  TempMachine machine;
  HWND shell = winsim::AddWindow("Program Manager", false);
  SetLastError(kSentinel);
  EXPECT_EQ(GetWindowTextLengthA(shell), 15);
  EXPECT_EQ(IsWindow(shell), TRUE);
  EXPECT_EQ(GetLastError(), kSentinel);
  winsim::RemoveWindow(shell);
  EXPECT_EQ(GetWindowTextLengthA(shell), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(IsWindow(shell), FALSE);
}

// A step on one thread's queue: peek with these filters, expect this message or none.
struct Peek {
  HWND window;
  UINT first, last, remove;
  UINT expected;  // WM_NULL: nothing comes
};

TEST(MessageQueue, PeekFiltersRemovesAndKeepsOrder) {
  TempMachine machine;
  HWND mine = winsim::AddWindow("mine", true);
  ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 1, 11, 12));
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_TIMER, 21, 22));
  ASSERT_TRUE(PostMessageA(mine, WM_USER + 2, 31, 32));

  const Peek steps[] = {
      {nullptr, 0, 0, PM_NOREMOVE, WM_USER + 1},           // everything, oldest first
      {nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, WM_TIMER},  // a range passes over older messages
      {nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, WM_NULL},   // and removed means gone
      {mine, 0, 0, PM_NOREMOVE, WM_USER + 2},              // only the window's messages
      {nullptr, WM_USER + 3, WM_USER + 9, PM_REMOVE, WM_NULL},
      {nullptr, 0, 0, PM_REMOVE, WM_USER + 1},
      {nullptr, 0, 0, PM_REMOVE, WM_USER + 2},
      {nullptr, 0, 0, PM_REMOVE, WM_NULL},
  };
  int row = 0;
  for (const Peek& step : steps) {
    SCOPED_TRACE(testing::Message() << "step " << row++);
    MSG msg;
    std::memset(&msg, 0xAB, sizeof msg);
    const BOOL got = PeekMessageA(&msg, step.window, step.first, step.last, step.remove);
    if (step.expected == WM_NULL) {
      EXPECT_EQ(got, FALSE);
      EXPECT_EQ(msg.message, 0xABABABABu);
      continue;
    }
    ASSERT_EQ(got, TRUE);
    EXPECT_EQ(msg.message, step.expected);
    if (step.expected == WM_USER + 2) {
      EXPECT_EQ(msg.hwnd, mine);
      EXPECT_EQ(msg.wParam, 31u);
      EXPECT_EQ(msg.lParam, 32);
    } else {
      EXPECT_EQ(msg.hwnd, nullptr);
    }
  }
}

TEST(MessageQueue, PostingNeedsALiveQueueOrWindow) {
  TempMachine machine;
  HWND machine_window = winsim::AddWindow("the machine's", false);
  HWND gone = winsim::AddWindow("gone", true);
  winsim::RemoveWindow(gone);

  std::atomic<DWORD> other_id{0};
  std::atomic<bool> posted{false};
  MSG received{};
  std::thread other([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's first message call gives it its queue
    other_id = GetCurrentThreadId();
    WaitUntil([&] { return posted.load(); });
    PeekMessageA(&received, nullptr, 0, 0, PM_REMOVE);
  });
  ASSERT_TRUE(WaitUntil([&] { return other_id.load() != 0; }));
  SetLastError(kSentinel);
  EXPECT_EQ(PostThreadMessageA(other_id, WM_USER + 7, 1, 2), TRUE);
  posted = true;
  other.join();
  EXPECT_EQ(received.message, static_cast<UINT>(WM_USER + 7));
  EXPECT_EQ(GetLastError(), kSentinel);

  struct Case {
    const char* what;
    BOOL (*post)(DWORD thread, HWND machine_window, HWND gone);
    BOOL result;
    DWORD error;
  } cases[] = {
      {"to a thread that has ended", [](DWORD t, HWND, HWND) { return PostThreadMessageA(t, WM_USER, 0, 0); }, FALSE,
       ERROR_INVALID_THREAD_ID},
      {"to no thread", [](DWORD, HWND, HWND) { return PostThreadMessageA(0, WM_USER, 0, 0); }, FALSE,
       ERROR_INVALID_THREAD_ID},
      {"to a closed window", [](DWORD, HWND, HWND g) { return PostMessageA(g, WM_USER, 0, 0); }, FALSE,
       ERROR_INVALID_WINDOW_HANDLE},
      {"to the machine's window", [](DWORD, HWND w, HWND) { return PostMessageA(w, WM_USER, 0, 0); }, TRUE, kSentinel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kSentinel);
    EXPECT_EQ(c.post(other_id, machine_window, gone), c.result);
    EXPECT_EQ(GetLastError(), c.error);
  }
  MSG msg;
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE) << "nothing lands in the poster's own queue";
}

TEST(MessageBox, IsJournaledAndAnsweredOk) {
  TempMachine machine;
  HWND owner = reinterpret_cast<HWND>(0x1234);
  struct Case {
    const char* text;
    const char* caption;
    UINT type;
    std::optional<std::string> journal_text;
    const char* journal_caption;
  } cases[] = {
      {"Device node not found", "Internal Failure", MB_OK | MB_ICONERROR, "Device node not found", "Internal Failure"},
      {"no caption", nullptr, MB_OKCANCEL, "no caption", "Error"},
      {nullptr, "", MB_OK, std::nullopt, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageBoxA(owner, c.text, c.caption, c.type), IDOK);

  const auto journal = winsim::ListJournal();
  ASSERT_EQ(journal.size(), std::size(cases));
  for (size_t i = 0; i < journal.size(); ++i) {
    SCOPED_TRACE(i);
    const winsim::JournalEntry& e = journal[i];
    EXPECT_EQ(e.kind, "box");
    EXPECT_EQ(e.state, "closed");
    EXPECT_EQ(e.program, winsim::ProgramName());
    EXPECT_EQ(e.pid, ::getpid());
    EXPECT_EQ(e.owner, 0x1234u);
    EXPECT_EQ(e.caption, cases[i].journal_caption);
    EXPECT_EQ(e.text, cases[i].journal_text);
    EXPECT_EQ(e.type, cases[i].type);
  }
}

TEST(MessageBox, AHeldBoxKeepsItsCallerUntilClosed) {
  TempMachine machine;
  winsim::SetHoldBoxes(true);
  auto open_boxes = [] {
    std::vector<int64_t> ids;
    for (const auto& e : winsim::ListJournal())
      if (e.state == "open") ids.push_back(e.id);
    return ids;
  };
  // Closed, or cleared from the journal: either way the caller gets its answer.
  for (bool by_clearing : {false, true}) {
    SCOPED_TRACE(by_clearing ? "cleared" : "closed");
    std::atomic<int> answer{-1};
    std::thread shower([&] { answer = MessageBoxA(nullptr, "held", "Hold", MB_OK); });
    ASSERT_TRUE(WaitUntil([&] { return open_boxes().size() == 1; }));
    EXPECT_EQ(answer.load(), -1);
    if (by_clearing)
      winsim::ClearJournal();
    else
      EXPECT_TRUE(winsim::CloseBox(open_boxes().front()));
    shower.join();
    EXPECT_EQ(answer.load(), IDOK);
    EXPECT_TRUE(open_boxes().empty());
  }
  // A program still waiting on a cleared box must not take a later box for its own.
  const int64_t cleared = winsim::RecordBox(nullptr, "first", "first", MB_OK);
  winsim::ClearJournal();
  winsim::RecordBox(nullptr, "second", "second", MB_OK);
  EXPECT_FALSE(winsim::BoxOpen(cleared));
}

TEST(ExitWindowsEx, NtRefusesARestartWithoutTheShutdownPrivilege) {
  struct Case {
    WindowsFlavour os;
    UINT flags;
    BOOL result;
    DWORD error;
    const char* state;
  } cases[] = {
      {WindowsFlavour::Win98, EWX_REBOOT, TRUE, kSentinel, "requested"},
      {WindowsFlavour::Nt4, EWX_REBOOT, FALSE, ERROR_PRIVILEGE_NOT_HELD, "refused"},
      {WindowsFlavour::Nt4, EWX_SHUTDOWN | EWX_FORCE, FALSE, ERROR_PRIVILEGE_NOT_HELD, "refused"},
      {WindowsFlavour::Nt4, EWX_LOGOFF, TRUE, kSentinel, "requested"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.os == WindowsFlavour::Nt4 ? "nt4" : "98") << " flags " << c.flags);
    TempMachine machine(c.os);
    SetLastError(kSentinel);
    EXPECT_EQ(ExitWindowsEx(c.flags, 0), c.result);
    EXPECT_EQ(GetLastError(), c.error);
    const auto journal = winsim::ListJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, "restart");
    EXPECT_EQ(journal[0].state, c.state);
    EXPECT_EQ(journal[0].type, c.flags);
  }
}

}  // namespace
