// The machine database's tables, created once by CreateMachine.
#ifndef WINSIM_SCHEMA_H
#define WINSIM_SCHEMA_H

namespace winsim {

inline constexpr const char* kSchema = R"sql(
CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);

-- HKEY_LOCAL_MACHINE: key 1 is the root. `path` is the key's path below the root with ASCII letters
-- folded to lower case, so that one index finds a key by its full name in any case. Ids are never
-- reused, so that a handle to a deleted key stays deleted when a key of the same name comes back.
-- Subtrees are deleted by the registry code itself: a cascade would stop at the trigger depth.
CREATE TABLE reg_keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER,
  name BLOB NOT NULL,
  path BLOB NOT NULL UNIQUE);
CREATE INDEX reg_keys_parent ON reg_keys(parent);
CREATE TABLE reg_values(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, fold));
INSERT INTO reg_keys(id, parent, name, path) VALUES (1, NULL, '', '');

-- Ids are never reused: a handle open on a deleted printer must not reach a new one of the same name.
CREATE TABLE printers(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name BLOB NOT NULL,
  fold BLOB NOT NULL UNIQUE,
  driver BLOB NOT NULL DEFAULT '',
  port BLOB NOT NULL DEFAULT '',
  needs_admin INTEGER NOT NULL DEFAULT 0);

-- Top-level windows; pid 0 belongs to the machine itself (the shell, winsim window add). `thread`
-- is the creating thread of the owning process, whose queue gets the messages posted to the window.
CREATE TABLE windows(
  hwnd INTEGER PRIMARY KEY AUTOINCREMENT,
  caption BLOB NOT NULL,
  pid INTEGER NOT NULL DEFAULT 0,
  pid_start INTEGER NOT NULL DEFAULT 0,
  thread INTEGER NOT NULL DEFAULT 0);

-- Message boxes (kind 'box', state 'open' or 'closed') and restart requests (kind 'restart',
-- state 'requested' or 'refused'). Ids are never reused: a program waiting on a box that was cleared
-- away must not take a later box for its own.
CREATE TABLE journal(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  pid INTEGER NOT NULL,
  program BLOB NOT NULL,
  owner INTEGER NOT NULL DEFAULT 0,
  caption BLOB,
  text BLOB,
  type INTEGER NOT NULL DEFAULT 0,
  state TEXT NOT NULL);

CREATE TABLE trace(
  id INTEGER PRIMARY KEY,
  pid INTEGER NOT NULL,
  program BLOB NOT NULL,
  call TEXT NOT NULL,
  args BLOB NOT NULL,
  result BLOB NOT NULL,
  error INTEGER NOT NULL);

CREATE TABLE faults(
  id INTEGER PRIMARY KEY,
  call TEXT NOT NULL,
  match BLOB NOT NULL DEFAULT '',
  error INTEGER NOT NULL,
  times INTEGER NOT NULL,
  skip INTEGER NOT NULL DEFAULT 0);
)sql";

// Written into settings as "magic": tells a machine folder from any other folder.
inline constexpr const char* kMachineMagic = "winsim machine 1";

}  // namespace winsim

#endif
