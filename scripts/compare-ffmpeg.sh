#!/usr/bin/env bash
# compare-ffmpeg.sh [--rounds N] [--build DIR] [ORIGINAL.wav]
#
# The whole-process CPU time of VT500f22 against FFmpeg's MPEG audio layer II
# coder on the same 22050 Hz speech: in each round,
#   vtbench32 --batch ORIGINAL --codecs VT500f22 --no-quality
# (start-up, coding, decoding, writing the coded and decoded files, exit), then
#   ffmpeg: ORIGINAL -> mp2 at 48 kbit/s, and that file -> a 16-bit wave file
# (two processes), each timed by the CPU time (user + system) it and its
# children used. Pairs run back to back so that both see the same machine;
# the script prints every pair's ratio and the ratio of the totals
# (below 1: VT500f22 takes less CPU than FFmpeg).
#
# Without ORIGINAL it makes one from codec2-examples (ve9qrp.wav and
# vk2tpm_004.wav one after the other, 147 s), brought to 22050 Hz with sox.
# FFmpeg comes from Debian's ffmpeg package: installed when missing and the
# script runs as root, otherwise it says so and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=5
build="$root/build"
original=
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds|--build)
      [ $# -ge 2 ] || { echo "compare-ffmpeg.sh: $1 needs a value" >&2; exit 2; }
      if [ "$1" = --rounds ]; then rounds=$2; else build=$2; fi
      shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compare-ffmpeg.sh: unknown option $1" >&2; exit 2 ;;
    *) original=$1; shift ;;
  esac
done
case "$rounds" in ''|*[!0-9]*|0) echo "compare-ffmpeg.sh: --rounds takes a positive count" >&2; exit 2 ;; esac

bench="$build/stage/bin/vtbench32"
if [ ! -x "$bench" ]; then
  echo "compare-ffmpeg.sh: $bench is not built (scripts/build.sh $build -DCMAKE_BUILD_TYPE=Release)" >&2
  exit 1
fi
if ! command -v ffmpeg >/dev/null; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ffmpeg >/dev/null
  else
    echo "compare-ffmpeg.sh: ffmpeg is missing (apt-get install ffmpeg)" >&2
    exit 1
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$original" ]; then
  wav=/usr/share/codec2/wav
  for f in ve9qrp.wav vk2tpm_004.wav; do
    [ -f "$wav/$f" ] || { echo "compare-ffmpeg.sh: $wav/$f missing (apt-get install codec2-examples), or name an original" >&2; exit 1; }
  done
  original="$work/speech_22050.wav"
  sox -V1 "$wav/ve9qrp.wav" "$wav/vk2tpm_004.wav" -r 22050 -b 16 -c 1 "$original"
fi
[ -f "$original" ] || { echo "compare-ffmpeg.sh: no file $original" >&2; exit 1; }
rate=$(soxi -r "$original")
[ "$rate" = 22050 ] || { echo "compare-ffmpeg.sh: $original is at $rate Hz; VT500f22 takes 22050 Hz" >&2; exit 1; }
seconds=$(soxi -D "$original")

# CPU seconds (user + system) of one command and its children; its output
# goes to $work/stdout and $work/stderr.
cpu() {
  local TIMEFORMAT='%U %S' t
  t=$( { time "$@" >"$work/stdout" 2>"$work/stderr" ; } 2>&1 ) || { cat "$work/stderr" >&2; return 1; }
  awk '{ printf "%.3f", $1 + $2 }' <<<"$t"
}
ffmpeg_pair() {
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$original" -c:a mp2 -b:a 48k "$work/coded.mp2"
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/coded.mp2" -c:a pcm_s16le "$work/decoded.wav"
}
export -f ffmpeg_pair
export original work

printf 'Original: %s, %.1f s at 22050 Hz; %d rounds\n' "$original" "$seconds" "$rounds"
printf '%-6s %12s %12s %8s\n' round "VT500f22 s" "ffmpeg s" ratio
ours_total=0
theirs_total=0
for r in $(seq 1 "$rounds"); do
  ours=$(cpu "$bench" --batch "$original" --codecs VT500f22 --no-quality)
  if ! grep -q '^VT500f22 .* bps' "$work/stdout"; then
    echo "compare-ffmpeg.sh: vtbench32 did not run VT500f22:" >&2
    cat "$work/stdout" "$work/stderr" >&2
    exit 1
  fi
  theirs=$(cpu bash -c ffmpeg_pair)
  printf '%-6s %12s %12s %8.2f\n' "$r" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
  ours_total=$(awk -v a="$ours_total" -v b="$ours" 'BEGIN { print a + b }')
  theirs_total=$(awk -v a="$theirs_total" -v b="$theirs" 'BEGIN { print a + b }')
done
awk -v a="$ours_total" -v b="$theirs_total" -v s="$seconds" -v n="$rounds" 'BEGIN {
  printf "CPU ratio VT500f22 / ffmpeg mp2 48k: %.2fx (%.3f s against %.3f s in all; %.0fx and %.0fx real time)\n",
         a / b, a, b, s * n / a, s * n / b }'
