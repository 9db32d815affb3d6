#!/usr/bin/env bash
# Builds Fablewick with AddressSanitizer and UndefinedBehaviorSanitizer
# (installing what is missing) and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh"
build="$here/build/asan"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFABLEWICK_SANITIZE=ON -DFABLEWICK_WERROR=ON >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j2 "$@"
