// Files this process holds open through the runtime (_fsopen). They are opened without leave to
// delete, so Windows refuses DeleteFileA on them until they are closed.
#ifndef WINSIM_OPEN_FILES_H
#define WINSIM_OPEN_FILES_H

#include <filesystem>

namespace winsim {

bool HeldOpen(const std::filesystem::path& host);

}  // namespace winsim

#endif
