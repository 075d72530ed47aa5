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
  libsqliteodbc sqlite3 odbc-postgresql postgresql
  fonts-dejavu-core xvfb xauth
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$root/$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$root/$build_dir" -j"$(nproc)"
