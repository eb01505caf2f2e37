#!/bin/sh
# Runs every fuzz target of a build for a number of seconds, starting from
# the seed corpus kept in fuzz/corpus/<target>. Fails on the first finding.
set -eu
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  work="$build/corpus/$name"
  mkdir -p "$work" "$build/artifacts"
  seeds=""
  for d in "$root/fuzz/corpus/$name" "$root/fuzz/regressions/$name"; do
    [ -d "$d" ] && seeds="$seeds $d"
  done
  echo "== $name: $seconds s"
  if ! QT_QPA_PLATFORM=offscreen "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 "$work" $seeds 2>"$build/$name.log"; then
    tail -50 "$build/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$name.log" || true
  fi
done
exit $status
