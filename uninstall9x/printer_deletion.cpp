#include "printer_deletion.h"

namespace {

char kRawDatatype[] = "RAW";
const ACCESS_MASK kDeleteAndAdminister = DELETE | PRINTER_ACCESS_ADMINISTER;

void DeleteAndClose(HANDLE printer) {
  DeletePrinter(printer);
  ClosePrinter(printer);
}

}  // namespace

void DeleteNamedPrinter(LPCSTR name, HANDLE* printer, PRINTER_DEFAULTSA* defaults) {
  LPSTR printerName = const_cast<LPSTR>(name);
  if (OpenPrinterA(printerName, printer, defaults)) {
    DeleteAndClose(*printer);
    return;
  }
  defaults->pDatatype = kRawDatatype;
  defaults->DesiredAccess = kDeleteAndAdminister;
  if (OpenPrinterA(printerName, printer, defaults)) DeleteAndClose(*printer);
}
