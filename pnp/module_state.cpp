#include "module_state.h"

namespace {

// Belongs to the library alone: the host program's resource handle is never touched.
HINSTANCE g_resource_handle = nullptr;

}  // namespace

HINSTANCE ModuleResourceHandle() { return g_resource_handle; }

void SetModuleResourceHandle(HINSTANCE instance) { g_resource_handle = instance; }
