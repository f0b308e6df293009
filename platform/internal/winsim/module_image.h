// What the resource compiler (winrc) builds into a module and the loader reads back.
//
// Resources live in the module's ELF section ".rsrc" as one or more blobs, all little-endian:
//   ResourceBlobHeader {magic "WRS1", size of the whole blob, entry count}
//   ResourceEntry[count] {type, id, offset of the data from the blob's start, size}, sorted by type then id
//   the entries' data, each starting on a 4-byte boundary; the blob's size is a multiple of 4
// Types and ids are numbers. RT_ICON and RT_GROUP_ICON hold what Windows holds (the images of an
// icon file, and its directory whose entries end in the image's RT_ICON id). RT_STRING holds one
// entry per string id, the string's bytes in the module's code page without terminator, rather
// than Windows' bundles of sixteen UTF-16 strings.
//
// The export table is the symbol `winsim_export_table` of the module (default visibility): the
// module's recorded name ("K4471PNP.dll") and its entries {name or null when exported by ordinal
// only, ordinal, address}.
#ifndef WINSIM_MODULE_IMAGE_H
#define WINSIM_MODULE_IMAGE_H

#include <cstdint>

namespace winsim {

inline constexpr const char* kResourceSection = ".rsrc";
inline constexpr char kResourceMagic[4] = {'W', 'R', 'S', '1'};

struct ResourceBlobHeader {
  char magic[4];
  uint32_t size;
  uint32_t count;
};

struct ResourceEntry {
  uint32_t type;
  uint32_t id;
  uint32_t offset;
  uint32_t size;
};

// The icon directory of an RT_GROUP_ICON resource: a header then one 14-byte entry per image.
#pragma pack(push, 2)
struct GroupIconHeader {
  uint16_t reserved;  // 0
  uint16_t type;      // 1 for icons
  uint16_t count;
};
struct GroupIconEntry {
  uint8_t width;
  uint8_t height;
  uint8_t color_count;
  uint8_t reserved;
  uint16_t planes;
  uint16_t bit_count;
  uint32_t bytes_in_res;
  uint16_t id;  // the image's RT_ICON id
};
#pragma pack(pop)
static_assert(sizeof(GroupIconHeader) == 6 && sizeof(GroupIconEntry) == 14);

inline constexpr const char* kExportTableSymbol = "winsim_export_table";
inline constexpr uint32_t kExportTableMagic = 0x57455831;  // "WEX1"

struct ExportEntry {
  const char* name;
  uint32_t ordinal;
  void (*address)(void);
};

struct ExportTable {
  uint32_t magic;
  uint32_t count;
  const char* module_name;
  const ExportEntry* entries;
};

}  // namespace winsim

// Defined by the export table source that winrc writes; found by the loader with dlsym.
extern "C" __attribute__((visibility("default"))) const winsim::ExportTable winsim_export_table;

#endif
