#include "temp_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace testing_support {

TempMachine::TempMachine(winsim::WindowsFlavour os, unsigned codepage) {
  std::string pattern = (fs::temp_directory_path() / "winsim-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  folder_ = root_ / "machine";
  winsim::CreateMachine(folder_, os, codepage);
  const std::string windir = os == winsim::WindowsFlavour::Nt4 ? "C:\\WINNT\\RUNDLL32.EXE" : "C:\\WINDOWS\\RUNDLL32.EXE";
  if (fs::exists(BinPath("rundll32.exe"))) Put(BinPath("rundll32.exe"), windir);
  winsim::UseMachine(folder_);
}

TempMachine::~TempMachine() {
  std::error_code ec;
  if (!std::getenv("WINSIM_KEEP_TEST_MACHINES")) fs::remove_all(root_, ec);
}

fs::path TempMachine::Host(std::string_view windows_path) const {
  std::string rest(windows_path);
  if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
  fs::path out = folder_ / "drive_c";
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) out /= rest.substr(start, end - start);
    start = end + 1;
  }
  return out;
}

void TempMachine::Write(std::string_view windows_path, std::string_view content) const {
  fs::path host = Host(windows_path);
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void TempMachine::Put(const fs::path& host_file, std::string_view windows_path) const {
  fs::path host = Host(windows_path);
  fs::create_directories(host.parent_path());
  fs::copy_file(host_file, host, fs::copy_options::overwrite_existing);
}

bool TempMachine::Exists(std::string_view windows_path) const { return fs::exists(Host(windows_path)); }

fs::path BinPath(std::string_view name) { return fs::path(WINSIM_BIN_DIR) / std::string(name); }

}  // namespace testing_support
