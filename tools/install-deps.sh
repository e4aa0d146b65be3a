#!/usr/bin/env bash
# Installs the Debian packages Orlea needs to build, test and run its demo.
# Idempotent: quiet and fast when everything is already present.
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config ccache
  libpulse-dev
  qt6-base-dev qt6-websockets-dev qt6-multimedia-dev qt6-svg-dev qt6-qpa-plugins
  libsndfile1-dev libsoxr-dev libspeexdsp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  espeak-ng sox libsox-fmt-base
  xvfb xauth openssl fonts-dejavu-core
  dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
