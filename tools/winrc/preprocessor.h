// The preprocessing that a resource script gets: comments, #include, #define, conditional blocks.
//
// A header (.h, .hpp, .c) gives only its #defines, as the resource compiler reads C headers;
// another included file gives its statements too. Includes in angle brackets name the system's
// headers, whose symbols the compiler knows without them, and a quoted include that is found
// neither beside the including file nor beside the script is skipped: a symbol it would have
// defined is reported where it is used. RC_INVOKED is defined; APSTUDIO_INVOKED is not, so the
// resource editor's bookkeeping blocks drop out.
#ifndef WINRC_PREPROCESSOR_H
#define WINRC_PREPROCESSOR_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winrc {

struct SourceLine {
  std::string file;  // as named in messages
  int number = 0;
  std::filesystem::path folder;  // the folder of the file the line comes from
  std::string text;              // comments removed
};

struct Preprocessed {
  std::vector<SourceLine> lines;  // the active lines of the script and included scripts, no directives
  std::map<std::string, std::string> defines;
  std::vector<std::filesystem::path> files;  // every file read, for the build's dependencies
};

// Throws CompileError.
Preprocessed Preprocess(const std::filesystem::path& script);

// The number a #define gives ("303", "0x12F", "(303)"), or nullopt.
std::optional<long> DefineValue(const std::map<std::string, std::string>& defines, const std::string& name);

// A plain integer literal, decimal or hexadecimal, with an optional L or U suffix.
std::optional<long> IntegerLiteral(std::string text);

}  // namespace winrc

#endif
