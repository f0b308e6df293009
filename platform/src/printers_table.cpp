// The `printers` table; `fold` is the name with ASCII letters in lower case, the key of a name.
#include <winsim/printers.h>

#include <winsim/db.h>
#include <winsim/machine.h>

namespace winsim {
namespace {

std::string Fold(std::string_view name) {
  std::string fold(name);
  for (char& c : fold)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return fold;
}

PrinterInfo Row(const Stmt& s) { return {s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Int(4) != 0}; }

}  // namespace

bool AddPrinter(const PrinterInfo& printer) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "INSERT OR IGNORE INTO printers(name, fold, driver, port, needs_admin) VALUES (?, ?, ?, ?, ?)");
  s.Bind(1, printer.name)
      .Bind(2, Fold(printer.name))
      .Bind(3, printer.driver)
      .Bind(4, printer.port)
      .Bind(5, printer.needs_admin ? 1 : 0)
      .Run();
  return db.Changes() > 0;
}

bool RemovePrinter(std::string_view name) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "DELETE FROM printers WHERE fold = ?").Bind(1, Fold(name)).Run();
  return db.Changes() > 0;
}

bool RemovePrinterWithId(int64_t id) {
  Db& db = CurrentMachine().Database();
  Stmt(db, "DELETE FROM printers WHERE id = ?").Bind(1, id).Run();
  return db.Changes() > 0;
}

std::optional<PrinterInfo> FindPrinter(std::string_view name) {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT id, name, driver, port, needs_admin FROM printers WHERE fold = ?");
  s.Bind(1, Fold(name));
  if (!s.Step()) return std::nullopt;
  return Row(s);
}

std::vector<PrinterInfo> ListPrinters() {
  Db& db = CurrentMachine().Database();
  Stmt s(db, "SELECT id, name, driver, port, needs_admin FROM printers ORDER BY fold");
  std::vector<PrinterInfo> printers;
  while (s.Step()) printers.push_back(Row(s));
  return printers;
}

}  // namespace winsim
