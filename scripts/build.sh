#!/usr/bin/env bash
# build.sh [BUILD_DIR] [cmake options...]: configures and builds the project.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
ninja -C "$dir" -j"$(nproc)"
