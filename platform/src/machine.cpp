#include <winsim/machine.h>

#include <winsim/db.h>
#include <winsim/handles.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include "flags.h"
#include "process_end.h"
#include "schema.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace winsim {
namespace {

std::mutex g_machine_mutex;
std::unique_ptr<Machine> g_machine;
// Every call asks for the machine: the one in use is read without the lock.
std::atomic<Machine*> g_current{nullptr};

const char* Flavour(WindowsFlavour os) { return os == WindowsFlavour::Nt4 ? "nt4" : "98"; }

std::string ReadSetting(Db& db, const char* name) {
  Stmt s(db, "SELECT value FROM settings WHERE name = ?");
  s.Bind(1, name);
  return s.Step() ? s.Text(0) : std::string();
}

void WriteSetting(Db& db, const char* name, const std::string& value) {
  Stmt s(db, "INSERT OR REPLACE INTO settings(name, value) VALUES (?, ?)");
  s.Bind(1, name).Bind(2, value).Run();
}

// Whether the database holds a machine, asked without writing to it: a file that is no machine's
// must stay byte for byte as it was (opening it for the machine would switch it to WAL). Throws
// MachineError when the machine's writers keep it busy beyond the usual wait.
bool HoldsMachine(const fs::path& folder) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2((folder / "machine.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  bool found = false;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, kBusyWaitMs);
    rc = sqlite3_prepare_v2(db, "SELECT value FROM settings WHERE name = 'magic'", -1, &stmt, nullptr);
  }
  if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const auto* magic = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    found = magic && std::string_view(magic) == kMachineMagic;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
    throw MachineError("machine busy: " + folder.string() + " stayed locked by another program");
  // A database whose pages cannot be read: a machine once, perhaps, but no longer usable.
  if ((rc & 0xff) == SQLITE_CORRUPT)
    throw MachineError("machine damaged: the database of " + folder.string() + " cannot be read");
  return found;
}

// The settings as the machine's page keeps them, once some process has copied them there.
bool SettingsFromPage(SharedFlags* flags, MachineSettings* settings) {
  const SharedSettings& page = SettingsOf(flags);
  if (page.copied.load(std::memory_order_acquire) != kSettingsCopied) return false;
  settings->os = page.nt4 ? WindowsFlavour::Nt4 : WindowsFlavour::Win98;
  settings->codepage = page.codepage;
  settings->windows_dir.assign(page.windows_dir, ::strnlen(page.windows_dir, sizeof page.windows_dir));
  settings->system_dir.assign(page.system_dir, ::strnlen(page.system_dir, sizeof page.system_dir));
  return true;
}

// Processes that copy at the same time write the same bytes.
void CopySettingsToPage(const MachineSettings& settings, SharedFlags* flags) {
  SharedSettings& page = SettingsOf(flags);
  if (settings.windows_dir.size() >= sizeof page.windows_dir || settings.system_dir.size() >= sizeof page.system_dir)
    return;
  page.nt4 = settings.os == WindowsFlavour::Nt4;
  page.codepage = settings.codepage;
  std::memset(page.windows_dir, 0, sizeof page.windows_dir);
  std::memcpy(page.windows_dir, settings.windows_dir.data(), settings.windows_dir.size());
  std::memset(page.system_dir, 0, sizeof page.system_dir);
  std::memcpy(page.system_dir, settings.system_dir.data(), settings.system_dir.size());
  page.copied.store(kSettingsCopied, std::memory_order_release);
}

void SetUpProcessOnMachine() {
  const char* cwd = std::getenv(kEnvCurrentDirectory);
  ResetCurrentDirectory(cwd && *cwd ? cwd : "C:\\");
}

}  // namespace

fs::path DefaultMachineFolder() {
  if (const char* env = std::getenv(kEnvMachine); env && *env) return fs::absolute(env);
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".winsim";
}

