// Resources, read in place from the module's ".rsrc" section (layout in winsim/module_image.h).
#include <windows.h>

#include <winsim/call.h>
#include <winsim/module_image.h>

#include "module_table.h"

#include <cstring>
#include <optional>
#include <vector>

namespace winsim {
namespace {

struct Blob {
  const uint8_t* begin;
  const ResourceEntry* entries;
  uint32_t count;
  uint32_t size;
};

// The blobs of the section, as far as they are sound; a damaged one ends the walk.
std::vector<Blob> Blobs(const Module& module) {
  std::vector<Blob> out;
  size_t at = 0;
  while (at + sizeof(ResourceBlobHeader) <= module.resources_size) {
    ResourceBlobHeader header;
    std::memcpy(&header, module.resources + at, sizeof header);
    const size_t room = module.resources_size - at;
    if (std::memcmp(header.magic, kResourceMagic, sizeof header.magic) != 0 || header.size > room ||
        header.size < sizeof header || header.count > (header.size - sizeof header) / sizeof(ResourceEntry))
      break;
    out.push_back({module.resources + at, reinterpret_cast<const ResourceEntry*>(module.resources + at + sizeof header),
                   header.count, header.size});
    at += (header.size + 3) & ~size_t{3};
  }
  return out;
}

bool Sound(const Blob& blob, const ResourceEntry& e) { return e.offset <= blob.size && e.size <= blob.size - e.offset; }

// A resource by numeric type and id, or null with the error Windows gives.
const ResourceEntry* Find(const Module& module, uint32_t type, uint32_t id, DWORD* error) {
  std::vector<Blob> blobs = Blobs(module);
  *error = blobs.empty() ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
  for (const Blob& blob : blobs) {
    for (uint32_t i = 0; i < blob.count; ++i) {
      const ResourceEntry& e = blob.entries[i];
      if (e.type != type) continue;
      *error = ERROR_RESOURCE_NAME_NOT_FOUND;
      if (e.id == id && Sound(blob, e)) return &e;
    }
  }
  return nullptr;
}

// The data of a directory entry of this module's resources; null for anything else.
const uint8_t* DataOf(const Module& module, const void* entry) {
  const auto at = reinterpret_cast<uintptr_t>(entry);
  for (const Blob& blob : Blobs(module)) {
    const auto first = reinterpret_cast<uintptr_t>(blob.entries);
    if (at < first || at >= first + blob.count * sizeof(ResourceEntry) || (at - first) % sizeof(ResourceEntry))
      continue;
    const ResourceEntry& e = blob.entries[(at - first) / sizeof(ResourceEntry)];
    return Sound(blob, e) ? blob.begin + e.offset : nullptr;
  }
  return nullptr;
}

// MAKEINTRESOURCE values and "#123" name numbers; other names are not kept by this machine.
std::optional<uint32_t> Number(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return LOWORD(name);
  if (name[0] != '#' || !name[1]) return std::nullopt;
  uint32_t value = 0;
  for (const char* p = name + 1; *p; ++p) {
    if (*p < '0' || *p > '9' || value > 0xFFFF) return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(*p - '0');
  }
  return value <= 0xFFFF ? std::optional<uint32_t>(value) : std::nullopt;
}

// Bytes of `text` that fit in `room` without cutting a double-byte character in two.
size_t FittingBytes(const uint8_t* text, size_t size, size_t room) {
  size_t fit = 0;
  while (fit < size) {
    size_t step = IsDBCSLeadByte(text[fit]) && fit + 1 < size ? 2 : 1;
    if (fit + step > room) break;
    fit += step;
  }
  return fit;
}

}  // namespace
}  // namespace winsim

using winsim::Call;

extern "C" int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  Call call("LoadStringA", instance, id, static_cast<const void*>(buffer), size);
  if (call.Faulted()) return call.Fail(0);
  if (!buffer) return call.Fail(0, ERROR_INVALID_PARAMETER);
  if (size <= 0) return call.Return(0);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(instance);
  DWORD error = module ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND;
  const winsim::ResourceEntry* entry =
      module && id <= 0xFFFF ? winsim::Find(*module, LOWORD(RT_STRING), id, &error) : nullptr;
  if (!entry) {
    buffer[0] = '\0';
    return call.Fail(0, error);
  }
  const uint8_t* text = winsim::DataOf(*module, entry);
  size_t copied = winsim::FittingBytes(text, entry->size, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return call.Return(static_cast<int>(copied));
}

extern "C" HRSRC WINAPI FindResourceA(HMODULE handle, LPCSTR name, LPCSTR type) {
  Call call("FindResourceA", handle, winsim::NameOrNumberArg(name), winsim::NameOrNumberArg(type));
  if (call.Faulted()) return call.Fail<HRSRC>(nullptr);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(handle);
  if (!module) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
  if (!type || !winsim::Number(type)) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (!name || !winsim::Number(name)) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
  DWORD error = 0;
  const winsim::ResourceEntry* entry = winsim::Find(*module, *winsim::Number(type), *winsim::Number(name), &error);
  if (!entry) return call.Fail<HRSRC>(nullptr, error);
  return call.Return(reinterpret_cast<HRSRC>(const_cast<winsim::ResourceEntry*>(entry)));
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE handle, HRSRC resource) {
  Call call("LoadResource", handle, resource);
  if (call.Faulted()) return call.Fail<HGLOBAL>(nullptr);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(handle);
  const uint8_t* data = module && resource ? winsim::DataOf(*module, resource) : nullptr;
  if (!data) return call.Fail<HGLOBAL>(nullptr, ERROR_INVALID_HANDLE);
  return call.Return(static_cast<HGLOBAL>(const_cast<uint8_t*>(data)));
}

// The data stays where the module holds it, as on Windows: locking is only handing out the address.
extern "C" LPVOID WINAPI LockResource(HGLOBAL data) {
  Call call("LockResource", data);
  if (call.Faulted()) return call.Fail<LPVOID>(nullptr);
  return call.Return(data);
}

extern "C" DWORD WINAPI SizeofResource(HMODULE handle, HRSRC resource) {
  Call call("SizeofResource", handle, resource);
  if (call.Faulted()) return call.Fail<DWORD>(0);
  std::lock_guard lock(winsim::LoaderLock());
  winsim::Module* module = winsim::FindModule(handle);
  const auto* entry = reinterpret_cast<const winsim::ResourceEntry*>(resource);
  if (!module || !resource || !winsim::DataOf(*module, entry)) return call.Fail<DWORD>(0, ERROR_INVALID_HANDLE);
  return call.Return(static_cast<DWORD>(entry->size));
}
