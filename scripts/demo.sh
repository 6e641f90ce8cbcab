#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts TAVOFlash on a
# virtual drive (no optical drive needed). Extra arguments go to the program, for example
# --emulate=normal-mode or --transport=aspi.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tavoflash tavoflash-cli

args=("$@")
have_emulate=0
for a in "${args[@]}"; do case "$a" in --emulate*) have_emulate=1 ;; esac; done
[ $have_emulate -eq 1 ] || args=(--emulate "${args[@]}")

app=build/release/app/tavoflash
cli=build/release/cli/tavoflash-cli
if [ -x "$app" ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$app" "${args[@]}"
  fi
  # Without a display nobody could answer the window's questions: the run is started for
  # the user and the finished window is saved as a picture.
  shot="$PWD/build/release/demo-screenshot.png"
  echo "No display found: running the window under Xvfb (xvfb-run) instead."
  echo "The start-up question is answered OK and the run is started automatically;"
  echo "when it has finished, a screenshot of the window is saved to $shot."
  # The window saves its own picture once the run has ended and quits with the run's
  # exit code: no fixed wait, however long the run takes.
  TAVOFLASH_DEMO_AUTOSTART=1 xvfb-run -a -s "-screen 0 640x480x24" \
    "$app" "${args[@]}" --screenshot "$shot" && rc=0 || rc=$?
  [ -s "$shot" ] && echo "Saved $shot (the run ended with exit code $rc)"
  exit "$rc"
fi
exec "$cli" "${args[@]}"
