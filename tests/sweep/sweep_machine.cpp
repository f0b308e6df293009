#include "sweep_machine.h"

#include <windows.h>

#include <winsim/machine.h>

#include <fstream>
#include <stdexcept>

#include "run.h"
#include "temp_machine.h"

namespace sweep {
namespace {

constexpr char kLockName[] = "KDRInstalled";

fs::path WinsimTool() { return testing_support::BinPath("winsim"); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

MachineTemplate::MachineTemplate(const fs::path& work, const std::string& os)
    : work_(work), folder_(work / "template"), snapshot_(work / "template.snapshot") {
  Winsim({"init", "--os", os});
}

void MachineTemplate::Winsim(const std::vector<std::string>& args, const std::string& input) const {
  testing_support::RunResult r = testing_support::Winsim(folder_, args, input);
  if (r.exit_code != 0) throw std::runtime_error("winsim " + args.front() + " failed: " + r.err);
}

void MachineTemplate::Import(const std::string& body) const {
  Winsim({"reg", "import", "-"}, "REGEDIT4\r\n\r\n" + body);
}

void MachineTemplate::Put(const fs::path& host_file, const std::string& windows_path) const {
  Winsim({"put", host_file.string(), windows_path});
}

void MachineTemplate::Write(const std::string& windows_path, std::string_view content) const {
  const fs::path staged = work_ / "staged";
  {
    std::ofstream out(staged, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  Put(staged, windows_path);
  fs::remove(staged);
}

void MachineTemplate::PutNoOpProgram(const std::string& windows_path) const {
  const fs::path staged = work_ / "noop";
  {
    std::ofstream out(staged, std::ios::trunc);
    out << "#!/bin/sh\nexit 0\n";
  }
  fs::permissions(staged, fs::perms::owner_exec, fs::perm_options::add);
  Put(staged, windows_path);
  fs::remove(staged);
}

void MachineTemplate::Seal() {
  Winsim({"trace", "on"});
  Winsim({"snapshot", snapshot_.string()});
}

MachineRunner::MachineRunner(const MachineTemplate& machine, std::string command,
                             std::vector<std::vector<std::string>> then, std::chrono::milliseconds bound)
    : machine_(machine), command_(std::move(command)), then_(std::move(then)), bound_(bound) {}

MachineRunner::~MachineRunner() {
  std::error_code ec;
  if (!previous_.empty()) fs::remove_all(previous_, ec);
}

MachineRun MachineRunner::Run(const std::optional<winsim::FaultRule>& fault) {
  const fs::path folder = machine_.Folder().parent_path() / ("run-" + std::to_string(++runs_));
  fs::copy(machine_.Folder(), folder, fs::copy_options::recursive);
  // This process works on the copy too: it plans the fault and reads the outcome in place.
  winsim::UseMachine(folder);
  std::error_code ec;
  if (!previous_.empty()) fs::remove_all(previous_, ec);
  previous_ = folder;
  if (fault) winsim::AddFault(*fault);

  MachineRun run;
  run.process = RunBounded({WinsimTool().string(), "--machine", folder.string(), "run", command_},
                           {"WINSIM_CWD=C:\\KIT"}, bound_);
  for (const std::vector<std::string>& args : then_) {
    if (run.process.overran) break;
    std::vector<std::string> argv = {WinsimTool().string(), "--machine", folder.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const BoundedRun next = RunBounded(argv, {}, bound_);
    run.process.overran = next.overran;
    if (run.process.exit_code == 0) run.process.exit_code = next.exit_code;
    run.process.out += next.out;
    run.process.err += next.err;
  }
  run.trace = winsim::ReadTrace();
  run.journal = winsim::ListJournal();
  winsim::ClearFaults();
  HANDLE lock = OpenEventA(SYNCHRONIZE, FALSE, kLockName);
  run.lock_free = lock == nullptr;
  if (lock) CloseHandle(lock);

  BoundedRun diff = RunBounded(
      {WinsimTool().string(), "--machine", folder.string(), "diff", machine_.Snapshot().string()}, {}, bound_);
  if (diff.exit_code != 0) throw std::runtime_error("winsim diff failed: " + diff.err);
  for (const std::string& line : Lines(diff.out)) {
    if (line.starts_with("- ") || line.starts_with("~ ")) run.losses.push_back(line);
    if (line.starts_with("+ ")) run.gains.push_back(line);
  }
  return run;
}

}  // namespace sweep
