#include <winsim/call.h>

#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>

#include "flags.h"

#include <unistd.h>

#include <cstdio>

namespace winsim {
namespace {

thread_local DWORD t_last_error = 0;

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string HexText(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// Applies the plan to one call; returns the error code when a rule fails it. The rule is read
// without a write lock and claimed by one statement that checks that it is still as read, so a
// call holds the store only for that statement, and never when no rule matches it.
bool PickedByPlan(const char* call, const std::string& args, DWORD* error) {
  Db& db = CurrentMachine().Database();
  while (true) {
    int64_t rule_id = 0, times = 0, skip = 0;
    {
      Stmt s(db, "SELECT id, match, error, times, skip FROM faults WHERE call = ? AND times != 0 ORDER BY id");
      s.Bind(1, call);
      bool found = false;
      while (!found && s.Step()) {
        std::string match = s.Text(1);
        if (!match.empty() && args.find(match) == std::string::npos) continue;
        rule_id = s.Int(0);
        *error = static_cast<DWORD>(s.Int(2));
        times = s.Int(3);
        skip = s.Int(4);
        found = true;
      }
      if (!found) return false;
    }
    if (skip == 0 && times < 0) return true;
    Stmt claim(db,
               "UPDATE faults SET skip = max(skip - 1, 0), times = CASE WHEN skip > 0 OR times < 0 THEN times "
               "ELSE times - 1 END WHERE id = ? AND skip = ? AND times = ?");
    claim.Bind(1, rule_id).Bind(2, skip).Bind(3, times).Run();
    if (db.Changes() == 1) return skip == 0;
    // Another process used the rule meanwhile: read it again.
  }
}

}  // namespace

Arg::Arg(const char* s) : text(s ? Quote(s) : "NULL") {}
Arg::Arg(std::string_view s) : text(Quote(s)) {}
Arg::Arg(int v) : text(std::to_string(v)) {}
Arg::Arg(unsigned v) : text(std::to_string(v)) {}
Arg::Arg(long v) : text(std::to_string(v)) {}
Arg::Arg(unsigned long v) : text(std::to_string(v)) {}
Arg::Arg(long long v) : text(std::to_string(v)) {}
Arg::Arg(unsigned long long v) : text(std::to_string(v)) {}
Arg::Arg(const void* p) {
  if (!p)
    text = "NULL";
  else if (p == HKEY_LOCAL_MACHINE)
    text = "HKEY_LOCAL_MACHINE";
  else if (p == INVALID_HANDLE_VALUE)
    text = "INVALID_HANDLE_VALUE";
  else
    text = HexText(reinterpret_cast<uintptr_t>(p));
}
Arg Arg::Hex(uint64_t v) { return Raw(HexText(v)); }
Arg Arg::Raw(std::string s) {
  Arg a;
  a.text = std::move(s);
  return a;
}

bool TraceOn() {
  SharedFlags* flags = Flags();
  return flags && flags->trace_on.load(std::memory_order_relaxed);
}

void SetTrace(bool on) {
  CurrentMachine();
  Flags()->trace_on.store(on ? 1 : 0);
}

void TraceLine(std::string_view call, std::string_view args, std::string_view result, DWORD last_error) {
  if (!TraceOn()) return;
  try {
    Db& db = CurrentMachine().Database();
    Stmt s(db, "INSERT INTO trace(pid, program, call, args, result, error) VALUES (?, ?, ?, ?, ?, ?)");
    s.Bind(1, static_cast<int64_t>(::getpid()))
        .Bind(2, ProgramName())
        .Bind(3, call)
        .Bind(4, args)
        .Bind(5, result)
        .Bind(6, static_cast<int64_t>(last_error))
        .Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winsim: trace lost: %s\n", e.what());
  }
}

bool Call::Watching() {
  if (!Flags() && !HaveMachine()) return false;
  SharedFlags* flags = Flags();
  return flags->trace_on.load(std::memory_order_relaxed) || flags->fault_rules.load(std::memory_order_relaxed);
}

void Call::Begin(std::string args) {
  args_ = std::move(args);
  traced_ = TraceOn();
  if (info_->can_fail && Flags()->fault_rules.load(std::memory_order_relaxed)) {
    try {
      DWORD error = 0;
      if (PickedByPlan(info_->name, args_, &error)) {
        faulted_ = true;
        fault_error_ = error;
        SetLastError(error);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "winsim: fault plan unreadable: %s\n", e.what());
    }
  }
}

void Call::End(const std::string& result) {
  TraceLine(faulted_ ? std::string(info_->name) + " [fault]" : info_->name, args_, result, t_last_error);
}

void AddFault(const FaultRule& rule) {
  const CallInfo* info = FindCall(rule.call);
  if (!info) throw FaultPlanError("the machine has no call named " + rule.call);
  if (!info->can_fail) throw FaultPlanError("Windows never fails " + rule.call + ": the plan cannot fail it");
  Db& db = CurrentMachine().Database();
  Stmt s(db, "INSERT INTO faults(call, match, error, times, skip) VALUES (?, ?, ?, ?, ?)");
  s.Bind(1, rule.call)
      .Bind(2, rule.match)
      .Bind(3, static_cast<int64_t>(rule.error))
      .Bind(4, static_cast<int64_t>(rule.times))
      .Bind(5, static_cast<int64_t>(rule.skip))
      .Run();
  Flags()->fault_rules.fetch_add(1);
}

void ClearFaults() {
  Db& db = CurrentMachine().Database();
  db.Exec("DELETE FROM faults");
  Flags()->fault_rules.store(0);
}

}  // namespace winsim

extern "C" DWORD WINAPI GetLastError(void) { return winsim::t_last_error; }
extern "C" void WINAPI SetLastError(DWORD code) { winsim::t_last_error = code; }
