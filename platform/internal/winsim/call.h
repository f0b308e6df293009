// The one choke point of every public call: the call trace and the fault plan, both led by the
// call table (call_table.h), where the call's name must have its row.
//
//   BOOL WINAPI DeleteFileA(LPCSTR name) {
//     winsim::Call call("DeleteFileA", name);
//     if (call.Faulted()) return call.Fail(FALSE);   // never true for a call that cannot fail
//     ...
//     return call.Return(TRUE);            // traced with the last error as it stands
//   }
#ifndef WINSIM_CALL_H
#define WINSIM_CALL_H

#include <windows.h>

#include <winsim/call_table.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// How an argument shows in the trace and to a fault's --match.
struct Arg {
  std::string text;
  Arg(const char* s);  // quoted, or NULL
  Arg(char* s) : Arg(static_cast<const char*>(s)) {}
  Arg(std::string_view s);
  Arg(int v);
  Arg(unsigned v);
  Arg(long v);
  Arg(unsigned long v);
  Arg(long long v);
  Arg(unsigned long long v);
  Arg(const void* p);  // hex, or NULL; HKEY_LOCAL_MACHINE by name
  template <class T>
  Arg(T* p) : Arg(static_cast<const void*>(p)) {}
  template <class R, class... P>
  Arg(R (*f)(P...)) : Arg(reinterpret_cast<const void*>(f)) {}  // GetProcAddress's result
  static Arg Hex(uint64_t v);
  static Arg Raw(std::string s);

 private:
  Arg() = default;
};

bool TraceOn();
void SetTrace(bool on);
// Records one line of the trace for this process (no-op when the trace is off).
void TraceLine(std::string_view call, std::string_view args, std::string_view result, DWORD last_error);

struct TraceEntry {
  int64_t id;  // the machine's order: later calls have larger ids
  int pid;
  std::string program;
  std::string call;  // " [fault]" added when the plan failed it
  std::string args;
  std::string result;  // empty for a call without a result
  DWORD error;         // the last error as the call left it
};
// The machine's trace, every process's calls in the order they ended, one entry at a time so that
// a trace of any length reads in bounded memory.
void ForEachTraceEntry(const std::function<void(const TraceEntry&)>& visit);
std::vector<TraceEntry> ReadTrace();
// Empties the trace and gives its room back to the disk.
void ClearTrace();

class Call {
 public:
  template <class... A>
  Call(CallName name, const A&... args) : info_(&name.Info()) {
    if (Watching()) {
      std::string joined;
      ((joined += (joined.empty() ? "" : ", "), joined += Arg(args).text), ...);
      Begin(std::move(joined));
    }
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  const char* Name() const { return info_->name; }
  // The fault plan picked this call; the last error is already set to the plan's code.
  bool Faulted() const { return faulted_; }
  DWORD FaultError() const { return fault_error_; }

  template <class R>
  R Return(R result) {
    if (traced_) End(Arg(result).text);
    return result;
  }
  // Returns `result` with `error` as the last error.
  template <class R>
  R Fail(R result, DWORD error) {
    SetLastError(error);
    return Return(result);
  }
  // Returns `result` after a fault; the last error is the plan's.
  template <class R>
  R Fail(R result) {
    return Return(result);
  }
  void ReturnVoid() {
    if (traced_) End("");
  }

 private:
  static bool Watching();
  void Begin(std::string args);
  void End(const std::string& result);

  const CallInfo* info_;
  std::string args_;
  bool traced_ = false;
  bool faulted_ = false;
  DWORD fault_error_ = 0;
};

// A rule for a call that the call table lacks or that Windows cannot fail.
class FaultPlanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fault plan, machine-wide. `times` < 0: every matching call; `skip`: matching calls let through first.
struct FaultRule {
  std::string call;
  std::string match;
  DWORD error = ERROR_GEN_FAILURE;
  int times = -1;
  int skip = 0;
};
// Throws FaultPlanError for a call that the table lacks or that cannot fail.
void AddFault(const FaultRule& rule);
void ClearFaults();
// The plan in the order the rules were added, with `times` and `skip` as calls have left them.
std::vector<FaultRule> ListFaults();

}  // namespace winsim

#endif
