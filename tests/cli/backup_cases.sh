#!/usr/bin/env bash
# The backup every run makes and the restore from it, end to end on virtual drives:
#   round-trip TRANSPORT  a run keeps a backup (container and manifest, named in the log),
#                         --restore lists it, and flashing it back to a drive that reports
#                         1.08 verifies, brings it to 1.05 and says so; recordings made
#                         with and without a backup replay
#   refusals              a changed backup and one of another drive are refused before any
#                         drive is written; --no-backup keeps nothing and says so
# Usage: backup_cases.sh CLI CASE [TRANSPORT]
set -uo pipefail
cli=$1
case_name=$2
transport=${3:-passthrough}

. "$(dirname "$0")/case_setup.sh"
backups=$XDG_STATE_HOME/tavoflash/backups

has() { grep -qF -- "$1" "$work/$2" || fail "$2 lacks: $1"; }

# The one backup in the folder (its container).
only_backup() {
  local found=("$backups"/*.bin)
  [ "${#found[@]}" -eq 1 ] && [ -f "${found[0]}" ] || fail "not one backup in $backups"
  echo "${found[0]}"
}

case $case_name in
  round-trip)
    run 0 --emulate --transport "$transport" --yes
    file=$(only_backup)
    has "Backup saved: $file" out
    has "The drive's firmware before this run: $file" err
    grep -q '"revision": "1.05"' "${file%.bin}.json" || fail "manifest lacks the revision"
    run 0 --restore
    has "TAVO QRD-1040C 1.05, " out
    has "$file" out
    # The drive now reports 1.08, as the one just flashed does.
    run 0 --emulate=current --transport "$transport" --yes --restore "$file"
    has "Restore drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.08 to 1.05 (an older revision: a downgrade), the backup of " out
    has "Firmware Verify ok!!" out
    has "1.08 -> 1.05" err
    # A recording of a run with its backup replays with it; one made without replays
    # without (as the kept recordings, made before backups existed, do).
    run 0 --emulate --transport "$transport" --yes --record "$work/with.jsonl"
    run 0 --emulate=replay:"$work/with.jsonl" --yes
    has "Backup saved: " out
    run 0 --emulate --transport "$transport" --yes --no-backup --record "$work/without.jsonl"
    run 0 --emulate=replay:"$work/without.jsonl" --yes
    has "Backup skipped: this replays a recording whose run made no backup" out
    ;;
  refusals)
    run 0 --emulate --yes --no-backup
    has "Backup skipped: --no-backup was given; nothing of the drive's firmware is kept." out
    [ ! -e "$backups" ] || [ -z "$(ls -A "$backups")" ] || fail "--no-backup kept a backup"
    run 0 --emulate --yes
    file=$(only_backup)
    # Of another model: no drive matches it, nothing is sent.
    run 2 --emulate=legacy-unlisted --yes --restore "$file" --record "$work/other.jsonl"
    has "Can't find the device to upgrade !!" err
    if grep -q '"cdb":"5a00384153a[02]' "$work/other.jsonl"; then fail "a write was sent"; fi
    # One byte changed: refused before any drive is opened.
    printf '\x00' | dd of="$file" bs=1 seek=200 conv=notrunc status=none
    run 2 --emulate=current --yes --restore "$file" --record "$work/changed.jsonl"
    has "is not what its manifest says" err
    [ ! -e "$work/changed.jsonl" ] || fail "the drive session was opened"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
