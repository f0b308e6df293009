#!/usr/bin/env bash
# The deferred installation of a printer on a fresh default machine, step by step, with the
# machine's changes shown after each step: first while the shell runs (the second phase starts at
# once), then while it doesn't (the second phase waits in the Run key for the shell's next start).
# A stand-in setup program in the installation folder records each of its starts in the registry.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/bin/winsim ] && [ -e build/bin/K4471PNP.dll ] && [ -x build/bin/setup_standin.exe ] || scripts/build.sh
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINSIM_MACHINE=$work/machine
snapshot=$work/snapshot

w() { "$bin/winsim" "$@"; }
step() { printf '\n=== %s\n' "$*"; }
run() { printf '$ winsim %s\n' "$*"; w "$@"; }
changes() {
  printf -- '--- what changed:\n'
  w diff "$snapshot"
  w snapshot "$snapshot" >/dev/null
}
# The second phase runs in a process of its own: wait until the setup program has started N times
# and the install lock is free again.
wait_for_setup_starts() {
  for _ in $(seq 300); do
    if w reg export 'HKEY_LOCAL_MACHINE\Software\WinsimTests\Started\Setup.Exe' 2>/dev/null |
      tr -d '\r' | grep -qx "\"Count\"=dword:$(printf '%08x' "$1")"; then
      sleep 0.5
      return 0
    fi
    sleep 0.1
  done
  echo "the setup program did not start" >&2
  return 1
}

step "A fresh Windows 98 machine: the library in its system folder, the printer's device node, the setup program"
run init --os 98
run put "$bin/K4471PNP.dll" 'C:\WINDOWS\SYSTEM\K4471PNP.DLL'
run put "$bin/setup_standin.exe" 'C:\Program Files\Kdr 4471\Setup.Exe'
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\QUORLK44710E4E\\LPT1]\r\n"Model"="Kdr 4471 PCL6"\r\n' >"$work/node.reg"
run reg import "$work/node.reg"
run reg export 'HKEY_LOCAL_MACHINE\Enum\LPTENUM'
w snapshot "$snapshot" >/dev/null

step "The shell runs. The printer installation calls the first phase; the second starts at once"
run shell start
changes
run run 'RUNDLL32.EXE K4471PNP,SchedulePrinterInstallation Enum\LPTENUM\QUORLK44710E4E\LPT1 C:\Program Files\Kdr 4471'
wait_for_setup_starts 1
changes
run boxes

step "The shell is gone. The same printer installed again: the second phase waits in the Run key"
run shell stop
w snapshot "$snapshot" >/dev/null
run run 'RUNDLL32.EXE K4471PNP,SchedulePrinterInstallation Enum\LPTENUM\QUORLK44710E4E\LPT1 C:\Program Files\Kdr 4471'
changes

step "The shell starts and runs the Run value: the second phase removes it and starts the setup program"
run shell start --wait
wait_for_setup_starts 2
changes
run boxes
