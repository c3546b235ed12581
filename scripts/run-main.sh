#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs a real recording
# through every audio coder, printing bit rate, quality and speed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
speech=/usr/share/codec2/raw/kristoff.raw
for pair in 8000:VT180 11025:VT250f11 22050:VT500f22; do
  rate=${pair%%:*} lib=${pair##*:}
  sox -t raw -r 8000 -e signed -b 16 -c 1 "$speech" -t raw -r "$rate" "$work/speech_$rate.raw"
  "$root/build/tools/vtroundtrip" "$root/build/stage/VNTR/QBL/$lib.so" "$work/speech_$rate.raw" --rate "$rate"
done
