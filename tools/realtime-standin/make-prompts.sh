#!/usr/bin/env bash
# Synthesises the stand-in's French prompts with espeak-ng, as 24 kHz mono 16-bit WAV files.
# Run once after editing prompts/assistant.txt; the WAV files are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
while IFS=$'\t' read -r name text; do
  [[ -z "$name" ]] && continue
  espeak-ng -v fr -s 165 -w "$work/$name.wav" "$text"
  sox "$work/$name.wav" -r 24000 -c 1 -b 16 -e signed-integer "$here/prompts/$name.wav"
done < "$here/prompts/assistant.txt"
du -ch "$here"/prompts/*.wav | tail -1
