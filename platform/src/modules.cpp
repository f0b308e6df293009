// Libraries: host shared objects on drive C: loaded with dlopen, entered through DllMain, bound
// through the export table that winrc built into them.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/modules.h>
#include <winsim/paths.h>

#include "elf_file.h"
#include "library_search.h"
#include "module_table.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstring>

namespace winsim {
namespace {

using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

// DllMain's answer; a library without DllMain accepts every call.
BOOL CallEntryPoint(const Module& module, DWORD reason, LPVOID reserved) {
  auto entry = reinterpret_cast<EntryPoint>(OwnSymbol(module, "DllMain"));
  return entry ? entry(reinterpret_cast<HINSTANCE>(module.handle), reason, reserved) : TRUE;
}

void Detach(Module& module, LPVOID reserved) {
  if (module.detached) return;
  module.detached = true;
  CallEntryPoint(module, DLL_PROCESS_DETACH, reserved);
}

// At exit, a library still loaded gets DLL_PROCESS_DETACH (reserved non-null, as Windows passes
// when the process ends) before its static destructors run; libraries go newest first.
void DetachAtExit(void* handle) {
  std::lock_guard lock(LoaderLock());
  Module* module = FindModule(static_cast<HMODULE>(handle));
  if (module && module != &ProgramModule()) Detach(*module, reinterpret_cast<LPVOID>(1));
}

// One exit handler per loaded library, registered after the library's own exit-time destructors
// (so it runs before them), keyed by the library's Module so that FreeLibrary takes it back.
void DetachLaterAtExit(Module& module) { abi::__cxa_atexit(DetachAtExit, module.handle, &module); }
void ForgetExitHandler(Module& module) { abi::__cxa_finalize(&module); }

Module* Reuse(Module* module) {
  if (module) ++module->references;
  return module;
}

Module* Load(std::string_view name, DWORD* error) {
  std::string file_name = WithDefaultExtension(name);
  if (IsBareName(file_name))
    if (Module* loaded = Reuse(FindModuleByName(file_name))) return loaded;
  std::optional<LibraryFile> file = FindLibraryFile(file_name, error);
  if (!file) return nullptr;
  if (Module* loaded = Reuse(FindModuleByName(file->windows_path))) return loaded;
  if (!IsSharedObject(file->host)) {
    *error = ERROR_BAD_EXE_FORMAT;
    return nullptr;
  }
  void* library = dlopen(file->host.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    // A library it needs is missing, or the file is no library for this machine.
    const char* why = dlerror();
    *error = why && std::strstr(why, "cannot open shared object file") ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
    return nullptr;
  }
  auto module = std::make_unique<Module>();
  module->references = 1;
  module->windows_path = file->windows_path;
  DescribeLibrary(*module, library, file->host);
  if (Module* same = FindModule(module->handle); same && same != &ProgramModule()) {
    dlclose(library);  // the same file under another name
    return Reuse(same);
  }
  Module* loaded = module.get();
  AddLibrary(std::move(module));
  BOOL attached = FALSE;
  try {
    attached = CallEntryPoint(*loaded, DLL_PROCESS_ATTACH, nullptr);
  } catch (...) {
  }
  if (!attached) {
    Detach(*loaded, nullptr);
    dlclose(library);
    RemoveLibrary(loaded->handle);
    *error = ERROR_DLL_INIT_FAILED;
    return nullptr;
  }
  DetachLaterAtExit(*loaded);
  return loaded;
}

}  // namespace

std::optional<ModuleExports> ExportsOf(HMODULE handle) {
  std::lock_guard lock(LoaderLock());
  Module* module = handle ? FindModule(handle) : nullptr;
  if (!module || !module->exports) return std::nullopt;
  ModuleExports out{module->exports->module_name ? module->exports->module_name : "", {}};
  for (uint32_t i = 0; i < module->exports->count; ++i) {
    const ExportEntry& e = module->exports->entries[i];
    out.entries.push_back({e.name ? e.name : "", e.ordinal});
  }
  return out;
}

}  // namespace winsim

