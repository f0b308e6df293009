#include <winsim/paths.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing_support::TempMachine;

namespace {

struct FullCase {
  const char* name;
  const char* full;  // null: fails with `error`
  DWORD error;
};

void ExpectFull(const FullCase& c) {
  SCOPED_TRACE(std::string("name \"") + c.name + "\"");
  DWORD error = 0xdeadbeef;
  std::optional<std::string> full = winsim::FullWindowsPath(c.name, &error);
  if (c.full) {
    ASSERT_TRUE(full) << "error " << error;
    EXPECT_EQ(*full, c.full);
    EXPECT_EQ(error, 0xdeadbeefu);
  } else {
    EXPECT_FALSE(full) << *full;
    EXPECT_EQ(error, c.error);
  }
}

TEST(FullWindowsPath, ResolvesAgainstTheCurrentDirectory) {
  TempMachine machine;
  winsim::ResetCurrentDirectory("C:\\WINDOWS");
  // 259 bytes and the terminator: the longest path.
  const std::string at_limit = "C:\\" + std::string(127, 'x') + "\\" + std::string(MAX_PATH - 132, 'x');
  const std::string over_limit = at_limit + "x";
  const std::string longest_name = "C:\\" + std::string(255, 'n');
  const std::string name_over = longest_name + "n";
  const std::string relative_over = std::string(MAX_PATH - 11, 'x');  // fits alone, not after C:\WINDOWS
  const FullCase cases[] = {
      {"SYSTEM", "C:\\WINDOWS\\SYSTEM", 0},
      {"C:\\A\\B", "C:\\A\\B", 0},
      {"c:\\a\\b", "C:\\a\\b", 0},
      {"/A/B", "C:\\A\\B", 0},
      {"\\A", "C:\\A", 0},
      {"\\", "C:\\", 0},
      {"C:A", "C:\\WINDOWS\\A", 0},
      {"C:", "C:\\WINDOWS", 0},
      {".", "C:\\WINDOWS", 0},
      {"A\\.\\B\\..\\C\\", "C:\\WINDOWS\\A\\C", 0},
      {"A\\\\B", "C:\\WINDOWS\\A\\B", 0},
      {"..\\..\\..\\OUT", "C:\\OUT", 0},
      {"C:\\..\\machine.db", "C:\\machine.db", 0},
      {"SETUP.EXE. .", "C:\\WINDOWS\\SETUP.EXE", 0},
      {"OEM*.INF", "C:\\WINDOWS\\OEM*.INF", 0},
      {at_limit.c_str(), at_limit.c_str(), 0},
      {longest_name.c_str(), longest_name.c_str(), 0},
      {name_over.c_str(), nullptr, ERROR_FILENAME_EXCED_RANGE},
      {"", nullptr, ERROR_INVALID_NAME},
      {"D:\\A", nullptr, ERROR_PATH_NOT_FOUND},
      {"d:A", nullptr, ERROR_PATH_NOT_FOUND},
      {"\\\\server\\share\\A", nullptr, ERROR_PATH_NOT_FOUND},
      {"//server/share", nullptr, ERROR_PATH_NOT_FOUND},
      {"A<B", nullptr, ERROR_INVALID_NAME},
      {"A|B", nullptr, ERROR_INVALID_NAME},
      {"A\"B", nullptr, ERROR_INVALID_NAME},
      {"AB:C", nullptr, ERROR_INVALID_NAME},
      {"A\tB", nullptr, ERROR_INVALID_NAME},
      {"A\\...\\B", nullptr, ERROR_INVALID_NAME},
      {over_limit.c_str(), nullptr, ERROR_FILENAME_EXCED_RANGE},
      {relative_over.c_str(), nullptr, ERROR_FILENAME_EXCED_RANGE},
  };
  for (const FullCase& c : cases) ExpectFull(c);
}

// In code page 932 the byte 0x5C after a lead byte is the second half of a character, not a separator.
TEST(FullWindowsPath, DoubleByteTrailBackslashIsNoSeparator) {
  struct Case {
    unsigned codepage;
    std::vector<std::string> parts;
  } cases[] = {
      {932, {"\x83\x5C", "B"}},
      {1252, {"\x83", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codepage);
    TempMachine machine(winsim::WindowsFlavour::Win98, c.codepage);
    DWORD error = 0;
    std::optional<std::string> full = winsim::FullWindowsPath("\\\x83\x5C\\B", &error);
    ASSERT_TRUE(full);
    EXPECT_EQ(winsim::PathParts(*full), c.parts);
  }
}

TEST(FindHostPath, FindsEachPartWithoutRegardToCase) {
  TempMachine machine;
  machine.Write("C:\\WINDOWS\\INF\\OEM0.INF", "x");
  machine.Write("C:\\Mixed\\ReadMe.Txt", "x");
  const fs::path drive = machine.Folder() / "drive_c";
  struct Case {
    const char* name;
    std::optional<fs::path> host;
  } cases[] = {
      {"C:\\windows\\inf\\oem0.inf", drive / "WINDOWS" / "INF" / "OEM0.INF"},
      {"C:\\MIXED\\README.TXT", drive / "Mixed" / "ReadMe.Txt"},
      {"C:\\", drive},
      {"C:\\WINDOWS\\INF\\OEM1.INF", std::nullopt},
      {"C:\\NOPE\\OEM0.INF", std::nullopt},
      {"C:\\WINDOWS\\INF\\OEM0.INF\\X", std::nullopt},
      {"C:\\..\\machine.db", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(winsim::FindHostPath(c.name), c.host);
  }
}

TEST(FindHostPath, PrefersTheExactNameAmongNamesThatDifferInCase) {
  TempMachine machine;
  machine.Write("C:\\a.txt", "lower");
  machine.Write("C:\\A.TXT", "upper");
  machine.Write("C:\\b.TXT", "only");
  const fs::path drive = machine.Folder() / "drive_c";
  EXPECT_EQ(winsim::FindHostPath("C:\\a.txt"), drive / "a.txt");
  EXPECT_EQ(winsim::FindHostPath("C:\\A.TXT"), drive / "A.TXT");
  EXPECT_EQ(winsim::FindHostPath("C:\\A.txt"), drive / "A.TXT");  // the first in byte order
  EXPECT_EQ(winsim::FindHostPath("C:\\B.txt"), drive / "b.TXT");
}

TEST(FindHostPath, DoesNotFollowLinksOffTheDrive) {
  TempMachine machine;
  const fs::path drive = machine.Folder() / "drive_c";
  fs::create_directory_symlink(machine.Folder(), drive / "OUT");
  fs::create_directory_symlink(drive / "WINDOWS", drive / "IN");
  EXPECT_EQ(winsim::FindHostPath("C:\\OUT\\machine.db"), std::nullopt);
  EXPECT_EQ(winsim::FindHostPath("C:\\out"), std::nullopt);
  EXPECT_EQ(winsim::FindHostPath("C:\\in\\system"), drive / "IN" / "SYSTEM");
}

TEST(HostPathForCreate, KeepsExistingPartsAndTakesNewOnesAsWritten) {
  TempMachine machine;
  const fs::path drive = machine.Folder() / "drive_c";
  EXPECT_EQ(winsim::HostPathForCreate("C:\\windows\\New\\File.Txt"), drive / "WINDOWS" / "New" / "File.Txt");
  EXPECT_EQ(winsim::HostPathForCreate("C:\\windows\\system"), drive / "WINDOWS" / "SYSTEM");
  EXPECT_EQ(winsim::HostPathForCreate("C:\\..\\x"), std::nullopt);  // never in a full path
}

TEST(WindowsPathOf, NamesHostPathsOnTheDriveOnly) {
  TempMachine machine;
  const fs::path drive = machine.Folder() / "drive_c";
  EXPECT_EQ(winsim::WindowsPathOf(drive / "WINDOWS" / "SYSTEM"), "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(winsim::WindowsPathOf(drive), "C:\\");
  EXPECT_EQ(winsim::WindowsPathOf(drive / "WINDOWS" / ".." / "X"), "C:\\X");
  EXPECT_EQ(winsim::WindowsPathOf(machine.Folder() / "machine.db"), std::nullopt);
  EXPECT_EQ(winsim::WindowsPathOf(drive / ".." / "machine.db"), std::nullopt);
}

TEST(NotFoundError, TellsAMissingFileFromAMissingFolder) {
  TempMachine machine;
  EXPECT_EQ(winsim::NotFoundError("C:\\WINDOWS\\NOPE.TXT"), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(winsim::NotFoundError("C:\\NOPE\\NOPE.TXT"), DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(winsim::NotFoundError("C:\\NOPE"), DWORD{ERROR_FILE_NOT_FOUND});
}

}  // namespace
