// Machine-wide switches that every call reads: a page of shared memory in the machine folder.
#ifndef WINSIM_FLAGS_H
#define WINSIM_FLAGS_H

#include <atomic>
#include <cstdint>
#include <filesystem>

namespace winsim {

struct SharedFlags {
  std::atomic<uint32_t> trace_on;
  std::atomic<uint32_t> fault_rules;  // rules in the plan; 0 lets calls skip the database
};

// The machine's settings as its database holds them (set at init, never changed), copied into the
// same page by the first process that read them: a program that needs nothing else of the database
// never opens it.
struct SharedSettings {
  std::atomic<uint32_t> copied;  // kSettingsCopied once the fields below are whole
  uint32_t nt4;
  uint32_t codepage;
  char windows_dir[64];
  char system_dir[64];
};
inline constexpr uint32_t kSettingsCopied = 0x53455431;  // "SET1"

void CreateFlags(const std::filesystem::path& machine_folder);
// The machine's page, mapped for good; MachineError when the folder has none.
SharedFlags* MapFlags(const std::filesystem::path& machine_folder);
// Makes a mapped page the one that Flags() gives.
void UseFlags(SharedFlags* flags);
// The flags of the machine in use, or null before a machine is open.
SharedFlags* Flags();
SharedSettings& SettingsOf(SharedFlags* flags);

}  // namespace winsim

#endif
