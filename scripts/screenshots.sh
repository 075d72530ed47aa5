#!/bin/sh
# Renders the agent's windows into docs/screenshots from an existing build, under Xvfb when it
# is installed (a real X server), offscreen otherwise.
#   scripts/screenshots.sh [build folder]        (default: build)
# Build the tools first: ninja -C <build folder> tallyframe_screenshots tallyframe_grab_consent
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tool="$build/tests/tallyframe_screenshots"
consent="$build/tests/tallyframe_grab_consent"
for t in "$tool" "$consent"; do
    if [ ! -x "$t" ]; then
        echo "missing $t: build the targets tallyframe_screenshots and tallyframe_grab_consent" >&2
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
if command -v xvfb-run >/dev/null 2>&1; then
    run() { xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"; }
else
    run() { env QT_QPA_PLATFORM=offscreen "$@"; }
fi
run "$tool" "$here/docs/screenshots"
run "$consent" "$here/docs/screenshots/consent.png"
