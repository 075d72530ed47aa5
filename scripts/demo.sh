#!/usr/bin/env bash
# The whole system on one machine: builds it, fills an SQLite database with a small grocer's
# products, customers and sales, starts the reference service on 127.0.0.1 with a company whose
# connection string opens that database, starts the agent against it, queues two sample reports,
# waits until the agent has brought both back, and prints where to read them.
#
#   scripts/demo.sh              set up and build, then run until Ctrl-C
#   scripts/demo.sh --once       stop everything as soon as both reports came back (exit 0)
#   scripts/demo.sh --no-setup   skip package installation and build; use the programs built
#
# Environment:
#   TALLYFRAME_DEMO_PORT     port of the service (default: a free one)
#   TALLYFRAME_DEMO_DIR      work folder (default: $XDG_RUNTIME_DIR/tallyframe-demo, else
#                            /tmp/tallyframe-demo); its database, data and logs are made anew
#   TALLYFRAME_DEMO_TIMEOUT  seconds to wait for the agent and the reports (default 60)
#   TALLYFRAME_BUILD_DIR     build folder under the repository (default build)
#   TALLYFRAME_SERVER_BIN, TALLYFRAME_AGENT_BIN   programs to run instead of the build folder's
#
# When both reports are back the work folder also holds demo.env (service address, company,
# API key, database path) for scripts that drive the running demo, such as the browser test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
once=0
setup=1
for arg in "$@"; do
  case "$arg" in
    --once) once=1 ;;
    --no-setup) setup=0 ;;
    -h | --help)
      sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "demo: unknown option $arg (see --help)" >&2
      exit 2
      ;;
  esac
done

build_dir=${TALLYFRAME_BUILD_DIR:-build}
timeout_s=${TALLYFRAME_DEMO_TIMEOUT:-60}
work=${TALLYFRAME_DEMO_DIR:-${XDG_RUNTIME_DIR:-/tmp}/tallyframe-demo}
company="CV Sinar Jaya Grosir"
telp="0812-2017-1717"
# A locally administered hardware address: it can never be a real adapter's.
device="02:17:DE:30:00:01"

say() { printf 'demo: %s\n' "$*"; }
die() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

if [ "$setup" = 1 ]; then
  "$root/scripts/setup.sh" "$build_dir"
fi
# The demo itself asks the running service how far the reports are.
if ! command -v curl >/dev/null; then
  . "$root/scripts/packages.sh"
  ensure_packages curl
fi

server_bin=${TALLYFRAME_SERVER_BIN:-$root/$build_dir/tallyframe-server}
agent_bin=${TALLYFRAME_AGENT_BIN:-$root/$build_dir/Q17-Tallyframe}
[ -x "$server_bin" ] || die "$server_bin is missing: run scripts/setup.sh first (or drop --no-setup)"
[ -x "$agent_bin" ] || die "$agent_bin is missing: run scripts/setup.sh first (or drop --no-setup)"
command -v sqlite3 >/dev/null || die "sqlite3 is missing: run scripts/setup.sh first"

mkdir -p "$work"
work=$(cd "$work" && pwd)

# One demo per work folder. A run that was killed outright may have left its programs behind;
# they are ended by the ids it wrote down, and only while those ids still run those programs.
if [ -f "$work/demo.pid" ]; then
  old=$(cat "$work/demo.pid")
  if [ -n "$old" ] && [ "$old" != "$$" ] && kill -0 "$old" 2>/dev/null &&
    tr '\0' ' ' <"/proc/$old/cmdline" 2>/dev/null | grep -q 'demo\.sh'; then
    die "a demo is already running in $work (pid $old); stop it with Ctrl-C or kill $old"
  fi
fi
if [ -f "$work/children" ]; then
  while read -r pid; do
    [ -n "$pid" ] || continue
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null || true)
    if [ "$exe" = "$(readlink -f "$server_bin")" ] || [ "$exe" = "$(readlink -f "$agent_bin")" ]; then
      say "ending $exe (pid $pid) left from an earlier run"
      kill "$pid" 2>/dev/null || true
    fi
  done <"$work/children"
fi
echo $$ >"$work/demo.pid"
: >"$work/children"
rm -rf "$work/data" "$work/config" "$work/runtime"
rm -f "$work/toko.db" "$work/server.log" "$work/agent.log" "$work/demo.env" "$work/demo.env.tmp"

server_pid=
agent_pid=
# shellcheck disable=SC2317 # run by the EXIT trap
stop_all() {
  local status=$?
  trap - EXIT INT TERM
  for pid in $agent_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $agent_pid $server_pid; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -z "$agent_pid$server_pid" ] || say "stopped the agent and the service"
  rm -f "$work/demo.pid" "$work/children"
  exit "$status"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$(date +%s.%N)
elapsed() { awk -v s="$started" -v n="$(date +%s.%N)" 'BEGIN { printf "%.1f", n - s }'; }

# --- the database -----------------------------------------------------------------------------
db="$work/toko.db"
sqlite3 -bail "$db" <"$root/scripts/demo-data.sql"
say "database $db: $(sqlite3 "$db" 'SELECT (SELECT count(*) FROM products) || " products, " ||
  (SELECT count(*) FROM customers) || " customers, " || (SELECT count(*) FROM sales) ||
  " sales lines"')"
# StepAPI=1: the driver hands over rows as it reads them instead of loading the whole result.
connstr="DRIVER={SQLite3};Database=$db;StepAPI=1;"

