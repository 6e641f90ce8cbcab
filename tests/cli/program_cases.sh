#!/usr/bin/env bash
# The terminal program end to end on virtual drives, for what it promises about a whole run:
#   no-lock       no lock file can be made for the drive: the run is refused (exit 4) with
#                 the folder tried and TAVOFLASH_LOCK_DIR named, and nothing is flashed
#   busy-no-restart --drive all --yes --reboot while another program holds one drive's lock:
#                 the other drive verifies, the busy one is refused, no restart is asked
#   reader-gone   --drive all --yes --json read by a consumer that stops after the first
#                 line: both drives are still flashed and logged, and the exit status is 0
# Usage: program_cases.sh CLI CASE
set -uo pipefail
cli=$1
case_name=$2

. "$(dirname "$0")/case_setup.sh"
run_timeout=60

case $case_name in
  no-lock)
    TAVOFLASH_LOCK_DIR=$work/missing run 4 --emulate --yes
    grep -qF "Err:No lock file for emulated:sr0 could be made in $work/missing." "$work/out" ||
      fail "the refusal does not name the folder tried"
    grep -qF "TAVOFLASH_LOCK_DIR" "$work/out" || fail "the refusal does not name TAVOFLASH_LOCK_DIR"
    ! grep -qF "Flashing .." "$work/out" || fail "the drive was flashed without a lock"
    ;;
  busy-no-restart)
    exec 4>"$TAVOFLASH_LOCK_DIR/tavoflash-emulated_sr1.lock"
    flock -n 4 || fail "could not take the drive's lock"
    run 4 --emulate=default,default --drive all --yes --reboot
    exec 4>&-
    grep -qF "Firmware Verify ok!!" "$work/out" || fail "the free drive did not verify"
    grep -qF "Err:emulated:sr1 is being flashed by another program." "$work/out" ||
      fail "the busy drive is not named"
    ! grep -qF "Reboot this computer right now ?" "$work/out" ||
      fail "the restart was offered while another program flashes a drive"
    ! grep -qiF "reboot" "$work/err" || fail "a restart was asked for"
    ;;
  reader-gone)
    timeout "$run_timeout" "$cli" --emulate=default,default --drive all --yes --json \
      </dev/null 2>"$work/err" | head -n 1 >"$work/out"
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || fail "exit $rc, expected 0 (both drives verified)"
    [ "$(grep -l "^result: verified" "$XDG_STATE_HOME"/tavoflash/run-*.log | wc -l)" -eq 2 ] ||
      fail "not two verified run logs"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
