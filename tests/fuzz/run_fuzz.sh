#!/bin/sh
# run_fuzz.sh TARGET SEEDS REGRESSIONS WORK SECONDS (OMBRIX_FUZZ_SECONDS overrides SECONDS)
# Replays every saved reproducer once, then fuzzes for SECONDS from the seeds and the corpus kept
# in WORK. Exit status non-zero on any finding; the reproducer is written to WORK/artifacts/.
set -eu
target="$1" seeds="$2" regressions="$3" work="$4" seconds="${OMBRIX_FUZZ_SECONDS:-$5}"
mkdir -p "$work/corpus" "$work/artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
  "$target" -runs=1 "$regressions"/* 2>"$work/regressions.log" || { cat "$work/regressions.log" >&2; exit 1; }
fi
log="$work/fuzz.log"
status=0
"$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^#[0-9]+.*DONE' "$log" || true
if [ "$status" != 0 ]; then
  tail -n 60 "$log" >&2
  echo "finding in $(basename "$target"): reproducer $(ls -t "$work"/artifacts/* 2>/dev/null | head -n 1)" >&2
  exit "$status"
fi
