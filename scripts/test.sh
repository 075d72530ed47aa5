#!/usr/bin/env bash
# Builds the agent, the reference service and the tests, then runs every test.
#   scripts/test.sh              all tests, warnings as errors
#   scripts/test.sh --sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=build
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  cmake_args+=(-DTALLYFRAME_SANITIZE=ON)
  # Leaks are reported; only the caches that the ODBC driver manager and the drivers it loads
  # keep for the process's life are suppressed (scripts/lsan.supp).
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
"$root/scripts/setup.sh" "$build_dir" "${cmake_args[@]}"
cd "$root/$build_dir"
ctest --output-on-failure -j2 --timeout 300
