// The runtime's files of drive C:, opened by _fsopen as a standard FILE* that reads in Windows text mode.
#include <share.h>
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/paths.h>

#include "edge.h"
#include "open_files.h"
#include "stream_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace {

using FileId = std::pair<dev_t, ino_t>;

struct HeldFiles {
  std::mutex mutex;
  std::multiset<FileId> ids;
};

HeldFiles& Held() {
  // Never destroyed: a stream may be closed by a static destructor at exit.
  static HeldFiles* held = new HeldFiles;
  return *held;
}

class OpenFile : public winsim::HandleObject {
 public:
  explicit OpenFile(std::string name) : name_(std::move(name)) {}
  std::string Describe() const override { return "file \"" + name_ + "\""; }

 private:
  std::string name_;
};

struct Stream {
  Stream(int descriptor, bool text_mode) : fd(descriptor), text(descriptor, text_mode) {}
  int fd;
  FileId id{};
  uintptr_t handle = 0;
  FILE* file = nullptr;  // the host FILE that reads it
  winsim::TextStream text;
};

// What the host's stdio reads of the stream (fread, fgetc, and fgets of host code).
ssize_t ReadStream(void* cookie, char* out, size_t size) {
  winsim::TextStream& text = static_cast<Stream*>(cookie)->text;
  const size_t done = text.Read(out, size);
  return done == 0 && text.Failed() ? -1 : static_cast<ssize_t>(done);
}

int CloseStream(void* cookie) {
  std::unique_ptr<Stream> s(static_cast<Stream*>(cookie));
  {
    HeldFiles& held = Held();
    std::lock_guard lock(held.mutex);
    held.ids.erase(held.ids.find(s->id));
  }
  winsim::UnlistStream(s->file);
  winsim::RemoveHandle(s->handle);
  return ::close(s->fd);
}

// Windows errors as the runtime reports them in errno.
int ErrnoFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
      return EACCES;
    default:
      return EINVAL;
  }
}

// "r", "rt" or "rb": true for text mode.
std::optional<bool> ReadMode(const char* mode) {
  if (!mode) return std::nullopt;
  const std::string_view m = mode;
  if (m == "r" || m == "rt") return true;
  if (m == "rb") return false;
  return std::nullopt;
}

bool KnownShare(int flag) {
  return flag == _SH_DENYRW || flag == _SH_DENYWR || flag == _SH_DENYRD || flag == _SH_DENYNO;
}

FILE* Open(winsim::Call& call, const char* filename, bool text) {
  DWORD error = 0;
  std::optional<std::string> full = winsim::FullWindowsPath(filename, &error);
  if (!full) return call.Fail<FILE*>(nullptr, error);
  if (full->find_first_of("*?") != std::string::npos) return call.Fail<FILE*>(nullptr, ERROR_INVALID_NAME);
  std::optional<fs::path> host = winsim::FindHostPath(*full);
  if (!host) return call.Fail<FILE*>(nullptr, winsim::NotFoundError(*full));

  // Not blocking on open: a FIFO put there since the lookup must not hang the caller.
  const int fd = ::open(host->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return call.Fail<FILE*>(nullptr, winsim::ErrorFromErrno(errno));
  struct stat st;
  const DWORD failure = ::fstat(fd, &st) != 0          ? winsim::ErrorFromErrno(errno)
                        : !S_ISREG(st.st_mode)         ? ERROR_ACCESS_DENIED
                        : ::fcntl(fd, F_SETFL, 0) != 0 ? winsim::ErrorFromErrno(errno)
                                                       : ERROR_SUCCESS;
  if (failure != ERROR_SUCCESS) {
    ::close(fd);
    return call.Fail<FILE*>(nullptr, failure);
  }
  auto stream = std::make_unique<Stream>(fd, text);
  stream->id = {st.st_dev, st.st_ino};
  stream->handle = winsim::AddHandle(std::make_shared<OpenFile>(*full));

  Stream* cookie = stream.get();
  FILE* file = ::fopencookie(cookie, "r", cookie_io_functions_t{ReadStream, nullptr, nullptr, CloseStream});
  if (!file) {
    winsim::RemoveHandle(stream->handle);
    ::close(fd);
    return call.Fail<FILE*>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
  }
  stream.release();  // the FILE owns it now; CloseStream frees it
  cookie->file = file;
  // The stream keeps the decoded bytes; the host's stdio holds none of its own, so that the
  // runtime's fgets and the host's calls read one sequence.
  ::setvbuf(file, nullptr, _IONBF, 0);
  {
    HeldFiles& held = Held();
    std::lock_guard lock(held.mutex);
    held.ids.insert(cookie->id);
  }
  winsim::ListStream(file, &cookie->text);
  return call.Return(file);
}

}  // namespace

namespace winsim {

bool HeldOpen(const fs::path& host) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return false;
  HeldFiles& held = Held();
  std::lock_guard lock(held.mutex);
  return held.ids.count({st.st_dev, st.st_ino}) > 0;
}

}  // namespace winsim

extern "C" FILE* _fsopen(const char* filename, const char* mode, int shflag) {
  winsim::Call call("_fsopen", filename, mode, shflag);
  FILE* file = nullptr;
  if (call.Faulted()) {
    file = call.Fail<FILE*>(nullptr);
  } else if (!filename || !ReadMode(mode) || !KnownShare(shflag)) {
    file = call.Fail<FILE*>(nullptr, ERROR_INVALID_PARAMETER);
  } else {
    file = winsim::Guarded<FILE*>(call, nullptr, [&] { return Open(call, filename, *ReadMode(mode)); });
  }
  if (!file) errno = ErrnoFromError(GetLastError());
  return file;
}
