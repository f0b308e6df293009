// The preprocessing that a resource script gets: the system's C preprocessor, run on it in its own
// folder in strict C mode (no macro named like a plain word, such as "linux"), with RC_INVOKED
// defined and APSTUDIO_INVOKED not, so the resource editor's bookkeeping drops out. As a resource
// compiler reads C headers, an included header (.h, .hpp, .c) gives only its macros; the lines of
// the script and of included scripts are kept, macros expanded, each with the file and line it
// comes from.
#ifndef WINRC_PREPROCESSOR_H
#define WINRC_PREPROCESSOR_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace winrc {

struct SourceLine {
  std::string file;  // as named in messages: relative to the script's folder
  int number = 0;
  std::filesystem::path folder;  // the folder of the file the line comes from
  std::string text;
};

struct Preprocessed {
  std::vector<SourceLine> lines;             // the script's own lines and those of included scripts
  std::vector<std::filesystem::path> files;  // every file read, for the build's dependencies
};

// How the system's C preprocessor is run: the compiler that preprocesses, and the folders where
// includes in angle brackets are found (the platform's headers, as a resource compiler's SDK folder).
struct PreprocessorSettings {
  std::string compiler = "cc";
  std::vector<std::filesystem::path> include_folders;
};

// Throws CompileError with the preprocessor's own error lines when it refuses the script.
Preprocessed Preprocess(const std::filesystem::path& script, const PreprocessorSettings& settings);

// A plain integer literal, decimal or hexadecimal, with an optional L or U suffix.
std::optional<long> IntegerLiteral(std::string text);

}  // namespace winrc

#endif
