#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and starts TAVOFlash on a
# virtual drive (no optical drive needed). Extra arguments go to the program, for example
# --emulate=normal-mode or --transport=aspi.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

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
  echo "No display found: running the window under Xvfb (xvfb-run) instead."
  exec xvfb-run -a -s "-screen 0 800x600x24" "$app" "${args[@]}"
fi
exec "$cli" "${args[@]}"
