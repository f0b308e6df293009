// REGEDIT4 text in and out of a fresh machine's registry.
#include <windows.h>

#include <winsim/registry.h>

#include <gtest/gtest.h>

#include "temp_machine.h"

#include <string>

using testing_support::TempMachine;

namespace {

struct Stored {
  LONG rc;
  DWORD type;
  std::string bytes;
};

Stored Query(const char* key_path, const char* name) {
  HKEY key = nullptr;
  Stored s{RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key), 0, std::string(4096, '\xA5')};
  if (s.rc != ERROR_SUCCESS) return s;
  DWORD size = static_cast<DWORD>(s.bytes.size());
  s.rc = RegQueryValueExA(key, name, nullptr, &s.type, reinterpret_cast<BYTE*>(s.bytes.data()), &size);
  s.bytes.resize(s.rc == ERROR_SUCCESS ? size : 0);
  RegCloseKey(key);
  return s;
}

void Set(const char* key_path, const char* name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key), ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

std::string Bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 7);
  return s;
}

// Each value as the export writes it; importing the export into another machine gives it back.
struct ExportCase {
  const char* name;
  DWORD type;
  std::string bytes;
  std::string line;
};
const ExportCase kExportCases[] = {
    {nullptr, REG_SZ, std::string("default", 8), "@=\"default\""},
    {"@", REG_SZ, std::string("at", 3), "\"@\"=\"at\""},
    {"Text", REG_SZ, std::string("C:\\Dir \"q\"", 11), "\"Text\"=\"C:\\\\Dir \\\"q\\\"\""},
    {"Quote\"And\\Slash", REG_SZ, std::string("", 1), "\"Quote\\\"And\\\\Slash\"=\"\""},
    {"High", REG_SZ, std::string("caf\xe9 \x80\xff", 8), "\"High\"=\"caf\xe9 \x80\xff\""},
    {"NoTerminator", REG_SZ, "abc", "\"NoTerminator\"=hex(1):61,62,63"},
    {"InnerNul", REG_SZ, std::string("a\0b", 4), "\"InnerNul\"=hex(1):61,00,62,00"},
    {"EmptySz", REG_SZ, "", "\"EmptySz\"=hex(1):"},
    {"LineBreak", REG_SZ, std::string("a\nb", 4), "\"LineBreak\"=hex(1):61,0a,62,00"},
    {"Dword", REG_DWORD, std::string("\x0a\0\0\x80", 4), "\"Dword\"=dword:8000000a"},
    {"ShortDword", REG_DWORD, "\x01\x02", "\"ShortDword\"=hex(4):01,02"},
    {"Binary", REG_BINARY, std::string("\x00\xff", 2), "\"Binary\"=hex:00,ff"},
    {"Expand", REG_EXPAND_SZ, std::string("%W%", 4), "\"Expand\"=hex(2):25,57,25,00"},
    {"Multi", REG_MULTI_SZ, std::string("a\0b\0", 5), "\"Multi\"=hex(7):61,00,62,00,00"},
    {"None", REG_NONE, "", "\"None\"=hex(0):"},
    {"Odd", 0x12ab, "\x01", "\"Odd\"=hex(12ab):01"},
    {"Long", REG_BINARY, Bytes(40),
     "\"Long\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,8c,93,\\\r\n"
     "  9a,a1,a8,af,b6,bd,c4,cb,d2,d9,e0,e7,ee,f5,fc,03,0a,11"},
};

TEST(Regedit4, ExportWritesEachKindOfDataSoThatItReadsBack) {
  std::string text;
  {
    TempMachine source;
    for (const ExportCase& c : kExportCases) Set("Kit", c.name, c.type, c.bytes);
    Set("Kit\\Big", "Wrapped", REG_BINARY, Bytes(3000));
    text = winsim::ExportRegedit4("HKEY_LOCAL_MACHINE\\Kit");
    for (const ExportCase& c : kExportCases)
      EXPECT_NE(text.find("\r\n" + c.line + "\r\n"), std::string::npos) << c.line;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
      EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
      start = end + 2;
    }
  }
  TempMachine target;
  winsim::ImportRegedit4(text);
  for (const ExportCase& c : kExportCases) {
    Stored s = Query("Kit", c.name);
    EXPECT_EQ(s.rc, ERROR_SUCCESS) << c.line;
    EXPECT_EQ(s.type, c.type) << c.line;
    EXPECT_EQ(s.bytes, c.bytes) << c.line;
  }
  EXPECT_EQ(Query("Kit\\Big", "Wrapped").bytes, Bytes(3000));
  EXPECT_EQ(winsim::ExportRegedit4("HKEY_LOCAL_MACHINE\\Kit"), text);
}

