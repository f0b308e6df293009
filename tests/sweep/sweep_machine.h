// The machine a scenario starts from, built once with winsim, and runs of a program on fresh copies
// of it, each read back from its copy: trace, losses, boxes and the install lock.
#ifndef SWEEP_SWEEP_MACHINE_H
#define SWEEP_SWEEP_MACHINE_H

#include <winsim/call.h>
#include <winsim/journal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bounded_run.h"

namespace sweep {

namespace fs = std::filesystem;

class MachineTemplate {
 public:
  // A fresh machine ("98" or "nt4") in a folder of its own below `work`.
  MachineTemplate(const fs::path& work, const std::string& os);

  const fs::path& Folder() const { return folder_; }
  // winsim --machine FOLDER args...; throws when it fails.
  void Winsim(const std::vector<std::string>& args, const std::string& input = "") const;
  // A REGEDIT4 text without its first line.
  void Import(const std::string& body) const;
  void Put(const fs::path& host_file, const std::string& windows_path) const;
  void Write(const std::string& windows_path, std::string_view content) const;
  // A program that ends at once with exit code 0.
  void PutNoOpProgram(const std::string& windows_path) const;
  // Turns the trace on and saves the state that each run's losses are measured against.
  void Seal();
  const fs::path& Snapshot() const { return snapshot_; }

 private:
  fs::path work_;
  fs::path folder_;
  fs::path snapshot_;
};

struct MachineRun {
  BoundedRun process;
  std::vector<winsim::TraceEntry> trace;
  // winsim diff lines of items removed ("- ") or changed ("~ ") since the template.
  std::vector<std::string> losses;
  // winsim diff lines of items added ("+ ") since the template.
  std::vector<std::string> gains;
  std::vector<winsim::JournalEntry> journal;
  bool lock_free = false;
};

class MachineRunner {
 public:
  // Runs `command` (a Windows command line, from the folder C:\KIT) as winsim run does, and then
  // each of the winsim commands `then`; the run's process stands for them all (the first exit code
  // that is not 0, everything they wrote).
  MachineRunner(const MachineTemplate& machine, std::string command, std::vector<std::vector<std::string>> then,
                std::chrono::milliseconds bound);
  ~MachineRunner();
  // One run on a fresh copy of the template, with `fault` in its plan.
  MachineRun Run(const std::optional<winsim::FaultRule>& fault);

 private:
  const MachineTemplate& machine_;
  std::string command_;
  std::vector<std::vector<std::string>> then_;
  std::chrono::milliseconds bound_;
  fs::path previous_;
  int runs_ = 0;
};

}  // namespace sweep

#endif
