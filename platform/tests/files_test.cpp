#include <windows.h>

#include <winsim/handles.h>
#include <winsim/paths.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fs = std::filesystem;
using testing_support::TempMachine;

namespace {

constexpr char kPattern = '\x5A';

std::string Filled(size_t n) { return std::string(n, kPattern); }

// A directory call's buffer contract: the text and terminator when they fit, else the size needed and
// the buffer left alone.
void ExpectBufferContract(const char* what, UINT (*call)(LPSTR, UINT), const std::string& expected) {
  const UINT len = static_cast<UINT>(expected.size());
  for (UINT size : {0u, 1u, len, len + 1, 300u}) {
    SCOPED_TRACE(std::string(what) + " with room for " + std::to_string(size));
    std::string buffer = Filled(310);
    const UINT result = call(buffer.data(), size);
    if (size > len) {
      EXPECT_EQ(result, len);
      EXPECT_EQ(buffer.substr(0, len + 1), expected + '\0');
      EXPECT_EQ(buffer.substr(len + 1), Filled(310 - len - 1));
    } else {
      EXPECT_EQ(result, len + 1);
      EXPECT_EQ(buffer, Filled(310));
    }
  }
}

UINT CurrentDirectory(LPSTR buffer, UINT size) { return GetCurrentDirectoryA(size, buffer); }

TEST(DirectoryCalls, FollowTheBufferContract) {
  struct Case {
    winsim::WindowsFlavour os;
    const char* system;
    const char* windows;
  } cases[] = {
      {winsim::WindowsFlavour::Win98, "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS"},
      {winsim::WindowsFlavour::Nt4, "C:\\WINNT\\system32", "C:\\WINNT"},
  };
  for (const Case& c : cases) {
    TempMachine machine(c.os);
    ExpectBufferContract("GetSystemDirectoryA", GetSystemDirectoryA, c.system);
    ExpectBufferContract("GetWindowsDirectoryA", GetWindowsDirectoryA, c.windows);
    ASSERT_TRUE(SetCurrentDirectoryA(c.system));
    ExpectBufferContract("GetCurrentDirectoryA", CurrentDirectory, c.system);
    EXPECT_EQ(GetCurrentDirectoryA(300, nullptr), std::strlen(c.system) + 1);
  }
}

TEST(SetCurrentDirectoryA, TakesFoldersOnlyAndKeepsTheNameAsGiven) {
  TempMachine machine;
  machine.Write("C:\\WINDOWS\\FILE.TXT", "x");
  struct Case {
    const char* name;
    BOOL ok;
    DWORD error;
    const char* after;
  } cases[] = {
      {"c:\\windows", TRUE, 0, "C:\\windows"},
      {"system", TRUE, 0, "C:\\windows\\system"},
      {"..\\INF\\", TRUE, 0, "C:\\windows\\INF"},
      {"\\", TRUE, 0, "C:\\"},
      {"C:\\NOPE", FALSE, ERROR_FILE_NOT_FOUND, "C:\\"},
      {"C:\\NOPE\\DEEPER", FALSE, ERROR_PATH_NOT_FOUND, "C:\\"},
      {"C:\\WINDOWS\\FILE.TXT", FALSE, ERROR_DIRECTORY, "C:\\"},
      {"C:\\WIN*", FALSE, ERROR_INVALID_NAME, "C:\\"},
      {"D:\\", FALSE, ERROR_PATH_NOT_FOUND, "C:\\"},
      {"", FALSE, ERROR_INVALID_NAME, "C:\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetCurrentDirectoryA(c.name), c.ok);
    EXPECT_EQ(GetLastError(), c.ok ? 0xdeadbeef : c.error);
    EXPECT_EQ(winsim::CurrentDirectory(), c.after);
  }
}

TEST(DeleteFileA, DeletesFilesOnly) {
  TempMachine machine;
  machine.Write("C:\\WINDOWS\\SYSTEM\\K5583.drv", "x");
  machine.Write("C:\\WINDOWS\\SYSTEM\\BARE.DLL", "x");
  machine.Write("C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", "x");
  fs::permissions(machine.Host("C:\\WINDOWS\\SYSTEM\\LOCKED.DLL"), fs::perms(0444));
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\WINDOWS\\SYSTEM"));
  struct Case {
    const char* name;
    BOOL ok;
    DWORD error;
    const char* gone;  // the file that the call removes
  } cases[] = {
      {"C:\\WINDOWS\\SYSTEM\\k5583.DRV", TRUE, 0, "C:\\WINDOWS\\SYSTEM\\K5583.drv"},
      {"bare.dll", TRUE, 0, "C:\\WINDOWS\\SYSTEM\\BARE.DLL"},
      {"bare.dll", FALSE, ERROR_FILE_NOT_FOUND, nullptr},
      {"C:\\NOPE\\bare.dll", FALSE, ERROR_PATH_NOT_FOUND, nullptr},
      {"C:\\WINDOWS\\INF", FALSE, ERROR_ACCESS_DENIED, nullptr},
      {"LOCKED.DLL", FALSE, ERROR_ACCESS_DENIED, nullptr},
      {"*.DLL", FALSE, ERROR_INVALID_NAME, nullptr},
      {"D:\\X.DLL", FALSE, ERROR_PATH_NOT_FOUND, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFileA(c.name), c.ok);
    EXPECT_EQ(GetLastError(), c.ok ? 0xdeadbeef : c.error);
    if (c.gone) {
      EXPECT_FALSE(machine.Exists(c.gone));
    }
  }
  EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\INF"));
  EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\LOCKED.DLL"));
}

TEST(GetFileAttributesA, ReportsFoldersFilesAndReadOnly) {
  TempMachine machine;
  machine.Write("C:\\A.TXT", "x");
  machine.Write("C:\\RO.TXT", "x");
  fs::permissions(machine.Host("C:\\RO.TXT"), fs::perms(0444));
  struct Case {
    const char* name;
    DWORD attributes;
    DWORD error;
  } cases[] = {
      {"c:\\windows", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"a.txt", FILE_ATTRIBUTE_ARCHIVE, 0},
      {"RO.TXT", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 0},
      {"B.TXT", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"NOPE\\B.TXT", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"?.TXT", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesA(c.name), c.attributes);
    EXPECT_EQ(GetLastError(), c.error ? c.error : 0xdeadbeef);
  }
}

// Every name a search yields, FindFirstFileA's then FindNextFileA's, until ERROR_NO_MORE_FILES.
std::vector<std::string> SearchNames(const char* pattern, DWORD* error) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  std::memset(&data, kPattern, sizeof data);
  SetLastError(0xdeadbeef);
  HANDLE search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    EXPECT_EQ(data.cFileName[0], kPattern) << "data written by a failed search";
    return names;
  }
  do names.push_back(data.cFileName);
  while (FindNextFileA(search, &data));
  *error = GetLastError();
  EXPECT_TRUE(FindClose(search));
  return names;
}

