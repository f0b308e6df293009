#include "preprocessor.h"

#include "compile_error.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <set>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace winrc {
namespace {

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `argv` in `folder` and collects both of its streams, read together so that neither can fill up
// and stall the other.
Output RunIn(const fs::path& folder, const std::vector<std::string>& argv) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) throw CompileError("cannot run the preprocessor: no pipe");
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    throw CompileError("cannot run the preprocessor: no pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
  posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);

  Output result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int open = 2; spawned == 0 && open > 0;) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  if (spawned != 0) throw CompileError("cannot run the preprocessor " + argv[0]);
  while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

bool IsHeader(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".h" || ext == ".hpp" || ext == ".c";
}

// A line marker `# 12 "file" flags`: sets the file and the number of the next line.
bool ReadLineMarker(const std::string& line, int* number, std::string* file) {
  if (line.size() < 4 || line[0] != '#' || line[1] != ' ' || !std::isdigit(static_cast<unsigned char>(line[2])))
    return false;
  size_t quote = line.find('"');
  if (quote == std::string::npos) return false;
  *number = std::stoi(line.substr(2, quote - 2));
  file->clear();
  for (size_t i = quote + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    *file += line[i];
  }
  return true;
}

// The preprocessor's error lines, without its source excerpts.
std::string ErrorLines(const std::string& err) {
  std::istringstream in(err);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.find("error") == std::string::npos) continue;
    out += (out.empty() ? "" : "\n") + line;
  }
  return out.empty() ? "the preprocessor refused the script" : out;
}

}  // namespace

Preprocessed Preprocess(const fs::path& script, const PreprocessorSettings& settings) {
  const fs::path folder = script.parent_path().empty() ? fs::path(".") : script.parent_path();
  std::vector<std::string> argv = {settings.compiler, "-E", "-x", "c", "-std=c11", "-DRC_INVOKED", "-I."};
  for (const fs::path& include : settings.include_folders) argv.push_back("-I" + fs::absolute(include).string());
  argv.push_back(script.filename().string());
  Output run = RunIn(folder, argv);
  if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) throw CompileError(ErrorLines(run.err));

  Preprocessed out;
  std::set<std::string> seen;
  std::string file;
  int number = 0;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    if (ReadLineMarker(line, &number, &file)) {
      // Names in angle brackets are the preprocessor's own (<built-in>, <command-line>).
      if (!file.empty() && file[0] != '<' && seen.insert(file).second) out.files.push_back(folder / file);
      continue;
    }
    const int this_number = number++;
    if (file.empty() || file[0] == '<' || IsHeader(file)) continue;
    if (line.rfind("#pragma", 0) == 0) continue;  // code_page and the like: bytes are taken as they are
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    fs::path source = folder / file;
    out.lines.push_back({fs::path(file).lexically_normal().string(), this_number, source.parent_path(), line});
  }
  return out;
}

std::optional<long> IntegerLiteral(std::string text) {
  while (!text.empty() && (text.back() == 'L' || text.back() == 'l' || text.back() == 'U' || text.back() == 'u'))
    text.pop_back();
  if (text.empty()) return std::nullopt;
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  long value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFL) return std::nullopt;
  }
  return value;
}

}  // namespace winrc
