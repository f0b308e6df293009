// A fresh machine in a temporary folder for one test; this process works on it while it lives.
#ifndef TESTS_TEMP_MACHINE_H
#define TESTS_TEMP_MACHINE_H

#include <winsim/machine.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

namespace fs = std::filesystem;

class TempMachine {
 public:
  explicit TempMachine(winsim::WindowsFlavour os = winsim::WindowsFlavour::Win98, unsigned codepage = 1252);
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const fs::path& Folder() const { return folder_; }
  // The host path of a Windows path on drive C: ("C:\WINDOWS\INF\OEM0.INF"); parts as written.
  fs::path Host(std::string_view windows_path) const;
  // Writes a file on drive C:, creating its folders.
  void Write(std::string_view windows_path, std::string_view content) const;
  // Copies a host file (a built program or library) onto drive C:, keeping it runnable.
  void Put(const fs::path& host_file, std::string_view windows_path) const;
  bool Exists(std::string_view windows_path) const;

 private:
  fs::path root_;
  fs::path folder_;
};

// build/bin/NAME
fs::path BinPath(std::string_view name);

}  // namespace testing_support

#endif
