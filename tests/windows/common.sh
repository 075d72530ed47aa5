# Sourced by the Windows script tests: the service on loopback, Wine helpers, checks.
# Needs TALLYFRAME_SERVER_BIN (the Linux service) and WINEPREFIX.
set -euo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
kit=${TALLYFRAME_WIN_KIT:-/opt/qt6-win64}
work=$(mktemp -d /tmp/wine-script.XXXXXX)
server_pid=
failures=0

# The processes whose command line names the path, in its Unix or its Wine form (Z:\...).
programs_at() {
  local windows="Z:${1//\//\\}" pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$pid" = $$ ] && continue
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qiF -e "$1" -e "$windows" && echo "$pid"
  done
  return 0
}

# Ends the Windows programs started from the work folder.
end_programs() {
  local pid
  for pid in $(programs_at "$work/"); do
    [ "$pid" != "$server_pid" ] && kill -9 "$pid" 2>/dev/null || true
  done
}

# in_order LOG STEP...: every step is found on a later line of the log than the one before.
in_order() {
  local log=$1 line=0 found step
  shift
  for step; do
    found=$(tr -d '\r' <"$log" | S=$step awk -v from="$line" 'NR > from && index($0, ENVIRON["S"]) { print NR; exit }')
    if [ -z "$found" ]; then
      echo "       missing after line $line: $step"
      return 1
    fi
    line=$found
  done
}

cleanup() {
  end_programs
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

check() { # check "what" command...
  local what=$1
  shift
  if "$@"; then
    echo "PASS   : $what"
  else
    echo "FAIL!  : $what"
    failures=$((failures + 1))
  fi
}

# start_service DEVICE: a company on DEVICE whose database is an SQLite file; sets url, api_key.
start_service() {
  mkdir -p "$work/data"
  sqlite3 "$work/toko.db" "CREATE TABLE barang (kode TEXT, nama TEXT, harga REAL);
    INSERT INTO barang VALUES ('B1', 'Kopi Toraja', 45000), ('B2', 'Gula Aren', 18500);"
  api_key=$("$TALLYFRAME_SERVER_BIN" --data "$work/data" add-company "Toko Windows" "$1" \
    "DRIVER={SQLite3};Database=$work/toko.db;" 0812 0)
  "$TALLYFRAME_SERVER_BIN" --data "$work/data" --port 0 >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  url=
  for _ in $(seq 100); do
    url=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$work/server.out" 2>/dev/null | head -n1) && [ -n "$url" ] && break
    sleep 0.1
  done
  [ -n "$url" ] || { echo "the service did not start"; cat "$work/server.err"; exit 1; }
}

stat_of() { curl -fsS --max-time 5 "$url/api/_stats" | sed -n "s/^$1=//p"; }
stat_is() { [ "$(stat_of "$1")" = "$2" ]; }

# wait_for SECONDS command...: true as soon as the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.5
  done
}

reg_has() { wine reg query "$1" /v "$2" >/dev/null 2>&1; }
reg_key_exists() { wine reg query "$1" >/dev/null 2>&1; }
log_has() { tr -d '\r' <"$1" | grep -qF -- "$2"; }

finish() {
  if [ $failures -ne 0 ]; then
    echo "---- agent log"
    tr -d '\r' <"$work/agent.log" 2>/dev/null | grep -v -e EnableNonClientDpiScaling -e ntlm_auth | tail -n 60
    echo "Totals: $failures failed"
    exit 1
  fi
  echo "Totals: all passed"
}
