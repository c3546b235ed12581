#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the evaluator's
# whole comparison headless over real speech at each rate the codecs take:
# an 8000 Hz recording (every 8 kHz codec of the suite and every peer, the
# field's standard codecs, in one table), and the same speech at 11025 and
# 22050 Hz for the wider audio coders, and as 8-bit samples for VT48.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release
bench="$root/build/stage/bin/vtbench32"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --batch --json "$work/results_8000.json"
# The same speech as 8-bit samples: VT48 codes it, the 16-bit-only codecs say they cannot.
sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/kristoff.raw -e unsigned -b 8 "$work/kristoff_8bit.wav"
echo
"$bench" --batch "$work/kristoff_8bit.wav" 2>&1 || true
# The vocoders and their tuned encoders on a recording that no table was trained on.
echo
sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/hts1a.raw "$work/hts1a.wav"
"$bench" --batch "$work/hts1a.wav" --codecs "VT15,VT15 HQ,VT48,VT48 HQ,VT4864v6,VT4864 HQ,VT120,VT120 HQ"
for rate in 11025 22050; do
  sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/kristoff.raw -r "$rate" "$work/kristoff_$rate.wav"
  echo
  "$bench" --batch "$work/kristoff_$rate.wav" 2>/dev/null || true
done
