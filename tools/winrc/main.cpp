// winrc, the machine's resource compiler: resource scripts and module-definition files to C++.
//
//   winrc [--cpp CC] [-I DIR]... SCRIPT.rc OUT.cpp [--depfile OUT.d]
//                                 the module's resources, preprocessed by CC (cc) with <headers> in DIR
//   winrc --def FILE.def OUT.cpp  the module's export table
#include "compile_error.h"
#include "emit.h"
#include "module_definition.h"
#include "rc_script.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: winrc [--cpp CC] [-I DIR]... SCRIPT.rc OUT.cpp [--depfile OUT.d]\n"
    "       winrc --def FILE.def OUT.cpp\n";

// Written beside and renamed over, so that a failed run never leaves half a source for the build.
void WriteFile(const fs::path& path, const std::string& content) {
  fs::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) throw winrc::CompileError("cannot write " + temporary.string());
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) throw winrc::CompileError("cannot write " + path.string() + ": " + ec.message());
}

std::string DepfileName(const fs::path& path) {
  std::string out;
  for (char c : path.string()) {
    if (c == ' ' || c == '#') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

int CompileDefinition(const fs::path& def, const fs::path& out) {
  std::ifstream in(def, std::ios::binary);
  if (!in) throw winrc::CompileError("cannot read " + def.string());
  std::stringstream text;
  text << in.rdbuf();
  winrc::ModuleDefinition parsed = winrc::ParseModuleDefinition(text.str(), def.filename().string());
  WriteFile(out, winrc::ExportSource(parsed, def.filename().string()));
  return 0;
}

int CompileResources(const winrc::PreprocessorSettings& settings, const fs::path& script, const fs::path& out,
                     const fs::path& depfile) {
  winrc::CompiledScript compiled = winrc::CompileScript(script, settings);
  WriteFile(out,
            winrc::ResourceSource(winrc::PackResources(std::move(compiled.resources)), script.filename().string()));
  if (!depfile.empty()) {
    std::string deps = DepfileName(out) + ":";
    for (const fs::path& file : compiled.files) deps += " \\\n  " + DepfileName(fs::absolute(file));
    WriteFile(depfile, deps + "\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 3 && args[0] == "--def") return CompileDefinition(args[1], args[2]);
    winrc::PreprocessorSettings settings;
    while (args.size() >= 2 && (args[0] == "--cpp" || args[0] == "-I")) {
      if (args[0] == "--cpp") settings.compiler = args[1];
      if (args[0] == "-I") settings.include_folders.push_back(args[1]);
      args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 2 && args[0] != "--def") return CompileResources(settings, args[0], args[1], {});
    if (args.size() == 4 && args[2] == "--depfile") return CompileResources(settings, args[0], args[1], args[3]);
    std::fputs(kUsage, stderr);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winrc: %s\n", e.what());
    return 1;
  }
}
