#!/usr/bin/env bash
# The terminal program end to end on virtual drives, for what it promises about a whole run:
#   no-lock       no lock file can be made for the drive: the run is refused (exit 4) with
#                 the folder tried and TAVOFLASH_LOCK_DIR named, and nothing is flashed
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
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
