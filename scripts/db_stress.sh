#!/usr/bin/env bash
# The record database at scale (minutes, not part of scripts/test.sh): 10,000 typed stores
# while the writer is killed with SIGKILL at random moments, and 8 writers with 8 readers on
# one headed and one plain file. Prints the figures of each run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
korvi_need_packages
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target db_tests >/dev/null
cd build/tests
nice -n 10 ./db_tests --gtest_also_run_disabled_tests \
  --gtest_filter='DbCrash.DISABLED_*' --gtest_output=xml:db_stress.xml
