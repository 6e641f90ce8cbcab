# Sourced by the process-level case scripts after they set cli and case_name: a private
# work folder (removed at exit) with the program's locks, run logs and runtime directory,
# no system bus, and the helpers fail and run.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TAVOFLASH_LOCK_DIR=$work/locks TAVOFLASH_TRANSPORT= XDG_STATE_HOME=$work/state
export XDG_RUNTIME_DIR=$work/runtime DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-system-bus
mkdir -p "$TAVOFLASH_LOCK_DIR" "$XDG_RUNTIME_DIR"

fail() {
  echo "FAIL: $*"
  for f in "$work"/out "$work"/err; do
    [ -e "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}

# run RC ARGS...: runs the program (at most $run_timeout s, default 20) with standard
# output and error in $work/out and $work/err, and checks its exit code.
run() {
  local want=$1
  shift
  timeout "${run_timeout:-20}" "$cli" "$@" </dev/null >"$work/out" 2>"$work/err"
  local rc=$?
  [ "$rc" -eq "$want" ] || fail "exit $rc, expected $want: $*"
}
