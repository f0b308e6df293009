#include <winsim/machine.h>

#include <winsim/db.h>
#include <winsim/handles.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include "flags.h"
#include "process_end.h"
#include "schema.h"

#include <atomic>
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

void CreateMachine(const fs::path& folder, WindowsFlavour os, unsigned codepage) {
  if (codepage != 1252 && codepage != 932)
    throw MachineError("code page " + std::to_string(codepage) + " is not one of 1252, 932");
  std::error_code ec;
  if (fs::exists(folder, ec) && !(fs::is_directory(folder, ec) && fs::is_empty(folder, ec)))
    throw MachineError(folder.string() + " exists and is not an empty folder");
  fs::create_directories(folder, ec);
  if (ec) throw MachineError("cannot create " + folder.string() + ": " + ec.message());

  const bool nt = os == WindowsFlavour::Nt4;
  const std::string windir = nt ? "WINNT" : "WINDOWS";
  const std::string sysdir = nt ? "system32" : "SYSTEM";
  const std::string infdir = nt ? "inf" : "INF";
  try {
    fs::create_directories(folder / "drive_c" / windir / sysdir);
    fs::create_directories(folder / "drive_c" / windir / infdir);
    Db db((folder / "machine.db").string(), true);
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
    CreateFlags(folder);
  } catch (const std::exception& e) {
    throw MachineError("cannot create a machine in " + folder.string() + ": " + e.what());
  }
}

Machine::Machine(const fs::path& folder) : folder_(fs::absolute(folder)) {
  std::error_code ec;
  if (!fs::is_directory(folder_, ec)) throw MachineError("no machine at " + folder_.string() + " (run: winsim init)");
  if (!fs::exists(folder_ / "machine.db", ec) || !fs::is_directory(folder_ / "drive_c", ec) ||
      !fs::exists(folder_ / "flags.shm", ec))
    throw MachineError(folder_.string() + " is not a machine folder");
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
      auto db = std::make_unique<Db>((folder_ / "machine.db").string(), false);
      if (ReadSetting(*db, "magic") != kMachineMagic) throw MachineError(folder_.string() + " is not a machine folder");
      db_.store(db.release(), std::memory_order_release);
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
