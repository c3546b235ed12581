#!/usr/bin/env bash
# Codes speech files with VT120 and with the peers installable from Debian -
# GSM full rate (13.2 kbit/s, toast) and Speex narrowband at 11 kbit/s
# (speexenc --quality 6) - and measures every decoded result against its
# original (delay found by cross-correlation; SNR, segmental SNR and
# log-spectral distance in dB).  Judge on files the tables were not trained
# on, e.g. the codec2-examples recordings hts1a hts2a morig forig big_dog vk5qi.
#
#   compare_peers.sh [--match-level] BUILD_DIR OUT_DIR FILE...
#
# FILE: 8 kHz .wav or raw 16-bit.  --match-level scales each decoded file by
# its least-squares gain before measuring.  VT120 runs with and without its
# post-filter (vt120_nopf: the synthesis itself, for these measures only).
# Decoded files stay in OUT_DIR for listening and spectrograms.
set -euo pipefail
level=()
if [[ ${1:-} == --match-level ]]; then level=(--match-level); shift; fi
build=$1; out=$2; shift 2
mkdir -p "$out"
code=$build/tools/train/vt120/vt120_code_file
measure=$build/tools/train/common/vntr_measure_speech
codecs="vt120 vt120_nopf gsm_13200 speex_11000"
declare -A sum_snr sum_seg sum_lsd
for c in $codecs; do sum_snr[$c]=0; sum_seg[$c]=0; sum_lsd[$c]=0; done
n=0
printf "%-10s %-12s %8s %8s %8s %6s %6s\n" file codec SNR segSNR LSD delay gain
for f in "$@"; do
  name=$(basename "${f%.*}")
  wav=$out/$name.wav
  if [[ $f == *.wav ]]; then cp "$f" "$wav"; else sox -t raw -r 8000 -e signed -b 16 -c 1 "$f" "$wav"; fi
  "$code" "$wav" "$out/${name}_vt120.wav" --coded "$out/$name.vt120" >/dev/null
  "$code" "$out/$name.vt120" "$out/${name}_vt120_nopf.wav" --decode-only --no-postfilter >/dev/null
  sox "$wav" -t raw "$out/$name.raw"
  cp "$out/$name.raw" "$out/${name}_g.raw"
  toast -l -F -f "$out/${name}_g.raw"
  untoast -l -F -f "$out/${name}_g.raw.gsm"
  sox -t raw -r 8000 -e signed -b 16 -c 1 "$out/${name}_g.raw" "$out/${name}_gsm_13200.wav"
  speexenc -n --quality 6 "$wav" "$out/$name.spx" 2>/dev/null
  speexdec "$out/$name.spx" "$out/${name}_speex_11000.wav" 2>/dev/null
  for c in $codecs; do
    read -r d snr seg lsd gain < <("$measure" "$wav" "$out/${name}_$c.wav" --json "${level[@]}" |
      sed -E 's/.*"delay": ([-0-9]+), "snr": ([-0-9.]+), "segsnr": ([-0-9.]+), "lsd": ([-0-9.]+), "gain": ([-0-9.]+).*/\1 \2 \3 \4 \5/')
    printf "%-10s %-12s %8.2f %8.2f %8.2f %6d %6.3f\n" "$name" "$c" "$snr" "$seg" "$lsd" "$d" "$gain"
    sum_snr[$c]=$(echo "${sum_snr[$c]} + $snr" | bc -l)
    sum_seg[$c]=$(echo "${sum_seg[$c]} + $seg" | bc -l)
    sum_lsd[$c]=$(echo "${sum_lsd[$c]} + $lsd" | bc -l)
  done
  n=$((n + 1))
done
echo
printf "%-23s %8s %8s %8s   (mean over %d files)\n" codec SNR segSNR LSD "$n"
for c in $codecs; do
  printf "%-23s %8.2f %8.2f %8.2f\n" "$c" "$(echo "${sum_snr[$c]} / $n" | bc -l)" \
    "$(echo "${sum_seg[$c]} / $n" | bc -l)" "$(echo "${sum_lsd[$c]} / $n" | bc -l)"
done
