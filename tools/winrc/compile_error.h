// A fault in a resource script, a header or a module-definition file, named with its place.
#ifndef WINRC_COMPILE_ERROR_H
#define WINRC_COMPILE_ERROR_H

#include <stdexcept>
#include <string>

namespace winrc {

class CompileError : public std::runtime_error {
 public:
  CompileError(const std::string& file, int line, const std::string& message)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + message) {}
  explicit CompileError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace winrc

#endif
