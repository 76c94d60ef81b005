#!/bin/sh
# Runs every libFuzzer target of a fuzz build for the given number of seconds,
# starting from the seeds in tests/fuzz/corpus/<target> (new finds go to a
# scratch copy, the seeds stay as committed). Exits non-zero on the first
# target that finds a fault; its reproducer is left in the working directory.
#   fuzz.sh <build folder> <seconds per target>
set -e
build="$1"
seconds="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in encodings frontend signlist tokens; do
  mkdir -p "$work/$target"
  cp tests/fuzz/corpus/$target/* "$work/$target/" 2>/dev/null || true
  echo "fuzz_$target: $seconds s"
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
    -print_final_stats=1 "$work/$target" 2>"$work/log" || { tail -60 "$work/log"; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/log"
done
