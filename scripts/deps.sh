#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# Quick when everything is already there: it asks dpkg first and runs apt-get only for
# what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev
  libsystemd-dev dbus-daemon
  # The flight recordings (zlib) and the support report (libarchive).
  zlib1g-dev libarchive-dev
  nlohmann-json3-dev libssl-dev
  xvfb xauth
  # The Debian package and its check: manuals, icon renders, desktop entry and metadata
  # validators, lintian.
  scdoc librsvg2-bin desktop-file-utils appstream lintian dpkg-dev fakeroot file
  # The fleet test: docs/fleet.yml run by the real ansible-playbook on this machine.
  ansible-core
)
# Extra packages a caller asks for (the kernel test, for instance).
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
