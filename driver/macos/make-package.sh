#!/bin/sh
# Builds the VelkaroAudio installer package with the system's package tools.
#
#     make-package.sh BUNDLE VERSION OUTPUT.pkg
#
# The package installs VelkaroAudio.driver into /Library/Audio/Plug-Ins/HAL and restarts the audio server
# afterwards, so the two devices appear without a restart of the Mac. With VELKARO_CODESIGN_IDENTITY set
# (a "Developer ID Application" identity) the bundle is signed with the hardened runtime first; with
# VELKARO_INSTALLER_IDENTITY set (a "Developer ID Installer" identity) the package is signed too.
set -eu

bundle=$1
version=$2
output=$3
here=$(cd "$(dirname "$0")" && pwd)

root=$(mktemp -d "${TMPDIR:-/tmp}/velkaro-package.XXXXXX")
trap 'rm -rf "$root"' EXIT
# ditto keeps the bundle's metadata and signature intact.
ditto "$bundle" "$root/VelkaroAudio.driver"
if [ -n "${VELKARO_CODESIGN_IDENTITY:-}" ]; then
    codesign --force --options runtime --timestamp --sign "$VELKARO_CODESIGN_IDENTITY" \
        "$root/VelkaroAudio.driver"
fi

# A bundle in a component package is relocatable by default: the Installer would update a copy it finds
# elsewhere instead of installing into the plug-in folder.
trap 'rm -rf "$root" "$root.plist"' EXIT
pkgbuild --analyze --root "$root" "$root.plist" >/dev/null
plutil -replace 0.BundleIsRelocatable -bool NO "$root.plist"

mkdir -p "$(dirname "$output")"
set -- --root "$root" --identifier fr.velkaro.audio.driver.pkg --version "$version" \
    --install-location /Library/Audio/Plug-Ins/HAL --scripts "$here/scripts" \
    --component-plist "$root.plist"
if [ -n "${VELKARO_INSTALLER_IDENTITY:-}" ]; then
    set -- "$@" --sign "$VELKARO_INSTALLER_IDENTITY" --timestamp
fi
pkgbuild "$@" "$output"
