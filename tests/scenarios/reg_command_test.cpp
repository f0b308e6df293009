// winsim reg as a person uses it, and the registry written by several processes at once.
#include <windows.h>

#include <winsim/registry.h>

#include <gtest/gtest.h>

#include "run.h"
#include "temp_machine.h"

#include <cstdio>
#include <fstream>
#include <future>
#include <string>

using testing_support::TempMachine;
using testing_support::Winsim;

namespace {

std::string WriteFile(const TempMachine& machine, const std::string& name, const std::string& text) {
  const std::string path = (machine.Folder().parent_path() / name).string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(RegCommand, ImportsAndExports) {
  TempMachine machine;
  const std::string file = WriteFile(machine, "in.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Kit]\r\n\"A\"=\"1\"\r\n");
  auto run = Winsim(machine.Folder(), {"reg", "import", file});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  run = Winsim(machine.Folder(), {"reg", "import", "-"}, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Kit\\Sub]\n\"B\"=dword:2\n");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  run = Winsim(machine.Folder(), {"reg", "export", "HKEY_LOCAL_MACHINE\\kit"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Kit]\r\n\"A\"=\"1\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Kit\\Sub]\r\n\"B\"=dword:00000002\r\n\r\n");
  EXPECT_EQ(Winsim(machine.Folder(), {"reg", "export"}).out, winsim::ExportRegedit4());
}

TEST(RegCommand, FailuresAreOneLineAndChangeNothing) {
  TempMachine machine;
  const std::string before = winsim::ExportRegedit4();
  const std::string bad =
      WriteFile(machine, "bad.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Kit]\n\"A\"=\"1\"\n\"B\"=dword:zz\n");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string err;  // the start of the one line
  } cases[] = {
      {{"reg", "import", bad}, "", "winsim reg import: " + bad + ":5: dword:"},
      {{"reg", "import", "-"},
       "REGEDIT4\n[HKEY_USERS\\X]\n",
       "winsim reg import: (stdin):2: unknown root key HKEY_USERS"},
      {{"reg", "import", bad + ".none"}, "", "winsim reg import: cannot read " + bad + ".none"},
      {{"reg", "export", "HKEY_LOCAL_MACHINE\\None"}, "", "winsim reg export: no key HKEY_LOCAL_MACHINE\\None"},
      {{"reg", "import", "-"},
       std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Kit\0Hidden]\n", 42),
       "winsim reg import: (stdin):3: name holds a NUL byte"},
  };
  for (const Case& c : cases) {
    auto run = Winsim(machine.Folder(), c.args, c.input);
    EXPECT_EQ(run.exit_code, 1) << c.err;
    EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(winsim::ExportRegedit4(), before);
}

// Two winsim processes import into one key while this process writes it through the calls.
TEST(RegCommand, ConcurrentWritersLoseNothing) {
  TempMachine machine;
  constexpr int kValues = 2000;
  auto file_of = [&](const std::string& prefix) {
    std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Race\\Shared]\r\n";
    for (int i = 0; i < kValues; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "\"%s%d\"=dword:%08x\r\n", prefix.c_str(), i, static_cast<unsigned>(i));
      text += line;
    }
    return WriteFile(machine, prefix + ".reg", text);
  };
  const std::string a = file_of("a"), b = file_of("b");
  auto import_a = std::async(std::launch::async, [&] { return Winsim(machine.Folder(), {"reg", "import", a}); });
  auto import_b = std::async(std::launch::async, [&] { return Winsim(machine.Folder(), {"reg", "import", b}); });
  for (int i = 0; i < kValues; ++i) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Race\\Shared", &key), ERROR_SUCCESS);
    const DWORD v = static_cast<DWORD>(i);
    ASSERT_EQ(RegSetValueExA(key, ("c" + std::to_string(i)).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                             sizeof v),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  auto run_a = import_a.get(), run_b = import_b.get();
  ASSERT_EQ(run_a.exit_code, 0) << run_a.err;
  ASSERT_EQ(run_b.exit_code, 0) << run_b.err;

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Race\\Shared", &key), ERROR_SUCCESS);
  int missing = 0;
  for (const char* prefix : {"a", "b", "c"}) {
    for (int i = 0; i < kValues; ++i) {
      DWORD v = 0xdeadbeef, size = sizeof v;
      const std::string name = prefix + std::to_string(i);
      if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
          v != static_cast<DWORD>(i))
        ++missing;
    }
  }
  EXPECT_EQ(missing, 0);
  RegCloseKey(key);
}

}  // namespace
