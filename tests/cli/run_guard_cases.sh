#!/usr/bin/env bash
# The terminal program end to end on virtual drives and the real clock (about ten seconds
# a run), for what keeps a run whole:
#   signals SIG...   the signals sent, in order, once the run is flashing: the run still
#                    verifies, the notice is printed once, and the program then ends with
#                    the first signal;
#   same-drive       a second program on the drive of a running one is refused with exit 4
#                    before it flashes; a program on another drive runs at the same time;
#   stop-signals     Ctrl-Z (SIGTSTP) and a background job's SIGTTIN/SIGTTOU during the run
#                    neither stop nor end it: it verifies and ends with 0;
#   restart-question at the restart question nothing is held any more (the drive's lock is
#                    free, the outcome is in the run log) and SIGTERM ends the program at once;
#   check-busy       --check on a drive whose lock another program holds says so and sends
#                    it nothing beyond what --list sends (the search for drives).
# Usage: run_guard_cases.sh CLI CASE [ARGS...]
set -uo pipefail
# Job control: background programs keep the default SIGINT and SIGQUIT (a shell without it
# starts them with those ignored, and an ignored signal stays ignored during a run).
set -m
cli=$1
case_name=$2
shift 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TAVOFLASH_LOCK_DIR=$work TAVOFLASH_TRANSPORT= XDG_STATE_HOME=$work/state
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-system-bus
notice="flashing is in progress; the program will end when it is safe"

fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.err; do
    [ -e "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}

# wait_for FILE TEXT: until FILE holds TEXT (at most 60 s).
wait_for() {
  local i
  for ((i = 0; i < 600; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$2' in $1"
}

start() {  # start NAME ARGS...: runs the program in the background, pid in $pid
  local name=$1
  shift
  "$cli" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err" &
  pid=$!
}

case $case_name in
  signals)
    start run --emulate --yes
    run=$pid
    wait_for "$work/run.out" "Flashing .."
    for sig in "$@"; do
      kill -s "$sig" "$run" || fail "could not send $sig"
      sleep 0.3
    done
    wait "$run"
    rc=$?
    first=$(kill -l "$1")
    want=$((128 + first))
    [ "$rc" -eq "$want" ] || fail "exit status $rc, expected $want ($1)"
    grep -qF "Firmware Verify ok!!" "$work/run.out" || fail "the run did not verify"
    n=$(grep -cF "$notice" "$work/run.err")
    [ "$n" -eq 1 ] || fail "the notice was printed $n times"
    # What the run left the drive in is said, and logged, before the signal ends it.
    grep -qF "The firmware was written and verified" "$work/run.err" ||
      fail "no outcome before the signal ended the program"
    grep -qF "outcome: " "$work"/state/tavoflash/run-*.log || fail "the run log has no outcome"
    ;;
  same-drive)
    start first --emulate=default,default --yes --drive 0
    first=$pid
    wait_for "$work/first.out" "Flashing .."
    "$cli" --emulate --yes </dev/null >"$work/second.out" 2>"$work/second.err"
    rc=$?
    [ "$rc" -eq 4 ] || fail "the second program on emulated:sr0 ended with $rc, expected 4 (refused)"
    grep -qF "Err:emulated:sr0 is being flashed by another program." "$work/second.out" ||
      fail "the refusal does not name the drive"
    ! grep -qF "Flashing .." "$work/second.out" || fail "the second program flashed"
    start other --emulate=default,default --yes --drive 1
    other=$pid
    wait "$first" || fail "the first program failed"
    wait "$other" || fail "the program on the other drive failed"
    grep -qF "Firmware Verify ok!!" "$work/other.out" || fail "the other drive did not verify"
    ;;
  stop-signals)
    start run --emulate --yes
    run=$pid
    wait_for "$work/run.out" "Flashing .."
    for sig in TSTP TTIN TTOU; do
      kill -s "$sig" "$run" || fail "could not send $sig"
      sleep 0.3
    done
    wait "$run"
    rc=$?
    if [ "$rc" -ne 0 ]; then
      kill -KILL "$run" 2>/dev/null
      fail "exit status $rc, expected 0 (a stopped run fails the drive's time-outs)"
    fi
    grep -qF "Firmware Verify ok!!" "$work/run.out" || fail "the run did not verify"
    n=$(grep -cF "$notice" "$work/run.err")
    [ "$n" -eq 1 ] || fail "the notice was printed $n times"
    ;;
  restart-question)
    mkfifo "$work/in"
    "$cli" --emulate <"$work/in" >"$work/run.out" 2>"$work/run.err" &
    run=$!
    exec 3>"$work/in"
    printf 'y\ny\n' >&3  # the confirmation and the last question; the restart question waits
    wait_for "$work/run.out" "Reboot this computer right now ?"
    grep -qF "The log of this run: " "$work/run.err" || fail "the question came before the outcome"
    grep -qF "outcome: " "$work"/state/tavoflash/run-*.log || fail "the run log has no outcome"
    flock -n "$work/tavoflash-emulated_sr0.lock" true ||
      fail "the drive's lock is still held at the restart question"
    kill -TERM "$run"
    for ((i = 0; i < 10; i++)); do
      kill -0 "$run" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$run" 2>/dev/null; then
      kill -KILL "$run"
      fail "still running a second after SIGTERM at the restart question"
    fi
    wait "$run"
    rc=$?
    exec 3>&-
    [ "$rc" -eq 143 ] || fail "exit status $rc, expected 143 (SIGTERM)"
    ;;
  check-busy)
    "$cli" --emulate --list --record "$work/list.jsonl" >"$work/list.out" 2>"$work/list.err" ||
      fail "--list failed"
    exec 4>"$work/tavoflash-emulated_sr0.lock"
    flock -n 4 || fail "could not take the drive's lock"
    "$cli" --emulate --check --record "$work/check.jsonl" >"$work/check.out" 2>"$work/check.err"
    rc=$?
    exec 4>&-
    [ "$rc" -eq 1 ] || fail "--check on a busy drive ended with $rc, expected 1"
    grep -qF "emulated:sr0 is being flashed by another program" "$work/check.out" ||
      fail "the busy drive is not named"
    listed=$(grep -c '"cdb"' "$work/list.jsonl")
    checked=$(grep -c '"cdb"' "$work/check.jsonl")
    [ "$listed" -gt 0 ] || fail "the search for drives recorded no command"
    [ "$checked" -eq "$listed" ] ||
      fail "--check sent $checked commands to a busy drive, the search for drives alone $listed"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name $*"
