#!/usr/bin/env bash
# The terminal program end to end on virtual drives, for what a configuration tool relies on:
#   json-pure        with --json, standard output is JSON Lines from the first byte to the
#                    last (runs, usage errors), standard error silent when it is no terminal,
#                    and the outcome's exit_status is the exit status
#   if-needed-record --if-needed on a drive already at the image's revision sends nothing
#                    beyond what --list sends (shown by --record) and ends with 0
#   history          --history lists the runs of the state directory, newest first, and
#                    opens no drive session (--record writes nothing)
# Usage: fleet_cases.sh CLI CASE
set -uo pipefail
cli=$1
case_name=$2

. "$(dirname "$0")/case_setup.sh"
run_timeout=60

# json_lines: every line of standard output is a JSON object with format_version 1; prints
# the event names, one a line.
json_lines() {
  python3 -c '
import json, sys
for n, line in enumerate(open(sys.argv[1]), 1):
    e = json.loads(line)
    assert isinstance(e, dict) and e["format_version"] == 1, "line %d" % n
    print(e["event"], e.get("exit_status", ""), e.get("class", ""))
' "$work/out" || fail "standard output is not JSON Lines"
}

case $case_name in
  json-pure)
    run 0 --emulate --yes --json
    [ ! -s "$work/err" ] || fail "standard error is not silent"
    json_lines >"$work/events"
    head -1 "$work/events" | grep -q "^start" || fail "the first event is not start"
    grep -qx "outcome 0 verified" "$work/events" || fail "no verified outcome with exit_status 0"
    run 3 --emulate=bad-verify --yes --json
    json_lines | grep -qx "outcome 3 written_unverified" || fail "no outcome with exit_status 3"
    run 2 --json --emulate --bogus
    [ ! -s "$work/err" ] || fail "standard error is not silent on a usage error"
    [ "$(json_lines)" = "error 2 " ] || fail "a usage error is not one error event"
    run 2 --json --emulate
    json_lines | grep -qx "error 2 " || fail "--json without --yes is no usage error"
    ;;
  if-needed-record)
    run 0 --emulate=current --list --record "$work/list.jsonl"
    run 0 --emulate=current --yes --if-needed --record "$work/run.jsonl"
    grep -qF "already at 1.08" "$work/err" || fail "no 'already at 1.08'"
    listed=$(grep -c '"cdb"' "$work/list.jsonl")
    sent=$(grep -c '"cdb"' "$work/run.jsonl")
    [ "$listed" -gt 0 ] || fail "the search for drives recorded no command"
    [ "$sent" -eq "$listed" ] || fail "--if-needed sent $sent commands, the search for drives $listed"
    [ ! -d "$XDG_STATE_HOME/tavoflash" ] || fail "nothing to do left a run log"
    ;;
  history)
    run 0 --history
    grep -qF "No runs are logged." "$work/out" || fail "an empty history says nothing"
    run 1 --emulate=other-family --yes
    run 1 --emulate=default,other-family --yes --drive 1
    run 0 --history --record "$work/history.jsonl"
    [ ! -e "$work/history.jsonl" ] || fail "--history opened a drive session"
    [ "$(grep -c '^    .*/run-.*\.log$' "$work/out")" -eq 2 ] || fail "not two runs listed"
    head -1 "$work/out" | grep -qF "emulated:sr1" || fail "the newest run is not first"
    run 0 --history --json
    [ "$(json_lines | sort -u)" = "run  nothing_written" ] || fail "--history --json"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
