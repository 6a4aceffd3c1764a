#!/usr/bin/env bash
# Builds everything and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
korvi_need_packages
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
for b in build/bench/bench_*; do
  [ -x "$b" ] && "$b" --benchmark_min_time=0.05
done
