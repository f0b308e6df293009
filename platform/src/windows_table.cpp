// The `windows` table. A process-owned window carries its owner's pid and start time, so that a
// window outlives neither its process nor a later process that reuses the pid.
#include <winsim/windows_table.h>

#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>

#include "thread_queue.h"

namespace winsim {
namespace {

HWND ToHwnd(int64_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }
int64_t FromHwnd(HWND window) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)); }

bool OwnerAlive(int64_t pid, int64_t start) {
  return pid == 0 || ProcessAlive({static_cast<int>(pid), static_cast<unsigned long long>(start)});
}

}  // namespace

HWND AddWindow(std::string_view caption, bool owned_by_process) {
  const ProcessId self = owned_by_process ? SelfProcessId() : ProcessId{};
  const DWORD thread = owned_by_process ? GetCurrentThreadId() : 0;
  // Messages posted to the window go to this thread's queue, which must be there from now on.
  if (owned_by_process) MakeThreadQueue();
  Db& db = CurrentMachine().Database();
  Stmt s(db, "INSERT INTO windows(caption, pid, pid_start, thread) VALUES (?, ?, ?, ?)");
  s.Bind(1, caption)
      .Bind(2, static_cast<int64_t>(self.pid))
      .Bind(3, static_cast<int64_t>(self.start))
      .Bind(4, static_cast<int64_t>(thread))
      .Run();
  return ToHwnd(db.LastInsertId());
}

HWND AddWindowOnce(std::string_view caption, bool owned_by_process) {
  Db& db = CurrentMachine().Database();
  Tx tx(db);
  {
    Stmt s(db, "SELECT pid, pid_start FROM windows WHERE caption = ?");
    s.Bind(1, caption);
    while (s.Step())
      if (OwnerAlive(s.Int(0), s.Int(1))) return nullptr;
  }
  HWND window = AddWindow(caption, owned_by_process);
  tx.Commit();
  return window;
}

bool GiveWindowToMachine(HWND window) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "UPDATE windows SET pid = 0, pid_start = 0, thread = 0 WHERE hwnd = ?").Bind(1, FromHwnd(window)).Run();
  return db.Changes() > 0;
}

bool RemoveWindow(HWND window) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "DELETE FROM windows WHERE hwnd = ?").Bind(1, FromHwnd(window)).Run();
  return db.Changes() > 0;
}

int RemoveWindowsByCaption(std::string_view caption) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "DELETE FROM windows WHERE pid = 0 AND caption = ?").Bind(1, caption).Run();
  return db.Changes();
}

std::vector<WindowInfo> ListWindows() {
  Db& db = CurrentMachine().Database();
  std::vector<WindowInfo> live;
  std::vector<int64_t> dead;
  {
    Stmt s(db, "SELECT hwnd, caption, pid, pid_start, thread FROM windows ORDER BY hwnd DESC");
    while (s.Step()) {
      if (!OwnerAlive(s.Int(2), s.Int(3))) {
        dead.push_back(s.Int(0));
        continue;
      }
      live.push_back({ToHwnd(s.Int(0)), s.Text(1), static_cast<int>(s.Int(2)), static_cast<DWORD>(s.Int(4))});
    }
  }
  if (!dead.empty()) {
    Tx tx(db);
    for (int64_t hwnd : dead) Stmt(db, "DELETE FROM windows WHERE hwnd = ?").Bind(1, hwnd).Run();
    tx.Commit();
  }
  return live;
}

std::optional<WindowInfo> LiveWindow(HWND window) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT caption, pid, pid_start, thread FROM windows WHERE hwnd = ?");
  s.Bind(1, FromHwnd(window));
  if (!s.Step() || !OwnerAlive(s.Int(1), s.Int(2))) return std::nullopt;
  return WindowInfo{window, s.Text(0), static_cast<int>(s.Int(1)), static_cast<DWORD>(s.Int(3))};
}

}  // namespace winsim
