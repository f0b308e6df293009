// Libraries on the machine: search order, DllMain and static objects, export tables, resources.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/module_image.h>
#include <winsim/modules.h>
#include <winsim/paths.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include "temp_machine.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using testing_support::BinPath;
using testing_support::TempMachine;

constexpr DWORD kUntouched = 0xdeadbeef;
constexpr const char* kSystemCopy = "C:\\WINDOWS\\SYSTEM\\ModTest.dll";

// The test library writes its life into MODTEST_LOG; the variables it reads are cleared after each test.
class ModulesTest : public ::testing::Test {
 protected:
  ModulesTest() { Fresh(); }
  ~ModulesTest() override {
    for (const char* name : {"MODTEST_LOG", "MODTEST_REFUSE", "WINSIM_IMAGE"}) ::unsetenv(name);
  }

  void Fresh(winsim::WindowsFlavour os = winsim::WindowsFlavour::Win98, unsigned codepage = 1252) {
    machine_.reset();
    machine_ = std::make_unique<TempMachine>(os, codepage);
    log_ = machine_->Folder().parent_path() / "modtest.log";
    ::setenv("MODTEST_LOG", log_.c_str(), 1);
  }
  void PutLibrary(const char* windows_path) const { machine_->Put(BinPath("ModTest.dll"), windows_path); }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static std::string FileName(HMODULE module) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
  }

  std::unique_ptr<TempMachine> machine_;
  std::filesystem::path log_;
};

