#!/usr/bin/env bash
# The self-update of the Windows build under Wine, with its ".EXE" names: a copy of the built
# agent runs from a folder of its own, the service publishes a newer build (the same program
# with bytes appended), and the three runs hand over by themselves: download and start of
# Q17-Tallyframe-NEW.EXE, its copy over Q17-Tallyframe.EXE once the first run has ended, and the
# clean-up by the new build, which then runs on and reaches its database.
#   selfupdate.sh AGENT.exe        (WINEPREFIX: the tests' prefix, WINEPATH: the kit's DLLs)
set -euo pipefail
agent=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
device=02:00:00:00:17:02
machine_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
start_service "$device"

app=$work/F
mkdir -p "$app"
cp "$agent" "$app/Q17-Tallyframe.EXE"
touch -d '-1 day' "$app/Q17-Tallyframe.EXE"
# A Windows program may carry bytes after its image; they make the newer build differ.
cp "$agent" "$work/newer.exe"
printf 'build 2' >>"$work/newer.exe"
"$TALLYFRAME_SERVER_BIN" --data "$work/data" publish "$work/newer.exe" Q17-Tallyframe.exe >/dev/null
touch -d '-1 hour' "$work/data/app/Q17-Tallyframe.exe"
# The usual name has its entry: no consent window at the first run, nor in the hand-over runs.
wine reg add "$machine_run" /v Q17-Tallyframe /t REG_SZ /d "\"C:\\x\\Q17-Tallyframe.EXE\" --auto-start" /f >/dev/null 2>&1

files() { (cd "$app" && ls -1 | tr '\n' ' '); }
settled() {
  [ "$(files)" = "Q17-Tallyframe.EXE " ] && cmp -s "$app/Q17-Tallyframe.EXE" "$work/newer.exe"
}
(cd "$app" && TALLYFRAME_SERVICE_URL=$url TALLYFRAME_DEVICE_NAME=$device \
  wine "$app/Q17-Tallyframe.EXE" >"$work/agent.log" 2>&1) &
disown
check "the new build replaced the usual one, and the hand-over files are gone" wait_for 120 settled
echo "       folder: $(files)"
windows_app="Z:${app//\//\\}"
# The runs share the first one's standard error: the three runs in order, each by its name.
check "download and hand-over, swap, clean-up by the new build, connected" \
  wait_for 30 in_order "$work/agent.log" "status: Checking Updates..." \
  "status: Downloading Update File" "status: Unduh update 100%" \
  "open: $windows_app\\Q17-Tallyframe-NEW.EXE" "status: Sekarang:  | Baru: " \
  "open: $windows_app\\Q17-Tallyframe.EXE" "status: Versi sudah mutakhir" "update completed" \
  "status: Terhubung database."
agents=$(for pid in $(programs_at "$app/"); do { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null; echo; done |
  grep -ic 'Q17-Tallyframe' || true)
usual=$(for pid in $(programs_at "$app/Q17-Tallyframe.EXE"); do echo "$pid"; done | wc -l)
check "one agent runs on, under the usual name" test "$agents" = 1 -a "$usual" = 1
wine reg delete "$machine_run" /v Q17-Tallyframe /f >/dev/null 2>&1 || true
finish
