#!/usr/bin/env bash
# Builds everything into build/ (build/bin holds the programs, the library and the tools).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINSIM_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
