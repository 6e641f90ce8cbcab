#!/usr/bin/env bash
# The terminal program end to end on virtual drives, for what it promises about a whole run:
#   no-lock       no lock file can be made for the drive: the run is refused (exit 4) with
#                 the folder tried and TAVOFLASH_LOCK_DIR named, and nothing is flashed
#   busy-no-restart --drive all --yes --reboot while another program holds one drive's lock:
#                 the other drive verifies, the busy one is refused, no restart is asked
#   reader-gone   --drive all --yes --json read by a consumer that stops after the first
#                 line: both drives are still flashed and logged, and the exit status is 0
#   drive-text    a replayed drive whose revision, then vendor and product, hold ESC [2J:
#                 no control byte reaches the terminal or the run log (shown as \x1b);
#                 JSON (--list --json) carries the exact bytes, escaped the JSON way
#   drive-options a second --drive is a usage error (nothing is looked at); --check --drive N
#                 checks drive N alone and ends with its verdict
#   unreached     six drives over pass-through (which reaches four): --list, --check and
#                 --drive all name the two not reached and point to --transport aspi;
#                 --drive all then ends with 4, --list and --check as before
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
  drive-text)
    # field FROM TO: a copy of a kept recording with the drive's INQUIRY bytes FROM..TO-1
    # set to ESC [2J and blanks.
    recording() {
      python3 - "$(dirname "$0")/../recordings/verified_sptd.jsonl" "$1" "$2" <<'PY'
import json, sys
src, start, end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for line in open(src):
    e = json.loads(line)
    if e.get("type") == "cmd" and e["cdb"].startswith("12") and "data_in" in e:
        b = bytearray.fromhex(e["data_in"])
        b[start:end] = (b"\x1b[2J" + b" " * 24)[: end - start]
        e["data_in"] = b.hex()
    print(json.dumps(e))
PY
    }
    no_escape() {  # no_escape FILE...: not one ESC byte in the files
      ! grep -qP '\x1b' "$@" || fail "a control byte from the drive reached $*"
    }
    recording 32 36 >"$work/revision.jsonl"
    run 0 --emulate=replay:"$work/revision.jsonl" --list
    grep -qF '\x1b[2J' "$work/out" || fail "the revision is not shown escaped"
    no_escape "$work/out" "$work/err"
    run 0 --emulate=replay:"$work/revision.jsonl" --yes
    no_escape "$work/out" "$work/err" "$XDG_STATE_HOME"/tavoflash/run-*.log
    run 0 --emulate=replay:"$work/revision.jsonl" --list --json
    no_escape "$work/out"
    python3 -c '
import json, sys
drives = [e for e in map(json.loads, open(sys.argv[1])) if e["event"] == "drive"]
assert drives and drives[0]["revision"] == "\x1b[2J", drives
' "$work/out" || fail "JSON does not carry the exact revision"
    recording 8 32 >"$work/identity.jsonl"
    run 2 --emulate=replay:"$work/identity.jsonl" --list
    no_escape "$work/out" "$work/err"
    ;;
  drive-options)
    run 2 --emulate --drive 1 --drive all --yes
    grep -qF -- "--drive was given twice ('1' and 'all')" "$work/err" || fail "no usage error"
    grep -qF -- "--help" "$work/err" || fail "no hint"
    [ ! -s "$work/out" ] || fail "a drive was looked at"
    run 2 --emulate --drive=0 --drive 0 --yes
    run 2 --history --drive 0
    run 0 --emulate=default,other-family --check --drive 0
    [ "$(grep -c '^check: ' "$work/out")" -eq 1 ] || fail "--check --drive 0 checked another drive"
    run 1 --emulate=default,other-family --check --drive emulated:sr1
    grep -qF "check: [1] " "$work/out" || fail "--check --drive DEVICE did not check that drive"
    run 2 --emulate --check --drive 4
    ;;
  unreached)
    named() {
      for n in 4 5; do
        grep -qE "^Not reached: TAVO +QRD-1040C +1.0[58]  emulated:sr$n " "$work/err" ||
          fail "emulated:sr$n is not named"
      done
      grep -qF -- "--transport aspi" "$work/err" || fail "no pointer to --transport aspi"
    }
    six=default,default,default,default,default,default
    run 0 --emulate=$six --list
    named
    run 0 --emulate=$six --check
    named
    run 4 --emulate=current,current,current,current,current,current --drive all --yes --if-needed
    named
    [ "$(grep -c "already at 1.08" "$work/err")" -eq 4 ] || fail "not four drives looked at"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
