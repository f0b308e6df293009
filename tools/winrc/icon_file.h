// An icon file (.ico) split as Windows keeps it in a module: one RT_ICON resource per image and an
// RT_GROUP_ICON directory that names each image by its RT_ICON id.
#ifndef WINRC_ICON_FILE_H
#define WINRC_ICON_FILE_H

#include "resource.h"

#include <string>
#include <vector>

namespace winrc {

// Appends the images (ids from *next_image_id on, which it advances) and then the group `group_id`.
// Throws CompileError naming `file_name` when the bytes are not an icon file.
void AddIconResources(const std::vector<uint8_t>& file, const std::string& file_name, uint32_t group_id,
                      uint32_t* next_image_id, std::vector<Resource>* out);

}  // namespace winrc

#endif
