#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) into build-fuzz, runs each over its seed
# corpus, then lets each fuzz for FUZZ_SECONDS (default 10) in each ANSI code page of the machine.
# New inputs go to build-fuzz/corpus/, never into the committed seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-10}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DWINSIM_FUZZ=ON -DWINSIM_BENCH=OFF -DWINSIM_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_targets -j"$(nproc)"

for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  seeds=fuzz/corpus/$name
  found=build-fuzz/corpus/$name
  mkdir -p "$found"
  for codepage in 1252 932; do
    export WINSIM_FUZZ_CODEPAGE=$codepage
    build-fuzz/bin/"$name" -runs=0 "$seeds" 2>/dev/null ||
      { echo "$name: a seed fails (code page $codepage)"; build-fuzz/bin/"$name" -runs=0 "$seeds"; exit 1; }
    log=build-fuzz/$name-$codepage.log
    if ! build-fuzz/bin/"$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/ "$found" "$seeds" >"$log" 2>&1; then
      tail -n 40 "$log"
      echo "$name: failed in code page $codepage (log $log, input in build-fuzz/)"
      exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$name (code page $codepage): $runs executions in ${seconds} s, $rate per second"
  done
done
