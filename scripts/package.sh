#!/usr/bin/env bash
# Installs what is missing, builds a release configuration without the tests and makes the
# Debian package from it. The last line printed is the package's path.
#
# The build is a unity build (the sources of each library compiled a few at a time in one
# unit): the headers, Qt's above all, are then parsed once per unit instead of once per
# file, which halves the time of a build from scratch, the one the package test makes.
#
# usage: package.sh [BUILD_DIR]   (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/package}

bash scripts/deps.sh
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTAVO_SANITIZE=OFF -DTAVO_BUILD_TESTS=OFF \
  -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"
out=$(cd "$dir" && cpack -G DEB)
echo "$out"
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$out")
[ -f "$deb" ] || { echo "package.sh: cpack made no .deb" >&2; exit 1; }
echo "$deb"
