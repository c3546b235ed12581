#!/usr/bin/env bash
# Measures corpus runs of vtbench32 --batch (all suite codecs, quality
# measures on) on the speech that codec2-examples installs:
#  1. throughput in audio seconds per wall second with -j 1 and -j 2 (the
#     best of REPEATS runs each, since other work on the machine only ever
#     slows a run down), and the speed-up from the second worker; beside it
#     the CPU seconds the run took (user + system), which other work on a
#     shared machine does not inflate: -j 2 should take about the CPU time of
#     -j 1, its wall time about half of it;
#  2. peak memory (maximum resident set) for those 30 originals and for
#     three copies of them (90 originals), which must not grow with the
#     number of originals;
#  3. peak memory for one 339 s original against the original's own size.
#
#   scripts/measure-corpus.sh [BUILD_DIR] [REPEATS] [VTBENCH32 OPTIONS...]   (defaults: build, 3)
#
# Options after the first two go to every run: --no-visqol (the measures
# without the ViSQOL score) or --no-quality (none) to compare the throughput
# with and without the score.  With THROUGHPUT_ONLY=1 the memory parts (2 and
# 3) are left out.
#
# The corpus: ten recordings at 8000 Hz (VT4864v6, VT180 and the other
# 8 kHz coders), and the same at 11025 Hz (VT250f11, the 8 kHz coders on the
# down-sampled copy) and at 22050 Hz (VT500f22), made with sox.  Needs
# /usr/bin/time, sox and python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
repeats=${2:-3}
extra=("${@:3}")
bench="$build/stage/bin/vtbench32"
[[ -x $bench ]] || { echo "no $bench: build first (scripts/build.sh $build)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp # a temporary folder (and instance lock) of its own
mkdir -p "$TMPDIR" "$work/corpus" "$work/triple" "$work/long"

raw=/usr/share/codec2/raw
names="kristoff cq_ref mmt1 hts1a hts2a morig forig big_dog vk5qi ve9qrp"
for name in $names; do
  for rate in 8000 11025 22050; do
    sox -V1 -t raw -r 8000 -e signed -b 16 -c 1 "$raw/$name.raw" -r "$rate" "$work/corpus/${name}_$rate.wav"
  done
done
for copy in a b c; do cp -r "$work/corpus" "$work/triple/$copy"; done
# 339 s of speech in one file.
files=()
for name in $names; do files+=("$raw/$name.raw"); done
head -c $((339 * 8000 * 2)) < <(cat "${files[@]}" "${files[@]}" "${files[@]}") >"$work/long.raw"
sox -V1 -t raw -r 8000 -e signed -b 16 -c 1 "$work/long.raw" "$work/long/long.wav"

# run ARGS... -> "wall_seconds max_rss_kb cpu_seconds audio_seconds"
run() {
  /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$bench" --batch --quiet --json "$work/r.json" "${extra[@]}" "$@" >/dev/null 2>"$work/err.txt" ||
    { cat "$work/err.txt" >&2; exit 1; }
  local audio
  audio=$(python3 -c 'import json,sys; d = json.load(open(sys.argv[1])); print(d["corpus"]["seconds"])' "$work/r.json")
  local wall rss user sys
  read -r wall rss user sys <"$work/time.txt"
  echo "$wall $rss $(echo "$user + $sys" | bc -l) $audio"
}

echo "cores available: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg); options: ${extra[*]:-(none)}"
echo
echo "Throughput, $(ls "$work/corpus" | wc -l) originals (best of $repeats):"
declare -A best bestcpu
for jobs in 1 2; do
  best[$jobs]=
  for ((i = 0; i < repeats; i++)); do
    read -r wall rss cpu audio < <(run "$work/corpus" -j "$jobs")
    if [[ -z ${best[$jobs]} ]] || (($(echo "$wall < ${best[$jobs]}" | bc -l))); then
      best[$jobs]=$wall
      bestcpu[$jobs]=$cpu
    fi
  done
  printf "  -j %d: %.1f s of audio in %.2f s: %.1f audio s per wall s (%.2f CPU s, %.1f audio s per CPU s), peak %d KiB\n" \
    "$jobs" "$audio" "${best[$jobs]}" "$(echo "$audio / ${best[$jobs]}" | bc -l)" "${bestcpu[$jobs]}" \
    "$(echo "$audio / ${bestcpu[$jobs]}" | bc -l)" "$rss"
done
printf "  speed-up from the second worker: %.2fx\n" "$(echo "${best[1]} / ${best[2]}" | bc -l)"
if [[ ${THROUGHPUT_ONLY:-0} == 1 ]]; then
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi
echo
echo "Memory against the number of originals (-j 1):"
read -r _ rss30 _ _ < <(run "$work/corpus" -j 1)
read -r _ rss90 _ _ < <(run "$work/triple" -j 1)
echo "  30 originals: peak $rss30 KiB; 90 originals: peak $rss90 KiB"
echo
size=$(stat -c %s "$work/long/long.wav")
read -r wall rss _ audio < <(run "$work/long/long.wav")
printf "One %.0f s original (%d bytes): peak %d KiB, %.1fx its size, %.2f s\n" "$audio" "$size" "$rss" \
  "$(echo "$rss * 1024 / $size" | bc -l)" "$wall"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
