#!/usr/bin/env bash
# Runs fuzz targets with libFuzzer (clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# built in build-fuzz/), at the lowest priority:
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options]   one target for the given time
#   scripts/fuzz.sh all SECONDS [libFuzzer options]      every target in turn, SECONDS each
#   scripts/fuzz.sh list                                 the targets
# The seeds in fuzz/corpus/TARGET are read; new inputs go to build-fuzz/fuzz/corpus/TARGET,
# a finding to build-fuzz/fuzz/findings/TARGET/. Replay one with
#   build-fuzz/fuzz/fuzz_TARGET FILE
# and add it to fuzz/corpus/TARGET once fixed. Each run ends with the executions it made and
# the total of all runs of the target on this machine (build-fuzz/fuzz/tally).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
korvi_need_packages clang libclang-rt-dev

targets() { sed -n 's/^korvi_fuzz(\([a-z_0-9]*\) .*/\1/p' fuzz/CMakeLists.txt; }
usage() { echo "usage: scripts/fuzz.sh TARGET|all SECONDS [libFuzzer options] | list" >&2; exit 2; }

[ $# -ge 1 ] || usage
if [ "$1" = list ]; then targets; exit 0; fi
[ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || usage
what=$1 seconds=$2
shift 2
if [ "$what" = all ]; then list=$(targets); else list=$what; fi
for t in $list; do
  targets | grep -qx "$t" || { echo "scripts/fuzz.sh: no target $t (scripts/fuzz.sh list)" >&2; exit 2; }
done

cmake --preset fuzz >/dev/null
for t in $list; do
  cmake --build --preset fuzz -j 2 --target "fuzz_$t" >/dev/null
done

status=0
for t in $list; do
  out=build-fuzz/fuzz/corpus/$t findings=build-fuzz/fuzz/findings/$t
  mkdir -p "$out" "$findings"
  log=build-fuzz/fuzz/$t.log
  echo "fuzz_$t: $seconds s (log $log)"
  # The folders a target's SEEDS names in fuzz/CMakeLists.txt are read too.
  seeds=$(sed -n "s/^korvi_fuzz($t .*SEEDS \(.*\))\$/\1/p" fuzz/CMakeLists.txt | sed 's|\${CMAKE_SOURCE_DIR}/||g')
  # shellcheck disable=SC2086
  if ! nice -n 19 "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
      -timeout=10 -rss_limit_mb=4096 -artifact_prefix="$findings/" "$@" "$out" "fuzz/corpus/$t" \
      $seeds >"$log" 2>&1; then
    if grep -q 'libFuzzer: run interrupted' "$log"; then
      echo "fuzz_$t: interrupted"  # Ctrl-C: the executions so far still count
    else
      status=1
      echo "fuzz_$t: FINDING (see $log and $findings/)"
      grep -E 'FINDING|ERROR|SUMMARY' "$log" | head -5 || true
    fi
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # Every run is added to build-fuzz/fuzz/tally ("date target executions"), for the totals.
  [ -n "$runs" ] && echo "$(date -u +%FT%TZ) $t $runs" >>build-fuzz/fuzz/tally
  total=$(awk -v t="$t" '$2 == t { n += $3 } END { print n + 0 }' build-fuzz/fuzz/tally 2>/dev/null || echo 0)
  echo "fuzz_$t: ${runs:-?} executions ($total in all runs here), corpus $(ls "$out" | wc -l) inputs"
done
exit $status
