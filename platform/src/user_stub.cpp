// Stand-in for the user interface (to be dropped when it lands): process windows in the machine's
// window table and message boxes recorded in its journal, answered at once.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include <unistd.h>

namespace winsim {

HWND AddWindow(std::string_view caption, bool owned_by_process) {
  Db& db = CurrentMachine().Database();
  ProcessId self = SelfProcessId();
  Stmt s(db, "INSERT INTO windows(caption, pid, pid_start) VALUES (?, ?, ?)");
  s.Bind(1, caption)
      .Bind(2, static_cast<int64_t>(owned_by_process ? self.pid : 0))
      .Bind(3, static_cast<int64_t>(owned_by_process ? self.start : 0))
      .Run();
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(db.LastInsertId()));
}

bool RemoveWindow(HWND window) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "DELETE FROM windows WHERE hwnd = ?")
      .Bind(1, static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)))
      .Run();
  return db.Changes() > 0;
}

}  // namespace winsim

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  winsim::Call call("MessageBoxA", owner, text, caption, type);
  if (call.Faulted()) return call.Fail(0);
  winsim::Db& db = winsim::CurrentMachine().Database();
  winsim::Stmt s(db,
                 "INSERT INTO journal(kind, pid, program, owner, caption, text, type, state) "
                 "VALUES ('box', ?, ?, ?, ?, ?, ?, 'closed')");
  s.Bind(1, static_cast<int64_t>(::getpid()))
      .Bind(2, winsim::ProgramName())
      .Bind(3, static_cast<int64_t>(reinterpret_cast<uintptr_t>(owner)))
      .Bind(4, caption ? caption : "Error")
      .Bind(5, text ? text : "")
      .Bind(6, static_cast<int64_t>(type))
      .Run();
  return call.Return(IDOK);
}
