// winsim printer: the spooler's printers.
#include "command.h"
#include "printable.h"

#include <winsim/printers.h>

#include <cstdio>

namespace winsim_tool {
namespace {

std::string TakeName(std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("a printer name is needed");
  std::string name = args.front();
  args.erase(args.begin());
  ExpectNoMore(args);
  if (name.empty()) throw UsageError("a printer name cannot be empty");
  return name;
}

// Windows takes no control characters in a printer's name, driver or port; a tab or line feed
// would also break the columns of the list.
void ExpectNoControlBytes(const char* what, const std::string& text) {
  if (HasControlBytes(text)) throw CommandError(std::string("a printer's ") + what + " holds no control characters");
}

int Add(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  winsim::PrinterInfo printer;
  printer.driver = TakeOption(args, "--driver");
  printer.port = TakeOption(args, "--port");
  printer.needs_admin = TakeFlag(args, "--needs-admin");
  printer.name = TakeName(args);
  ExpectNoControlBytes("name", printer.name);
  ExpectNoControlBytes("driver", printer.driver);
  ExpectNoControlBytes("port", printer.port);
  if (!winsim::AddPrinter(printer)) throw CommandError("a printer named '" + printer.name + "' exists already");
  std::printf("added printer %s\n", printer.name.c_str());
  return 0;
}

int Remove(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const std::string name = TakeName(args);
  if (!winsim::RemovePrinter(name)) throw CommandError("no printer named '" + name + "'");
  std::printf("removed printer %s\n", name.c_str());
  return 0;
}

// One line per printer: name, driver, port and flags, separated by tabs.
int List(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  const std::vector<winsim::PrinterInfo> printers = winsim::ListPrinters();
  if (printers.empty()) std::fprintf(stderr, "no printers\n");
  for (const winsim::PrinterInfo& p : printers)
    std::printf("%s\t%s\t%s\t%s\n", Printable(p.name).c_str(), Printable(p.driver).c_str(), Printable(p.port).c_str(),
                p.needs_admin ? "needs-admin" : "-");
  return 0;
}

const Command winsim_command_printer_add{
    "printer add",
    "printer add NAME [--driver D] [--port P] [--needs-admin]   --needs-admin: opens need PRINTER_ACCESS_ADMINISTER",
    Add};
WINSIM_COMMAND(printer_add);
const Command winsim_command_printer_list{
    "printer list",
    "printer list              one line per printer: name, driver, port, flags (tab-separated, control bytes as \\xNN)",
    List};
WINSIM_COMMAND(printer_list);
const Command winsim_command_printer_remove{"printer remove", "printer remove NAME", Remove};
WINSIM_COMMAND(printer_remove);

}  // namespace
}  // namespace winsim_tool