# --- the service ------------------------------------------------------------------------------
api_key=$("$server_bin" --data "$work/data" add-company "$company" "$device" "$connstr" "$telp" 0)
[ -n "$api_key" ] || die "the service did not issue an API key"

# The programs run in sessions of their own, so that a Ctrl-C reaches only this script, which then
# stops them in order. The log exists before the server starts: the wait below reads it at once,
# and under set -e a read of a file not yet there ended the demo.
: >"$work/server.log"
setsid "$server_bin" --listen 127.0.0.1 --port "${TALLYFRAME_DEMO_PORT:-0}" --data "$work/data" \
  >"$work/server.log" 2>&1 &
server_pid=$!
echo "$server_pid" >>"$work/children"
url=
for _ in $(seq 100); do
  url=$(sed -n 's/^Listening on \(http:\/\/[^ ]*\)$/\1/p' "$work/server.log" | head -n 1)
  [ -z "$url" ] || break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$url" ]; then
  cat "$work/server.log" >&2
  die "the service did not start"
fi
say "service listening on $url"

# --- the agent --------------------------------------------------------------------------------
# A private configuration folder: the agent's settings and auto-start entry stay out of the
# user's own, and an existing auto-start entry tells the agent that its first-start consent
# window has been answered.
mkdir -p "$work/config/autostart"
cat >"$work/config/autostart/$(basename "$agent_bin").desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Q17 Tallyframe
Exec="$agent_bin" --auto-start
Terminal=false
X-GNOME-Autostart-enabled=true
EOF

runtime=${XDG_RUNTIME_DIR:-}
if [ -z "$runtime" ]; then
  runtime="$work/runtime"
  mkdir -m 0700 "$runtime"
fi
platform=${QT_QPA_PLATFORM:-}
if [ -z "$platform" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  platform=offscreen
fi
env TALLYFRAME_SERVICE_URL="$url" TALLYFRAME_WEB_URL="$url" TALLYFRAME_DEVICE_NAME="$device" \
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/share" XDG_RUNTIME_DIR="$runtime" ${platform:+QT_QPA_PLATFORM=$platform} \
  setsid "$agent_bin" >"$work/agent.log" 2>&1 &
agent_pid=$!
echo "$agent_pid" >>"$work/children"
say "agent started (pid $agent_pid, ${platform:-window on the display}), log $work/agent.log"

deadline=$(($(date +%s) + timeout_s))
agent_alive() {
  kill -0 "$agent_pid" 2>/dev/null && return 0
  tail -n 20 "$work/agent.log" >&2
  die "the agent ended; its log is above"
}
until grep -q 'Terhubung database\.' "$work/agent.log"; do
  agent_alive
  if [ "$(date +%s)" -ge "$deadline" ]; then
    tail -n 20 "$work/agent.log" >&2
    die "the agent did not open the database within ${timeout_s}s; its log is above"
  fi
  sleep 0.2
done
say "agent connected to the database ($(elapsed)s)"

# --- two sample reports -----------------------------------------------------------------------
queue() { "$server_bin" --data "$work/data" queue "$api_key" "$1" "$2" "$3" >/dev/null; }
queue "SELECT product,
  SUM(qty) AS qty,
  SUM(amount) AS total
FROM sales_detail
GROUP BY 1 ORDER BY 3 DESC" \
  "penjualan_per_produk" "Penjualan per produk, Sep-Nov 2026"
queue "SELECT customer, city,
  SUM(amount) AS total
FROM sales_detail
GROUP BY customer_id
ORDER BY total DESC" \
  "omzet_per_pelanggan" "Omzet per pelanggan, Sep-Nov 2026"
say "queued two sample reports"

service_stat() { curl -fsS --max-time 5 "$url/api/_stats" | sed -n "s/^$1=//p"; }
while :; do
  received=$(service_stat reports_received || echo 0)
  flagged=$(service_stat flagged || echo 0)
  [ "${received:-0}" -ge 2 ] && [ "${flagged:-0}" -ge 2 ] && break
  agent_alive
  if [ "$(date +%s)" -ge "$deadline" ]; then
    tail -n 20 "$work/agent.log" >&2
    die "only ${received:-0} of 2 reports came back within ${timeout_s}s; the agent's log is above"
  fi
  sleep 0.3
done

# Quoted for the shell: scripts read it with "." .
{
  printf 'TALLYFRAME_DEMO_URL=%q\n' "$url"
  printf 'TALLYFRAME_DEMO_COMPANY=%q\n' "$company"
  printf 'TALLYFRAME_DEMO_API_KEY=%q\n' "$api_key"
  printf 'TALLYFRAME_DEMO_DB=%q\n' "$db"
} >"$work/demo.env.tmp"
mv "$work/demo.env.tmp" "$work/demo.env"

cat <<EOF

Q17 Tallyframe demo: both sample reports came back in $(elapsed)s.

  Query editor   $url/api/ReportQ.php
  Report viewer  $url/api/report.php
  Product site   $url/
  Log in with    company name: $company
                 API key:      $api_key

  Database       $db (tables products, customers, sales; view sales_detail)
  Logs           $work/server.log, $work/agent.log

EOF

if [ "$once" = 1 ]; then
  exit 0
fi
echo "Press Ctrl-C to stop the agent and the service."
while kill -0 "$server_pid" 2>/dev/null; do
  agent_alive
  sleep 1
done
die "the service ended; its log is $work/server.log"
