// The runtime's files of drive C:, read in Windows text mode through a standard FILE*.
#include <share.h>
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/paths.h>

#include "edge.h"
#include "open_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  int fd = -1;
  bool text = true;
  FileId id{};
  uintptr_t handle = 0;
  // Text mode reads ahead so that a CR at the end of one read can still meet its LF.
  unsigned char raw[64 * 1024];  // large reads: a file is mostly read whole, line by line
  size_t pos = 0, len = 0;
  bool pending_cr = false;
  bool at_ctrl_z = false;  // the buffer ends where the file does (its end, or a Ctrl-Z)
  bool ended = false;
};

ssize_t ReadRaw(int fd, void* buffer, size_t size) {
  ssize_t n;
  do n = ::read(fd, buffer, size);
  while (n < 0 && errno == EINTR);
  return n;
}

ssize_t ReadStream(void* cookie, char* out, size_t size) {
  Stream& s = *static_cast<Stream*>(cookie);
  if (!s.text) return ReadRaw(s.fd, out, size);
  size_t done = 0;
  while (done < size && !s.ended) {
    if (s.pos == s.len) {
      // The end of the file, or the Ctrl-Z that stands for it: a CR right before it stays.
      if (s.at_ctrl_z) {
        if (s.pending_cr) out[done++] = '\r';
        s.pending_cr = false;
        s.ended = true;
        break;
      }
      if (done > 0 && !s.pending_cr) break;
      const ssize_t n = ReadRaw(s.fd, s.raw, sizeof s.raw);
      if (n < 0) return done ? static_cast<ssize_t>(done) : -1;
      s.pos = 0;
      s.len = static_cast<size_t>(n);
      // Nothing after a Ctrl-Z is ever seen, so the read ends there.
      const void* ctrl_z = std::memchr(s.raw, 0x1A, s.len);
      if (ctrl_z) s.len = static_cast<size_t>(static_cast<const unsigned char*>(ctrl_z) - s.raw);
      s.at_ctrl_z = ctrl_z != nullptr || n == 0;
      continue;
    }
    if (s.pending_cr) {
      s.pending_cr = false;
      if (s.raw[s.pos] == '\n') {
        out[done++] = '\n';
        ++s.pos;
      } else {
        out[done++] = '\r';  // a CR not followed by LF stays; the byte after it is read next round
      }
      continue;
    }
    // Everything up to the next CR passes unchanged: copy it in one go.
    const unsigned char* run = s.raw + s.pos;
    const size_t room = std::min(s.len - s.pos, size - done);
    const void* cr = std::memchr(run, '\r', room);
    const size_t plain = cr ? static_cast<size_t>(static_cast<const unsigned char*>(cr) - run) : room;
    std::memcpy(out + done, run, plain);
    done += plain;
    s.pos += plain;
    if (cr) {
      ++s.pos;
      s.pending_cr = true;
    }
  }
  return static_cast<ssize_t>(done);
}

int CloseStream(void* cookie) {
  std::unique_ptr<Stream> s(static_cast<Stream*>(cookie));
  {
    HeldFiles& held = Held();
    std::lock_guard lock(held.mutex);
    held.ids.erase(held.ids.find(s->id));
  }
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

  auto stream = std::make_unique<Stream>();
  stream->text = text;
  // Not blocking on open: a FIFO put there since the lookup must not hang the caller.
  stream->fd = ::open(host->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (stream->fd < 0) return call.Fail<FILE*>(nullptr, winsim::ErrorFromErrno(errno));
  struct stat st;
  const DWORD failure = ::fstat(stream->fd, &st) != 0          ? winsim::ErrorFromErrno(errno)
                        : !S_ISREG(st.st_mode)                 ? ERROR_ACCESS_DENIED
                        : ::fcntl(stream->fd, F_SETFL, 0) != 0 ? winsim::ErrorFromErrno(errno)
                                                               : ERROR_SUCCESS;
  if (failure != ERROR_SUCCESS) {
    ::close(stream->fd);
    return call.Fail<FILE*>(nullptr, failure);
  }
  stream->id = {st.st_dev, st.st_ino};
  stream->handle = winsim::AddHandle(std::make_shared<OpenFile>(*full));

  Stream* cookie = stream.get();
  FILE* file = ::fopencookie(cookie, "r", cookie_io_functions_t{ReadStream, nullptr, nullptr, CloseStream});
  if (!file) {
    winsim::RemoveHandle(stream->handle);
    ::close(stream->fd);
    return call.Fail<FILE*>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
  }
  stream.release();  // the FILE owns it now; CloseStream frees it
  ::setvbuf(file, nullptr, _IOFBF, sizeof cookie->raw);
  {
    HeldFiles& held = Held();
    std::lock_guard lock(held.mutex);
    held.ids.insert(cookie->id);
  }
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
