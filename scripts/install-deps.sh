#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev libsqlite3-dev libgtest-dev libbenchmark-dev sqlite3)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
