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

void CreateFlags(const std::filesystem::path& machine_folder);
void MapFlags(const std::filesystem::path& machine_folder);
// The flags of the machine in use, or null before a machine is open.
SharedFlags* Flags();

}  // namespace winsim

#endif
