#include "module_table.h"

#include "elf_file.h"

#include <winsim/machine.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace fs = std::filesystem;

namespace winsim {
namespace {

struct Table {
  std::map<HMODULE, std::unique_ptr<Module>> libraries;
  std::vector<HMODULE> order;  // load order
};

Table& Libraries() {
  static Table* table = new Table;  // outlives the exit-time detach
  return *table;
}

fs::path ProgramHostPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? fs::path(std::string(buf, static_cast<size_t>(n))) : fs::path();
}

void FindResources(Module& module, const fs::path& file, uintptr_t bias) {
  if (std::optional<LoadedSection> section = FindLoadedSection(file, kResourceSection)) {
    module.resources = reinterpret_cast<const uint8_t*>(bias + section->address);
    module.resources_size = section->size;
  }
}

// Where the program is mapped, for its resources.
link_map* g_program_map = nullptr;

}  // namespace

std::recursive_mutex& LoaderLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

Module& ProgramModule() {
  static Module* program = [] {
    auto* m = new Module;
    Dl_info info{};
    // The program's headers sit in its first mapped page, so they name the program's own object.
    dladdr1(reinterpret_cast<void*>(getauxval(AT_PHDR)), &info, reinterpret_cast<void**>(&g_program_map),
            RTLD_DL_LINKMAP);
    m->handle = static_cast<HMODULE>(info.dli_fbase);
    m->references = 1;
    return m;
  }();
  return *program;
}

namespace {

// The program's resources are looked for when a call first asks for the program by its handle:
// most programs load none, and start without reading their own file.
Module& ProgramWithResources() {
  Module& program = ProgramModule();
  static bool looked = false;
  if (!looked && g_program_map) FindResources(program, "/proc/self/exe", g_program_map->l_addr);
  looked = true;
  return program;
}

}  // namespace

Module* FindModule(HMODULE handle) {
  if (!handle || handle == ProgramModule().handle) return &ProgramWithResources();
  auto it = Libraries().libraries.find(handle);
  return it == Libraries().libraries.end() ? nullptr : it->second.get();
}

Module* FindModuleByName(std::string_view name) {
  const bool by_file_name = name.find('\\') == std::string_view::npos;
  auto matches = [&](std::string_view path) {
    return by_file_name ? SameNameFold(FileNamePart(path), name) : SameNameFold(path, name);
  };
  for (auto& [handle, module] : Libraries().libraries)
    if (matches(module->windows_path)) return module.get();
  return matches(ProgramWindowsPath()) ? &ProgramModule() : nullptr;
}

void AddLibrary(std::unique_ptr<Module> module) {
  Table& t = Libraries();
  t.order.push_back(module->handle);
  t.libraries[module->handle] = std::move(module);
}

void RemoveLibrary(HMODULE handle) {
  Table& t = Libraries();
  t.libraries.erase(handle);
  t.order.erase(std::remove(t.order.begin(), t.order.end(), handle), t.order.end());
}

std::vector<Module*> LoadedLibraries() {
  std::vector<Module*> out;
  Table& t = Libraries();
  for (auto it = t.order.rbegin(); it != t.order.rend(); ++it) out.push_back(t.libraries.at(*it).get());
  return out;
}

void DescribeLibrary(Module& module, void* library, const fs::path& host_file) {
  module.library = library;
  link_map* map = nullptr;
  dlinfo(library, RTLD_DI_LINKMAP, &map);
  Dl_info info{};
  dladdr(map->l_ld, &info);
  module.handle = static_cast<HMODULE>(info.dli_fbase);
  auto* table = static_cast<const ExportTable*>(OwnSymbol(module, kExportTableSymbol));
  module.exports = table && table->magic == kExportTableMagic ? table : nullptr;
  FindResources(module, host_file, map->l_addr);
}

void* OwnSymbol(const Module& module, const char* name) {
  void* symbol = dlsym(module.library, name);
  Dl_info info{};
  if (!symbol || !dladdr(symbol, &info) || info.dli_fbase != module.handle) return nullptr;
  return symbol;
}

std::string ProgramWindowsPath() {
  if (const char* image = std::getenv(kEnvImage); image && *image) return image;
  fs::path host = ProgramHostPath();
  if (HaveMachine())
    if (std::optional<std::string> path = WindowsPathOf(host)) return *path;
  return host.string();
}

Arg NameOrNumberArg(LPCSTR name) {
  if (name && IS_INTRESOURCE(name)) return Arg::Raw("#" + std::to_string(LOWORD(name)));
  return Arg(name);
}

std::string_view FileNamePart(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool SameNameFold(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

}  // namespace winsim
