#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz, and runs each of them for a while, starting from the
# corpus in tests/fuzz/corpus. Fails on any crash, failed check, hang or sanitizer report.
#   scripts/fuzz.sh            300 s per target
#   scripts/fuzz.sh --short    20 s per target (CI)
#   scripts/fuzz.sh SECONDS    SECONDS per target
# New inputs go to build-fuzz/fuzz-work/<target>; a failing input is saved as
# build-fuzz/fuzz-artifacts/<target>-crash-* and can be replayed with
# build-fuzz/fuzz/<target> FILE.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build-fuzz"

seconds=300
case "${1:-}" in
  "") ;;
  --short) seconds=20 ;;
  *[!0-9]* | 0) echo "usage: $0 [--short|SECONDS]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac

packages=(
  cmake ninja-build clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev
  libqt6sql6-odbc libqt6sql6-sqlite unixodbc-dev
)
. "$root/scripts/packages.sh"
ensure_packages "${packages[@]}"

targets=(fuzz_report_request fuzz_envelope fuzz_url_encode fuzz_json_writer)
CXX=clang++ cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLYFRAME_FUZZ=ON >/dev/null
ninja -C "$build_dir" -j"$(nproc)" "${targets[@]}"

# A small quarantine that is handed back to the system keeps a long run under the RSS limit:
# with ASan's defaults the allocator alone grows past 1 GB in five minutes.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:quarantine_size_mb=16:allocator_release_to_os_interval_ms=1000
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build_dir/fuzz-artifacts"
status=0
summary=()
for target in "${targets[@]}"; do
  work="$build_dir/fuzz-work/$target"
  log="$build_dir/fuzz-work/$target.log"
  mkdir -p "$work"
  echo "== $target: $seconds s"
  # -timeout: one input taking this long is a hang; -rss_limit_mb: runaway memory is a fault.
  if "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build_dir/fuzz-artifacts/$target-" \
      "$work" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "ERROR|FUZZ CHECK|runtime error|SUMMARY|Test unit written" "$log" | head -20 || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$target: $result, ${execs:-?} runs in $seconds s, corpus $(find "$work" -type f | wc -l) new + $(find "$root/tests/fuzz/corpus/$target" -type f | wc -l) kept (log $log)")
done
printf '%s\n' "${summary[@]}"
exit $status
