// Events, waits, CloseHandle and time within one process.
#include <windows.h>

#include <winsim/handles.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <optional>
#include <string>
#include <vector>

#include "temp_machine.h"

namespace {

using testing_support::TempMachine;

constexpr DWORD kSentinel = 0xdeadbeef;

struct NameCase {
  const char* what;
  const char* existing;  // created first, or null
  bool open;             // OpenEventA with SYNCHRONIZE rather than CreateEventA
  std::optional<std::string> name;
  bool gets_handle;
  DWORD error;  // kSentinel: the last error is left alone
};

TEST(Events, NamesAreMachineWideAndCaseSensitive) {
  const std::string longest(MAX_PATH, 'x');
  const NameCase cases[] = {
      {"create a new name", nullptr, false, "Lock", true, ERROR_SUCCESS},
      {"create an existing name", "Lock", false, "Lock", true, ERROR_ALREADY_EXISTS},
      {"create a name that differs in case", "Lock", false, "lock", true, ERROR_SUCCESS},
      {"create unnamed", "Lock", false, std::nullopt, true, ERROR_SUCCESS},
      {"create the longest name", nullptr, false, longest, true, ERROR_SUCCESS},
      {"create a name too long", nullptr, false, longest + "x", false, ERROR_FILENAME_EXCED_RANGE},
      {"open an existing name", "Lock", true, "Lock", true, kSentinel},
      {"open a missing name", nullptr, true, "Lock", false, ERROR_FILE_NOT_FOUND},
      {"open a name that differs in case", "Lock", true, "LOCK", false, ERROR_FILE_NOT_FOUND},
      {"open the empty name", "Lock", true, "", false, ERROR_FILE_NOT_FOUND},
      {"open a null name", "Lock", true, std::nullopt, false, ERROR_INVALID_PARAMETER},
      {"open a name too long", nullptr, true, longest + "x", false, ERROR_FILENAME_EXCED_RANGE},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine machine;
    if (c.existing) {
      ASSERT_NE(CreateEventA(nullptr, FALSE, FALSE, c.existing), nullptr);
    }
    const char* name = c.name ? c.name->c_str() : nullptr;
    SetLastError(kSentinel);
    HANDLE h = c.open ? OpenEventA(SYNCHRONIZE, FALSE, name) : CreateEventA(nullptr, FALSE, FALSE, name);
    EXPECT_EQ(h != nullptr, c.gets_handle);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

// Steps on one event, each checked: S SetEvent, R ResetEvent, W a wait that finds it signalled,
// w a wait that times out, C CreateEventA again on the name with the opposite reset and initial
// state (the event must stay as it is).
struct StateCase {
  const char* what;
  bool manual_reset;
  bool initial_state;
  const char* steps;
};

TEST(Events, SignalsAndWaits) {
  const StateCase cases[] = {
      {"auto-reset: a wait consumes the signal", false, false, "w S W w"},
      {"auto-reset: created signalled", false, true, "W w"},
      {"auto-reset: signals do not add up", false, false, "S S W w"},
      {"auto-reset: reset takes the signal back", false, true, "R w"},
      {"manual-reset: stays signalled until reset", true, false, "w S W W R w"},
      {"manual-reset: created signalled", true, true, "W W"},
      {"create again leaves a signalled auto-reset event alone", false, true, "C W w"},
      {"create again leaves a non-signalled manual-reset event alone", true, false, "C w S W W"},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine machine;
    HANDLE h = CreateEventA(nullptr, c.manual_reset, c.initial_state, "State");
    ASSERT_NE(h, nullptr);
    for (const char* step = c.steps; *step; ++step) {
      SCOPED_TRACE(std::string("step ") + std::to_string(step - c.steps) + " '" + *step + "'");
      switch (*step) {
        case 'S':
          EXPECT_TRUE(SetEvent(h));
          break;
        case 'R':
          EXPECT_TRUE(ResetEvent(h));
          break;
        case 'W':
          EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
          break;
        case 'w':
          EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
          break;
        case 'C':
          h = CreateEventA(nullptr, !c.manual_reset, !c.initial_state, "State");
          EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
          break;
      }
    }
  }
}

struct AccessCase {
  DWORD access;
  DWORD wait_error;    // 0: the wait succeeds
  DWORD change_error;  // 0: SetEvent and ResetEvent succeed
};

TEST(Events, OpenedHandlesHaveTheRightsAskedFor) {
  const AccessCase cases[] = {
      {SYNCHRONIZE, 0, ERROR_ACCESS_DENIED},
      {EVENT_MODIFY_STATE, ERROR_ACCESS_DENIED, 0},
      {SYNCHRONIZE | EVENT_MODIFY_STATE, 0, 0},
      {EVENT_ALL_ACCESS, 0, 0},
  };
  for (const AccessCase& c : cases) {
    SCOPED_TRACE("access " + std::to_string(c.access));
    TempMachine machine;
    HANDLE creator = CreateEventA(nullptr, TRUE, TRUE, "Rights");
    HANDLE h = OpenEventA(c.access, FALSE, "Rights");
    ASSERT_NE(h, nullptr);
    SetLastError(kSentinel);
    EXPECT_EQ(WaitForSingleObject(h, 0), c.wait_error ? WAIT_FAILED : WAIT_OBJECT_0);
    EXPECT_EQ(GetLastError(), c.wait_error ? c.wait_error : kSentinel);
    SetLastError(kSentinel);
    EXPECT_EQ(ResetEvent(h), c.change_error ? FALSE : TRUE);
    EXPECT_EQ(SetEvent(h), c.change_error ? FALSE : TRUE);
    EXPECT_EQ(GetLastError(), c.change_error ? c.change_error : kSentinel);
    // A refused change leaves the state alone.
    EXPECT_EQ(WaitForSingleObject(creator, 0), WAIT_OBJECT_0);
  }
}

struct NotAKernelObject : winsim::HandleObject {
  std::string Describe() const override { return "key HKLM\\Software"; }
};
struct KernelObjectNotAnEvent : winsim::KernelObject {
  std::string Describe() const override { return "thread 42"; }
};

struct BadHandleCase {
  const char* what;
  HANDLE (*make)();
  bool closes;  // CloseHandle takes it all the same
};

TEST(Events, CallsOnHandlesThatAreNoEventFail) {
  const BadHandleCase cases[] = {
      {"null", [] { return HANDLE{nullptr}; }, false},
      {"INVALID_HANDLE_VALUE", [] { return INVALID_HANDLE_VALUE; }, false},
      {"never handed out", [] { return reinterpret_cast<HANDLE>(0x7ff0); }, false},
      {"closed event",
       [] {
         HANDLE h = CreateEventA(nullptr, TRUE, TRUE, "Closed");
         CloseHandle(h);
         return h;
       },
       false},
      {"registry key", [] { return reinterpret_cast<HANDLE>(winsim::AddHandle(std::make_shared<NotAKernelObject>())); },
       false},
      {"thread", [] { return reinterpret_cast<HANDLE>(winsim::AddHandle(std::make_shared<KernelObjectNotAnEvent>())); },
       true},
  };
  for (const BadHandleCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine machine;
    HANDLE h = c.make();
    SetLastError(kSentinel);
    EXPECT_FALSE(SetEvent(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(kSentinel);
    EXPECT_FALSE(ResetEvent(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(kSentinel);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(kSentinel);
    EXPECT_EQ(CloseHandle(h), c.closes ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.closes ? kSentinel : ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(h)) << "a handle closes once";
  }
}

TEST(Events, AnEventEndsWithItsLastHandle) {
  TempMachine machine;
  HANDLE first = CreateEventA(nullptr, TRUE, TRUE, "Life");
  HANDLE second = CreateEventA(nullptr, FALSE, FALSE, "Life");
  ASSERT_NE(first, second);
  ASSERT_TRUE(CloseHandle(first));
  HANDLE opened = OpenEventA(SYNCHRONIZE, FALSE, "Life");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0) << "still the first event";
  ASSERT_TRUE(CloseHandle(opened));
  ASSERT_TRUE(CloseHandle(second));

  SetLastError(kSentinel);
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "Life"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // The name is free for a new event with a state of its own.
  HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, "Life");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
}

TEST(Events, AFullTableRefusesNewEventsUntilOneEnds) {
  TempMachine machine;
  std::vector<HANDLE> events;
  HANDLE h;
  while ((h = CreateEventA(nullptr, FALSE, FALSE, nullptr)) != nullptr) {
    events.push_back(h);
    ASSERT_LT(events.size(), 100000u) << "the table never fills";
  }
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "Named"), nullptr);
  ASSERT_TRUE(CloseHandle(events.back()));
  EXPECT_NE(CreateEventA(nullptr, FALSE, FALSE, "Named"), nullptr);
}

TEST(Events, EachMachineHasItsOwnEvents) {
  TempMachine first;
  ASSERT_NE(CreateEventA(nullptr, FALSE, FALSE, "Mine"), nullptr);
  {
    TempMachine second;
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "Mine"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }
  // Leaving a machine closed this process's handles there.
  winsim::UseMachine(first.Folder());
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "Mine"), nullptr);
}

TEST(Events, WaitingThreadsWakeOnASignal) {
  TempMachine machine;
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, "Gate");
  HANDLE autoreset = CreateEventA(nullptr, FALSE, FALSE, "Turnstile");
  auto wait = [](HANDLE h) { return std::async(std::launch::async, [h] { return WaitForSingleObject(h, INFINITE); }); };
  std::future<DWORD> gate[] = {wait(manual), wait(manual)};
  std::future<DWORD> turnstile = wait(autoreset);
  ASSERT_TRUE(SetEvent(manual));
  ASSERT_TRUE(SetEvent(autoreset));
  for (auto& f : gate) EXPECT_EQ(f.get(), WAIT_OBJECT_0) << "a manual-reset event lets every waiter go";
  EXPECT_EQ(turnstile.get(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoreset, 0), WAIT_TIMEOUT) << "the waiter consumed the signal";
}

TEST(Kernel, TimeAndIdentity) {
  TempMachine machine;
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
  const DWORD main_thread = GetCurrentThreadId();
  EXPECT_EQ(GetCurrentThreadId(), main_thread);
  EXPECT_NE(std::async(std::launch::async, [] { return GetCurrentThreadId(); }).get(), main_thread);

  // Lower bounds only: a sleep or a time-out never ends early.
  DWORD start = GetTickCount();
  Sleep(30);
  EXPECT_GE(GetTickCount() - start, 30u);
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(h, 40), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 40u);
}

}  // namespace
