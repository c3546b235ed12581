#!/usr/bin/env bash
# Regenerates every generated table of VT120 from the training speech that
# tools/train/get-training-speech prepares:
#   1. the post-filter's 16-tap fractional-delay filters (designed, no corpus);
#   2. the pitch-predictor codebook (VT4864v6's with entry 127 fixed by the format; a
#      closed-loop retraining did not measurably help, see codecs/vt120/README.md);
#   3. the four-stage LSP quantiser (the encoder's front end only), with its
#      spectral distortion on the held-out codec2-examples recordings.
#
#   regenerate_tables.sh BUILD_DIR CORPUS_LIST      (run from the source root)
# Takes about a quarter of an hour of CPU time.
set -euo pipefail
build=$1; list=$2
tools=$build/tools/train/vt120
books=codecs/vt120/codebooks
raw=/usr/share/codec2/raw
"$tools/vt120_design_postfilter_interp" --out "$books"
"$tools/vt120_train_pitch" --start codecs/vt4864v6/codebooks/pitch_predictor.inc --out "$books/pitch_predictor.inc" --passes 0
"$tools/vt120_train_lsp" --list "$list" --out "$books/lsp_stages.inc" --every 1 --kmeans-iterations 16 --joint-passes 40 \
  --evaluate $raw/hts1a.raw $raw/hts2a.raw $raw/morig.raw $raw/forig.raw $raw/big_dog.raw $raw/vk5qi.raw
ninja -C "$build" -j2
