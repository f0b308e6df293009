// The spooler's printers, for winsim and the tests; programs use OpenPrinterA and its kin.
#ifndef WINSIM_PRINTERS_H
#define WINSIM_PRINTERS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

struct PrinterInfo {
  int64_t id = 0;
  std::string name;
  std::string driver;
  std::string port;
  bool needs_admin = false;  // opens only when PRINTER_ACCESS_ADMINISTER is asked for
};

// Names are found without regard to ASCII case and kept as first written.
// False when a printer of that name exists already.
bool AddPrinter(const PrinterInfo& printer);
// False when there is no such printer.
bool RemovePrinter(std::string_view name);
// The printer that a handle was opened on, even after one of the same name replaced it.
bool RemovePrinterWithId(int64_t id);
std::optional<PrinterInfo> FindPrinter(std::string_view name);
// Sorted by name.
std::vector<PrinterInfo> ListPrinters();

}  // namespace winsim

#endif
