#!/usr/bin/env bash
# Runs the help viewer benchmark: khelp --dump beside w3m, lynx and links2 on the same
# generated files. Installs the three browsers (Debian packages) when missing and run as root.
# Arguments are passed to bench_help (default: 3 repetitions, aggregates only).
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for pkg in w3m lynx links2; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing Debian packages (the comparison skips them): ${missing[*]}" >&2
  fi
fi
cmake --preset default >/dev/null
cmake --build --preset default --target bench_help khelp_tool >/dev/null
if [ $# -eq 0 ]; then
  set -- --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
exec build/bench/bench_help "$@"
