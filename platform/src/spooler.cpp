// The print spooler: printer handles over the machine's `printers` table.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/machine.h>
#include <winsim/printers.h>

#include "failure.h"

namespace {

// Not a kernel object: CloseHandle leaves it alone, only ClosePrinter closes it.
class PrinterHandle : public winsim::HandleObject {
 public:
  PrinterHandle(int64_t printer, std::string name, ACCESS_MASK granted)
      : printer_(printer), name_(std::move(name)), granted_(granted) {}
  std::string Describe() const override { return "printer \"" + name_ + "\""; }
  int64_t Printer() const { return printer_; }
  ACCESS_MASK Granted() const { return granted_; }

 private:
  int64_t printer_;
  std::string name_;
  ACCESS_MASK granted_;
};

bool Nt() { return winsim::CurrentMachine().Settings().os == winsim::WindowsFlavour::Nt4; }

// What the open asks for. An empty request counts as a plain one (assumed: a handle with no
// right at all would be good for nothing).
ACCESS_MASK Requested(const PRINTER_DEFAULTSA* defaults) {
  if (!defaults || defaults->DesiredAccess == 0) return PRINTER_ACCESS_USE;
  return defaults->DesiredAccess;
}

// The defaults record as the trace shows it: what the spooler is asked for matters more than where.
winsim::Arg DefaultsArg(const PRINTER_DEFAULTSA* defaults) {
  if (!defaults) return winsim::Arg::Raw("NULL");
  return winsim::Arg::Raw("{" + winsim::Arg(static_cast<LPCSTR>(defaults->pDatatype)).text + ", " +
                          winsim::Arg(static_cast<const void*>(defaults->pDevMode)).text + ", " +
                          winsim::Arg::Hex(defaults->DesiredAccess).text + "}");
}

}  // namespace

extern "C" BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
  winsim::Call call("OpenPrinterA", static_cast<LPCSTR>(pPrinterName), static_cast<const void*>(phPrinter),
                    DefaultsArg(pDefault));
  if (!phPrinter) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  // A failed open leaves no stale handle behind for a caller that reuses its variable.
  *phPrinter = nullptr;
  if (call.Faulted()) return call.Fail(FALSE);
  // The machine's spooler has no print server handle to give for a missing name.
  if (!pPrinterName || !*pPrinterName) return call.Fail(FALSE, ERROR_INVALID_PRINTER_NAME);
  try {
    auto printer = winsim::FindPrinter(pPrinterName);
    if (!printer) return call.Fail(FALSE, ERROR_INVALID_PRINTER_NAME);
    const ACCESS_MASK requested = Requested(pDefault);
    if (printer->needs_admin && !(requested & PRINTER_ACCESS_ADMINISTER)) return call.Fail(FALSE, ERROR_ACCESS_DENIED);
    // Windows 98 has no rights on printers: every handle can do everything.
    const ACCESS_MASK granted = Nt() ? requested : PRINTER_ALL_ACCESS;
    const uintptr_t handle = winsim::AddHandle(std::make_shared<PrinterHandle>(printer->id, printer->name, granted));
    *phPrinter = reinterpret_cast<HANDLE>(handle);
    return call.Return(TRUE);
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
}

extern "C" BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
  winsim::Call call("DeletePrinter", hPrinter);
  if (call.Faulted()) return call.Fail(FALSE);
  auto handle = winsim::FindHandleOf<PrinterHandle>(hPrinter);
  if (!handle) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  try {
    if (!(handle->Granted() & DELETE)) return call.Fail(FALSE, ERROR_ACCESS_DENIED);
    if (!winsim::RemovePrinterWithId(handle->Printer())) return call.Fail(FALSE, ERROR_INVALID_PRINTER_NAME);
    return call.Return(TRUE);
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  winsim::Call call("ClosePrinter", hPrinter);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!winsim::FindHandleOf<PrinterHandle>(hPrinter)) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  winsim::RemoveHandle(reinterpret_cast<uintptr_t>(hPrinter));
  return call.Return(TRUE);
}
