#include <winsim/startup.h>

#include <winsim/machine.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include <cstdlib>
#include <mutex>

namespace winsim {
namespace {

std::mutex g_startup_mutex;
std::string* g_command_line = new std::string;  // kept for the life of the process
STARTUPINFOA g_startup_info{};

bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  for (unsigned char c : arg)
    if (c <= 0x20) return true;
  return false;
}

}  // namespace

LPSTR CommandTail(LPSTR command_line) {
  auto* p = reinterpret_cast<unsigned char*>(command_line);
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') {
      if (IsDBCSLeadByte(*p) && p[1]) ++p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p > 0x20) ++p;
  }
  while (*p >= 0x01 && *p <= 0x20) ++p;
  return reinterpret_cast<LPSTR>(p);
}

std::string CommandLineFromArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += NeedsQuotes(arg) ? "\"" + arg + "\"" : arg;
  }
  return line;
}

void StartUpProcess(int argc, char** argv) {
  CurrentMachine();
  std::lock_guard lock(g_startup_mutex);
  if (const char* line = std::getenv(kEnvCommandLine)) {
    *g_command_line = line;
  } else {
    std::string program = argc > 0 ? argv[0] : "";
    program = program.substr(program.find_last_of('/') + 1);
    std::vector<std::string> words{program};
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    *g_command_line = CommandLineFromArguments(words);
  }
  g_startup_info = STARTUPINFOA{};
  g_startup_info.cb = sizeof(STARTUPINFOA);
  if (const char* show = std::getenv(kEnvShow); show && *show) {
    g_startup_info.dwFlags = STARTF_USESHOWWINDOW;
    g_startup_info.wShowWindow = static_cast<WORD>(std::atoi(show));
  }
  if (const char* image = std::getenv(kEnvImage); image && *image) {
    std::string name = image;
    SetProgramName(name.substr(name.find_last_of('\\') + 1));
  }
  // Programs started by the machine hand the variables on only through the layer.
  for (const char* name : {kEnvCommandLine, kEnvShow, kEnvCurrentDirectory}) ::unsetenv(name);
}

int StartupShowState() {
  std::lock_guard lock(g_startup_mutex);
  return (g_startup_info.dwFlags & STARTF_USESHOWWINDOW) ? g_startup_info.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace winsim

extern "C" LPSTR WINAPI GetCommandLineA(void) { return winsim::g_command_line->data(); }

extern "C" void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  std::lock_guard lock(winsim::g_startup_mutex);
  *info = winsim::g_startup_info;
}
