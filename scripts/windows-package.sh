#!/usr/bin/env bash
# Gathers the Windows agent and what it loads into one folder, then makes the zip of that folder
# and the installer (NSIS) from it.
#   scripts/windows-package.sh BUILD_DIR     (BUILD_DIR holds Q17-Tallyframe.exe)
# Output in BUILD_DIR/dist: "Q17 Tallyframe/", Q17-Tallyframe-win64.zip, Q17-Tallyframe-setup.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
kit=${TALLYFRAME_WIN_KIT:-/opt/qt6-win64}
dist=$build/dist
folder="$dist/Q17 Tallyframe"
version=$(sed -n 's/^TALLYFRAME_VERSION:STRING=//p' "$build/CMakeCache.txt")

rm -rf "$dist"
mkdir -p "$folder"
cp "$build/Q17-Tallyframe.exe" "$folder/"
# The Qt modules the agent links, the plugins Qt loads at run time (window system, style, ODBC,
# TLS through Schannel, the .ico reader) and the MinGW runtime.
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6Sql \
  libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
  cp "$kit/bin/$dll.dll" "$folder/"
done
for plugin in platforms/qwindows styles/qwindowsvistastyle sqldrivers/qsqlodbc \
  tls/qschannelbackend imageformats/qico; do
  mkdir -p "$folder/$(dirname "$plugin")"
  cp "$kit/plugins/$plugin.dll" "$folder/$plugin.dll"
done
# Every DLL the program and its plugins import must be in the folder or be part of Windows.
missing=$(find "$folder" -name '*.exe' -o -name '*.dll' | while read -r f; do
  x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'
done | sort -u | while read -r dll; do
  if [ -e "$kit/bin/$dll" ] && [ ! -e "$folder/$dll" ]; then echo "$dll"; fi
done)
if [ -n "$missing" ]; then
  echo "windows-package: missing beside the program: $missing" >&2
  exit 1
fi

(cd "$dist" && cmake -E tar cf Q17-Tallyframe-win64.zip --format=zip "Q17 Tallyframe")
makensis -V2 -DVERSION="$version" -DSOURCE_DIR="$folder" -DOUT_FILE="$dist/Q17-Tallyframe-setup.exe" \
  -DICON_FILE="$root/src/resources/app-icon.ico" "$root/packaging/installer.nsi"
ls -l "$dist"
