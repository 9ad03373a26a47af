#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang-14, -DTIDEWELL_FUZZ=ON) and runs each for
# SECONDS (60 by default) on a working corpus in build/fuzz/corpus/<target>, seeded from the kept
# one in tests/fuzz/corpus/<target>. Prints the fuzz log, one line per target: name, seconds,
# executions, findings (crash-, leak-, timeout- and oom- files). The files of a finding stay in
# build/fuzz/findings/<target>/ (emptied when the next run starts), libFuzzer's output in
# build/fuzz/logs/<target>.log. Exits non-zero when there is a finding.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
tree=build/fuzz

if [ ! -f "$tree/build.ninja" ]; then
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DTIDEWELL_FUZZ=ON > /dev/null
fi
cmake --build "$tree" -j2 --target fuzz_targets | tail -n 1

mkdir -p "$tree/logs"
log="$tree/fuzz-log.txt"
printf '%-24s %8s %12s %9s\n' target seconds executions findings | tee "$log"
total=0
while read -r target; do
  [ -n "$target" ] || continue
  name=${target#fuzz_}
  work="$tree/corpus/$name"
  found="$tree/findings/$name"
  rm -rf "$found"
  mkdir -p "$work" "$found"
  start=$(date +%s)
  # -timeout: an input that takes longer is a hang; -rss_limit_mb: more memory is a runaway
  # allocation. Both leave a file in the findings folder, as a crash or a leak does.
  "$tree/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$found/" "$work" "tests/fuzz/corpus/$name" \
    > "$tree/logs/$name.log" 2>&1 || true
  took=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$tree/logs/$name.log" | tail -n 1)
  count=$(find "$found" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if [ "$count" -eq 0 ] && ! grep -q '^Done [0-9]* runs' "$tree/logs/$name.log"; then
    count=1 # stopped without libFuzzer's closing line and without a file: count it, see the log
  fi
  total=$((total + count))
  printf '%-24s %8s %12s %9s\n' "$name" "$took" "${runs:-?}" "$count" | tee -a "$log"
done < "$tree/fuzz_targets.txt"

if [ "$total" -ne 0 ]; then
  echo "fuzz: $total finding(s); inputs in $tree/findings/<target>/, output in $tree/logs/<target>.log" >&2
  exit 1
fi
echo "fuzz: no findings (log: $log)"
