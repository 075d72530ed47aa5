#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing) and builds it.
#   scripts/setup.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-build}
shift || true

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev
  libqt6sql6-odbc libqt6sql6-sqlite unixodbc-dev
  libsqliteodbc sqlite3 odbc-postgresql postgresql libsodium-dev
  fonts-dejavu-core xvfb xauth openbox x11-utils
)
. "$root/scripts/packages.sh"
ensure_packages "${packages[@]}"

cmake -S "$root" -B "$root/$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$root/$build_dir" -j"$(nproc)"
