#!/usr/bin/env bash
# The Windows build in one command: cross-compiles the agent and its tests with the Windows kit
# (MinGW-w64, Qt 6 for Windows), runs the tests under Wine, and makes the installer and the zip.
#   scripts/windows.sh              everything (build, tests under Wine, installer, installer test)
#   scripts/windows.sh --no-tests   build, installer and zip only
# Needs the Linux build (build/, made here when missing) for the reference service the Windows
# tests run against. Output: build-win64/Q17-Tallyframe.exe, build-win64/dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

kit_archive=${TALLYFRAME_WIN_KIT_ARCHIVE:-$root/../shared/windows/qt6-win64-kit.tar.xz}
kit=/opt/qt6-win64
kit_sha=fb66da60be2ae199621cfdbc2a9ad972561e60b3b11402e1484813e8a31bc2b4
build=$root/build-win64

. "$root/scripts/packages.sh"
ensure_packages g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nsis \
  xvfb xauth openbox x11-utils imagemagick ccache curl sqlite3

# The kit: unpacked once; a marker holds the archive's checksum so a new kit replaces the old.
if [ "$(cat "$kit/.kit-sha256" 2>/dev/null)" != "$kit_sha" ]; then
  echo "$kit_sha  $kit_archive" | sha256sum -c --quiet
  rm -rf "$kit"
  tar -C / -xJf "$kit_archive"
  echo "$kit_sha" >"$kit/.kit-sha256"
fi

# The Linux build provides tallyframe-server; CI has built it already.
if [ ! -x "$root/build/tallyframe-server" ]; then
  "$root/scripts/setup.sh" build
fi

# One configuration (Release): the tests run against the build that ships.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$kit/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$kit" -DQT_HOST_PATH=/usr \
  -DTALLYFRAME_BUILD_TESTS="$([ $run_tests = 1 ] && echo ON || echo OFF)" \
  -DTALLYFRAME_LINUX_BUILD_DIR="$root/build" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The folder that is installed and zipped: the agent, the Qt DLLs and plugins it loads, the
# MinGW runtime.
"$root/scripts/windows-package.sh" "$build"

if [ $run_tests = 1 ]; then
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
  "$root/tests/windows/wine-prefix.sh"
  # One display with a window manager for every test: Wine draws real top-level windows.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    openbox >/dev/null 2>&1 &
    ctest --test-dir "$1" --output-on-failure -j2 --timeout 300' _ "$build"
fi
