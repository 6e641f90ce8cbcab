#!/usr/bin/env bash
# Runs a command and passes its output on line by line; when the command has been silent
# for a while (20 s unless HEARTBEAT_SECONDS says otherwise) it prints a line saying that
# it still runs and for how long, so that a long build is told apart from a hang. Ends with
# the command's exit status.
#
# usage: heartbeat.sh LABEL COMMAND [ARGUMENT...]
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 LABEL COMMAND [ARGUMENT...]" >&2
  exit 2
fi
label=$1
shift
quiet=${HEARTBEAT_SECONDS:-20}
started=$SECONDS

exec {out}< <("$@" 2>&1)
pid=$!
partial=""
while :; do
  if IFS= read -r -t "$quiet" -u "$out" line; then
    printf '%s%s\n' "$partial" "$line"
    partial=""
  else
    status=$?
    if [ "$status" -gt 128 ]; then # timed out; what came of a line waits for its end
      partial+=$line
      echo "$label: still running after $((SECONDS - started)) s"
    else # end of the output
      [ -n "$line$partial" ] && printf '%s%s\n' "$partial" "$line"
      break
    fi
  fi
done
exec {out}<&-
wait "$pid"
