#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   run-tests.sh             the normal build (build/)
#   run-tests.sh --sanitize  with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${1:-}" = "--sanitize" ]; then
  dir=$root/build-asan
  # -O1 with line tables only: what the sanitizers need for their reports, and
  # a third quicker to build than -O2 with full debug information.
  "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVNTR_SANITIZE=ON -DVNTR_BUILD_BENCH=OFF \
    -DVNTR_BUILD_TRAINING_TOOLS=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  dir=$root/build
  "$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=Release
fi
ctest --test-dir "$dir" -j"$(nproc)" --output-on-failure --timeout 600
# The sources' layout, once (it does not depend on the build).
[ "${1:-}" = "--sanitize" ] || "$root/scripts/check-format.sh"
