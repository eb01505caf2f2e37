#!/bin/sh
# Runs every test program of a build under valgrind's memcheck. Fails when
# memcheck finds an invalid access, or a definite leak whose stack reaches
# the program's own code (leaks inside the system libraries Qt loads are
# theirs). Slow: minutes per test program.
set -u
build=${1:-build}
pattern=${2:-test_}
out="$build/valgrind"
mkdir -p "$out"
status=0
for t in "$build"/bin/$pattern*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  case "$name" in
    test_singleinstance|test_report_cups|test_journalcrash) continue ;; # child processes, signals, timing
  esac
  log="$out/$name.log"
  QT_QPA_PLATFORM=offscreen valgrind --tool=memcheck --leak-check=full \
      --suppressions="$(dirname "$0")/valgrind.supp" \
      --show-leak-kinds=definite --errors-for-leak-kinds=none \
      --num-callers=30 --log-file="$log" "$t" >"$out/$name.out" 2>&1
  rc=$?
  errors=$(grep -E 'ERROR SUMMARY: [0-9]+' "$log" | tail -1 | sed -E 's/.*ERROR SUMMARY: ([0-9]+).*/\1/')
  # Definite leaks with a frame in the program's sources.
  ours=$(awk '/definitely lost in/ {blk=1; buf=$0; next} blk && /^==[0-9]+== $/ {if (buf ~ /\/work\/|src\/|tests\//) n++; blk=0; next} blk {buf=buf"\n"$0} END {print n+0}' "$log")
  printf '%-28s exit %s, memcheck errors %s, definite leaks in our code %s\n' "$name" "$rc" "${errors:-?}" "$ours"
  if [ "$rc" != 0 ] || [ "${errors:-1}" != 0 ] || [ "$ours" != 0 ]; then status=1; fi
done
exit $status
