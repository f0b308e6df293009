// The installer command line of the library's phases over arbitrary text: its split at the first
// blank and the setup program path built from the installation directory, each against a reading
// worked out here character by character.
#include <cstdint>
#include <string>
#include <string_view>

#include "counted_string.h"
#include "fuzz_machine.h"
#include "installer_command_line.h"
#include "setup_program.h"

namespace {

std::string Text(const CountedString& s) {
  FUZZ_CHECK(s.GetLength() >= 0);
  return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMachine();
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));

  size_t blank = std::string::npos;
  size_t last_character = std::string::npos;
  for (size_t start : CharacterStarts(line)) {
    if (blank == std::string::npos && line[start] == ' ') blank = start;
  }
  std::string path = line, directory;
  if (blank != std::string::npos && blank > 0) {
    path = line.substr(0, blank);
    directory = line.substr(blank + 1);
  }

  const InstallerCommandLine split(line.c_str());
  FUZZ_CHECK(Text(split.device_node_path) == path);
  FUZZ_CHECK(Text(split.installation_directory) == directory);

  // The directory ends in a backslash only when its last character is one; a trail byte 0x5C is not.
  for (size_t start : CharacterStarts(directory)) last_character = start;
  const bool ends_in_backslash = last_character != std::string::npos && directory.substr(last_character) == "\\";
  const std::string program = directory + (ends_in_backslash ? "SETUP.EXE" : "\\Setup.Exe");
  FUZZ_CHECK(Text(SetupProgramPath(split.installation_directory)) == program);
  return 0;
}
