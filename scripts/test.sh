#!/usr/bin/env bash
# Installs what is missing, checks the tree's format and folder rules, builds the debug
# configuration with AddressSanitizer and UndefinedBehaviorSanitizer, and runs the whole
# test suite through CTest: the quick tests first, so that a failure there is reported in
# seconds, then the real-kernel test. Arguments go to CTest instead (one run, as given).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/check_format.sh
bash scripts/check_includes.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
if [ $# -gt 0 ]; then
  exec ctest --preset dev -j "$(nproc)" "$@"
fi
ctest --preset dev -j "$(nproc)" -LE kernel
ctest --preset dev -L kernel
