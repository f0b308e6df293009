// A compiled resource: a numeric type and id, and its bytes.
#ifndef WINRC_RESOURCE_H
#define WINRC_RESOURCE_H

#include <cstdint>
#include <vector>

namespace winrc {

inline constexpr uint32_t kIconType = 3;        // RT_ICON
inline constexpr uint32_t kStringType = 6;      // RT_STRING
inline constexpr uint32_t kGroupIconType = 14;  // RT_GROUP_ICON

struct Resource {
  uint32_t type = 0;
  uint32_t id = 0;
  std::vector<uint8_t> data;
};

}  // namespace winrc

#endif
