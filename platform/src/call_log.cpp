// Reading back the trace and the fault plan, for winsim and the tests.
#include <winsim/call.h>

#include <winsim/db.h>
#include <winsim/machine.h>

namespace winsim {

std::vector<TraceEntry> ReadTrace() {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT pid, program, call, args, result, error FROM trace ORDER BY id");
  std::vector<TraceEntry> entries;
  while (s.Step())
    entries.push_back(
        {static_cast<int>(s.Int(0)), s.Text(1), s.Text(2), s.Text(3), s.Text(4), static_cast<DWORD>(s.Int(5))});
  return entries;
}

void ClearTrace() { CurrentMachine().Database().Exec("DELETE FROM trace"); }

std::vector<FaultRule> ListFaults() {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT call, match, error, times, skip FROM faults ORDER BY id");
  std::vector<FaultRule> rules;
  while (s.Step())
    rules.push_back(
        {s.Text(0), s.Text(1), static_cast<DWORD>(s.Int(2)), static_cast<int>(s.Int(3)), static_cast<int>(s.Int(4))});
  return rules;
}

}  // namespace winsim
