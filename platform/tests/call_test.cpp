#include <windows.h>

#include <winsim/call.h>
#include <winsim/process.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>

using testing_support::TempMachine;

namespace {

struct Traced {
  std::string call, args, result;
  DWORD error;
  bool operator==(const Traced&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Traced& t) {
  return out << t.call << "(" << t.args << ") = " << t.result << " [error " << t.error << "]";
}

std::vector<Traced> TraceOfThisProcess() {
  std::vector<Traced> out;
  for (const winsim::TraceEntry& e : winsim::ReadTrace()) {
    EXPECT_EQ(e.pid, ::getpid());
    EXPECT_EQ(e.program, winsim::ProgramName());
    out.push_back({e.call, e.args, e.result, e.error});
  }
  return out;
}

TEST(Trace, RecordsEachCallWithItsArgumentsResultAndLastError) {
  TempMachine machine;
  machine.Write("C:\\A.TXT", "x");
  lstrlenA("before");
  winsim::SetTrace(true);
  SetLastError(0);
  DeleteFileA("C:\\NOPE.TXT");
  DeleteFileA("c:\\a.txt");
  char buffer[16];
  lstrcpyA(buffer, "K5583");
  lstrcatA(buffer, ".drv");
  winsim::SetTrace(false);
  lstrlenA("after");
  const std::vector<Traced> expected = {
      {"DeleteFileA", "\"C:\\\\NOPE.TXT\"", "0", ERROR_FILE_NOT_FOUND},
      {"DeleteFileA", "\"c:\\\\a.txt\"", "1", ERROR_FILE_NOT_FOUND},  // success leaves the last error alone
      {"lstrcpyA", winsim::Arg(static_cast<const void*>(buffer)).text + ", \"K5583\"", "\"K5583\"",
       ERROR_FILE_NOT_FOUND},
      {"lstrcatA", "\"K5583\", \".drv\"", "\"K5583.drv\"", ERROR_FILE_NOT_FOUND},
  };
  EXPECT_EQ(TraceOfThisProcess(), expected);
  winsim::ClearTrace();
  EXPECT_TRUE(winsim::ReadTrace().empty());
}

// One rule of the plan: the calls it lets through (skip), the ones it fails (times), and the ones
// it never looks at (another call, another argument).
TEST(FaultPlan, FailsExactlyTheMatchingCallsItCounts) {
  TempMachine machine;
  machine.Write("C:\\KEEP.TXT", "x");
  winsim::AddFault({"GetFileAttributesA", "KEEP", ERROR_ACCESS_DENIED, 2, 1});
  struct Case {
    const char* name;
    DWORD result;
    DWORD error;
  } cases[] = {
      {"C:\\KEEP.TXT", FILE_ATTRIBUTE_ARCHIVE, 0xdeadbeef},              // skipped
      {"C:\\OTHER.TXT", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},  // no match
      {"C:\\KEEP.TXT", INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED},
      {"C:\\KEEP.TXT", INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED},
      {"C:\\KEEP.TXT", FILE_ATTRIBUTE_ARCHIVE, 0xdeadbeef},  // used up
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "call " << i + 1 << " " << cases[i].name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(cases[i].name), cases[i].result);
    EXPECT_EQ(GetLastError(), cases[i].error);
  }
  EXPECT_TRUE(DeleteFileA("C:\\KEEP.TXT"));
  const std::vector<winsim::FaultRule> rules = winsim::ListFaults();
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].times, 0);
  EXPECT_EQ(rules[0].skip, 0);
}

// --skip K lets K allocations through and fails the next: the way to fail the k-th allocation.
TEST(FaultPlan, FailsTheKthAllocation) {
  TempMachine machine;
  HANDLE heap = GetProcessHeap();
  winsim::SetTrace(true);
  winsim::AddFault({"HeapAlloc", "", ERROR_NOT_ENOUGH_MEMORY, 1, 2});
  std::vector<void*> blocks;
  for (int i = 0; i < 4; ++i) blocks.push_back(HeapAlloc(heap, HEAP_ZERO_MEMORY, 16));
  EXPECT_NE(blocks[0], nullptr);
  EXPECT_NE(blocks[1], nullptr);
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
  EXPECT_NE(blocks[3], nullptr);
  for (void* block : blocks) EXPECT_TRUE(HeapFree(heap, 0, block));
  std::vector<std::string> calls;
  for (const winsim::TraceEntry& e : winsim::ReadTrace()) calls.push_back(e.call);
  EXPECT_EQ(calls, (std::vector<std::string>{"HeapAlloc", "HeapAlloc", "HeapAlloc [fault]", "HeapAlloc", "HeapFree",
                                             "HeapFree", "HeapFree", "HeapFree"}));
  winsim::ClearFaults();
  EXPECT_TRUE(winsim::ListFaults().empty());
}

// The table is the machine's list of calls: each row names a call that the library carries out.
TEST(CallTable, EachRowIsACallOfTheMachine) {
  for (const winsim::CallInfo& call : winsim::AllCalls()) {
    EXPECT_NE(::dlsym(RTLD_DEFAULT, call.name), nullptr) << call.name;
    EXPECT_EQ(call.can_fail, call.usual_error != 0) << call.name;
  }
}

TEST(FaultPlan, RefusesUnknownCallsAndCallsThatCannotFail) {
  TempMachine machine;
  for (const char* name : {"NoSuchCall", "CharNextA", "CharPrevA", "lstrlenA", "charnexta", ""}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(winsim::AddFault({name, "", ERROR_GEN_FAILURE, -1, 0}), winsim::FaultPlanError);
  }
  EXPECT_TRUE(winsim::ListFaults().empty());
  const char text[] = "ab";
  EXPECT_EQ(CharNextA(text), text + 1);
}

TEST(Trace, CharPrevAIsTraced) {
  TempMachine machine;
  const char text[] = "ab";
  winsim::SetTrace(true);
  EXPECT_EQ(CharPrevA(text, text + 2), text + 1);
  winsim::SetTrace(false);
  const std::vector<Traced> trace = TraceOfThisProcess();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].call, "CharPrevA");
  EXPECT_EQ(trace[0].result, "\"b\"");
}

TEST(Heap, ZeroesOnRequestAndRefusesOtherHeaps) {
  TempMachine machine;
  auto* block = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::count(block, block + 64, 0), 64);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, nullptr));
  HANDLE other = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_EQ(HeapAlloc(other, 0, 8), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

}  // namespace