TEST(Regedit4, ImportAppliesEveryKindOfLine) {
  TempMachine machine;
  Set("Old\\Tree\\Leaf", "x", REG_SZ, std::string("x", 2));
  Set("Keep", "Gone", REG_SZ, std::string("x", 2));
  Set("Software", "Stays", REG_SZ, std::string("s", 2));
  winsim::ImportRegedit4(
      "REGEDIT4\r\n"
      "\r\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE]\r\n"
      "\"AtRoot\"=dword:1\n"
      "[-HKEY_LOCAL_MACHINE\\old]\r\n"
      "[hkey_local_machine\\SOFTWARE\\New\\Deep]\n"
      "  @=\"default\"  \n"
      "\"Bin\"=hex:01,02,\\\r\n"
      "  03, 04 ,\\\n"
      "\t05\n"
      "\"Type7\"=HEX(7):41,00,00\n"
      "\"Later\"=\"first\"\n"
      "\"LATER\"=\"second\"\n"
      "[HKEY_LOCAL_MACHINE\\Keep]\n"
      "\"gone\"=-\n"
      "\"NeverWas\"=-\n");
  EXPECT_EQ(Query("", "AtRoot").bytes, std::string("\1\0\0\0", 4));
  EXPECT_EQ(Query("Old", "x").rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query("Software", "Stays").rc, ERROR_SUCCESS);
  EXPECT_EQ(Query("Software\\New\\Deep", nullptr).bytes, std::string("default", 8));
  Stored bin = Query("Software\\New\\Deep", "bin");
  EXPECT_EQ(bin.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(bin.bytes, "\1\2\3\4\5");
  EXPECT_EQ(Query("Software\\New\\Deep", "Type7").type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(Query("Software\\New\\Deep", "Later").bytes, std::string("second", 7));
  EXPECT_EQ(Query("Keep", "Gone").rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query("Keep", "NeverWas").rc, ERROR_FILE_NOT_FOUND);
  // Names keep the case they were first written in.
  const std::string text = winsim::ExportRegedit4("HKEY_LOCAL_MACHINE\\Software\\New");
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\New\\Deep]\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Later\"=\"second\""), std::string::npos) << text;
}

