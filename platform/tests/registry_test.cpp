// The registry calls on a fresh machine: names, values, deletion by Windows flavour, handles.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/registry.h>

#include <gtest/gtest.h>

#include "temp_machine.h"

#include <cstring>
#include <string>

using testing_support::TempMachine;

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr unsigned char kPattern = 0xA5;

HKEY Create(HKEY base, const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(base, path, &key), ERROR_SUCCESS) << path;
  return key;
}

void SetBytes(HKEY key, const char* name, DWORD type, std::string_view bytes) {
  ASSERT_EQ(
      RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())),
      ERROR_SUCCESS)
      << name;
}

// The value's type and bytes, or the error code in `rc`.
struct Read {
  LONG rc;
  DWORD type;
  std::string bytes;
};
Read ReadValue(HKEY key, const char* name) {
  Read r{0, kSentinel, std::string(512, static_cast<char>(kPattern))};
  DWORD size = static_cast<DWORD>(r.bytes.size());
  r.rc = RegQueryValueExA(key, name, nullptr, &r.type, reinterpret_cast<BYTE*>(r.bytes.data()), &size);
  r.bytes.resize(r.rc == ERROR_SUCCESS ? size : 0);
  return r;
}

LONG OpenStatus(HKEY base, const char* path) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyA(base, path, &key);
  if (rc == ERROR_SUCCESS && key != base) RegCloseKey(key);
  return rc;
}

TEST(Registry, OpenAndCreateFollowWindowsNameRules) {
  TempMachine machine;
  HKEY kit = Create(HKEY_LOCAL_MACHINE, "Software\\Kit\\Sub");
  RegCloseKey(kit);
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &software), ERROR_SUCCESS);
  const std::string name255(255, 'n');
  const std::string name256(256, 'n');
  const HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));

  struct Case {
    const char* what;
    bool create;
    HKEY base;
    std::string path;
    LONG rc;
  } cases[] = {
      {"any letter case", false, HKEY_LOCAL_MACHINE, "SOFTWARE\\kit\\SUB", ERROR_SUCCESS},
      {"relative to an opened key", false, software, "kit\\sub", ERROR_SUCCESS},
      {"one trailing backslash", false, HKEY_LOCAL_MACHINE, "Software\\Kit\\", ERROR_SUCCESS},
      {"missing key", false, HKEY_LOCAL_MACHINE, "Software\\Kit\\None", ERROR_FILE_NOT_FOUND},
      {"leading backslash", false, HKEY_LOCAL_MACHINE, "\\Software", ERROR_BAD_PATHNAME},
      {"empty name inside", false, HKEY_LOCAL_MACHINE, "Software\\\\Kit", ERROR_BAD_PATHNAME},
      {"255 characters", false, HKEY_LOCAL_MACHINE, name255, ERROR_FILE_NOT_FOUND},
      {"256 characters", false, HKEY_LOCAL_MACHINE, name256, ERROR_INVALID_PARAMETER},
      {"another root", false, HKEY_CURRENT_USER, "Software", ERROR_INVALID_HANDLE},
      {"no such handle", false, bogus, "Software", ERROR_INVALID_HANDLE},
      {"create: leading backslash", true, HKEY_LOCAL_MACHINE, "\\New", ERROR_BAD_PATHNAME},
      {"create: empty name inside", true, HKEY_LOCAL_MACHINE, "New\\\\Sub", ERROR_BAD_PATHNAME},
      {"create: 256 characters", true, HKEY_LOCAL_MACHINE, "New\\" + name256, ERROR_INVALID_PARAMETER},
      {"create: 255 characters", true, HKEY_LOCAL_MACHINE, "New\\" + name255, ERROR_SUCCESS},
      {"create: another root", true, HKEY_USERS, "New", ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kSentinel));
    LONG rc = c.create ? RegCreateKeyA(c.base, c.path.c_str(), &key) : RegOpenKeyA(c.base, c.path.c_str(), &key);
    EXPECT_EQ(rc, c.rc) << c.what;
    if (rc == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << c.what;
    }
  }
  // A failed create leaves no part of its path behind.
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "New\\Sub"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software", nullptr), ERROR_INVALID_PARAMETER);
  RegCloseKey(software);
}

TEST(Registry, NullOrEmptySubkeyNamesTheKeyItself) {
  TempMachine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, nullptr, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "", &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, nullptr, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);

  HKEY kit = Create(HKEY_LOCAL_MACHINE, "Kit");
  ASSERT_EQ(RegOpenKeyA(kit, "", &key), ERROR_SUCCESS);
  EXPECT_EQ(key, kit);
  // RegCreateKeyA hands out a second handle to the same key.
  HKEY again = Create(kit, "");
  EXPECT_NE(again, kit);
  SetBytes(again, "Marker", REG_SZ, std::string("m", 2));
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(ReadValue(kit, "Marker").bytes, std::string("m", 2));
  EXPECT_EQ(RegCloseKey(kit), ERROR_SUCCESS);
}

