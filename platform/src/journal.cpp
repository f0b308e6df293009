// The `journal` table and the machine setting that holds message boxes open.
#include <winsim/journal.h>

#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>

namespace winsim {
namespace {

constexpr const char* kHoldSetting = "hold_boxes";

bool ReadHold(Db& db) {
  Stmt s(db, "SELECT value FROM settings WHERE name = ?");
  s.Bind(1, kHoldSetting);
  return s.Step() && s.Text(0) == "on";
}

std::optional<std::string> OptionalText(const Stmt& s, int column) {
  if (s.IsNull(column)) return std::nullopt;
  return s.Text(column);
}

}  // namespace

std::vector<JournalEntry> ListJournal() {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT id, kind, state, program, pid, owner, caption, text, type FROM journal ORDER BY id");
  std::vector<JournalEntry> entries;
  while (s.Step()) {
    entries.push_back({s.Int(0), s.Text(1), s.Text(2), s.Text(3), static_cast<int>(s.Int(4)),
                       static_cast<uint64_t>(s.Int(5)), OptionalText(s, 6), OptionalText(s, 7),
                       static_cast<UINT>(s.Int(8))});
  }
  return entries;
}

void ClearJournal() { CurrentMachine().Database().Exec("DELETE FROM journal"); }

bool HoldingBoxes() { return ReadHold(CurrentMachine().Database()); }

void SetHoldBoxes(bool hold) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "INSERT OR REPLACE INTO settings(name, value) VALUES (?, ?)");
  s.Bind(1, kHoldSetting).Bind(2, hold ? "on" : "off").Run();
}

bool CloseBox(int64_t id) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "UPDATE journal SET state = 'closed' WHERE id = ? AND kind = 'box' AND state = 'open'").Bind(1, id).Run();
  return db.Changes() > 0;
}

int CloseAllBoxes() {
  Db& db = CurrentMachine().Database();
  Stmt(db, "UPDATE journal SET state = 'closed' WHERE kind = 'box' AND state = 'open'").Run();
  return db.Changes();
}

int64_t RecordBox(HWND owner, std::string_view caption, const char* text, UINT type) {
  Db& db = CurrentMachine().Database();
  Tx tx(db);
  {
    Stmt s(db,
           "INSERT INTO journal(kind, pid, program, owner, caption, text, type, state) "
           "VALUES ('box', ?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, static_cast<int64_t>(SelfProcessId().pid))
        .Bind(2, ProgramName())
        .Bind(3, static_cast<int64_t>(reinterpret_cast<uintptr_t>(owner)))
        .Bind(4, caption)
        .Bind(6, static_cast<int64_t>(type))
        .Bind(7, ReadHold(db) ? "open" : "closed");
    if (text)
      s.Bind(5, text);
    else
      s.BindNull(5);
    s.Run();
  }
  const int64_t id = db.LastInsertId();
  tx.Commit();
  return id;
}

bool BoxOpen(int64_t id) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT state FROM journal WHERE id = ?");
  s.Bind(1, id);
  // A box cleared from the journal is gone from the screen too.
  return s.Step() && s.Text(0) == "open";
}

void RecordRestart(UINT flags, bool refused) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "INSERT INTO journal(kind, pid, program, type, state) VALUES ('restart', ?, ?, ?, ?)");
  s.Bind(1, static_cast<int64_t>(SelfProcessId().pid))
      .Bind(2, ProgramName())
      .Bind(3, static_cast<int64_t>(flags))
      .Bind(4, refused ? "refused" : "requested")
      .Run();
}

}  // namespace winsim