using winsim::Call;

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  Call call("LoadLibraryA", name);
  if (call.Faulted()) return call.Fail<HMODULE>(nullptr);
  if (!name) return call.Fail<HMODULE>(nullptr, ERROR_INVALID_PARAMETER);
  if (!*name) return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
  if (std::strlen(name) >= MAX_PATH) return call.Fail<HMODULE>(nullptr, ERROR_FILENAME_EXCED_RANGE);
  std::lock_guard lock(winsim::LoaderLock());
  DWORD error = ERROR_MOD_NOT_FOUND;
  winsim::Module* module = winsim::Load(name, &error);
  if (!module) return call.Fail<HMODULE>(nullptr, error);
  return call.Return(module->handle);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE handle) {
  Call call("FreeLibrary", handle);
  if (call.Faulted()) return call.Fail(FALSE);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = handle ? winsim::FindModule(handle) : nullptr;
  if (!module) return call.Fail(FALSE, ERROR_MOD_NOT_FOUND);
  if (module == &winsim::ProgramModule()) return call.Return(TRUE);  // the program stays
  if (--module->references > 0) return call.Return(TRUE);
  winsim::Detach(*module, nullptr);
  winsim::ForgetExitHandler(*module);  // it finds the library detached and does nothing more
  // Still listed while its static destructors run, as during Windows' detach.
  dlclose(module->library);
  winsim::RemoveLibrary(handle);
  return call.Return(TRUE);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  Call call("GetProcAddress", handle, winsim::NameOrNumberArg(name));
  if (call.Faulted()) return call.Fail<FARPROC>(nullptr);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(handle);
  if (!module) return call.Fail<FARPROC>(nullptr, ERROR_MOD_NOT_FOUND);
  if (!name || !module->exports) return call.Fail<FARPROC>(nullptr, ERROR_PROC_NOT_FOUND);
  const bool by_ordinal = IS_INTRESOURCE(name);
  for (uint32_t i = 0; i < module->exports->count; ++i) {
    const winsim::ExportEntry& e = module->exports->entries[i];
    if (by_ordinal ? e.ordinal == LOWORD(name) : e.name && std::strcmp(e.name, name) == 0)
      return call.Return(reinterpret_cast<FARPROC>(e.address));
  }
  return call.Fail<FARPROC>(nullptr, ERROR_PROC_NOT_FOUND);
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  Call call("GetModuleHandleA", name);
  if (call.Faulted()) return call.Fail<HMODULE>(nullptr);
  std::lock_guard lock(winsim::LoaderLock());
  if (!name) return call.Return(winsim::ProgramModule().handle);
  std::string wanted = winsim::WithDefaultExtension(name);
  if (!winsim::IsBareName(wanted)) {
    DWORD error = 0;
    std::optional<std::string> full = winsim::FullWindowsPath(wanted, &error);
    if (!full) return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
    wanted = *full;
  }
  winsim::Module* module = winsim::FindModuleByName(wanted);
  if (!module) return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
  return call.Return(module->handle);
}

// A path that does not fit is cut and still terminated, with ERROR_INSUFFICIENT_BUFFER: the
// unterminated buffer that older systems leave behind is a trap for every caller.
extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE handle, LPSTR buffer, DWORD size) {
  Call call("GetModuleFileNameA", handle, static_cast<const void*>(buffer), size);
  if (call.Faulted()) return call.Fail<DWORD>(0);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(handle);
  if (!module) return call.Fail<DWORD>(0, ERROR_MOD_NOT_FOUND);
  const std::string path = module == &winsim::ProgramModule() ? winsim::ProgramWindowsPath() : module->windows_path;
  if (!buffer || size == 0) return call.Fail<DWORD>(0, ERROR_INSUFFICIENT_BUFFER);
  if (path.size() < size) {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return call.Return(static_cast<DWORD>(path.size()));
  }
  std::memcpy(buffer, path.data(), size - 1);
  buffer[size - 1] = '\0';
  return call.Fail<DWORD>(size, ERROR_INSUFFICIENT_BUFFER);
}
