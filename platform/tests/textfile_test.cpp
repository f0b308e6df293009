#include <share.h>
#include <windows.h>

#include <winsim/handles.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using testing_support::TempMachine;

namespace {

// What fgets hands out, piece by piece, with a buffer of `size` bytes.
std::vector<std::string> Lines(FILE* file, int size) {
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<size_t>(size) + 8, '\x5A');
  while (std::fgets(buffer.data(), size, file)) {
    lines.emplace_back(buffer.data());
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '\x5A') << "written past the buffer";
  }
  return lines;
}

TEST(Fsopen, ReadsInWindowsTextMode) {
  TempMachine machine;
  const std::string long_line = std::string(200, 'x') + "[K5583.DRV]\r\n";
  using L = std::vector<std::string>;
  struct Case {
    const char* what;
    std::string content;
    const char* mode;
    int size;
    L lines;
  } cases[] = {
      {"CR LF", "a\r\nb\r\n", "r", 100, {"a\n", "b\n"}},
      {"last line without LF", "a\r\nb", "rt", 100, {"a\n", "b"}},
      {"lone CR", "a\rb\r\r\n", "r", 100, {"a\rb\r\n"}},
      {"CR at the end", "a\r", "r", 100, {"a\r"}},
      {"Ctrl-Z ends the file", "a\r\n\x1A[K5583.DRV]\r\n", "r", 100, {"a\n"}},
      {"Ctrl-Z within a line", "ab\x1A\r\nc\n", "r", 100, {"ab"}},
      {"binary", "a\r\n\x1A\r\n", "rb", 100, {"a\r\n", "\x1A\r\n"}},
      {"long line in pieces",
       long_line,
       "r",
       100,
       {long_line.substr(0, 99), long_line.substr(99, 99), long_line.substr(198, 13) + "\n"}},
      {"empty", "", "r", 100, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine.Write("C:\\WINDOWS\\INF\\OEM0.INF", c.content);
    FILE* file = _fsopen("C:\\WINDOWS\\INF\\OEM0.INF", c.mode, _SH_DENYNO);
    ASSERT_NE(file, nullptr) << std::strerror(errno);
    EXPECT_EQ(Lines(file, c.size), c.lines);
    EXPECT_EQ(std::fclose(file), 0);
  }
}

// Reads come in chunks: a CR that ends one chunk must still meet the LF that starts the next.
TEST(Fsopen, DropsCrBeforeLfAcrossReadBoundaries) {
  TempMachine machine;
  for (size_t at : {1023u, 4094u, 4095u, 4096u, 8191u, 8192u, 65535u}) {
    SCOPED_TRACE(at);
    const std::string content = std::string(at, 'x') + "\r\n" + std::string(100, 'y') + "\r\n";
    machine.Write("C:\\BIG.TXT", content);
    FILE* file = _fsopen("C:\\BIG.TXT", "r", _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    std::string read(content.size(), '\0');
    read.resize(std::fread(read.data(), 1, read.size(), file));
    EXPECT_EQ(read, std::string(at, 'x') + "\n" + std::string(100, 'y') + "\n");
    std::fclose(file);
  }
}

// The same pieces whatever the buffer size, where a CR LF, a piece's end or a Ctrl-Z meets the end
// of a read (the runtime reads 64 KiB at a time).
TEST(Fsopen, HandsOutTheSamePiecesAcrossReadBoundaries) {
  TempMachine machine;
  const std::string tail = std::string(150, 'y') + "\r\n" + std::string(30, 'z') + "\r\r\n\x1A" + "after";
  for (size_t at : {65534u, 65535u, 65536u, 65537u, 131071u}) {
    const std::string content = std::string(at - 1, 'x') + "\r\n" + tail;
    std::string text = std::string(at - 1, 'x') + "\n" + std::string(150, 'y') + "\n" + std::string(30, 'z') + "\r\n";
    machine.Write("C:\\BIG.TXT", content);
    for (int size : {2, 3, 100, 200000}) {
      SCOPED_TRACE("CR LF at " + std::to_string(at) + ", buffer of " + std::to_string(size));
      std::vector<std::string> expected;
      for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start) + 1, start + static_cast<size_t>(size) - 1);
        expected.push_back(text.substr(start, end - start));
        start = end;
      }
      FILE* file = _fsopen("C:\\BIG.TXT", "r", _SH_DENYNO);
      ASSERT_NE(file, nullptr);
      EXPECT_TRUE(Lines(file, size) == expected);
      EXPECT_TRUE(std::feof(file));
      std::fclose(file);
    }
  }
}

