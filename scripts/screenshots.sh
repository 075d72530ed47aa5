#!/bin/sh
# Pictures the agent's windows into docs/screenshots from an existing build, as a user sees them:
# real windows on a private X server (Xvfb) with a window manager (openbox), title bars included.
#   scripts/screenshots.sh [build folder]        (default: build)
# Build the tool first: ninja -C <build folder> tallyframe_screenshots
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tool="$build/tests/tallyframe_screenshots"
if [ ! -x "$tool" ]; then
    echo "missing $tool: build the target tallyframe_screenshots" >&2
    exit 1
fi
for program in xvfb-run openbox xprop; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "$program is missing: install xvfb, openbox and x11-utils" >&2
        exit 1
    fi
done
# Without a real font every text is drawn as boxes.
if ! fc-list 2>/dev/null | grep -qi 'DejaVu Sans'; then
    echo "install fonts-dejavu-core first" >&2
    exit 1
fi
# No service is contacted; the addresses shown are the build's defaults.
unset TALLYFRAME_SERVICE_URL TALLYFRAME_WEB_URL
# The same private display and window manager the window tests use.
sh "$here/tests/ui/under-xvfb.sh" "$tool" "$here/docs/screenshots"
