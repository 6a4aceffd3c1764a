# Shared by the stand-in tools and programs of the simulated host: the call
# log, the settings the runner wrote, and the failures asked for.
KSIM=/var/korvi-sim

# sim_log NAME ARGS...: one line in the call log.
sim_log() {
  local line=$1 a
  shift
  for a in "$@"; do line+=" ${a//$'\n'/\\n}"; done
  [ -d "$KSIM" ] && printf '%s\n' "$line" >> "$KSIM/calls.log"
  return 0
}

# sim_conf NAME: a setting of the runner, empty when unset.
sim_conf() { cat "$KSIM/conf/$1" 2>/dev/null; }

# sim_fail NAME: true when this call of NAME must fail (--fail NAME[=COUNT]).
sim_fail() {
  local f=$KSIM/conf/fail/$1 n used
  [ -f "$f" ] || return 1
  n=$(cat "$f")
  [ "$n" = all ] && return 0
  used=$(cat "$f.used" 2>/dev/null || echo 0)
  [ "$used" -lt "$n" ] || return 1
  echo $((used + 1)) > "$f.used"
  return 0
}

# sim_prog PATH ARGS...: what a stand-in product program does: log the call,
# record arguments, directory and environment, exit 0 (or 1 when told to fail).
sim_prog() {
  local name=${1##*/} seq rec a
  shift
  sim_log "$name" "$@"
  if [ -d "$KSIM/progs" ]; then
    seq=$(( $(cat "$KSIM/progs/.seq" 2>/dev/null || echo 0) + 1 ))
    echo "$seq" > "$KSIM/progs/.seq"
    rec=$KSIM/progs/$(printf '%03d' "$seq")-$name
    {
      for a in "$@"; do printf 'arg=%s\n' "${a//$'\n'/\\n}"; done
      printf 'cwd=%s\n' "$PWD"
      env | LC_ALL=C sort | sed 's/^/env=/'
    } > "$rec"
  fi
  if sim_fail "$name"; then exit 1; fi
  exit 0
}
