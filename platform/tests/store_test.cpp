// The machine's store as its users meet it when something goes wrong: a stopped writer, a damaged
// file, a long trace. Failures come in the user's terms and memory and disk stay bounded.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/registry.h>

#include <gtest/gtest.h>

#include "temp_machine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using testing_support::TempMachine;

namespace {

namespace fs = std::filesystem;

// No SQL and none of SQLite's own words reach a user.
void ExpectUserTerms(const std::string& message) {
  for (const char* raw : {"BEGIN", "SELECT", "INSERT", "CREATE", "database is locked", "malformed", "sqlite"})
    EXPECT_EQ(message.find(raw), std::string::npos) << message;
}

// A process of the machine that stopped while it held the store for a write.
class StoppedWriter {
 public:
  explicit StoppedWriter(const fs::path& machine) {
    pid_ = ::fork();
    if (pid_ == 0) {
      winsim::Db db((machine / "machine.db").string(), false);
      winsim::Tx tx(db);
      ::raise(SIGSTOP);
      ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid_, &status, WUNTRACED), pid_);
    EXPECT_TRUE(WIFSTOPPED(status));
  }
  ~StoppedWriter() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

TEST(Store, AStoppedWriterMakesOthersGiveUpAsMachineBusy) {
  TempMachine machine;
  StoppedWriter writer(machine.Folder());
  try {
    winsim::ImportRegedit4("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Kit]\n");
    ADD_FAILURE() << "imported past a held store";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("machine busy"), std::string::npos) << e.what();
    ExpectUserTerms(e.what());
  }
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Kit", &key), ERROR_REGISTRY_IO_FAILED);
}

TEST(Store, ADamagedDatabaseIsReportedAsSuch) {
  TempMachine machine;
  std::string many = "REGEDIT4\n\n";
  for (int i = 0; i < 2000; ++i) many += "[HKEY_LOCAL_MACHINE\\Kit\\K" + std::to_string(i) + "]\n\"V\"=\"value\"\n";
  winsim::ImportRegedit4(many);
  const fs::path db = machine.Folder() / "machine.db";
  winsim::UseMachine(machine.Folder());  // closes this process's connection, so the pages land in the file
  {
    winsim::Db checkpoint(db.string(), false);
    checkpoint.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  // Garbage over every page but the first, which keeps the file looking like a database.
  std::fstream file(db, std::ios::in | std::ios::out | std::ios::binary);
  const std::string garbage(fs::file_size(db) - 4096, '\x5a');
  file.seekp(4096);
  file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  file.close();
  try {
    winsim::UseMachine(machine.Folder());
    winsim::ExportRegedit4();
    ADD_FAILURE() << "read a damaged machine";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    ExpectUserTerms(e.what());
  }
}

uintmax_t StoreSize(const TempMachine& machine) {
  std::error_code ec;
  const uintmax_t wal = fs::file_size(machine.Folder() / "machine.db-wal", ec);
  return fs::file_size(machine.Folder() / "machine.db") + (ec ? 0 : wal);
}

// A trace of `rows` lines of about 300 bytes each, written at once.
void FillTrace(int rows) {
  winsim::SetTrace(true);
  winsim::Db& db = winsim::CurrentMachine().Database();
  winsim::Tx tx(db);
  const std::string args(300, 'a');
  for (int i = 0; i < rows; ++i) winsim::TraceLine("lstrlenA", args, "300", 0);
  tx.Commit();
  winsim::SetTrace(false);
}

TEST(Store, ClearingTheTraceGivesItsRoomBack) {
  TempMachine machine;
  FillTrace(20000);
  const uintmax_t full = StoreSize(machine);
  ASSERT_GT(full, 5'000'000u);
  winsim::ClearTrace();
  EXPECT_TRUE(winsim::ReadTrace().empty());
  EXPECT_LT(StoreSize(machine), full / 10);
}

#if !defined(__SANITIZE_ADDRESS__)
// `winsim trace` prints a trace far larger than its own memory: it streams.
TEST(Store, PrintingALongTraceTakesBoundedMemory) {
  TempMachine machine;
  FillTrace(300000);  // about 100 MB read whole
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    const std::string winsim = testing_support::BinPath("winsim").string();
    const std::string folder = machine.Folder().string();
    ::execl(winsim.c_str(), "winsim", "--machine", folder.c_str(), "trace", nullptr);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(usage.ru_maxrss, 40 * 1024) << "KB resident at most";
}
#endif

}  // namespace