// The host's stdio reads the same stream in between, and sees its end as fgets left it.
TEST(Fsopen, ReadsOnWithTheHostsCallsInBetween) {
  TempMachine machine;
  machine.Write("C:\\MIX.TXT", "ab\r\ncd\r\nef");
  FILE* file = _fsopen("C:\\MIX.TXT", "r", _SH_DENYNO);
  ASSERT_NE(file, nullptr);
  char line[100];
  EXPECT_EQ(std::fgetc(file), 'a');
  EXPECT_STREQ(std::fgets(line, sizeof line, file), "b\n");
  EXPECT_EQ(std::ungetc('X', file), 'X');
  EXPECT_STREQ(std::fgets(line, sizeof line, file), "Xcd\n");
  EXPECT_FALSE(std::feof(file));
  EXPECT_STREQ(std::fgets(line, sizeof line, file), "ef");
  EXPECT_TRUE(std::feof(file));
  EXPECT_EQ(std::fgets(line, sizeof line, file), nullptr);
  EXPECT_EQ(std::fgetc(file), EOF);
  std::clearerr(file);
  EXPECT_FALSE(std::feof(file));
  EXPECT_EQ(std::fgets(line, sizeof line, file), nullptr);
  EXPECT_TRUE(std::feof(file));
  std::fclose(file);
}

TEST(Fsopen, OpensRelativeToTheCurrentDirectoryWithoutRegardToCase) {
  TempMachine machine;
  machine.Write("C:\\WINDOWS\\INF\\OEM7.INF", "line\r\n");
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows\\inf"));
  FILE* file = _fsopen("oem7.inf", "r", _SH_DENYNO);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Lines(file, 100), std::vector<std::string>{"line\n"});
  std::fclose(file);
}

TEST(Fsopen, FailsWithErrnoAndLastError) {
  TempMachine machine;
  machine.Write("C:\\A.TXT", "x");
  struct Case {
    const char* name;
    const char* mode;
    int share;
    int error_number;
    DWORD error;
  } cases[] = {
      {"C:\\NOPE.TXT", "r", _SH_DENYNO, ENOENT, ERROR_FILE_NOT_FOUND},
      {"C:\\NOPE\\A.TXT", "r", _SH_DENYNO, ENOENT, ERROR_PATH_NOT_FOUND},
      {"D:\\A.TXT", "r", _SH_DENYNO, ENOENT, ERROR_PATH_NOT_FOUND},
      {"C:\\WINDOWS", "r", _SH_DENYNO, EACCES, ERROR_ACCESS_DENIED},
      {"C:\\*.TXT", "r", _SH_DENYNO, EINVAL, ERROR_INVALID_NAME},
      {"C:\\A.TXT", "w", _SH_DENYNO, EINVAL, ERROR_INVALID_PARAMETER},
      {"C:\\A.TXT", "r+", _SH_DENYNO, EINVAL, ERROR_INVALID_PARAMETER},
      {"C:\\A.TXT", "r", 0, EINVAL, ERROR_INVALID_PARAMETER},
      {nullptr, "r", _SH_DENYNO, EINVAL, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "NULL");
    errno = 0;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(_fsopen(c.name, c.mode, c.share), nullptr);
    EXPECT_EQ(errno, c.error_number);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(winsim::OpenHandles().empty());
}

// An open file is a handle of the process until fclose, and Windows won't delete it meanwhile.
TEST(Fsopen, HoldsAHandleUntilClosed) {
  TempMachine machine;
  machine.Write("C:\\WINDOWS\\INF\\OEM1.INF", "x\r\n");
  FILE* file = _fsopen("C:\\WINDOWS\\INF\\OEM1.INF", "r", _SH_DENYNO);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(winsim::OpenHandles().size(), 1u);
  EXPECT_EQ(winsim::OpenHandles()[0].description, "file \"C:\\WINDOWS\\INF\\OEM1.INF\"");
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\INF\\OEM1.INF"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(std::fclose(file), 0);
  EXPECT_TRUE(winsim::OpenHandles().empty());
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\INF\\OEM1.INF"));
}

}  // namespace
