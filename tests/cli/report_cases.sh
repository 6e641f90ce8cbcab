#!/usr/bin/env bash
# The flight recorder and the support report, end to end on virtual drives:
#   roundtrip TRANSPORT PROFILE  a failing run, then --report, then the report replayed
#                    (and the run's own flight recording replayed): the same exit status,
#                    the same procedure lines and the same result in the run log
#   leak             a report made with a distinctive user, home, host name (in a UTS
#                    namespace when the kernel allows one) and machine id in the run log
#                    holds none of them, and its members carry neutral owners and times
#   bad-input        targets that exist, are links, devices or unwritable, no run logged,
#                    no such run, a recording rotated away: a clear line, nothing lost
# Usage: report_cases.sh CLI CASE [ARGS...]
set -uo pipefail
cli=$1
case_name=$2
shift 2

. "$(dirname "$0")/case_setup.sh"
logs=$XDG_STATE_HOME/tavoflash

# result_of LOG: the "result:" line of a run log.
result_of() { grep '^result: ' "$1"; }
newest_log() { ls -t "$logs"/run-*.log | head -n 1; }

case $case_name in
  roundtrip)
    transport=$1 profile=$2
    run_timeout=60
    code=0
    timeout 60 "$cli" --emulate="$profile" --transport "$transport" --yes </dev/null \
      >"$work/first.out" 2>"$work/first.err" || code=$?
    [ "$code" -ne 0 ] || fail "the $profile run did not fail"
    first_log=$(newest_log)
    recording=${first_log%.log}.jsonl.gz
    [ -s "$recording" ] || fail "no flight recording beside $first_log"
    gzip -t "$recording" || fail "the flight recording is no whole gzip file"
    cd "$work" || exit 1
    run 0 --report
    report=$(ls "$work"/tavoflash-report-*.tar.gz) || fail "no report in the current folder"
    grep -qF "The report was written to tavoflash-report-" "$work/out" || fail "no path said"
    # The run's own flight recording replays too (once is enough: the real clock is slow).
    sources=("$report")
    [ "$transport" != passthrough ] || sources+=("$recording")
    for source in "${sources[@]}"; do
      again=0
      timeout 60 "$cli" --emulate=replay:"$source" --yes </dev/null >"$work/again.out" \
        2>"$work/again.err" || again=$?
      [ "$again" -eq "$code" ] || fail "replay of $source: exit $again, the run gave $code"
      # The backup each run keeps is named by the time it was made.
      diff <(sed 's/^Backup saved: .*/Backup saved: FILE/' "$work/first.out") \
        <(sed 's/^Backup saved: .*/Backup saved: FILE/' "$work/again.out") >"$work/out" ||
        fail "replay of $source: other procedure lines"
      [ "$(result_of "$(newest_log)")" = "$(result_of "$first_log")" ] ||
        fail "replay of $source: another result"
      grep '^  ' "$work/first.err" >"$work/first.why"
      grep '^  ' "$work/again.err" >"$work/again.why"
      diff "$work/first.why" "$work/again.why" >"$work/out" ||
        fail "replay of $source: other explanations of the failure lines"
    done
    ;;
  leak)
    user=zqxuserqz host=zqxhostqz
    export HOME=$work/home/$user USER=$user LOGNAME=$user
    unset XDG_STATE_HOME
    logs=$HOME/.local/state/tavoflash
    mkdir -p "$HOME"
    machine_id=$(cat /etc/machine-id 2>/dev/null || true)
    # The host name is the kernel's own: set in a UTS namespace of our own when we may.
    in_ns=()
    if unshare --user --map-root-user --uts true 2>/dev/null; then
      in_ns=(unshare --user --map-root-user --uts sh -c 'hostname "$0" && exec "$@"' "$host")
    else
      echo "note: no UTS namespace here; the host name is not tested"
      host=
    fi
    "${in_ns[@]}" "$cli" --emulate=other-family --yes </dev/null >"$work/out" 2>"$work/err"
    log=$(newest_log)
    # Every private value in the log, as a log line naming a path or the host would hold it.
    echo "note: $HOME/.config $user@${host:-nohost} machine $machine_id" >>"$log"
    cd "$work" || exit 1
    "${in_ns[@]}" "$cli" --report "$work/r.tar.gz" </dev/null >"$work/out" 2>"$work/err" ||
      fail "no report"
    mkdir "$work/unpacked"
    tar -xzf "$work/r.tar.gz" -C "$work/unpacked" || fail "the report does not unpack"
    for secret in "$user" "$HOME" "$host" "$machine_id"; do
      [ -n "$secret" ] || continue
      grep -rlaF "$secret" "$work/unpacked" && fail "the report holds $secret"
      grep -qaF "$secret" "$work/r.tar.gz" && fail "the archive's bytes hold $secret"
      zcat "$work/r.tar.gz" | grep -qaF "$secret" && fail "the tar stream holds $secret"
    done
    grep -qE "<home-[0-9]+>/.config <user-[0-9]+>@" "$work/unpacked/tavoflash-report/run.log" ||
      fail "the placeholders are missing"
    [ -z "$host" ] || grep -qE "@<host-[0-9]+> machine" "$work/unpacked/tavoflash-report/run.log" ||
      fail "no host placeholder"
    [ -z "$machine_id" ] || grep -qF "machine <machine-id-1>" \
      "$work/unpacked/tavoflash-report/run.log" || fail "no machine id placeholder"
    tar --numeric-owner -tvzf "$work/r.tar.gz" >"$work/listing"
    while read -r mode owner _ date _; do
      [ "$owner" = 0/0 ] && [ "$mode" = -rw-r--r-- ] && [ "$date" = 1970-01-01 ] ||
        fail "a member is not neutral: $mode $owner $date"
    done <"$work/listing"
    [ "$(od -An -tu4 -j4 -N4 "$work/r.tar.gz" | tr -d ' ')" = 0 ] || fail "the gzip header has a time"
    ;;
  bad-input)
    cd "$work" || exit 1
    run 2 --report
    grep -qF "tavoflash-cli: no run is logged in $logs: there is nothing to report yet" \
      "$work/err" || fail "no run logged: no clear line"
    [ -z "$(ls "$work"/tavoflash-report-* 2>/dev/null)" ] || fail "a report was left"
    run 1 --emulate=other-family --yes
    echo precious >"$work/kept"
    ln -s "$work/kept" "$work/link"
    for target in kept link /dev/null /nonexistent/r.tar.gz "$work"; do
      run 2 --report "$target"
      grep -q "^tavoflash-cli: cannot write the report to $target: " "$work/err" ||
        fail "$target: no clear line"
    done
    grep -qF "it is a folder" "$work/err" || fail "the folder is not named as one"
    [ "$(cat "$work/kept")" = precious ] || fail "an existing file was changed"
    run 2 --report "$work/r.tar.gz" --report-run 2
    grep -qF "there is no run 2: 1 run is logged" "$work/err" || fail "no such run: no clear line"
    [ ! -e "$work/r.tar.gz" ] || fail "a report of no run was written"
    run 2 --report --check
    # The recording rotated away: the report says so, is written, and a replay says why.
    rm "$logs"/run-*.jsonl.gz
    run 0 --report "$work/r.tar.gz"
    grep -qF "Note: The run's recording is no longer kept" "$work/err" || fail "no note"
    tar -xzf "$work/r.tar.gz" -C "$work" || fail "the report does not unpack"
    grep -qF "recording: none (the run's recording is no longer kept" \
      "$work/tavoflash-report/system.txt" || fail "the report does not say so"
    [ ! -e "$work/tavoflash-report/recording.jsonl" ] || fail "a recording from nowhere"
    run 2 --emulate=replay:"$work/r.tar.gz" --yes
    grep -qF "is a support report without a recording" "$work/err" || fail "replay: no clear line"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name $*"
