#!/bin/sh
# Renders the agent's windows into docs/screenshots from an existing build.
#   scripts/screenshots.sh [build folder]        (default: build)
# Build the tool first: ninja -C <build folder> tallyframe_screenshots
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tool="$build/tests/tallyframe_screenshots"
if [ ! -x "$tool" ]; then
    echo "missing $tool: build the target tallyframe_screenshots first" >&2
    exit 1
fi
# Without a real font every text is drawn as boxes.
if ! fc-list 2>/dev/null | grep -qi 'DejaVu Sans'; then
    echo "install fonts-dejavu-core first" >&2
    exit 1
fi
# No service is contacted; the addresses shown are the build's defaults.
unset TALLYFRAME_SERVICE_URL TALLYFRAME_WEB_URL
QT_QPA_PLATFORM=offscreen "$tool" "$here/docs/screenshots"
