#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/machine_content.h>
#include <winsim/windows_table.h>

namespace winsim {

MachineContent ReadMachineContent() {
  Db& db = CurrentMachine().Database();
  MachineContent content;
  {
    ReadTx tx(db);
    Stmt keys(db, "SELECT id, parent, name, path FROM reg_keys ORDER BY id");
    while (keys.Step())
      content.keys.push_back({keys.Int(0), keys.IsNull(1) ? 0 : keys.Int(1), keys.Text(2), keys.Text(3)});
    Stmt values(db, "SELECT key, name, fold, type, data FROM reg_values ORDER BY id");
    while (values.Step())
      content.values.push_back(
          {values.Int(0), values.Text(1), values.Text(2), static_cast<DWORD>(values.Int(3)), values.Blob(4)});
    content.printers = ListPrinters();
  }
  // Read just after: listing drops the windows of ended processes, a write of its own.
  const std::vector<WindowInfo> windows = ListWindows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) content.window_captions.push_back(it->caption);
  return content;
}

}  // namespace winsim