TEST_F(ModulesTest, BareNamesFollowTheSearchOrder) {
  struct Case {
    const char* name;
    std::vector<const char*> copies;
    const char* current_directory;
    const char* program;  // the program's Windows path, or null
    const char* load;
    const char* loaded;
  };
  const Case cases[] = {
      {"system folder, .dll added, any case", {kSystemCopy}, "C:\\", nullptr, "MODTEST", kSystemCopy},
      {"Windows folder", {"C:\\WINDOWS\\MODTEST.DLL"}, "C:\\", nullptr, "modtest.dll", "C:\\WINDOWS\\MODTEST.DLL"},
      {"system folder before Windows folder",
       {"C:\\WINDOWS\\MODTEST.DLL", kSystemCopy},
       "C:\\",
       nullptr,
       "modtest",
       kSystemCopy},
      {"current folder before system folder",
       {kSystemCopy, "C:\\Work\\modtest.dll"},
       "C:\\Work",
       nullptr,
       "ModTest",
       "C:\\Work\\modtest.dll"},
      {"program folder first",
       {kSystemCopy, "C:\\Work\\modtest.dll", "C:\\App\\MODTEST.DLL"},
       "C:\\Work",
       "C:\\App\\SETUP.EXE",
       "modtest",
       "C:\\App\\MODTEST.DLL"},
      {"another extension is kept",
       {"C:\\WINDOWS\\SYSTEM\\MODTEST.DRV"},
       "C:\\",
       nullptr,
       "modtest.drv",
       "C:\\WINDOWS\\SYSTEM\\MODTEST.DRV"},
      {"a trailing dot asks for no extension",
       {"C:\\WINDOWS\\SYSTEM\\MODTEST"},
       "C:\\",
       nullptr,
       "modtest.",
       "C:\\WINDOWS\\SYSTEM\\MODTEST"},
      {"a path is taken as given",
       {kSystemCopy, "C:\\Libs\\ModTest.dll"},
       "C:\\",
       nullptr,
       "c:\\libs\\modtest",
       "C:\\Libs\\ModTest.dll"},
      {"a relative path starts at the current folder",
       {kSystemCopy, "C:\\Work\\Sub\\ModTest.dll"},
       "C:\\Work",
       nullptr,
       "Sub\\ModTest.dll",
       "C:\\Work\\Sub\\ModTest.dll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    for (const char* copy : c.copies) PutLibrary(copy);
    winsim::ResetCurrentDirectory(c.current_directory);
    if (c.program)
      ::setenv("WINSIM_IMAGE", c.program, 1);
    else
      ::unsetenv("WINSIM_IMAGE");
    HMODULE module = LoadLibraryA(c.load);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(FileName(module), c.loaded);
    EXPECT_TRUE(FreeLibrary(module));
  }
}

TEST_F(ModulesTest, LoadFailures) {
  PutLibrary(kSystemCopy);
  machine_->Write("C:\\WINDOWS\\SYSTEM\\TEXT.DLL", "not a library");
  std::filesystem::create_directories(machine_->Host("C:\\WINDOWS\\SYSTEM\\FOLDER.DLL"));
  const std::string long_name(MAX_PATH, 'a');
  struct Case {
    const char* load;
    DWORD error;
  };
  const Case cases[] = {
      {"nothere", ERROR_MOD_NOT_FOUND},
      {"C:\\WINDOWS\\MODTEST.DLL", ERROR_MOD_NOT_FOUND},
      {"folder", ERROR_MOD_NOT_FOUND},
      {"D:\\MODTEST.DLL", ERROR_MOD_NOT_FOUND},
      {"", ERROR_MOD_NOT_FOUND},
      {"text", ERROR_BAD_EXE_FORMAT},
      {"C:\\WINDOWS\\RUNDLL32.EXE", ERROR_BAD_EXE_FORMAT},  // a program is no library
      {long_name.c_str(), ERROR_FILENAME_EXCED_RANGE},
      {nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.load ? std::string(c.load).substr(0, 40) : "NULL");
    SetLastError(kUntouched);
    EXPECT_EQ(LoadLibraryA(c.load), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(Log().empty());
}

TEST_F(ModulesTest, ReferencesDllMainAndStaticObjects) {
  PutLibrary(kSystemCopy);
  HMODULE first = LoadLibraryA("modtest");
  ASSERT_NE(first, nullptr);
  // DllMain runs after the static constructors and reads the library's own strings.
  const std::vector<std::string> loaded = {"construct", "attach Hello from ModTest"};
  EXPECT_EQ(Log(), loaded);
  EXPECT_EQ(LoadLibraryA("C:\\windows\\system\\MODTEST.DLL"), first);
  EXPECT_EQ(Log(), loaded);

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleA("ModTest"), first);
  EXPECT_EQ(Log(), loaded);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(Log(), (std::vector<std::string>{"construct", "attach Hello from ModTest", "detach", "destroy"}));

  SetLastError(kUntouched);
  EXPECT_EQ(GetModuleHandleA("ModTest"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(kUntouched);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(GetModuleHandleA(nullptr)));  // the program itself stays
}

// A program may load and free a library any number of times: each pair gives back what it took.
TEST_F(ModulesTest, LoadingAndFreeingAgainAndAgainKeepsNoMemory) {
  PutLibrary(kSystemCopy);
  ::unsetenv("MODTEST_LOG");
  const auto pair = [] {
    HMODULE module = LoadLibraryA("modtest");
    return module && FreeLibrary(module);
  };
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(pair());  // what is made once (caches, the loader's own)
  const size_t before = mallinfo2().uordblks;
  constexpr int kPairs = 3000;
  for (int i = 0; i < kPairs; ++i) ASSERT_TRUE(pair());
  const size_t after = mallinfo2().uordblks;
  EXPECT_LT(after > before ? after - before : 0, size_t{kPairs} * 4) << "bytes kept by " << kPairs << " pairs";
}

TEST_F(ModulesTest, RefusedInitialisationUnloadsTheLibrary) {
  PutLibrary(kSystemCopy);
  ::setenv("MODTEST_REFUSE", "1", 1);
  SetLastError(kUntouched);
  EXPECT_EQ(LoadLibraryA("modtest"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(Log(), (std::vector<std::string>{"construct", "attach Hello from ModTest", "detach", "destroy"}));
  EXPECT_EQ(GetModuleHandleA("modtest"), nullptr);
}

TEST_F(ModulesTest, ExportsByNameAndOrdinalOnlyFromTheTable) {
  PutLibrary(kSystemCopy);
  HMODULE module = LoadLibraryA("modtest");
  ASSERT_NE(module, nullptr);
  FARPROC greeting = GetProcAddress(module, "?Greeting@@YAHXZ");
  ASSERT_NE(greeting, nullptr);
  EXPECT_EQ(greeting(), 42);
  FARPROC record = GetProcAddress(module, "RecordCall");
  ASSERT_NE(record, nullptr);

  struct Case {
    const char* label;
    HMODULE module;
    LPCSTR name;
    FARPROC found;
    DWORD error;
  };
  HMODULE unknown = reinterpret_cast<HMODULE>(0x1234);
  const Case cases[] = {
      {"decorated name by ordinal", module, MAKEINTRESOURCEA(1), greeting, kUntouched},
      {"plain name by ordinal", module, MAKEINTRESOURCEA(2), record, kUntouched},
      {"ordinal-only entry", module, MAKEINTRESOURCEA(7), greeting, kUntouched},
      {"undecorated name of a decorated export", module, "Greeting", nullptr, ERROR_PROC_NOT_FOUND},
      {"ordinal-only entry by name", module, "Hidden", nullptr, ERROR_PROC_NOT_FOUND},
      {"name in another case", module, "recordcall", nullptr, ERROR_PROC_NOT_FOUND},
      {"symbol outside the table", module, "DllMain", nullptr, ERROR_PROC_NOT_FOUND},
      {"unused ordinal", module, MAKEINTRESOURCEA(4), nullptr, ERROR_PROC_NOT_FOUND},
      {"null name", module, nullptr, nullptr, ERROR_PROC_NOT_FOUND},
      {"the program has no exports", nullptr, "main", nullptr, ERROR_PROC_NOT_FOUND},
      {"no such module", unknown, "RecordCall", nullptr, ERROR_MOD_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SetLastError(kUntouched);
    EXPECT_EQ(GetProcAddress(c.module, c.name), c.found);
    EXPECT_EQ(GetLastError(), c.error);
  }

  std::optional<winsim::ModuleExports> exports = winsim::ExportsOf(module);
  ASSERT_TRUE(exports);
  EXPECT_EQ(exports->module_name, "ModTest.dll");
  std::vector<std::pair<std::string, unsigned>> entries;
  for (const winsim::ModuleExport& e : exports->entries) entries.emplace_back(e.name, e.ordinal);
  EXPECT_EQ(entries, (std::vector<std::pair<std::string, unsigned>>{
                         {"?Greeting@@YAHXZ", 1}, {"RecordCall", 2}, {"ThrowBadAlloc", 3}, {"", 7}}));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModulesTest, ModuleHandlesAndFileNames) {
  PutLibrary(kSystemCopy);
  HMODULE module = LoadLibraryA("modtest");
  ASSERT_NE(module, nullptr);
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_NE(program, nullptr);
  EXPECT_NE(program, module);

  struct Name {
    const char* name;
    HMODULE found;
  };
  for (const Name& n :
       {Name{"modtest", module}, Name{"MODTEST.DLL", module}, Name{"c:\\windows\\system\\modtest.dll", module},
        Name{"modtest.drv", nullptr}, Name{"C:\\WINDOWS\\ModTest.dll", nullptr}}) {
    SCOPED_TRACE(n.name);
    SetLastError(kUntouched);
    EXPECT_EQ(GetModuleHandleA(n.name), n.found);
    EXPECT_EQ(GetLastError(), n.found ? kUntouched : static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }

  const std::string path = kSystemCopy;
  struct Size {
    DWORD size;
    DWORD result;
    std::string text;
    DWORD error;
  };
  const DWORD n = static_cast<DWORD>(path.size());
  for (const Size& s :
       {Size{MAX_PATH, n, path, kUntouched}, Size{n + 1, n, path, kUntouched},
        Size{n, n, path.substr(0, n - 1), ERROR_INSUFFICIENT_BUFFER}, Size{1, 1, "", ERROR_INSUFFICIENT_BUFFER}}) {
    SCOPED_TRACE(s.size);
    char buffer[MAX_PATH + 8];
    std::memset(buffer, 'Z', sizeof buffer);
    SetLastError(kUntouched);
    EXPECT_EQ(GetModuleFileNameA(module, buffer, s.size), s.result);
    EXPECT_EQ(GetLastError(), s.error);
    EXPECT_EQ(std::string(buffer), s.text);
    EXPECT_EQ(std::string(buffer + s.size, 8), std::string(8, 'Z'));
  }
  char untouched[4] = {'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(GetModuleFileNameA(module, untouched, 0), 0u);
  EXPECT_EQ(std::string(untouched, 4), "ZZZZ");

  ::setenv("WINSIM_IMAGE", "C:\\APP\\SETUP.EXE", 1);
  EXPECT_EQ(FileName(nullptr), "C:\\APP\\SETUP.EXE");
  EXPECT_EQ(GetModuleHandleA("setup.exe"), program);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModulesTest, LoadStringCopiesWhatFits) {
  struct Case {
    UINT id;
    int size;
    const char* cp1252;  // null: not found
    const char* cp932;
  };
  const char* kDoubleByte = "A\x82\xa0\x82\xa2";
  const Case cases[] = {
      {1, 64, "Hello from ModTest", "Hello from ModTest"},
      {2, 64, "say \"hi\"\tthen\\go", "say \"hi\"\tthen\\go"},
      {1, 6, "Hello", "Hello"},
      {1, 1, "", ""},
      {3, 64, kDoubleByte, kDoubleByte},
      {3, 3, "A\x82", "A"},  // never half a character
      {3, 4, "A\x82\xa0", "A\x82\xa0"},
      {9, 64, nullptr, nullptr},
  };
  for (unsigned codepage : {1252u, 932u}) {
    Fresh(winsim::WindowsFlavour::Win98, codepage);
    PutLibrary(kSystemCopy);
    HMODULE module = LoadLibraryA("modtest");
    ASSERT_NE(module, nullptr);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "code page " << codepage << ", id " << c.id << ", size " << c.size);
      const char* expected = codepage == 932 ? c.cp932 : c.cp1252;
      char buffer[80];
      std::memset(buffer, 'Z', sizeof buffer);
      SetLastError(kUntouched);
      int copied = LoadStringA(module, c.id, buffer, c.size);
      EXPECT_EQ(std::string(buffer), expected ? expected : "");
      EXPECT_EQ(copied, static_cast<int>(std::strlen(buffer)));
      EXPECT_EQ(GetLastError(), expected ? kUntouched : static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
      EXPECT_EQ(std::string(buffer + copied + 1, 8), std::string(8, 'Z'));
    }
    EXPECT_TRUE(FreeLibrary(module));
  }
}

TEST_F(ModulesTest, LoadStringWithoutAStringTable) {
  PutLibrary(kSystemCopy);
  HMODULE module = LoadLibraryA("modtest");
  struct Case {
    const char* label;
    HINSTANCE instance;
    int size;
    int result;
    const char* buffer;
    DWORD error;
  };
  const Case cases[] = {
      {"no buffer size", module, 0, 0, "ZZZZ", kUntouched},
      {"the program has no resources", nullptr, 4, 0, "", ERROR_RESOURCE_DATA_NOT_FOUND},
      {"no such module", reinterpret_cast<HINSTANCE>(0x1234), 4, 0, "", ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    char buffer[5] = "ZZZZ";
    SetLastError(kUntouched);
    EXPECT_EQ(LoadStringA(c.instance, 1, buffer, c.size), c.result);
    EXPECT_STREQ(buffer, c.buffer);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(FreeLibrary(module));
}

std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + size);
}

TEST_F(ModulesTest, IconsReadAsWindowsKeepsThem) {
  PutLibrary(kSystemCopy);
  HMODULE module = LoadLibraryA("modtest");
  ASSERT_NE(module, nullptr);
  std::ifstream in(MODTEST_ICON, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), 766u);

  HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(101), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(FindResourceA(module, "#101", RT_GROUP_ICON), group);
  ASSERT_EQ(SizeofResource(module, group), sizeof(winsim::GroupIconHeader) + sizeof(winsim::GroupIconEntry));
  const void* directory = LockResource(LoadResource(module, group));
  ASSERT_NE(directory, nullptr);
  winsim::GroupIconHeader header;
  winsim::GroupIconEntry entry;
  std::memcpy(&header, directory, sizeof header);
  std::memcpy(&entry, static_cast<const char*>(directory) + sizeof header, sizeof entry);
  EXPECT_EQ(header.type, 1);
  EXPECT_EQ(header.count, 1);
  // The directory entry is the file's own, with the image's resource id in place of its offset.
  EXPECT_EQ(Bytes(&entry, 12), std::vector<uint8_t>(file.begin() + 6, file.begin() + 18));

  HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entry.id), RT_ICON);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(SizeofResource(module, image), 744u);
  EXPECT_EQ(Bytes(LockResource(LoadResource(module, image)), 744), std::vector<uint8_t>(file.begin() + 22, file.end()));

  struct Case {
    const char* label;
    HMODULE module;
    LPCSTR name;
    LPCSTR type;
    DWORD error;
  };
  const Case cases[] = {
      {"unknown id", module, MAKEINTRESOURCEA(999), RT_ICON, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"unknown type", module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5), ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"a name", module, "MODTEST", RT_GROUP_ICON, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"a type name", module, MAKEINTRESOURCEA(101), "ICONS", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"the program has no resources", nullptr, MAKEINTRESOURCEA(1), RT_STRING, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"no such module", reinterpret_cast<HMODULE>(0x1234), MAKEINTRESOURCEA(1), RT_STRING,
       ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SetLastError(kUntouched);
    EXPECT_EQ(FindResourceA(c.module, c.name, c.type), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }

  // Handles that name no resource of the module.
  HRSRC inside = reinterpret_cast<HRSRC>(reinterpret_cast<char*>(group) + 1);
  for (auto [m, r] : {std::pair{module, HRSRC{}}, std::pair{module, inside}, std::pair{HMODULE{}, group}}) {
    SetLastError(kUntouched);
    EXPECT_EQ(LoadResource(m, r), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SizeofResource(m, r), 0u);
  }
  EXPECT_TRUE(FreeLibrary(module));
}

// Numbers in name arguments and output buffers are shown as such, never read as text.
TEST_F(ModulesTest, TraceShowsNumbersAndBuffersAsSuch) {
  PutLibrary(kSystemCopy);
  HMODULE module = LoadLibraryA("modtest");
  ASSERT_NE(module, nullptr);
  winsim::SetTrace(true);
  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);  // no terminator
  GetProcAddress(module, MAKEINTRESOURCEA(2));
  FindResourceA(module, MAKEINTRESOURCEA(101), RT_GROUP_ICON);
  LoadStringA(module, 1, buffer, sizeof buffer);
  std::memset(buffer, 'Z', sizeof buffer);
  GetModuleFileNameA(module, buffer, sizeof buffer);
  winsim::SetTrace(false);

  std::vector<std::string> lines;
  winsim::Stmt s(winsim::CurrentMachine().Database(), "SELECT call, args FROM trace ORDER BY id");
  while (s.Step()) lines.push_back(s.Text(0) + "(" + s.Text(1) + ")");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("GetProcAddress(0x"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(", #2)"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(", #101, #14)"), std::string::npos) << lines[1];
  for (const std::string& line : {lines[2], lines[3]}) EXPECT_EQ(line.find("ZZZ"), std::string::npos) << line;
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
