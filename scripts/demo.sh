#!/usr/bin/env bash
# The main job: builds the installer, builds the sample distribution and runs
# setup from it on the simulated Solaris host (sim/), interactively. Nothing
# reaches the real /opt, /var, /etc, /usr or /tmp.
#
#   scripts/demo.sh [SETUP-ARGS...]
#
# KORVI_DEMO_SETUP=PATH uses that setup program instead of building one;
# KORVI_DEMO_OUT=DIR puts the distribution and the copied run log in DIR
# (default build/demo; it is emptied first);
# KORVI_DEMO_SIM_OPTS adds options of sim/run (for example "--proc cupsd" or
# "--lpd lprng"). Answers may be piped in: printf 'y\n' | scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
korvi_need_packages

if [ -n "${KORVI_DEMO_SETUP:-}" ]; then
  setup=$KORVI_DEMO_SETUP
else
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$(nproc)"
  setup=build/installer/setup
fi
if [ ! -x "$setup" ]; then
  echo "demo: the installer is not built yet ($setup is missing); nothing to run." >&2
  exit 1
fi

out=${KORVI_DEMO_OUT:-$PWD/build/demo}
case "$out" in /*) ;; *) out=$PWD/$out ;; esac
rm -rf "$out"
mkdir -p "$out"
sim/mkdist --pieces 3 --extra sim/sample/extra \
  sim/sample/VLMRkvln sim/sample/pkg.list "$setup" "$out/dist" >/dev/null

echo "demo: distribution $out/dist (sample package in 3 archive pieces)"
echo "demo: running setup there on the simulated Solaris host; nothing leaves the sandbox"
echo
status=0
# shellcheck disable=SC2086
sim/run ${KORVI_DEMO_SIM_OPTS:-} --keep "$out" --cwd "$out/dist" -- \
  bash -c 'listing=$0 logcopy=$1; shift; ./setup "$@"; st=$?; "$listing" "$logcopy"; exit $st' \
  "$PWD/sim/listing" "$out/setup.log" "$@" \
  || status=$?
echo
echo "demo: setup ended with status $status"
exit "$status"