TEST(Regedit4, BadLineIsNamedAndChangesNothing) {
  const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Made]\n\"Set\"=\"x\"\n";  // lines 1-4
  const std::string n256(256, 'n');
  std::string deep513;
  for (int i = 0; i < 513; ++i) deep513 += "\\k";
  struct Case {
    std::string text;
    int line;
    const char* reason;  // a part of it
  } cases[] = {
      {"", 1, "REGEDIT4"},
      {"Windows Registry Editor Version 5.00\n\n" + head, 1, "REGEDIT4"},
      {"REGEDIT4\n\n\"v\"=\"x\"\n", 3, "before the first"},
      {head + "[HKEY_CURRENT_USER\\Software]\n", 5, "HKEY_CURRENT_USER"},
      {head + "[HKEY_LOCAL_MACHINE\\Software\n", 5, "]"},
      {head + "[HKEY_LOCAL_MACHINE\\\\Software]\n", 5, "backslash"},
      {head + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 5, "empty"},
      {head + "[HKEY_LOCAL_MACHINE\\" + n256 + "]\n", 5, "255"},
      {head + "[-HKEY_LOCAL_MACHINE]\n", 5, "cannot be deleted"},
      {head + "[HKEY_LOCAL_MACHINE" + deep513 + "]\n", 5, "512"},
      {head + "[-HKEY_LOCAL_MACHINE\\Made]\n\"v\"=\"x\"\n", 6, "deletes"},
      {head + "\"" + n256 + "\"=\"x\"\n", 5, "255"},
      {head + "v=\"x\"\n", 5, "expected"},
      {head + "\"v\" \"x\"\n", 5, "="},
      {head + "\"v\"=\"x\n", 5, "closing quote"},
      {head + "\"v\"=\"a\\tb\"\n", 5, "escape"},
      {head + "\"v\"=\"x\" y\n", 5, "after the closing quote"},
      {head + "\"v\"=dword:zz\n", 5, "dword"},
      {head + "\"v\"=dword:123456789\n", 5, "dword"},
      {head + "\"v\"=qword:00\n", 5, "unknown data"},
      {head + "\"v\"=hex(x):00\n", 5, "hex(N)"},
      {head + "\"v\"=hex:0g\n", 5, "hex byte"},
      {head + "\"v\"=hex:00 01\n", 5, ","},
      {head + "\"v\"=hex:00,\n", 5, "comma"},
      {head + "\"v\"=hex:00,\\\n  01,\\\n  0x\n\"w\"=\"ok\"\n", 7, "hex byte"},
      {head + "\"v\"=hex:00,\\\n", 5, "backslash"},
      {head + "\"v\"=\"a" + std::string(1, '\0') + "b\"\n", 5, "NUL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(head.size() < c.text.size() && c.text.starts_with(head) ? head.size() : 0));
    TempMachine machine;
    const std::string before = winsim::ExportRegedit4();
    try {
      winsim::ImportRegedit4(c.text);
      ADD_FAILURE() << "imported";
    } catch (const winsim::RegeditError& e) {
      EXPECT_EQ(e.Line(), c.line) << e.what();
      EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(winsim::ExportRegedit4(), before);
  }
}

TEST(Regedit4, ExportOfOneKeyTakesItsSubtreeInOrder) {
  TempMachine machine;
  winsim::ImportRegedit4(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\Kit\\b]\n"
      "[HKEY_LOCAL_MACHINE\\Kit\\A\\z]\n"
      "[HKEY_LOCAL_MACHINE\\Kit\\A b]\n"
      "[HKEY_LOCAL_MACHINE\\Kit\\A\\Y]\n"
      "[HKEY_LOCAL_MACHINE\\Kitten]\n");
  EXPECT_EQ(winsim::ExportRegedit4("hkey_local_machine\\KIT"),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\A]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\A\\Y]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\A\\z]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\A b]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\b]\r\n\r\n");
  EXPECT_TRUE(winsim::ExportRegedit4().starts_with("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n"));
  for (const char* key : {"HKEY_LOCAL_MACHINE\\None", "HKEY_CURRENT_USER\\Kit", "Kit"})
    EXPECT_THROW(winsim::ExportRegedit4(key), winsim::RegistryError) << key;
}

TEST(Regedit4, NameWithALineBreakCannotBeExported) {
  TempMachine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Two\nLines", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_THROW(winsim::ExportRegedit4(), winsim::RegistryError);
}

// On code page 932 the second byte of a character may be a backslash: it is neither an escape
// nor a separator, in or out.
TEST(Regedit4, DoubleByteTextOnCodePage932) {
  const std::string so = "\x83\x5C";
  std::string text;
  {
    TempMachine source(winsim::WindowsFlavour::Win98, 932);
    winsim::ImportRegedit4("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + so + "\\" + so + "]\n\"" + so + "\"=\"" + so + "\"\n");
    EXPECT_EQ(Query((so + "\\" + so).c_str(), so.c_str()).bytes, so + '\0');
    Set(so.c_str(), "HalfAtEnd", REG_SZ, std::string("a\x83", 3));
    text = winsim::ExportRegedit4();
    EXPECT_NE(text.find("\"" + so + "\"=\"" + so + "\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"HalfAtEnd\"=hex(1):61,83,00\r\n"), std::string::npos) << text;
  }
  TempMachine target(winsim::WindowsFlavour::Win98, 932);
  winsim::ImportRegedit4(text);
  EXPECT_EQ(winsim::ExportRegedit4(), text);
}

}  // namespace
