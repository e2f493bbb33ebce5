#!/usr/bin/env bash
# Builds the fuzz targets with clang into their own folder and runs each for the
# given number of seconds, starting from the seeds kept in fuzz/corpus. New
# inputs go to the build folder, never into the tree; a finding stops the run
# with the input saved under <build>/findings.
# Usage: fuzz/run.sh [build folder] [seconds per target]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-fuzz}"
seconds="${2:-30}"
jobs="$(nproc)"

CXX=clang++ CC=clang cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

mkdir -p "$build/findings"
for target in "$build"/fuzz_*; do
  [ -x "$target" ] && [ -f "$target" ] || continue
  name="$(basename "$target")"
  seeds="$root/fuzz/corpus/${name#fuzz_}"
  work="$build/corpus/${name#fuzz_}"
  mkdir -p "$work"
  echo "== $name for ${seconds}s"
  status=0
  ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$work" "$seeds" >"$build/$name.log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|INFO: seed corpus)' \
    "$build/$name.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$build/$name.log"
    echo "$name found a fault (exit $status); the input is in $build/findings"
    exit 1
  fi
done
