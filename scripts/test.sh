#!/usr/bin/env bash
# Builds everything and passes every test: the normal build, then the ASan+UBSan build, then the fuzz
# targets (clang libFuzzer, over their corpus and then for a bounded time each) and the fault sweeps.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
(cd build && ctest --output-on-failure -j2)

cmake -S . -B build-asan -DWINSIM_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWINSIM_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2)

contract=../shared/checks/winsim-contract.sh
if [ -f "$contract" ]; then bash "$contract" build/bin; fi

scripts/fuzz.sh

# The sweeps run the sanitized programs, so that a failure path that misuses memory shows too.
ASAN_OPTIONS=detect_leaks=1 build-asan/bin/fault_sweep
