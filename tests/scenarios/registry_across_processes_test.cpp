// A program started by WinExec works on the same registry as the program that started it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "run.h"
#include "temp_machine.h"

namespace testing_support {
namespace {

TEST(RegistryAcrossProcesses, AStartedProgramSeesWhatItsStarterWrote) {
  TempMachine machine;
  machine.Put(BinPath("regprobe.exe"), "C:\\TOOLS\\REGPROBE.EXE");
  HKEY key = NULL;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Probe", &key), ERROR_SUCCESS);
  const char question[] = "written just before the start";
  ASSERT_EQ(RegSetValueExA(key, "Question", 0, REG_SZ, reinterpret_cast<const BYTE*>(question), sizeof question),
            ERROR_SUCCESS);

  ASSERT_GT(WinExec("C:\\TOOLS\\REGPROBE.EXE", SW_SHOW), 31u);

  char answer[64] = {};
  DWORD size = sizeof answer;
  EXPECT_TRUE(WaitUntil([&] {
    size = sizeof answer;
    return RegQueryValueExA(key, "Answer", NULL, NULL, reinterpret_cast<BYTE*>(answer), &size) == ERROR_SUCCESS;
  }));
  EXPECT_EQ(std::string(answer), question);
  EXPECT_EQ(size, sizeof question);
  RegCloseKey(key);
}

}  // namespace
}  // namespace testing_support
