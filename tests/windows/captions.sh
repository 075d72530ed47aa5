#!/usr/bin/env bash
# The window captions of the Windows build as the X server sees Wine's top-level windows: the
# consent window at the first start, then, with the auto-start entry there, the main window
# after the start-up. SCREENSHOT=FILE.png keeps a picture of the main window with its frame.
#   captions.sh AGENT.exe        (WINEPREFIX: the tests' prefix, WINEPATH: the kit's DLLs)
set -euo pipefail
agent=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
device=02:00:00:00:17:03
machine_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
user_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
version=${TALLYFRAME_EXPECTED_VERSION:-1.0.0}
start_service "$device"
mkdir -p "$work/F"
cp "$agent" "$work/F/Q17-Tallyframe.exe"

# The id of the top-level window whose name is exactly the text ("" when there is none).
window_named() {
  xwininfo -root -tree | grep -F "\"$1\":" | grep -o '0x[0-9a-f]*' | head -n1 || true
}
# The name as the window manager reads it: _NET_WM_NAME (UTF-8), WM_NAME otherwise.
window_name() {
  xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'
}
has_window() { [ -n "$(window_named "$1")" ]; }
start_agent() {
  (cd "$work/F" && TALLYFRAME_SERVICE_URL=$url TALLYFRAME_DEVICE_NAME=$device \
    wine "$work/F/Q17-Tallyframe.exe" >>"$work/agent.log" 2>&1) &
  disown
}

for key in "$machine_run" "$user_run"; do
  wine reg delete "$key" /v Q17-Tallyframe /f >/dev/null 2>&1 || true
done
start_agent
check "first start: the consent window" wait_for 60 has_window "Izin menjalankan aplikasi"
id=$(window_named "Izin menjalankan aplikasi")
[ -n "$id" ] && check "its caption, as drawn" test "$(window_name "$id")" = "Izin menjalankan aplikasi"
end_programs
sleep 1

wine reg add "$machine_run" /v Q17-Tallyframe /t REG_SZ /d "\"C:\\x\\Q17-Tallyframe.exe\" --auto-start" /f >/dev/null 2>&1
start_agent
caption="Q17 Tallyframe - Versi $version"
check "the main window after the start-up" wait_for 60 has_window "$caption"
check "connected" wait_for 30 log_has "$work/agent.log" "status: Terhubung database."
id=$(window_named "$caption")
if [ -n "$id" ]; then
  check "its caption, as drawn" test "$(window_name "$id")" = "$caption"
  if [ -n "${SCREENSHOT:-}" ]; then
    sleep 2
    import -frame -window "$id" "$SCREENSHOT"
    echo "       screenshot: $SCREENSHOT"
  fi
fi
end_programs
wine reg delete "$machine_run" /v Q17-Tallyframe /f >/dev/null 2>&1 || true
finish
