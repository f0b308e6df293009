// A new file that appears under its name whole or not at all: for put and snapshot, whose readers
// must never see half a file, also when the writer is killed.
#ifndef WINSIM_TOOL_WHOLE_FILE_H
#define WINSIM_TOOL_WHOLE_FILE_H

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace winsim_tool {

class WholeFile {
 public:
  // The bytes go to a file without a name in `staging`, a folder on the target's file system, so
  // that a killed writer leaves nothing behind. Throws CommandError.
  explicit WholeFile(const std::filesystem::path& staging);
  ~WholeFile();
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;

  void Write(std::string_view bytes);
  // Copies a host file's bytes; throws CommandError naming `source`.
  void CopyFrom(const std::filesystem::path& source);
  // Gives the file `mode` and the name `target` in one step, replacing what was there.
  void Publish(const std::filesystem::path& target, mode_t mode);

 private:
  std::filesystem::path staging_;
  int fd_ = -1;
  std::string name_;  // where the file stands until it is published, when it needs a name
};

}  // namespace winsim_tool

#endif
