#!/usr/bin/env bash
# Installs what is missing, checks the tree's format and folder rules, builds the debug
# configuration with AddressSanitizer and UndefinedBehaviorSanitizer, and runs the whole
# test suite through CTest: the quick tests first, so that a failure there is reported in
# seconds, then the two long ones side by side (the Debian package's release build and
# checks, the real-kernel test in qemu) with their output shown as it comes. Nothing stays
# silent for more than 20 s (scripts/heartbeat.sh). Arguments go to CTest instead (one run,
# as given).
set -euo pipefail
cd "$(dirname "$0")/.."
beat() { bash scripts/heartbeat.sh "$@"; }

bash scripts/deps.sh
bash scripts/check_format.sh
bash scripts/check_includes.sh
cmake --preset dev >/dev/null
beat build cmake --build --preset dev -j "$(nproc)"
if [ $# -gt 0 ]; then
  exec ctest --preset dev -j "$(nproc)" "$@"
fi
# Every test is named by what it checks: no parameter dumps in the names.
if ctest --preset dev -N | grep -F 'GetParam()'; then
  echo "test.sh: test names above carry their parameter's bytes" >&2
  exit 1
fi
# Twice as many quick tests as processors: the program tests on the real clock (about 10 s
# each) mostly wait, and the processors would otherwise idle through them.
beat tests ctest --preset dev -j "$((2 * $(nproc)))" -LE 'kernel|package'
beat 'package and kernel tests' ctest --preset dev -j "$(nproc)" -L 'kernel|package' -V
