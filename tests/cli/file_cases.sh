#!/usr/bin/env bash
# The terminal program end to end on virtual drives, for the files it is given or keeps:
#   log-unwritable   a --log FILE that cannot be written is bad usage (exit 2, one line
#                    naming the file and why) before any drive is looked at
#   links-refused    --log and --record-overwrite refuse a symbolic link, target untouched
#   check-log        --check --log FILE writes the check's lines to FILE as well
#   list-keeps-logs  --list, and a look-up that finds no drive, leave the run logs alone
#   bad-transport    a bad TAVOFLASH_TRANSPORT stops a run but not --help or --version
#   replay-no-file   --emulate=replay: with a device or a folder is refused at once
#   drive-file       a virtual drive kept in a file (--emulate=PROFILE@FILE): a flash made
#                    by one run is what the next runs see, on both transports; a damaged or
#                    foreign file is refused (exit 2, naming it) before any drive is used,
#                    and kept as it was
# Usage: file_cases.sh CLI CASE
set -uo pipefail
cli=$1
case_name=$2

. "$(dirname "$0")/case_setup.sh"
mkdir -p "$XDG_STATE_HOME/tavoflash"

# only_line TEXT: standard error is that one line, standard output is empty.
only_line() {
  [ "$(cat "$work/err")" = "$1" ] || fail "standard error is not: $1"
  [ ! -s "$work/out" ] || fail "standard output is not empty"
}

case $case_name in
  log-unwritable)
    run 2 --emulate --yes --log /nonexistent/x.log --record "$work/rec.jsonl"
    only_line "tavoflash-cli: cannot write the log to /nonexistent/x.log: No such file or directory"
    [ ! -e "$work/rec.jsonl" ] || fail "the drive session was opened"
    run 2 --emulate --yes --log /
    only_line "tavoflash-cli: cannot write the log to /: it is a folder"
    run 2 --emulate --yes --log /proc/version
    only_line "tavoflash-cli: cannot write the log to /proc/version: it is a kernel interface, not a file"
    ;;
  links-refused)
    echo precious >"$work/target"
    ln -s "$work/target" "$work/link"
    run 2 --emulate --yes --log "$work/link"
    only_line "tavoflash-cli: cannot write the log to $work/link: it is a symbolic link"
    run 2 --emulate --list --record "$work/link" --record-overwrite
    grep -qF "cannot write the recording to $work/link: it is a symbolic link" "$work/err" ||
      fail "no refusal of the recording's link"
    [ "$(cat "$work/target")" = precious ] || fail "the link's target was changed"
    ;;
  check-log)
    run 0 --emulate --check --log "$work/check.log"
    [ -s "$work/out" ] || fail "no check lines"
    cmp -s "$work/out" "$work/check.log" || fail "the log differs from the check's lines"
    ;;
  list-keeps-logs)
    for i in $(seq 10 29); do : >"$XDG_STATE_HOME/tavoflash/run-20000101-0000$i-000.log"; done
    before=$(ls "$XDG_STATE_HOME/tavoflash")
    run 0 --emulate --list
    run 2 --emulate=legacy-unlisted --list
    run 2 --emulate=legacy-unlisted --yes
    [ "$(ls "$XDG_STATE_HOME/tavoflash")" = "$before" ] || fail "the run logs changed"
    ;;
  bad-transport)
    export TAVOFLASH_TRANSPORT=bogus
    run 0 --version
    grep -q '^tavoflash-cli ' "$work/out" || fail "no version"
    run 0 --help
    run 2 --emulate --list
    grep -qF "TAVOFLASH_TRANSPORT" "$work/err" || fail "the variable is not named"
    ;;
  replay-no-file)
    run 2 --emulate=replay:/dev/zero --check
    only_line "tavoflash-cli: --emulate=replay: /dev/zero is not a regular file (a device, a FIFO or a socket), not a recording"
    run 2 --emulate=replay:"$work" --check
    only_line "tavoflash-cli: --emulate=replay: $work is a folder, not a recording"
    ;;
  drive-file)
    drive=$work/sr0.vdrive
    run 0 --emulate=default@"$drive" --list
    grep -qF "1.05  emulated:sr0" "$work/out" || fail "the new drive does not report 1.05"
    [ -s "$drive" ] || fail "the drive's file was not made"
    run_timeout=60 run 0 --emulate=default@"$drive" --yes
    run 0 --emulate=default@"$drive" --list --transport aspi
    grep -qF "1.08  emulated:sr0" "$work/out" || fail "the next run does not see 1.08"
    run 0 --emulate=default@"$drive" --yes --if-needed
    grep -qF "already at 1.08" "$work/err" || fail "--if-needed does not see 1.08"
    head -c 1000 "$drive" >"$work/cut.vdrive"
    cp "$work/cut.vdrive" "$work/cut.before"
    run 2 --emulate=default@"$work/cut.vdrive" --list --record "$work/rec.jsonl"
    only_line "tavoflash-cli: --emulate: the virtual drive file $work/cut.vdrive is damaged: it is cut short (1000 bytes); remove it to start the drive again from its profile"
    [ ! -e "$work/rec.jsonl" ] || fail "the drive session was opened"
    cmp -s "$work/cut.vdrive" "$work/cut.before" || fail "the damaged file was changed"
    echo "not a drive" >"$work/foreign"
    run 2 --emulate=default@"$work/foreign" --yes
    grep -qF "$work/foreign is not a virtual drive file" "$work/err" || fail "a foreign file"
    run 2 --emulate=newer@"$drive" --list
    grep -qF "holds a drive of profile \"default\", not \"newer\"" "$work/err" ||
      fail "another profile's file"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
