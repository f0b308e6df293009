// The print spooler: who may open and delete a printer, and what a printer handle survives.
#include <windows.h>

#include <winsim/handles.h>
#include <winsim/printers.h>

#include <gtest/gtest.h>

#include "temp_machine.h"

namespace {

using testing_support::TempMachine;
using winsim::WindowsFlavour;

constexpr DWORD kSentinel = 0xdeadbeef;
const HANDLE kStale = reinterpret_cast<HANDLE>(0xbad0);

enum class Ask { Nothing, Use, Zero, DeleteAdmin };

const char* Name(Ask ask) {
  switch (ask) {
    case Ask::Nothing:
      return "no defaults";
    case Ask::Use:
      return "PRINTER_ACCESS_USE";
    case Ask::Zero:
      return "defaults asking 0";
    case Ask::DeleteAdmin:
      return "DELETE | PRINTER_ACCESS_ADMINISTER";
  }
  return "";
}

TEST(Spooler, OpenAndDeleteFollowTheFlavourAndThePrinter) {
  struct Case {
    WindowsFlavour os;
    bool needs_admin;
    Ask ask;
    bool opens;    // else ERROR_ACCESS_DENIED
    BOOL deleted;  // by DeletePrinter on the open handle
    DWORD error;   // of DeletePrinter
  } cases[] = {
      // Windows 98 ignores what is asked; every handle may delete.
      {WindowsFlavour::Win98, false, Ask::Nothing, true, TRUE, kSentinel},
      {WindowsFlavour::Win98, false, Ask::Use, true, TRUE, kSentinel},
      {WindowsFlavour::Win98, false, Ask::DeleteAdmin, true, TRUE, kSentinel},
      // NT grants what is asked; deleting needs the DELETE right.
      {WindowsFlavour::Nt4, false, Ask::Nothing, true, FALSE, ERROR_ACCESS_DENIED},
      {WindowsFlavour::Nt4, false, Ask::Zero, true, FALSE, ERROR_ACCESS_DENIED},
      {WindowsFlavour::Nt4, false, Ask::Use, true, FALSE, ERROR_ACCESS_DENIED},
      {WindowsFlavour::Nt4, false, Ask::DeleteAdmin, true, TRUE, kSentinel},
      // A printer that needs administration opens only when it is asked for, on both.
      {WindowsFlavour::Win98, true, Ask::Nothing, false, FALSE, kSentinel},
      {WindowsFlavour::Win98, true, Ask::Use, false, FALSE, kSentinel},
      {WindowsFlavour::Win98, true, Ask::DeleteAdmin, true, TRUE, kSentinel},
      {WindowsFlavour::Nt4, true, Ask::Nothing, false, FALSE, kSentinel},
      {WindowsFlavour::Nt4, true, Ask::Zero, false, FALSE, kSentinel},
      {WindowsFlavour::Nt4, true, Ask::Use, false, FALSE, kSentinel},
      {WindowsFlavour::Nt4, true, Ask::DeleteAdmin, true, TRUE, kSentinel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.os == WindowsFlavour::Nt4 ? "nt4" : "98")
                                    << (c.needs_admin ? ", needs admin, " : ", ") << Name(c.ask));
    TempMachine machine(c.os);
    ASSERT_TRUE(winsim::AddPrinter({0, "Quorl K5583 PCL 6", "Quorl K5583 PCL 6", "LPT1:", c.needs_admin}));
    char raw[] = "RAW";
    PRINTER_DEFAULTSA defaults{raw, nullptr, 0};
    if (c.ask == Ask::Use) defaults.DesiredAccess = PRINTER_ACCESS_USE;
    if (c.ask == Ask::DeleteAdmin) defaults.DesiredAccess = DELETE | PRINTER_ACCESS_ADMINISTER;
    char name[] = "QUORL k5583 pcl 6";  // names match without regard to case

    HANDLE printer = kStale;
    SetLastError(kSentinel);
    const BOOL opened = OpenPrinterA(name, &printer, c.ask == Ask::Nothing ? nullptr : &defaults);
    if (!c.opens) {
      EXPECT_EQ(opened, FALSE);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      EXPECT_EQ(printer, nullptr);
      EXPECT_TRUE(winsim::FindPrinter("Quorl K5583 PCL 6").has_value());
      continue;
    }
    ASSERT_EQ(opened, TRUE);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(DeletePrinter(printer), c.deleted);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(winsim::FindPrinter("Quorl K5583 PCL 6").has_value(), c.deleted != TRUE);
    EXPECT_EQ(ClosePrinter(printer), TRUE);
  }
}

TEST(Spooler, OpenRejectsWhatNamesNoPrinter) {
  TempMachine machine;
  ASSERT_TRUE(winsim::AddPrinter({0, "Dunvik VX-410 PCL5e", "", "", false}));
  char missing[] = "Dunvik VX-410 PCL5";
  char empty[] = "";
  char present[] = "Dunvik VX-410 PCL5e";
  struct Case {
    const char* what;
    LPSTR name;
    bool handle_variable;
    DWORD error;
  } cases[] = {
      {"a missing printer", missing, true, ERROR_INVALID_PRINTER_NAME},
      {"an empty name", empty, true, ERROR_INVALID_PRINTER_NAME},
      {"no name", nullptr, true, ERROR_INVALID_PRINTER_NAME},
      {"no handle variable", present, false, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE printer = kStale;
    SetLastError(kSentinel);
    EXPECT_EQ(OpenPrinterA(c.name, c.handle_variable ? &printer : nullptr, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(printer, c.handle_variable ? nullptr : kStale);
  }
}

TEST(Spooler, AHandleOutlivesItsPrinterUntilClosed) {
  TempMachine machine(WindowsFlavour::Nt4);
  ASSERT_TRUE(winsim::AddPrinter({0, "Dunvik VX-310 PCL5e", "", "", false}));
  char name[] = "Dunvik VX-310 PCL5e";
  PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(name, &printer, &all));
  // CloseHandle closes kernel objects only; a printer handle is not one.
  EXPECT_EQ(winsim::FindHandleOf<winsim::KernelObject>(printer), nullptr);

  ASSERT_EQ(DeletePrinter(printer), TRUE);
  // A printer of the same name, set up again, is another printer: the old handle can't reach it.
  ASSERT_TRUE(winsim::AddPrinter({0, "Dunvik VX-310 PCL5e", "", "", false}));

  struct Step {
    const char* what;
    BOOL (*call)(HANDLE);
    HANDLE handle;
    BOOL result;
    DWORD error;
  } steps[] = {
      {"delete again", DeletePrinter, printer, FALSE, ERROR_INVALID_PRINTER_NAME},
      {"close", ClosePrinter, printer, TRUE, kSentinel},
      {"close again", ClosePrinter, printer, FALSE, ERROR_INVALID_HANDLE},
      {"delete after close", DeletePrinter, printer, FALSE, ERROR_INVALID_HANDLE},
      {"delete no handle", DeletePrinter, nullptr, FALSE, ERROR_INVALID_HANDLE},
      {"close no handle", ClosePrinter, nullptr, FALSE, ERROR_INVALID_HANDLE},
      {"delete a stale value", DeletePrinter, kStale, FALSE, ERROR_INVALID_HANDLE},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    SetLastError(kSentinel);
    EXPECT_EQ(s.call(s.handle), s.result);
    EXPECT_EQ(GetLastError(), s.error);
  }
  EXPECT_TRUE(winsim::FindPrinter(name).has_value());
}

}  // namespace
