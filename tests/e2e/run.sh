#!/usr/bin/env bash
# Browser test of the query editor and the report viewer: runs the demo (service, agent and its
# SQLite database) in a private folder, then drives the pages in headless Chromium.
#
#   tests/e2e/run.sh                      install what is missing (Debian's chromium, the npm
#                                         packages), build if nothing is built, run
#   tests/e2e/run.sh --no-install         install no system package; exit 77 (skipped) when
#                                         node or /usr/bin/chromium is missing (CTest uses this)
#   tests/e2e/run.sh --screenshots DIR    also save editor.png, viewer.png and viewer-chart.png
#                                         into DIR
#
# Programs: TALLYFRAME_SERVER_BIN and TALLYFRAME_AGENT_BIN, else those in
# ${TALLYFRAME_BUILD_DIR:-build}. Bounded: the demo gets 40 s to bring its reports back, the
# browser test 60 s, and every process started here is ended on the way out.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
install=1
screenshots=
while [ $# -gt 0 ]; do
  case "$1" in
    --no-install) install=0 ;;
    --screenshots)
      [ $# -ge 2 ] || { echo "e2e: --screenshots needs a folder" >&2; exit 2; }
      mkdir -p "$2"
      screenshots=$(cd "$2" && pwd)
      shift
      ;;
    *)
      echo "e2e: unknown option $1" >&2
      exit 2
      ;;
  esac
  shift
done

chromium_bin=/usr/bin/chromium
if [ "$install" = 1 ]; then
  need=()
  [ -x "$chromium_bin" ] || need+=(chromium)
  command -v node >/dev/null || need+=(nodejs)
  command -v npm >/dev/null || need+=(npm)
  # Without fonts every text in a screenshot is a row of boxes.
  dpkg-query -W -f='${Status}' fonts-dejavu-core 2>/dev/null | grep -q "install ok installed" ||
    need+=(fonts-dejavu-core)
  if [ ${#need[@]} -gt 0 ]; then
    echo "e2e: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi
if [ ! -x "$chromium_bin" ] || ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "e2e: skipped: node, npm or $chromium_bin is missing"
  [ "$install" = 0 ] && exit 77
  exit 1
fi

build_dir=${TALLYFRAME_BUILD_DIR:-build}
server_bin=${TALLYFRAME_SERVER_BIN:-$root/$build_dir/tallyframe-server}
agent_bin=${TALLYFRAME_AGENT_BIN:-$root/$build_dir/Q17-Tallyframe}
if [ ! -x "$server_bin" ] || [ ! -x "$agent_bin" ]; then
  if [ "$install" = 0 ]; then
    echo "e2e: $server_bin or $agent_bin is not built" >&2
    exit 1
  fi
  "$root/scripts/setup.sh" "$build_dir"
fi

# playwright-core only drives a browser; it never downloads one.
(cd "$here" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)

work=$(mktemp -d "${TMPDIR:-/tmp}/tallyframe-e2e.XXXXXX")
demo_pid=
finish() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$demo_pid" ]; then
    # The demo's own trap ends the agent and the service it started.
    kill "$demo_pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$demo_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
    # Had it been killed outright, these are the ids it wrote down for what it started.
    if [ -f "$work/demo/children" ]; then
      while read -r pid; do
        if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
      done <"$work/demo/children"
    fi
  fi
  if [ "$status" != 0 ]; then
    for log in demo.log demo/server.log demo/agent.log; do
      [ -f "$work/$log" ] || continue
      echo "--- $log (last lines)"
      tail -n 25 "$work/$log"
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$(date +%s)
# The agent stays offscreen here even on a desktop: a test opens no windows.
TALLYFRAME_DEMO_DIR="$work/demo" TALLYFRAME_DEMO_TIMEOUT=40 TALLYFRAME_DEMO_PORT=0 \
  TALLYFRAME_SERVER_BIN="$server_bin" TALLYFRAME_AGENT_BIN="$agent_bin" QT_QPA_PLATFORM=offscreen \
  "$root/scripts/demo.sh" --no-setup >"$work/demo.log" 2>&1 &
demo_pid=$!
until [ -f "$work/demo/demo.env" ]; do
  if ! kill -0 "$demo_pid" 2>/dev/null; then
    echo "e2e: the demo ended before its reports came back" >&2
    exit 1
  fi
  if [ $(($(date +%s) - started)) -ge 60 ]; then
    echo "e2e: the demo was not ready within 60 s" >&2
    exit 1
  fi
  sleep 0.2
done
echo "e2e: demo ready in $(($(date +%s) - started)) s"

set -a
# shellcheck disable=SC1091
. "$work/demo/demo.env"
set +a
export TALLYFRAME_E2E_SCREENSHOTS="$screenshots"
cd "$here"
timeout 90 node --test report-flow.test.mjs
[ -z "$screenshots" ] || echo "e2e: screenshots in $screenshots: editor.png viewer.png viewer-chart.png"