TEST(Registry, CreateMakesEveryMissingParentAndKeepsNamesAsFirstWritten) {
  TempMachine machine;
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Vendor\\Kit\\Deep"));
  for (const char* path : {"Vendor", "Vendor\\Kit", "VENDOR\\KIT\\DEEP"})
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS) << path;
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "VENDOR\\kit\\Other"));
  HKEY kit = Create(HKEY_LOCAL_MACHINE, "vendor\\KIT");
  SetBytes(kit, "Model", REG_SZ, std::string("x", 2));
  SetBytes(kit, "MODEL", REG_DWORD, std::string("\1\0\0\0", 4));
  RegCloseKey(kit);
  EXPECT_EQ(winsim::ExportRegedit4("HKEY_LOCAL_MACHINE\\vendor"),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Vendor]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Vendor\\Kit]\r\n"
            "\"Model\"=dword:00000001\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Vendor\\Kit\\Deep]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Vendor\\Kit\\Other]\r\n\r\n");
}

TEST(Registry, QueryValueReturnsStoredBytesAndSizes) {
  TempMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Values");
  SetBytes(key, "Text", REG_SZ, std::string("abc", 4));
  SetBytes(key, "NoTerm", REG_SZ, "abc");
  SetBytes(key, nullptr, REG_SZ, std::string("def", 4));
  SetBytes(key, "Odd", 0x1234, "\x80\xff");
  SetBytes(key, "Empty", REG_BINARY, "");

  struct Case {
    const char* name;
    DWORD buffer;  // ~0: no buffer
    bool want_type;
    LONG rc;
    DWORD size;
    DWORD type;
    std::string bytes;  // what the buffer starts with
  } cases[] = {
      {"Text", 16, true, ERROR_SUCCESS, 4, REG_SZ, std::string("abc", 4)},
      {"tEXT", 4, true, ERROR_SUCCESS, 4, REG_SZ, std::string("abc", 4)},
      {"Text", 3, true, ERROR_MORE_DATA, 4, REG_SZ, ""},
      {"Text", ~0u, true, ERROR_SUCCESS, 4, REG_SZ, ""},
      {"NoTerm", 16, true, ERROR_SUCCESS, 3, REG_SZ, "abc"},
      {nullptr, 16, true, ERROR_SUCCESS, 4, REG_SZ, std::string("def", 4)},
      {"", 16, false, ERROR_SUCCESS, 4, kSentinel, std::string("def", 4)},
      {"Odd", 16, true, ERROR_SUCCESS, 2, 0x1234, "\x80\xff"},
      {"Empty", 16, true, ERROR_SUCCESS, 0, REG_BINARY, ""},
      {"Missing", 16, true, ERROR_FILE_NOT_FOUND, 16, kSentinel, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    unsigned char buffer[32];
    std::memset(buffer, kPattern, sizeof buffer);
    DWORD type = kSentinel;
    DWORD size = c.buffer == ~0u ? 16 : c.buffer;
    LONG rc = RegQueryValueExA(key, c.name, nullptr, c.want_type ? &type : nullptr, c.buffer == ~0u ? nullptr : buffer,
                               &size);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), c.bytes.size()), c.bytes);
    for (size_t i = c.bytes.size(); i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], kPattern) << "byte " << i;
  }
  DWORD reserved = 0, size = 16;
  BYTE buffer[16];
  EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, nullptr, buffer, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(Registry, SetAndDeleteValue) {
  TempMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Node");
  // A shorter value of another type replaces the old one whole.
  SetBytes(key, "ConfigFlags", REG_SZ, std::string("long text", 10));
  const BYTE zeros[4] = {};
  ASSERT_EQ(RegSetValueExA(key, "CONFIGFLAGS", 0, REG_BINARY, zeros, 4), ERROR_SUCCESS);
  Read r = ReadValue(key, "configflags");
  EXPECT_EQ(r.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(r.bytes, std::string(4, '\0'));

  const std::string name255(255, 'v'), name256(256, 'v');
  EXPECT_EQ(RegSetValueExA(key, name255.c_str(), 0, REG_BINARY, zeros, 4), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name256.c_str(), 0, REG_BINARY, zeros, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  EXPECT_EQ(ReadValue(key, "Null").rc, ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteValueA(key, "ConfigFlags"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "ConfigFlags"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadValue(key, "ConfigFlags").rc, ERROR_FILE_NOT_FOUND);
  SetBytes(key, nullptr, REG_SZ, std::string("d", 2));
  EXPECT_EQ(RegDeleteValueA(key, ""), ERROR_SUCCESS);
  EXPECT_EQ(ReadValue(key, nullptr).rc, ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(Registry, DeleteKeyTakesTheSubtreeOn98AndOnlyALeafOnNt) {
  for (auto os : {winsim::WindowsFlavour::Win98, winsim::WindowsFlavour::Nt4}) {
    const bool nt = os == winsim::WindowsFlavour::Nt4;
    SCOPED_TRACE(nt ? "nt4" : "98");
    TempMachine machine(os);
    HKEY deep = Create(HKEY_LOCAL_MACHINE, "Printers\\Kit\\PrinterDriverData");
    SetBytes(deep, "Data", REG_SZ, std::string("d", 2));
    RegCloseKey(deep);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "printers\\kit"), nt ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Printers\\Kit\\PrinterDriverData"),
              nt ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Printers"), ERROR_SUCCESS);
    if (nt) {
      // Child first, as NT wants it.
      EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Printers\\Kit\\PrinterDriverData"), ERROR_SUCCESS);
      EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Printers\\Kit"), ERROR_SUCCESS);
    }
    // A key made again under the same name starts empty.
    deep = Create(HKEY_LOCAL_MACHINE, "Printers\\Kit\\PrinterDriverData");
    EXPECT_EQ(ReadValue(deep, "Data").rc, ERROR_FILE_NOT_FOUND);
    RegCloseKey(deep);

    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Printers\\None"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "\\Printers"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Printers"), ERROR_INVALID_HANDLE);
  }
}

TEST(Registry, DeleteKeyReachesTheDeepestKey) {
  TempMachine machine;
  std::string path = "Deep";
  for (int i = 1; i < 512; ++i) path += "\\d";
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, path.c_str()));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Deep"), ERROR_SUCCESS);
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Deep"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(winsim::ExportRegedit4().find("Deep"), std::string::npos);
}

