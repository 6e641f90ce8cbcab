#!/usr/bin/env bash
# Installs what is missing, builds the debug configuration with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)" "$@"
