#!/usr/bin/env bash
# Codes speech files with VT48 and with the peer codecs installed from Debian
# at the nearest rates below 4.8 kbit/s, and measures every decoded result
# against its original (delay found by cross-correlation; SNR, segmental SNR
# and log-spectral distance in dB).  Judge on files the tables were not
# trained on: the codec2-examples recordings hts1a hts2a morig forig big_dog vk5qi.
#
#   compare_peers.sh [--match-level] BUILD_DIR OUT_DIR FILE...   (FILE: 8 kHz .wav or raw 16-bit)
#
# --match-level scales each decoded file by its least-squares gain first
# (perceptual measures align levels the same way).
#
# Rows: vt48 (16-bit samples at the interface), vt48_8bit (8-bit samples),
# vt48_refined (the encoder with its waveform refinements of encoder.hpp,
# --refinements 29; same decoder and bitstream), Speex narrowband
# quality 1 (3.95 kbit/s), Codec2 3200.  Decoded files stay in OUT_DIR for
# listening and spectrograms.
set -euo pipefail
level=()
if [[ ${1:-} == --match-level ]]; then level=(--match-level); shift; fi
build=$1; out=$2; shift 2
mkdir -p "$out"
code=$build/tools/train/vt48/vt48_code_file
measure=$build/tools/train/common/vntr_measure_speech
codecs="vt48 vt48_8bit vt48_refined speex_3950 codec2_3200"
declare -A sum_snr sum_seg sum_lsd
for c in $codecs; do sum_snr[$c]=0; sum_seg[$c]=0; sum_lsd[$c]=0; done
n=0
printf "%-10s %-15s %8s %8s %8s %6s %6s\n" file codec SNR segSNR LSD delay gain
for f in "$@"; do
  name=$(basename "${f%.*}")
  wav=$out/$name.wav
  if [[ $f == *.wav ]]; then cp "$f" "$wav"; else sox -t raw -r 8000 -e signed -b 16 -c 1 "$f" "$wav"; fi
  "$code" "$wav" "$out/${name}_vt48.wav" >/dev/null
  "$code" "$wav" "$out/${name}_vt48_8bit.wav" --width 8 >/dev/null
  "$code" "$wav" "$out/${name}_vt48_refined.wav" --refinements 29 >/dev/null
  speexenc -n --quality 1 "$wav" "$out/$name.spx" 2>/dev/null
  speexdec "$out/$name.spx" "$out/${name}_speex_3950.wav" 2>/dev/null
  sox "$wav" -t raw "$out/$name.raw"
  c2enc 3200 "$out/$name.raw" "$out/$name.c2"
  c2dec 3200 "$out/$name.c2" "$out/${name}_c2.raw" 2>/dev/null
  sox -t raw -r 8000 -e signed -b 16 -c 1 "$out/${name}_c2.raw" "$out/${name}_codec2_3200.wav"
  for c in $codecs; do
    read -r d snr seg lsd gain < <("$measure" "$wav" "$out/${name}_$c.wav" --json "${level[@]}" |
      sed -E 's/.*"delay": ([-0-9]+), "snr": ([-0-9.]+), "segsnr": ([-0-9.]+), "lsd": ([-0-9.]+), "gain": ([-0-9.]+).*/\1 \2 \3 \4 \5/')
    printf "%-10s %-15s %8.2f %8.2f %8.2f %6d %6.3f\n" "$name" "$c" "$snr" "$seg" "$lsd" "$d" "$gain"
    sum_snr[$c]=$(echo "${sum_snr[$c]} + $snr" | bc -l)
    sum_seg[$c]=$(echo "${sum_seg[$c]} + $seg" | bc -l)
    sum_lsd[$c]=$(echo "${sum_lsd[$c]} + $lsd" | bc -l)
  done
  n=$((n + 1))
done
echo
printf "%-26s %8s %8s %8s   (mean over %d files)\n" codec SNR segSNR LSD "$n"
for c in $codecs; do
  printf "%-26s %8.2f %8.2f %8.2f\n" "$c" "$(echo "${sum_snr[$c]} / $n" | bc -l)" \
    "$(echo "${sum_seg[$c]} / $n" | bc -l)" "$(echo "${sum_lsd[$c]} / $n" | bc -l)"
done
