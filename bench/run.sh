#!/usr/bin/env bash
# Runs the agent's report path and two native floors side by side on the same seeded table,
# through SQLite's and PostgreSQL's ODBC drivers, each with and without the driver option that
# keeps the driver from holding the whole result, and prints time, rows/s, peak RSS, the ratio
# to the text-fetch floor (the tightest) and to the typed floor, and the load average at the
# time. See bench/README.md.
#
#   bench/run.sh                 100k and 1M rows, SQLite and PostgreSQL, best of 3
#   bench/run.sh --short         100k rows, SQLite only, one run each (CI)
#   bench/run.sh --idle [SECS]   an idle agent polling the reference service (default 120 s)
#   bench/run.sh --responsive [AGENT...]
#                                the longest stall of the agent's window while it runs a
#                                1,000,000-row report (the loop monitor's figure), for this build's
#                                agent and then for every other agent executable named
#
# Options: --rows "N ...", --drivers "sqlite pg", --repeat K, --no-build, --utf16 (text fetched
# as UTF-16 by the agent and the text floor), --options-only (only the runs with the driver
# options that keep memory flat), --baseline DIR (also times the agent of another build, say
# main's, in the same runs: DIR/bench/tallyframe-bench), --block-floor (the text floor binds
# every column and fetches 64 rows per call instead of reading each value with SQLGetData).
# Environment: TALLYFRAME_BUILD_DIR (default build-bench), TALLYFRAME_BENCH_DIR (generated
# data, default <build dir>/bench-data), TALLYFRAME_BENCH_SEED (default 20261207).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TALLYFRAME_BUILD_DIR:-build-bench}
case "$build_dir" in /*) build=$build_dir ;; *) build=$root/$build_dir ;; esac
work=${TALLYFRAME_BENCH_DIR:-$build/bench-data}
seed=${TALLYFRAME_BENCH_SEED:-20261207}
rows_list="100000 1000000"
drivers="sqlite pg"
repeat=3
do_build=1
utf16=0
options_only=0
idle=0
idle_seconds=120
responsive=0
other_agents=()
baseline=""
block_floor=0

while [ $# -gt 0 ]; do
  case "$1" in
    --short) rows_list=100000 drivers=sqlite repeat=1 ;;
    --rows) rows_list=$2; shift ;;
    --drivers) drivers=$2; shift ;;
    --repeat) repeat=$2; shift ;;
    --no-build) do_build=0 ;;
    --utf16) utf16=1 ;;
    --options-only) options_only=1 ;;
    --block-floor) block_floor=1 ;;
    --baseline) baseline=$(cd "$2" && pwd)/bench/tallyframe-bench; shift ;;
    --idle)
      idle=1
      if [ $# -gt 1 ] && [[ $2 =~ ^[0-9]+$ ]]; then idle_seconds=$2; shift; fi
      ;;
    --responsive)
      responsive=1
      while [ $# -gt 1 ] && [ -x "$2" ]; do other_agents+=("$2"); shift; done
      ;;
    -h | --help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

# The agent reads text as UTF-8 where the locale's character set is UTF-8, as on a desktop.
export LC_ALL=${LC_ALL:-C.UTF-8}
text_floor=(--text)
if [ "$utf16" = 1 ]; then
  export TALLYFRAME_TEXT_FETCH=utf16
  text_floor=(--text --utf16)
fi
[ "$block_floor" = 1 ] && text_floor+=(--block)

say() { printf 'bench: %s\n' "$*" >&2; }
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }

if [ "$do_build" = 1 ]; then
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTALLYFRAME_BUILD_TESTS=OFF >/dev/null
  fi
  targets="tallyframe-bench tallyframe-floor"
  [ "$idle" = 1 ] || [ "$responsive" = 1 ] && targets="tallyframe-server Q17-Tallyframe"
  say "building $targets in $build"
  ninja -C "$build" -j"$(nproc)" $targets >/dev/null
fi
bench_bin=$build/bench/tallyframe-bench
floor_bin=$build/bench/tallyframe-floor
mkdir -p "$work"
work=$(cd "$work" && pwd)

children=()
pg_data=""
cleanup() {
  for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$pg_data" ]; then as_pg "$pg_bin/pg_ctl" -D "$pg_data" -m fast stop >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

as_pg() {
  # PostgreSQL refuses to run as root: an unprivileged cluster, owned by the postgres user then.
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}

# --- idle agent ---------------------------------------------------------------------------------
if [ "$idle" = 1 ]; then
  dir=$work/idle
  rm -rf "$dir" && mkdir -p "$dir/data" "$dir/config/autostart"
  sqlite3 "$dir/shop.db" "CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1);"
  device=02:17:DE:30:00:42
  "$build/tallyframe-server" --data "$dir/data" add-company "Toko Idle" "$device" \
    "DRIVER={SQLite3};Database=$dir/shop.db;" >/dev/null
  port=$(free_port 18800)
  "$build/tallyframe-server" --data "$dir/data" --port "$port" >"$dir/server.log" 2>&1 &
  children+=($!)
  # An auto-start entry tells the agent that its first-start consent has been given.
  printf '[Desktop Entry]\nType=Application\nName=Q17 Tallyframe\nExec="%s" --auto-start\n' \
    "$build/Q17-Tallyframe" >"$dir/config/autostart/Q17-Tallyframe.desktop"
  sleep 1
  env QT_QPA_PLATFORM=offscreen TALLYFRAME_SERVICE_URL="http://127.0.0.1:$port" \
    TALLYFRAME_DEVICE_NAME="$device" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/share" \
    "$build/Q17-Tallyframe" >"$dir/agent.log" 2>&1 &
  agent=$!
  children+=($agent)
  sleep 10 # start-up done, polling
  ticks() { awk '{print $14 + $15}' "/proc/$agent/stat"; }
  polls() { grep -o 'handed_out=[0-9]*\|api_requests=[0-9]*' <(curl -s "http://127.0.0.1:$port/api/_stats" 2>/dev/null || true) | sed -n 's/api_requests=//p'; }
  t0=$(ticks); p0=$(polls); s0=$(date +%s.%N)
  say "measuring an idle agent for $idle_seconds s"
  sleep "$idle_seconds"
  t1=$(ticks); p1=$(polls); s1=$(date +%s.%N)
  hz=$(getconf CLK_TCK)
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$agent/status")
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$agent/status")
  awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v hz="$hz" -v rss="$rss" -v hwm="$hwm" \
    -v p0="${p0:-0}" -v p1="${p1:-0}" 'BEGIN {
      secs = s1 - s0
      printf "idle agent: %.0f s, %d service requests (%.2f/s), CPU %.2f %% of one core, RSS %.1f MB (peak %.1f MB)\n",
        secs, p1 - p0, (p1 - p0) / secs, (t1 - t0) / hz / secs * 100, rss / 1024, hwm / 1024 }'
  exit 0
fi

# --- responsiveness during a large report -------------------------------------------------------
if [ "$responsive" = 1 ]; then
  report_rows=1000000
  # Made by the database itself: no table to generate, and the rows stream (StepAPI=1).
  sql="WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < $report_rows) SELECT n, 'row ' || n AS note, n * 0.5 AS amount FROM c"
  stall() { # agent executable
    local agent_bin=$1 dir=$work/responsive device=02:17:DE:30:00:43 port key agent server t0
    rm -rf "$dir" && mkdir -p "$dir/data" "$dir/config/autostart"
    sqlite3 "$dir/shop.db" "CREATE TABLE t (a INTEGER);"
    key=$("$build/tallyframe-server" --data "$dir/data" add-company "Toko Besar" "$device" \
      "DRIVER={SQLite3};Database=$dir/shop.db;StepAPI=1;")
    port=$(free_port 18900)
    "$build/tallyframe-server" --data "$dir/data" --port "$port" >"$dir/server.log" 2>&1 &
    server=$!
    children+=($server)
    printf '[Desktop Entry]\nType=Application\nName=Q17 Tallyframe\nExec="%s" --auto-start\n' \
      "$agent_bin" >"$dir/config/autostart/Q17-Tallyframe.desktop"
    sleep 1
    env QT_QPA_PLATFORM=offscreen TALLYFRAME_LOOP_MONITOR=1 \
      TALLYFRAME_SERVICE_URL="http://127.0.0.1:$port" TALLYFRAME_DEVICE_NAME="$device" \
      XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/share" \
      "$agent_bin" >"$dir/agent.log" 2>&1 &
    agent=$!
    children+=($agent)
    for _ in $(seq 100); do grep -q 'Terhubung database' "$dir/agent.log" && break; sleep 0.2; done
    sleep 3 # the start-up's own work is over before the report is queued
    "$build/tallyframe-server" --data "$dir/data" queue "$key" "$sql" big "Big report" >/dev/null
    for _ in $(seq 600); do grep -q 'report uploaded' "$dir/agent.log" && break; sleep 0.5; done
    grep -q 'report uploaded' "$dir/agent.log" || die "no report uploaded by $agent_bin (see $dir/agent.log)"
    # The monitor's next minute summary holds the longest gap of the whole run, the report's
    # included; a stall is that gap less the monitor's own 100 ms tick.
    t0=$(grep -c 'loop monitor: .* ticks' "$dir/agent.log" || true)
    for _ in $(seq 150); do
      [ "$(grep -c 'loop monitor: .* ticks' "$dir/agent.log" || true)" -gt "$t0" ] && break; sleep 0.5
    done
    kill "$agent" "$server" 2>/dev/null || true
    wait "$agent" "$server" 2>/dev/null || true
    awk -v agent="$agent_bin" '
      /loop monitor: .* ticks, longest gap/ { gap = $0; sub(/.*longest gap /, "", gap); gap += 0 }
      /report written:/ { written = $0; sub(/.*report written: /, "", written) }
      END { printf "%s: 1,000,000-row report (%s): longest stall of the window %d ms\n",
              agent, written, gap - 100 }' "$dir/agent.log"
  }
  uptime
  stall "$build/Q17-Tallyframe"
  for other in "${other_agents[@]}"; do stall "$other"; done
  exit 0
fi

# --- data ---------------------------------------------------------------------------------------
generate() { # rows
  local rows=$1 base=$work/bench-$1-$seed
  if [ ! -f "$base.done" ]; then
    say "generating $rows rows (seed $seed)"
    "$bench_bin" generate "$rows" "$seed" "$base.db" "$base.copy"
    touch "$base.done"
  fi
}

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
pg_port=""
start_pg() {
  [ -n "$pg_bin" ] || die "PostgreSQL is not installed (apt-get install postgresql odbc-postgresql)"
  pg_data=$work/pg/data
  local sock=$work/pg/sock
  if [ ! -f "$pg_data/PG_VERSION" ]; then
    say "creating a PostgreSQL cluster in $work/pg"
    rm -rf "$work/pg" && mkdir -p "$work/pg" "$sock"
    [ "$(id -u)" = 0 ] && chown -R postgres "$work/pg"
    as_pg "$pg_bin/initdb" -D "$pg_data" -A trust -U bench -E UTF8 --locale=C.UTF-8 >/dev/null
  fi
  pg_port=$(free_port 55433)
  as_pg "$pg_bin/pg_ctl" -D "$pg_data" -l "$work/pg/log" -w \
    -o "-k $sock -c listen_addresses=127.0.0.1 -p $pg_port -c fsync=off" start >/dev/null
  psql_() { psql -X -q -h 127.0.0.1 -p "$pg_port" -U bench "$@"; }
  psql_ -d postgres -tc "SELECT 1 FROM pg_database WHERE datname = 'bench'" | grep -q 1 ||
    psql_ -d postgres -c "CREATE DATABASE bench"
}
load_pg() { # rows
  local rows=$1 table=bench_$1_$seed
  if ! psql_ -d bench -tc "SELECT 1 FROM pg_tables WHERE tablename = '$table'" | grep -q 1; then
    say "loading $rows rows into PostgreSQL"
    psql_ -d bench -c "CREATE TABLE $table (id integer, note text, amount numeric(12,2),
      ratio double precision, day date, stamp timestamp, flag integer, code varchar(8))"
    psql_ -d bench -c "\\copy $table FROM '$work/bench-$rows-$seed.copy'"
    psql_ -d bench -c "ANALYZE $table"
  fi
}

# driver key -> connection string and query, for a row count
variants() {
  for d in $drivers; do
    case "$d" in
      sqlite) [ "$options_only" = 1 ] || echo "sqlite|"; echo "sqlite|StepAPI=1;" ;;
      pg) [ "$options_only" = 1 ] || echo "pg|"; echo "pg|UseDeclareFetch=1;Fetch=10000;" ;;
      *) die "unknown driver $d (sqlite, pg)" ;;
    esac
  done
}
conn_for() { # driver options rows
  case "$1" in
    sqlite) echo "DRIVER={SQLite3};Database=$work/bench-$3-$seed.db;$2" ;;
    pg) echo "DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=$pg_port;Database=bench;Uid=bench;Pwd=;$2" ;;
  esac
}
sql_for() { # driver rows
  case "$1" in
    sqlite) echo "SELECT * FROM bench" ;;
    pg) echo "SELECT * FROM bench_$2_$seed" ;;
  esac
}

start_sink() { # port file, extra args
  rm -f "$1"
  "$bench_bin" sink "$@" >"$1.log" 2>&1 &
  children+=($!)
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.1; done
  [ -s "$1" ] || die "the sink did not start"
  read -r http_port raw_port <"$1"
}

field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

check_rows=1000
for rows in $check_rows $rows_list; do generate "$rows"; done
case " $drivers " in *" pg "*) start_pg; for rows in $check_rows $rows_list; do load_pg "$rows"; done ;; esac

# The agent and the floor must write the same document: compared by hash on a small table.
start_sink "$work/sink-check.port" --hash
while IFS='|' read -r driver options; do
  conn=$(conn_for "$driver" "$options" $check_rows)
  sql=$(sql_for "$driver" $check_rows)
  a=$("$bench_bin" agent "$conn" "$sql" "http://127.0.0.1:$http_port") || die "agent run failed on $driver"
  before=$(grep -c '^raw' "$work/sink-check.port.log" || true)
  "$floor_bin" "$conn" "$sql" "$raw_port" >/dev/null || die "floor run failed on $driver"
  for _ in $(seq 50); do [ "$(grep -c '^raw' "$work/sink-check.port.log")" -gt "$before" ] && break; sleep 0.05; done
  fsha=$(grep '^raw' "$work/sink-check.port.log" | tail -1 | sed -n 's/.*sha1=//p')
  asha=$(field reply "$a" | sed -n 's/.*sha1=//p')
  [ -n "$asha" ] && [ "$asha" = "$fsha" ] || die "agent and floor documents differ on $driver $options ($asha vs $fsha)"
  t=$("$floor_bin" "${text_floor[@]}" "$conn" "$sql" "$http_port" "$work/floor-spool.json") ||
    die "text floor run failed on $driver"
  tsha=$(field reply "$t" | sed -n 's/.*sha1=//p')
  [ "$asha" = "$tsha" ] || die "agent and text floor documents differ on $driver $options ($asha vs $tsha)"
done < <(variants)
say "agent and both floors write the same document (SHA-1 compared on $check_rows rows per driver)"

start_sink "$work/sink.port"
load() { awk '{print $1}' /proc/loadavg; }
min() { awk -v x="$1" -v y="$2" 'BEGIN {print (x < y) ? x : y}'; }
max() { awk -v x="$1" -v y="$2" 'BEGIN {print (x > y) ? x : y}'; }
printf '%-8s %-7s %-30s %8s %9s %7s | %8s %7s %6s | %8s %7s %6s |%s %s\n' rows driver options \
  "agent s" "rows/s" "RSS MB" "text s" "RSS MB" ratio "typed s" "RSS MB" ratio \
  "${baseline:+  base s RSS MB  ratio |}" "load 1m"
for rows in $rows_list; do
  while IFS='|' read -r driver options; do
    conn=$(conn_for "$driver" "$options" "$rows")
    sql=$(sql_for "$driver" "$rows")
    best_a=999999 best_t=999999 best_f=999999 best_b=999999 rss_a=0 rss_t=0 rss_f=0 rss_b=0 loads=""
    for i in $(seq "$repeat"); do
      # Alternated, so that a change in the machine's load falls on all three alike.
      order="agent${baseline:+ base} text typed"
      [ $((i % 2)) = 0 ] && order="typed text${baseline:+ base} agent"
      loads="$loads${loads:+ }$(load)"
      for what in $order; do
        case $what in
          agent)
            a=$("$bench_bin" agent "$conn" "$sql" "http://127.0.0.1:$http_port") || die "agent run failed"
            best_a=$(min "$(field seconds "$a")" "$best_a")
            rss_a=$(max "$(field peak_rss_kb "$a")" "$rss_a") ;;
          base)
            b=$("$baseline" agent "$conn" "$sql" "http://127.0.0.1:$http_port") || die "baseline run failed"
            best_b=$(min "$(field seconds "$b")" "$best_b")
            rss_b=$(max "$(field peak_rss_kb "$b")" "$rss_b") ;;
          text)
            t=$("$floor_bin" "${text_floor[@]}" "$conn" "$sql" "$http_port" "$work/floor-spool.json") ||
              die "text floor run failed"
            best_t=$(min "$(field seconds "$t")" "$best_t")
            rss_t=$(max "$(field peak_rss_kb "$t")" "$rss_t") ;;
          typed)
            f=$("$floor_bin" "$conn" "$sql" "$raw_port") || die "floor run failed"
            best_f=$(min "$(field seconds "$f")" "$best_f")
            rss_f=$(max "$(field peak_rss_kb "$f")" "$rss_f") ;;
        esac
      done
    done
    awk -v r="$rows" -v d="$driver" -v o="${options:-(default)}" -v a="$best_a" -v t="$best_t" \
      -v f="$best_f" -v ra="$rss_a" -v rt="$rss_t" -v rf="$rss_f" -v l="$loads" \
      -v b="${baseline:+$best_b}" -v rb="$rss_b" 'BEGIN {
        base = b == "" ? "" : sprintf(" %8.2f %7.1f %6.2f |", b, rb / 1024, b / t)
        printf "%-8d %-7s %-30s %8.2f %9.0f %7.1f | %8.2f %7.1f %6.2f | %8.2f %7.1f %6.2f |%s %s\n",
          r, d, o, a, r / a, ra / 1024, t, rt / 1024, a / t, f, rf / 1024, a / f, base, l }'
  done < <(variants)
done
