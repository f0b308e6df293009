#!/usr/bin/env bash
# The uninstall rounds of the main job: w9xpurge on a Windows 98 machine and ntpurge on an NT 4.0
# machine, each seeded with a model's keys, files and printers, with the machine's changes shown.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { printf '\n== %s\n' "$*"; }
ws() { "$bin/winsim" --machine "$machine" "$@"; }
chained_program() {
  cat >"$work/record" <<'SH'
#!/bin/sh
echo "chained command started: $WINSIM_CMDLINE (in $WINSIM_CWD)" >>"$WINSIM_MACHINE/chained.log"
SH
  chmod +x "$work/record"
  ws put "$work/record" 'C:\KIT\DONE.EXE' >/dev/null
}
wait_for_chained() {
  for _ in $(seq 1 500); do [ -s "$machine/chained.log" ] && break; sleep 0.01; done
  cat "$machine/chained.log" 2>/dev/null || echo "(the chained command did not start)"
}
# A printer whose driver is named like it: NAME PORT [--needs-admin]
printer() { ws printer add "$1" --driver "$1" --port "$2" "${@:3}"; }
# TITLE PROGRAM WINPATH COMMAND-TAIL: puts the uninstaller on the seeded machine, runs it, shows the changes.
uninstall_round() {
  ws put "$bin/$2" "$3" >/dev/null
  chained_program
  ws snapshot "$work/before.snap" >/dev/null
  step "$1: $3 $4"
  ws run "$3 $4" && echo "exit code $?"
  wait_for_chained
  step "$1: what changed"
  ws diff "$work/before.snap"
}

step "Windows 98: a machine with the K5583 PCL 6 model installed"
machine=$work/win98
ws init --os 98
prn='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print'
ws reg import - <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Velmora\Tarnwick Window]
"Interval"=dword:00000005

[$prn\Printers\Quorl K5583 PCL 6\PrinterDriverData]
"Copies"=dword:00000001

[$prn\Environments\Windows 4.0\Drivers\Quorl K5583 PCL 6]
"Driver"="K5583.drv"

[HKEY_LOCAL_MACHINE\Enum\LPTENUM\QUORLK5583599E\0000]
"Model"="Quorl K5583 PCL 6"

[HKEY_LOCAL_MACHINE\SOFTWARE\Other Vendor\Kept]
REG
for f in K5583.drv K5583.hlp K5583a.dll K5583x.dll K5583k.dll UNRELATED.DLL; do
  echo driver >"$work/$f"
  ws put "$work/$f" "C:\\WINDOWS\\SYSTEM\\$f" >/dev/null
done
printf '[Version]\r\nSignature=$CHICAGO$\r\n\r\n[K5583.DRV]\r\nCopyFiles=K5583\r\n' >"$work/match.inf"
printf '[Version]\r\nSignature=$CHICAGO$\r\n\r\n[OTHER.DRV]\r\n' >"$work/other.inf"
ws put "$work/match.inf" 'C:\WINDOWS\INF\OEM3.INF' >/dev/null
ws put "$work/other.inf" 'C:\WINDOWS\INF\OEM4.INF' >/dev/null
printer 'Quorl K5583 PCL 6' LPT1:
printer 'Pardu Strivon K3vn PCL-5e' LPT1: --needs-admin
printer 'Office Laser' LPT2:
uninstall_round "Windows 98" w9xpurge.exe 'C:\KIT\W9XPURGE.EXE' '/f2 C:\KIT\DONE.EXE /quiet'

step "Windows NT 4.0: a machine with the K4471 PCL model installed"
machine=$work/nt4
ws init --os nt4
ws reg import - <<REG
REGEDIT4

[$prn\Printers\Quorl K4471 PCL\PrinterDriverData]
"Copies"=dword:00000001

[$prn\Environments\Windows NT X86\Drivers\Version-2\Quorl K4471 PCL]
"Driver"="K4471.DLL"

[$prn\Environments\Windows NT X86\Drivers\Version-2\Office Laser]
"Driver"="OFFICE.DLL"
REG
printer 'Quorl K4471 PCL' LPT1:
printer 'Pardu Strivon K3vn PCL 6' LPT1:
printer 'Office Laser' LPT2:
uninstall_round "Windows NT 4.0" ntpurge.exe 'C:\KIT\NTPURGE.EXE' '/F2 C:\KIT\DONE.EXE'
