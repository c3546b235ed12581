#!/usr/bin/env bash
# Codes speech files with VT15 and with Codec2 at 1600 and 1300 bit/s
# (c2enc/c2dec), and compares each decoded result with its original the way a
# parametric coder must be judged: aligned by the amplitude envelopes, scaled
# to the original's energy, by log-spectral distance (LSD, dB); also the bit
# rate, and for VT15 the class histogram.  Judge on files the quantiser was
# not trained on, e.g. codec2-examples' hts1a hts2a morig forig big_dog vk5qi.
#
#   compare_peers.sh BUILD_DIR OUT_DIR FILE...   (FILE: 8 kHz .wav or raw 16-bit)
#
# Decoded files and their spectrograms (sox) stay in OUT_DIR.
set -euo pipefail
build=$1; out=$2; shift 2
mkdir -p "$out"
code=$build/tools/train/vt15/vt15_code_file
measure=$build/tools/train/common/vntr_measure_speech
codecs="vt15 codec2_1600 codec2_1300"
declare -A sum_lsd sum_rate
for c in $codecs; do sum_lsd[$c]=0; sum_rate[$c]=0; done
n=0
printf "%-10s %-12s %8s %8s %6s\n" file codec bit/s LSD delay
for f in "$@"; do
  name=$(basename "${f%.*}")
  wav=$out/$name.wav
  if [[ $f == *.wav ]]; then cp "$f" "$wav"; else sox -t raw -r 8000 -e signed -b 16 -c 1 "$f" "$wav"; fi
  sox "$wav" -t raw "$out/$name.raw"
  samples=$(( $(stat -c %s "$out/$name.raw") / 2 ))
  seconds=$(echo "$samples / 8000" | bc -l)
  line=$("$code" "$wav" "$out/${name}_vt15.wav" --coded "$out/$name.vt15" --frames "$out/${name}_vt15_frames.txt")
  declare -A rate
  rate[vt15]=$(echo "$(stat -c %s "$out/$name.vt15") * 8 / $seconds" | bc -l)
  echo "$name: ${line#*; }" >> "$out/classes.txt"
  for r in 1600 1300; do
    c2enc $r "$out/$name.raw" "$out/$name.c2_$r"
    c2dec $r "$out/$name.c2_$r" "$out/${name}_c2_$r.raw" 2>/dev/null
    sox -t raw -r 8000 -e signed -b 16 -c 1 "$out/${name}_c2_$r.raw" "$out/${name}_codec2_$r.wav"
    rate[codec2_$r]=$(echo "$(stat -c %s "$out/$name.c2_$r") * 8 / $seconds" | bc -l)
  done
  for c in $codecs; do
    read -r d lsd < <("$measure" "$wav" "$out/${name}_$c.wav" --json --envelope-delay --match-energy --max-delay 1200 |
      sed -E 's/.*"delay": ([-0-9]+), .*"lsd": ([-0-9.]+),.*/\1 \2/')
    printf "%-10s %-12s %8.0f %8.2f %6d\n" "$name" "$c" "${rate[$c]}" "$lsd" "$d"
    sum_lsd[$c]=$(echo "${sum_lsd[$c]} + $lsd" | bc -l)
    sum_rate[$c]=$(echo "${sum_rate[$c]} + ${rate[$c]}" | bc -l)
    sox "$out/${name}_$c.wav" -n spectrogram -x 800 -y 257 -o "$out/${name}_$c.png" -t "${name} $c"
  done
  sox "$wav" -n spectrogram -x 800 -y 257 -o "$out/${name}_original.png" -t "${name} original"
  n=$((n + 1))
done
echo
printf "%-12s %8s %8s   (mean over %d files)\n" codec bit/s LSD "$n"
for c in $codecs; do
  printf "%-12s %8.0f %8.2f\n" "$c" "$(echo "${sum_rate[$c]} / $n" | bc -l)" "$(echo "${sum_lsd[$c]} / $n" | bc -l)"
done
