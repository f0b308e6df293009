#include "library_machine.h"

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/machine.h>

#include "run.h"

#include <cstring>
#include <stdexcept>

namespace pnp_tests {

namespace {

using EntryForm = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

constexpr char kStartsKey[] = "Software\\WinsimTests\\Started\\";

void CallEntry(EntryForm entry, const char* command_line, HWND owner) {
  if (!entry) throw std::runtime_error("export missing");
  std::string copy = command_line ? command_line : "";
  entry(owner, nullptr, command_line ? copy.data() : nullptr, SW_SHOWNORMAL);
}

}  // namespace

LibraryMachine::LibraryMachine(winsim::WindowsFlavour os, unsigned codepage) : TempMachine(os, codepage) {
  const std::string library = winsim::CurrentMachine().Settings().system_dir + "\\K4471PNP.DLL";
  Put(testing_support::BinPath("K4471PNP.dll"), library);
  library_ = LoadLibraryA(library.c_str());
  if (!library_) throw std::runtime_error("cannot load " + library);
}

LibraryMachine::~LibraryMachine() { FreeLibrary(library_); }

void LibraryMachine::Schedule(const char* command_line, HWND owner) const {
  CallEntry(ExportAs<EntryForm>("SchedulePrinterInstallation"), command_line, owner);
}

void LibraryMachine::Start(const char* command_line, HWND owner) const {
  CallEntry(ExportAs<EntryForm>("StartPrinterInstallation"), command_line, owner);
}

void LibraryMachine::AddDeviceNode(const std::string& path, const std::string& model) const {
  WriteValue(path, "Model", REG_SZ, model + '\0');
}

void LibraryMachine::PutSetupProgram(const std::string& windows_path) const {
  Put(testing_support::BinPath("setup_standin.exe"), windows_path);
}

BackgroundRuns::~BackgroundRuns() {
  winsim::SetHoldBoxes(false);
  winsim::CloseAllBoxes();
  for (size_t run = 0; run < runs_.size(); ++run) ExitCode(run);
}

size_t BackgroundRuns::Start(const std::string& command_line) {
  runs_.push_back(std::async(std::launch::async, [folder = folder_, command_line] {
    return testing_support::Winsim(folder, {"run", command_line});
  }));
  exit_codes_.emplace_back();
  return runs_.size() - 1;
}

int BackgroundRuns::ExitCode(size_t run) {
  if (!exit_codes_[run]) {
    if (runs_[run].wait_for(std::chrono::minutes(2)) != std::future_status::ready) return -1;
    exit_codes_[run] = runs_[run].get().exit_code;
  }
  return *exit_codes_[run];
}

void WriteValue(const std::string& key, const std::string& name, DWORD type, std::string_view data) {
  HKEY handle = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &handle) != ERROR_SUCCESS) throw std::runtime_error(key);
  LONG written = RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
  RegCloseKey(handle);
  if (written != ERROR_SUCCESS) throw std::runtime_error(key + " " + name);
}

std::optional<RegValue> ReadValue(const std::string& key, const std::string& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &handle) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  std::optional<RegValue> value;
  if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string data(size, '\0');
    if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
        ERROR_SUCCESS) {
      data.resize(size);
      value = RegValue{type, data};
    }
  }
  RegCloseKey(handle);
  return value;
}

bool KeyExists(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

SetupStarts StartsOf(const std::string& program_file_name) {
  const std::string key = kStartsKey + program_file_name;
  SetupStarts starts;
  if (auto count = ReadValue(key, "Count"); count && count->data.size() == sizeof(DWORD)) {
    std::memcpy(&starts.count, count->data.data(), sizeof(DWORD));
  }
  auto text = [&](const char* name) {
    auto value = ReadValue(key, name);
    return value ? std::string(value->data.c_str()) : std::string();
  };
  starts.command_line = text("CommandLine");
  starts.current_directory = text("CurrentDirectory");
  return starts;
}

std::string RegistryText(const TempMachine& machine) {
  auto exported = testing_support::Winsim(machine.Folder(), {"reg", "export"});
  if (exported.exit_code != 0) throw std::runtime_error("reg export: " + exported.err);
  return exported.out;
}

namespace {

std::vector<winsim::JournalEntry> JournalOf(const char* kind) {
  std::vector<winsim::JournalEntry> entries;
  for (auto& entry : winsim::ListJournal()) {
    if (entry.kind == kind) entries.push_back(entry);
  }
  return entries;
}

}  // namespace

std::vector<winsim::JournalEntry> Boxes() { return JournalOf("box"); }

std::vector<winsim::JournalEntry> Restarts() { return JournalOf("restart"); }

bool LockEventExists() {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kLockName);
  if (!event) return false;
  CloseHandle(event);
  return true;
}

std::vector<std::string> OpenHandlesBesides(HMODULE library) {
  std::vector<std::string> open;
  for (const auto& handle : winsim::OpenHandles()) {
    if (handle.value != reinterpret_cast<uintptr_t>(library)) open.push_back(handle.description);
  }
  return open;
}

std::vector<winsim::TraceEntry> Trace() { return winsim::ReadTrace(); }

}  // namespace pnp_tests