void CreateMachine(const fs::path& target, WindowsFlavour os, unsigned codepage,
                   const std::function<void(const fs::path&)>& furnish) {
  if (codepage != 1252 && codepage != 932)
    throw MachineError("code page " + std::to_string(codepage) + " is not one of 1252, 932");
  const fs::path folder = fs::absolute(target).lexically_normal();
  std::error_code ec;
  auto refuse = [&] {
    if (fs::exists(folder / "machine.db", ec))
      throw MachineError("a machine exists in " + folder.string() + " already");
    throw MachineError(folder.string() + " exists and is not an empty folder");
  };
  if (fs::exists(folder, ec) && !(fs::is_directory(folder, ec) && fs::is_empty(folder, ec))) refuse();
  fs::create_directories(folder.parent_path(), ec);
  if (ec) throw MachineError("cannot create " + folder.parent_path().string() + ": " + ec.message());
  // Built beside its place, so that the rename that puts it there is one step.
  std::string pattern = (folder.parent_path() / ("." + folder.filename().string() + ".new-XXXXXX")).string();
  if (!::mkdtemp(pattern.data()))
    throw MachineError("cannot create a machine in " + folder.string() + ": " + std::strerror(errno));
  const fs::path staged = pattern;
  // As a folder made the ordinary way would be, not private as a temporary one.
  fs::permissions(staged,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                      fs::perms::others_exec,
                  ec);

  const bool nt = os == WindowsFlavour::Nt4;
  const std::string windir = nt ? "WINNT" : "WINDOWS";
  const std::string sysdir = nt ? "system32" : "SYSTEM";
  const std::string infdir = nt ? "inf" : "INF";
  try {
    fs::create_directories(staged / "drive_c" / windir / sysdir);
    fs::create_directories(staged / "drive_c" / windir / infdir);
    {
      Db db((staged / "machine.db").string(), true);
      Tx tx(db);
      db.Exec(kSchema);
      WriteSetting(db, "magic", kMachineMagic);
      WriteSetting(db, "os", Flavour(os));
      WriteSetting(db, "codepage", std::to_string(codepage));
      WriteSetting(db, "windows_dir", "C:\\" + windir);
      WriteSetting(db, "system_dir", "C:\\" + windir + "\\" + sysdir);
      // The shell reads its Run key from the first start on.
      const char* run[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"};
      int64_t parent = 1;
      std::string path;
      for (const char* part : run) {
        std::string fold = part;
        for (char& c : fold) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        path += (path.empty() ? "" : "\\") + fold;
        Stmt s(db, "INSERT INTO reg_keys(parent, name, path) VALUES (?, ?, ?)");
        s.Bind(1, parent).Bind(2, part).Bind(3, path).Run();
        parent = db.LastInsertId();
      }
      tx.Commit();
    }
    CreateFlags(staged);
    if (furnish) furnish(staged);
  } catch (const std::exception& e) {
    fs::remove_all(staged, ec);
    throw MachineError("cannot create a machine in " + folder.string() + ": " + e.what());
  }
  // Takes the place of an absent or empty folder only: a machine that another creator put there
  // first stays as it is.
  if (::rename(staged.c_str(), folder.c_str()) != 0) {
    const int error = errno;
    fs::remove_all(staged, ec);
    if (error == ENOTEMPTY || error == EEXIST || error == ENOTDIR || error == EISDIR) refuse();
    throw MachineError("cannot create a machine in " + folder.string() + ": " + std::strerror(error));
  }
}

Machine::Machine(const fs::path& folder) : folder_(fs::absolute(folder)) {
  std::error_code ec;
  if (!fs::is_directory(folder_, ec)) throw MachineError("no machine at " + folder_.string() + " (run: winsim init)");
  if (!fs::exists(folder_ / "machine.db", ec) || !fs::is_directory(folder_ / "drive_c", ec) ||
      !fs::exists(folder_ / "flags.shm", ec))
    throw MachineError(folder_.string() + " is not a machine folder");
  // Opening a machine writes to its folder (the database's log and shared memory): one that cannot
  // be written is refused at once, in words, not by the database halfway through a command.
  if (::access((folder_ / "machine.db").c_str(), W_OK) != 0 || ::access(folder_.c_str(), W_OK) != 0)
    throw MachineError(folder_.string() + " is read-only; a machine is used only with write access to its folder");
  try {
    SharedFlags* flags = MapFlags(folder_);
    // The database waits for its first use, unless the settings have to come from it.
    if (!SettingsFromPage(flags, &settings_)) {
      Db& db = Database();
      settings_.os = ReadSetting(db, "os") == "nt4" ? WindowsFlavour::Nt4 : WindowsFlavour::Win98;
      settings_.codepage = static_cast<unsigned>(std::stoul(ReadSetting(db, "codepage")));
      settings_.windows_dir = ReadSetting(db, "windows_dir");
      settings_.system_dir = ReadSetting(db, "system_dir");
      CopySettingsToPage(settings_, flags);
    }
    UseFlags(flags);
    WatchProcessEnd();
  } catch (const MachineError&) {
    throw;
  } catch (const std::exception& e) {
    throw MachineError(folder_.string() + " is not a usable machine: " + e.what());
  }
}

Machine::~Machine() { delete db_.load(); }

Db& Machine::Database() {
  if (Db* db = db_.load(std::memory_order_acquire)) return *db;
  std::lock_guard lock(db_mutex_);
  if (!db_.load(std::memory_order_relaxed)) {
    try {
      // Asked before the database is opened for writing, which would change a file that is no machine's.
      if (!HoldsMachine(folder_)) throw MachineError(folder_.string() + " is not a machine folder");
      db_.store(new Db((folder_ / "machine.db").string(), false), std::memory_order_release);
    } catch (const MachineError&) {
      throw;
    } catch (const std::exception& e) {
      throw MachineError(folder_.string() + " is not a usable machine: " + e.what());
    }
  }
  return *db_.load(std::memory_order_relaxed);
}

void UseMachine(const fs::path& folder) {
  auto next = std::make_unique<Machine>(folder);
  DropAllHandles();
  {
    std::lock_guard lock(g_machine_mutex);
    g_machine = std::move(next);
    g_current.store(g_machine.get(), std::memory_order_release);
  }
  SetUpProcessOnMachine();
}

Machine& CurrentMachine() {
  if (Machine* current = g_current.load(std::memory_order_acquire)) return *current;
  std::lock_guard lock(g_machine_mutex);
  if (!g_machine) {
    g_machine = std::make_unique<Machine>(DefaultMachineFolder());
    g_current.store(g_machine.get(), std::memory_order_release);
    SetUpProcessOnMachine();
  }
  return *g_machine;
}

bool HaveMachine() {
  try {
    CurrentMachine();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace winsim
