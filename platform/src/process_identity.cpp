#include <winsim/process.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>

namespace winsim {
namespace {

std::mutex g_name_mutex;

std::string& Name() {
  static std::string* name = new std::string([] {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "unknown";
    return path.substr(path.find_last_of('/') + 1);
  }());
  return *name;
}

// Field 22 of /proc/PID/stat; 0 when the process is gone. A zombie counts as gone.
unsigned long long StartTime(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X") return 0;
  std::string skip;
  for (int i = 0; i < 18; ++i) fields >> skip;  // fields 4 to 21
  unsigned long long start = 0;
  fields >> start;
  return start;
}

}  // namespace

const std::string& ProgramName() {
  std::lock_guard lock(g_name_mutex);
  return Name();
}

void SetProgramName(std::string name) {
  std::lock_guard lock(g_name_mutex);
  Name() = std::move(name);
}

ProcessId SelfProcessId() {
  static std::mutex mutex;
  static ProcessId self;
  std::lock_guard lock(mutex);
  // Taken again in a forked child, which must not pass for its parent.
  const int pid = static_cast<int>(::getpid());
  if (self.pid != pid) self = IdentifyProcess(pid);
  return self;
}

ProcessId IdentifyProcess(int pid) { return {pid, StartTime(pid)}; }

bool ProcessAlive(const ProcessId& id) {
  if (id.pid <= 0) return false;
  if (::kill(id.pid, 0) != 0 && errno == ESRCH) return false;
  unsigned long long start = StartTime(id.pid);
  return start != 0 && start == id.start;
}

}  // namespace winsim
