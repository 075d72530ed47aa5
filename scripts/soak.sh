#!/usr/bin/env bash
# Soak run: the real agent against the reference service in fault mode (10 % of the service
# calls get a fault of any kind, seeded) and a PostgreSQL database on loopback that is restarted
# twice during the run. Fails on any lost report, wrong content, agent crash, memory growth past
# the bound or sanitizer report (the build has UndefinedBehaviorSanitizer on).
#   scripts/soak.sh            1,000 requests (about an hour)
#   scripts/soak.sh --short    100 requests (CI)
# Further options go to tallyframe-soak (build-soak/tallyframe-soak --help), e.g. --seed 3.
# Must run as root or as a user that may run PostgreSQL; as root the cluster runs as postgres.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$root/build-soak"

requests=1000
time_limit=7200
if [ "${1:-}" = "--short" ]; then
  requests=100
  time_limit=600
  shift
fi

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev
  libqt6sql6-odbc libqt6sql6-sqlite unixodbc-dev
  odbc-postgresql postgresql
)
. "$root/scripts/packages.sh"
ensure_packages "${packages[@]}"
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$pg_bin/pg_ctl" ] || { echo "PostgreSQL's programs were not found" >&2; exit 2; }

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=-fsanitize=undefined -fno-sanitize-recover=undefined" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=undefined" >/dev/null
ninja -C "$build_dir" -j"$(nproc)" Q17-Tallyframe tallyframe-server tallyframe-soak

work=$(mktemp -d "${TMPDIR:-/tmp}/tallyframe-soak-XXXXXX")
soak_pid=
cleanup() {
  status=$?
  # Normally tallyframe-soak has stopped everything itself; this is for when it was killed.
  if [ -n "$soak_pid" ] && kill -0 "$soak_pid" 2>/dev/null; then
    kill "$soak_pid" 2>/dev/null || true
    sleep 5
    kill -9 "$soak_pid" 2>/dev/null || true
  fi
  if [ -f "$work/pids" ]; then
    for pid in $(cat "$work/pids"); do
      kill -9 "$pid" 2>/dev/null || true
    done
  fi
  if [ -f "$work/pg/data/postmaster.pid" ]; then
    as=()
    [ "$(id -u)" = 0 ] && as=(runuser -u postgres --)
    "${as[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  if [ "$status" = 0 ]; then
    rm -rf "$work"
  else
    echo "logs kept in $work (agent.log, server.log, pg/postgres.log)"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start=$(date +%s)
"$build_dir/tallyframe-soak" --requests "$requests" --time-limit "$time_limit" --restarts 2 \
  --fault-rate 0.1 --seed 8 --pg-bin "$pg_bin" --work "$work" "$@" &
soak_pid=$!
# The driver bounds its own wait; this bounds everything else it does as well.
( sleep $((time_limit + 300)); kill "$soak_pid" 2>/dev/null ) &
watchdog=$!
set +e
wait "$soak_pid"
result=$?
set -e
kill "$watchdog" 2>/dev/null || true
soak_pid=
echo "soak.sh: $(($(date +%s) - start)) s"
exit $result
