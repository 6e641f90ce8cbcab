#!/usr/bin/env bash
# The backup every run makes and the restore from it, end to end on virtual drives:
#   round-trip TRANSPORT  on a virtual drive kept in a file, a run takes it 1.05 -> 1.08 and
#                         keeps a backup (container and manifest, named in the log),
#                         --restore lists it and brings the drive back to 1.05, which the
#                         next runs see, and a read of its memory is the backup's;
#                         recordings made with and without a backup replay
#   refusals              a changed backup and one of another drive are refused before any
#                         drive is written; --no-backup keeps nothing and says so; a
#                         drive whose memory reads differently twice is refused with
#                         nothing written
# Usage: backup_cases.sh CLI CASE [TRANSPORT]
set -uo pipefail
cli=$1
case_name=$2
transport=${3:-passthrough}

. "$(dirname "$0")/case_setup.sh"
# A virtual run waits on the real clock, as the drive would make it wait: about 15 s.
run_timeout=60
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
    # A virtual drive kept in a file: each step is its own program run on the same drive.
    emulate=--emulate=default@$work/drive.tvd
    run 0 "$emulate" --transport "$transport" --yes
    file=$(only_backup)
    has "Backup saved: $file" out
    has "The drive's firmware before this run: $file" err
    grep -q '"revision": "1.05"' "${file%.bin}.json" || fail "manifest lacks the revision"
    run 0 --restore
    has "TAVO QRD-1040C 1.05, " out
    has "$file" out
    run 0 "$emulate" --transport "$transport" --list
    has "1.08  emulated:sr0" out
    run 0 "$emulate" --transport "$transport" --yes --restore "$file"
    has "Restore drive [0] emulated:sr0 (TAVO QRD-1040C) from 1.08 to 1.05 (an older revision: a downgrade), the backup of " out
    has "Firmware Verify ok!!" out
    has "1.08 -> 1.05" err
    run 0 "$emulate" --transport "$transport" --check
    has "1.05: a run would get past the checks" out
    # The drive's memory, read once more by the backup the next run makes before it writes,
    # is the backup's byte for byte: the same memory SHA-256, the same container.
    mv "$file" "$work/first.bin"
    mv "${file%.bin}.json" "$work/first.json"
    rm -f "$backups"/*
    run 0 "$emulate" --transport "$transport" --yes
    again=$(only_backup)
    memory_sha() { grep -o '"memory_sha256": "[0-9a-f]*"' "$1" || fail "$1 names no memory SHA-256"; }
    [ "$(memory_sha "$work/first.json")" = "$(memory_sha "${again%.bin}.json")" ] ||
      fail "the memory read after the restore is not the backup's"
    cmp -s "$work/first.bin" "$again" || fail "the container of the memory read again differs"
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
    # Two reads of its memory differ: refused after reading, before anything that writes.
    run 4 --emulate=unstable-read --yes --record "$work/unstable.jsonl"
    has "Err:Backup read unstable !!" out
    has "Nothing was written to the drive" err
    grep -q '"cdb":"5a0038415311' "$work/unstable.jsonl" || fail "the memory was not read"
    if grep -q '"cdb":"5a00384153a[02]' "$work/unstable.jsonl"; then fail "a write was sent"; fi
    [ "$(ls "$backups" | wc -l)" -eq 2 ] || fail "the unstable read left a backup"
    log=$(sed -n 's/^The log of this run: //p' "$work/err")
    grep -qx "result: refused" "$log" || fail "the run log does not say refused"
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