// A key path of n names below HKEY_LOCAL_MACHINE, "D\d\d...".
std::string PathOfDepth(size_t n) {
  std::string path = "D";
  for (size_t i = 1; i < n; ++i) path += "\\d";
  return path;
}

TEST(Registry, KeysAreAtMost512LevelsDeep) {
  TempMachine machine;
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, PathOfDepth(513).c_str(), &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "D"), ERROR_FILE_NOT_FOUND) << "nothing of it made";
  HKEY deep = Create(HKEY_LOCAL_MACHINE, PathOfDepth(500).c_str());
  // The depth counts from HKEY_LOCAL_MACHINE, whichever handle the path starts from.
  EXPECT_EQ(RegCreateKeyA(deep, PathOfDepth(13).c_str(), &key), ERROR_INVALID_PARAMETER);
  HKEY deepest = Create(deep, PathOfDepth(12).c_str());
  EXPECT_EQ(RegCreateKeyA(deepest, "one more", &key), ERROR_INVALID_PARAMETER);
  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, (PathOfDepth(500) + "\\" + PathOfDepth(12)).c_str(), &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyA(opened, "one more", &key), ERROR_INVALID_PARAMETER);
  for (HKEY k : {deep, deepest, opened}) RegCloseKey(k);
}

TEST(Registry, HandleOfADeletedKeyStaysDeleted) {
  TempMachine machine;
  HKEY gone = Create(HKEY_LOCAL_MACHINE, "Gone");
  SetBytes(gone, "v", REG_SZ, std::string("1", 2));
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Gone"), ERROR_SUCCESS);
  // The same name again is another key; the old handle does not reach it.
  HKEY back = Create(HKEY_LOCAL_MACHINE, "Gone\\Sub");
  SetBytes(back, "v", REG_SZ, std::string("2", 2));
  RegCloseKey(back);

  HKEY out = nullptr;
  const BYTE one[1] = {1};
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(gone, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(gone, "w", 0, REG_BINARY, one, 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueA(gone, "v"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyA(gone, "Sub", &out), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyA(gone, "New", &out), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(gone, "Sub"), ERROR_KEY_DELETED);
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, "Gone\\Sub"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
}

TEST(Registry, CloseKeyKnowsItsHandles) {
  TempMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Kit");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReadValue(key, "v").rc, ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, FaultPlanCodeIsTheResult) {
  TempMachine machine;
  winsim::AddFault({"RegOpenKeyA", "Run", ERROR_ACCESS_DENIED, 1});
  const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, run), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, run), ERROR_SUCCESS);
}

// On code page 932 a backslash byte may be the second half of a character, and letters there are
// not letters: neither separates nor folds.
TEST(Registry, DoubleByteNamesOnCodePage932) {
  const std::string so = "\x83\x5C";  // a character whose second byte is a backslash
  const std::string ka = "\x83\x41";  // whose second byte is 'A'
  const std::string kb = "\x83\x61";  // another character, second byte 'a'
  for (unsigned codepage : {932u, 1252u}) {
    SCOPED_TRACE(codepage);
    const bool dbcs = codepage == 932;
    TempMachine machine(winsim::WindowsFlavour::Win98, codepage);
    // One name on 932, two on 1252.
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, ("Kit\\" + so + "Name").c_str()));
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, ("Kit\\" + so.substr(0, 1)).c_str()),
              dbcs ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);

    RegCloseKey(Create(HKEY_LOCAL_MACHINE, ("Kit\\" + ka).c_str()));
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, ("KIT\\" + kb).c_str()), dbcs ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);

    std::string wide_name;
    for (int i = 0; i < 255; ++i) wide_name += ka;
    EXPECT_EQ(OpenStatus(HKEY_LOCAL_MACHINE, wide_name.c_str()), dbcs ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
  }
}

}  // namespace
