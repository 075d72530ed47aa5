#!/usr/bin/env bash
# Pictures of the query editor and the report viewer as a browser shows them, made by the browser
# test against the running demo: docs/screenshots/editor.png and viewer.png. Run it again after
# every change to the pages.
#   scripts/web-screenshots.sh [--no-install]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/tests/e2e/run.sh" --screenshots "$root/docs/screenshots" "$@"
