#!/usr/bin/env bash
# Copies the charting library out of its npm package (the version that package-lock.json pins)
# into this folder, from where it is compiled into the service's resources. Run after changing
# the version in package.json; commit the result.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
npm ci --no-audit --no-fund --loglevel=error
cp node_modules/chart.js/dist/chart.umd.min.js chart.umd.min.js
cp node_modules/chart.js/LICENSE.md chart.js-LICENSE.md
rm -rf node_modules
echo "chart.js $(sed -n 's/.*Chart.js v//p' chart.umd.min.js | head -n 1) copied"
