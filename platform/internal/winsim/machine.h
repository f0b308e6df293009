// The machine this process works on: its folder, its database and its settings.
#ifndef WINSIM_MACHINE_H
#define WINSIM_MACHINE_H

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

namespace winsim {

class Db;

enum class WindowsFlavour { Win98, Nt4 };

struct MachineSettings {
  WindowsFlavour os = WindowsFlavour::Win98;
  unsigned codepage = 1252;
  std::string windows_dir;  // "C:\WINDOWS" or "C:\WINNT"
  std::string system_dir;   // "C:\WINDOWS\SYSTEM" or "C:\WINNT\system32"
};

// A machine folder that does not exist or is not a machine, and any other reason a machine
// cannot be used; the message is one line meant for a person.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The folder named by WINSIM_MACHINE, else ~/.winsim.
std::filesystem::path DefaultMachineFolder();

// Creates a fresh machine in `folder` (which must be absent or empty). The machine is built aside
// and moved into place whole, after `furnish` has put its files into the new machine's folder, so
// that of racing creators exactly one succeeds and the others change nothing. Throws MachineError.
void CreateMachine(const std::filesystem::path& folder, WindowsFlavour os, unsigned codepage,
                   const std::function<void(const std::filesystem::path& new_folder)>& furnish = {});

// Makes this process work on the machine in `folder`, closing any machine it had (its handles
// are dropped and its current directory goes back to the machine's default). Throws MachineError.
void UseMachine(const std::filesystem::path& folder);

// The machine in use; on first use opens DefaultMachineFolder(). Throws MachineError.
class Machine {
 public:
  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path DriveC() const { return folder_ / "drive_c"; }
  const MachineSettings& Settings() const { return settings_; }
  // Opened at its first use: a program that never needs it starts without it. Throws MachineError.
  Db& Database();

  Machine(const std::filesystem::path& folder);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

 private:
  std::filesystem::path folder_;
  MachineSettings settings_;
  std::mutex db_mutex_;
  std::atomic<Db*> db_{nullptr};
};

Machine& CurrentMachine();
// True when a machine is in use or the default one opens; never throws.
bool HaveMachine();

}  // namespace winsim

#endif
