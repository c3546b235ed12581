#!/usr/bin/env bash
# Regenerates every generated table of VT4864v6, in dependency order, from the
# training speech that tools/train/get-training-speech prepares:
#   1. the post-filter's fractional-delay filters (designed, no corpus);
#   2. the LSP split codebooks (the encoder's front end only);
#   3. the pitch-predictor codebook, trained in closed loop on the encoder's own
#      targets, so it needs the engine rebuilt with the new LSP codebooks first.
#
#   regenerate_tables.sh BUILD_DIR CORPUS_LIST      (run from the source root)
# Takes about an hour on one core; uses one thread.
set -euo pipefail
build=$1; list=$2
tools=$build/tools/train/vt4864v6
books=codecs/vt4864v6/codebooks
"$tools/vt4864v6_design_postfilter_interp" --out "$books"
"$tools/vt4864v6_train_lsp" --list "$list" --out "$books/lsp_codebook.inc" --passes 30 --kmeans-iterations 25
ninja -C "$build" -j2 vt4864v6_train_pitch
"$tools/vt4864v6_train_pitch" --list "$list" --out "$books/pitch_predictor.inc" --passes 8 --min-members 10 --ridge 1e-06
ninja -C "$build" -j2
