#!/usr/bin/env bash
# The tests run a private PulseAudio daemon of their own. Its package is installed only where the
# computer has no sound server package at all, so a desktop's own sound (PipeWire's PulseAudio service,
# or PulseAudio) is never replaced. Prints 1 when a private daemon can run (the tests then require it).
set -euo pipefail

installed() { [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]; }

if ! installed pipewire-pulse && ! installed pulseaudio; then
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  echo "Installing: pulseaudio (for the tests' private sound server)" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >&2
  $sudo apt-get install -y -qq --no-install-recommends pulseaudio >/dev/null
fi
if command -v pulseaudio >/dev/null; then echo 1; else echo 0; fi
