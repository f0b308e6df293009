#include <winsim/paths.h>

#include <mutex>

namespace winsim {
namespace {

std::mutex g_cwd_mutex;
std::string g_cwd = "C:\\";

}  // namespace

std::string CurrentDirectory() {
  std::lock_guard lock(g_cwd_mutex);
  return g_cwd;
}

void ResetCurrentDirectory(std::string full_windows_path) {
  std::lock_guard lock(g_cwd_mutex);
  g_cwd = std::move(full_windows_path);
}

}  // namespace winsim
