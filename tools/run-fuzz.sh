#!/bin/sh
# Long fuzz runs (make fuzz): each target in turn, at the lowest priority, until it has run
# FUZZ_RUNS inputs or FUZZ_SECONDS seconds, whichever comes first.
#   tools/run-fuzz.sh BUILD_DIR [TARGET...]      (default: every fuzz_* in BUILD_DIR)
# The corpus grows in BUILD_DIR/fuzz-corpus/<target> from run to run; the seeds and the kept
# regression inputs (fuzz/regressions/<target>) are read as well. A finding is written to
# BUILD_DIR/fuzz-artifacts/<target>-crash-... (or -timeout-, -leak-, -oom-); each target's
# output is in BUILD_DIR/fuzz-logs/<target>.log. Exits 1 when any target failed.
set -u
build=$(cd "$1" && pwd) || exit 2
shift
src=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-1800}
runs=${FUZZ_RUNS:-1000000}
timeout=${FUZZ_TIMEOUT:-25}

targets="$*"
if [ -z "$targets" ]; then
  for f in "$build"/fuzz_*; do
    [ -x "$f" ] && targets="$targets ${f##*/fuzz_}"
  done
fi

export LSAN_OPTIONS="suppressions=$src/tools/sanitizers/lsan.supp:print_suppressions=0"
mkdir -p "$build/fuzz-logs" "$build/fuzz-artifacts"
"$build/orvante-fuzz-seeds" "$build/fuzz-seeds" >/dev/null || exit 2

failed=""
for t in $targets; do
  mkdir -p "$build/fuzz-corpus/$t"
  set -- "$build/fuzz-corpus/$t" "$build/fuzz-seeds/$t"
  [ -d "$src/fuzz/regressions/$t" ] && set -- "$@" "$src/fuzz/regressions/$t"
  printf '%s: up to %s runs or %s s ... ' "$t" "$runs" "$seconds"
  start=$(date +%s)
  nice -n 19 "$build/fuzz_$t" -runs="$runs" -max_total_time="$seconds" -timeout="$timeout" \
    -rss_limit_mb=4096 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$t-" "$@" >"$build/fuzz-logs/$t.log" 2>&1
  rc=$?
  took=$(($(date +%s) - start))
  done_line=$(grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units)' "$build/fuzz-logs/$t.log" | tail -1)
  if [ $rc -eq 0 ]; then
    echo "ok, $took s: $done_line"
  else
    echo "FAILED ($rc), $took s: see $build/fuzz-logs/$t.log"
    failed="$failed $t"
  fi
done
[ -z "$failed" ] || { echo "failed:$failed"; exit 1; }