TEST(FindFirstFileA, FindsExactNamesAndWildcardsInTheLastPart) {
  TempMachine machine;
  for (const char* name : {"OEM0.INF", "OEM12.INF", "oem3.inf", "OEM3.PNF", "MDM.INF"})
    machine.Write(std::string("C:\\WINDOWS\\INF\\") + name, "x");
  using Names = std::vector<std::string>;
  struct Case {
    const char* pattern;
    Names names;
    DWORD error;  // after the search
  } cases[] = {
      {"C:\\WINDOWS\\INF\\OEM3.INF", {"oem3.inf"}, ERROR_NO_MORE_FILES},
      {"c:/windows/inf", {"INF"}, ERROR_NO_MORE_FILES},
      {"C:\\WINDOWS\\INF\\OEM*.INF", {"OEM0.INF", "OEM12.INF", "oem3.inf"}, ERROR_NO_MORE_FILES},
      {"C:\\WINDOWS\\INF\\OEM?.*", {"OEM0.INF", "oem3.inf", "OEM3.PNF"}, ERROR_NO_MORE_FILES},
      {"C:\\WINDOWS\\INF\\*",
       {".", "..", "MDM.INF", "OEM0.INF", "OEM12.INF", "oem3.inf", "OEM3.PNF"},
       ERROR_NO_MORE_FILES},
      {"C:\\*.*", {"WINDOWS"}, ERROR_NO_MORE_FILES},
      {"C:\\WINDOWS\\INF\\OEM4.INF", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\WINDOWS\\INF\\X*", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\WINDOWS\\NOPE\\OEM0.INF", {}, ERROR_PATH_NOT_FOUND},
      {"C:\\WINDOWS\\INF\\", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\", {}, ERROR_FILE_NOT_FOUND},
      {"E:\\*", {}, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    DWORD error = 0;
    EXPECT_EQ(SearchNames(c.pattern, &error), c.names);
    EXPECT_EQ(error, c.error);
  }
  EXPECT_TRUE(winsim::OpenHandles().empty());
}

TEST(FindFirstFileA, FillsTheFindDataOfTheEntry) {
  TempMachine machine;
  machine.Write("C:\\Data\\Twelve.Bin", "123456789012");
  WIN32_FIND_DATAA data;
  std::memset(&data, kPattern, sizeof data);
  HANDLE search = FindFirstFileA("C:\\DATA\\TWELVE.BIN", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, DWORD{FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(data.nFileSizeLow, 12u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_STREQ(data.cFileName, "Twelve.Bin");
  EXPECT_STREQ(data.cAlternateFileName, "");
  // Write times count from 1601: any file written now lies past 2020 (0x01D5C000 in the high part).
  EXPECT_GT(data.ftLastWriteTime.dwHighDateTime, 0x01D5C000u);
  ASSERT_EQ(winsim::OpenHandles().size(), 1u);
  EXPECT_EQ(winsim::OpenHandles()[0].description, "search \"C:\\DATA\\TWELVE.BIN\"");
  EXPECT_TRUE(FindClose(search));
  EXPECT_TRUE(winsim::OpenHandles().empty());
}

TEST(FindClose, RefusesWhatIsNoOpenSearch) {
  TempMachine machine;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\WINDOWS", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindClose(search));
  for (HANDLE h : {search, INVALID_HANDLE_VALUE, HANDLE{nullptr}}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  }
}

// Under code page 932 a trail byte is half a character: 0x82 0x61 and 0x82 0x41 are different
// characters, while under 1252 they are two characters each and differ only in case.
TEST(FindFirstFileA, FoldsOnlySingleByteLetters) {
  struct Case {
    unsigned codepage;
    bool found;
  } cases[] = {{932, false}, {1252, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codepage);
    TempMachine machine(winsim::WindowsFlavour::Win98, c.codepage);
    machine.Write("C:\\\x82\x61.TXT", "x");
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\\x82\x41.txt", &data);
    EXPECT_EQ(search != INVALID_HANDLE_VALUE, c.found);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  }
}

}  // namespace
