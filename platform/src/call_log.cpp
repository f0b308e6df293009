// Reading back the trace and the fault plan, for winsim and the tests.
#include <winsim/call.h>

#include <winsim/db.h>
#include <winsim/machine.h>

namespace winsim {

void ForEachTraceEntry(const std::function<void(const TraceEntry&)>& visit) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT id, pid, program, call, args, result, error FROM trace ORDER BY id");
  while (s.Step())
    visit({s.Int(0), static_cast<int>(s.Int(1)), s.Text(2), s.Text(3), s.Text(4), s.Text(5),
           static_cast<DWORD>(s.Int(6))});
}

std::vector<TraceEntry> ReadTrace() {
  std::vector<TraceEntry> entries;
  ForEachTraceEntry([&](const TraceEntry& e) { entries.push_back(e); });
  return entries;
}

void ClearTrace() {
  Db& db = CurrentMachine().Database();
  db.Exec("DELETE FROM trace");
  // A long trace leaves its pages behind as free pages: give them back, so that the machine's file
  // shrinks to what it holds.
  db.Exec("VACUUM");
  db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

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
