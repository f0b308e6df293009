#include "icon_file.h"

#include "compile_error.h"

#include <winsim/module_image.h>

#include <cstring>

namespace winrc {
namespace {

constexpr size_t kDirSize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr uint32_t kBitmapInfoSize = 40;

uint16_t Word(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(Word(b, at)) | static_cast<uint32_t>(Word(b, at + 2)) << 16;
}

}  // namespace

void AddIconResources(const std::vector<uint8_t>& file, const std::string& file_name, uint32_t group_id,
                      uint32_t* next_image_id, std::vector<Resource>* out) {
  auto fail = [&](const std::string& why) { throw CompileError(file_name + " is not an icon file: " + why); };
  if (file.size() < kDirSize) fail("too short");
  if (Word(file, 0) != 0 || Word(file, 2) != 1) fail("bad header");
  const uint16_t count = Word(file, 4);
  if (count == 0) fail("no images");
  if (file.size() < kDirSize + count * kFileEntrySize) fail("directory cut short");

  winsim::GroupIconHeader header{0, 1, count};
  std::vector<uint8_t> group(sizeof header);
  std::memcpy(group.data(), &header, sizeof header);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = kDirSize + i * kFileEntrySize;
    const uint32_t size = Dword(file, at + 8);
    const uint32_t offset = Dword(file, at + 12);
    if (size == 0 || offset > file.size() || size > file.size() - offset)
      fail("image " + std::to_string(i + 1) + " lies outside the file");
    if (*next_image_id > 0xFFFF) throw CompileError("too many icon images");

    winsim::GroupIconEntry entry{};
    entry.width = file[at];
    entry.height = file[at + 1];
    entry.color_count = file[at + 2];
    entry.reserved = 0;
    entry.planes = Word(file, at + 4);
    entry.bit_count = Word(file, at + 6);
    // Icon files often leave planes and depth at 0; the image's bitmap header has them.
    if ((entry.planes == 0 || entry.bit_count == 0) && size >= kBitmapInfoSize &&
        Dword(file, offset) == kBitmapInfoSize) {
      entry.planes = Word(file, offset + 12);
      entry.bit_count = Word(file, offset + 14);
    }
    entry.bytes_in_res = size;
    entry.id = static_cast<uint16_t>(*next_image_id);

    Resource image{kIconType, *next_image_id, {}};
    image.data.assign(file.begin() + offset, file.begin() + offset + size);
    out->push_back(std::move(image));
    ++*next_image_id;

    const size_t end = group.size();
    group.resize(end + sizeof entry);
    std::memcpy(group.data() + end, &entry, sizeof entry);
  }
  out->push_back({kGroupIconType, group_id, std::move(group)});
}

}  // namespace winrc
