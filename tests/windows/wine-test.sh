#!/usr/bin/env bash
# Runs one Windows test program under Wine for CTest: wine-test.sh PROGRAM.exe [ARGS...].
# Qt Test's console output does not come through Wine, so the result goes to a file that is
# printed afterwards; the exit code is the program's. With TALLYFRAME_WINE_SERVICE=1 the Linux
# tallyframe-server ($TALLYFRAME_SERVER_BIN) runs on loopback for the program's life, its URL and
# data folder in TALLYFRAME_TEST_SERVICE_URL and TALLYFRAME_TEST_SERVICE_DATA (Wine hands
# TALLYFRAME_* variables to Windows programs).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix of the Windows build}"
export WINEDEBUG=${WINEDEBUG:--all}
kit=${TALLYFRAME_WIN_KIT:-/opt/qt6-win64}
export WINEPATH="Z:${kit//\//\\}\\bin"
"$here/wine-prefix.sh"

work=$(mktemp -d /tmp/wine-test.XXXXXX)
server_pid=
pg_stop=()
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ ${#pg_stop[@]} -gt 0 ] && "${pg_stop[@]}" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

if [ "${TALLYFRAME_WINE_SERVICE:-}" = 1 ]; then
  mkdir "$work/service"
  "$TALLYFRAME_SERVER_BIN" --data "$work/service" --port 0 --fault-control >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  url=
  for _ in $(seq 100); do
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$work/server.out" 2>/dev/null | head -n1)
    [ -n "$url" ] && break
    sleep 0.1
  done
  if [ -z "$url" ]; then
    echo "wine-test: the service did not start" >&2
    cat "$work/server.err" >&2
    exit 1
  fi
  export TALLYFRAME_TEST_SERVICE_URL=$url TALLYFRAME_TEST_SERVICE_DATA=$work/service
fi

# With TALLYFRAME_WINE_POSTGRES=1 a private PostgreSQL cluster (as the postgres account when
# run as root, which PostgreSQL insists on) on a free loopback port.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
if [ "${TALLYFRAME_WINE_POSTGRES:-}" = 1 ] && [ -x "$pg_bin/pg_ctl" ]; then
  as_postgres=()
  if [ "$(id -u)" = 0 ]; then
    as_postgres=(runuser -u postgres --)
    chmod 755 "$work"
  fi
  mkdir -p "$work/pg/sock"
  [ "$(id -u)" = 0 ] && chown -R postgres "$work/pg"
  if "${as_postgres[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U report -E UTF8 --no-locale \
    -A trust >"$work/pg.log" 2>&1; then
    for _ in 1 2 3 4 5; do
      port=$((20000 + RANDOM % 30000))
      if "${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w -o \
        "-p $port -c listen_addresses=127.0.0.1 -c fsync=off -k $work/pg/sock" start \
        >>"$work/pg.log" 2>&1; then
        export TALLYFRAME_TEST_PG_CONNECTION="DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=postgres;Uid=report;Pwd=;"
        pg_stop=("${as_postgres[@]}" "$pg_bin/pg_ctl" -D "$work/pg/data" -m immediate -w stop)
        break
      fi
    done
  fi
fi

# Windows programs with windows need a display: one for the whole run when the caller has one.
run=(wine "$exe" -o "Z:${work//\//\\}\\result.txt,txt" "$@")
if [ -z "${DISPLAY:-}" ]; then
  run=(xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}")
fi
"${run[@]}" >"$work/wine.log" 2>&1
rc=$?
if [ -f "$work/result.txt" ]; then
  tr -d '\r' <"$work/result.txt"
else
  echo "wine-test: no result file"
fi
# The program's own log (stderr) only when something failed: it is long.
if [ $rc -ne 0 ]; then
  echo "---- program output (exit code $rc)"
  tr -d '\r' <"$work/wine.log" | grep -v -e 'EnableNonClientDpiScaling' -e 'ntlm_auth' | tail -n 200
  [ -n "$server_pid" ] && { echo "---- service"; tail -n 50 "$work/server.err"; }
fi
exit $rc
