// Running built programs and winsim as processes, as a person would from a shell.
#ifndef TESTS_RUN_H
#define TESTS_RUN_H

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
  int exit_code = -1;  // 128 + signal when killed by one
  std::string out;
  std::string err;
};

// Runs argv[0] (a host path) with WINSIM_MACHINE set to `machine`, feeding `input` on stdin.
RunResult RunHost(const std::filesystem::path& machine, const std::vector<std::string>& argv,
                  const std::string& input = "");
// Runs build/bin/winsim --machine MACHINE args...
RunResult Winsim(const std::filesystem::path& machine, const std::vector<std::string>& args,
                 const std::string& input = "");

// Polls `condition` every few milliseconds until it holds or `bound` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(30));

}  // namespace testing_support

#endif
