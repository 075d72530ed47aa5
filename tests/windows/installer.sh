#!/usr/bin/env bash
# The installer under Wine, in a prefix of its own that knows nothing of the kit (no WINEPATH, no
# Qt settings): a silent per-user install, the installed agent reaching its database through the
# service and delivering a report, and a silent uninstall that leaves nothing behind.
#   installer.sh SETUP.exe        (WINEPREFIX: the prefix to use; made when missing)
set -euo pipefail
setup=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
unset WINEPATH
device=02:00:00:00:17:01
if [ ! -f "$WINEPREFIX/.tallyframe-ready" ]; then
  wineboot -i >/dev/null 2>&1
  # Only the log on stderr, to read what the agent says.
  wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /t REG_SZ /d 1 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.tallyframe-ready"
fi
user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n1)
install_dir="$user_dir/Programs/Q17 Tallyframe"
start_menu="$(dirname "$(dirname "$user_dir")")/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Q17 Tallyframe"
machine_run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
user_run='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Q17 Tallyframe'

start_service "$device"

wine "$setup" /S
wineserver -w
check "the agent is installed per user" test -f "$install_dir/Q17-Tallyframe.exe"
check "with the Qt platform plugin beside it" test -f "$install_dir/platforms/qwindows.dll"
check "and the uninstaller" test -f "$install_dir/Uninstall.exe"
check "Start-menu entry" test -f "$start_menu/Q17 Tallyframe.lnk"
check "listed among the installed programs" reg_has "$uninstall_key" QuietUninstallString

# Entries as the agent writes them (machine-wide with rights, per user without): no consent
# window at this start, and the uninstaller must remove both.
wine reg add "$machine_run" /v Q17-Tallyframe /t REG_SZ /d "\"C:\\x\\Q17-Tallyframe.exe\" --auto-start" /f >/dev/null 2>&1
wine reg add "$user_run" /v Q17-Tallyframe /t REG_SZ /d "\"C:\\x\\Q17-Tallyframe.exe\" --auto-start" /f >/dev/null 2>&1

TALLYFRAME_SERVICE_URL=$url TALLYFRAME_DEVICE_NAME=$device \
  wine "$install_dir/Q17-Tallyframe.exe" >"$work/agent.log" 2>&1 &
disown
check "the installed agent reaches its database" \
  wait_for 90 log_has "$work/agent.log" "status: Terhubung database."
"$TALLYFRAME_SERVER_BIN" --data "$work/data" queue "$api_key" \
  "SELECT kode, nama, harga FROM barang ORDER BY kode" barang.json "Daftar Barang" >/dev/null
check "and delivers a report" wait_for 60 stat_is reports_received 1

wine "$install_dir/Uninstall.exe" /S
# The uninstaller runs on from a copy in the temporary folder: wait for everything to end.
wait_for 60 test ! -e "$install_dir" || true
timeout 30 wineserver -w || wineserver -k
check "the folder is gone" test ! -e "$install_dir"
check "the Start-menu entry is gone" test ! -e "$start_menu"
check "the machine's Run value is gone" bash -c "! WINEDEBUG=-all wine reg query '$machine_run' /v Q17-Tallyframe >/dev/null 2>&1"
check "the user's Run value is gone" bash -c "! WINEDEBUG=-all wine reg query '$user_run' /v Q17-Tallyframe >/dev/null 2>&1"
check "the program list entry is gone" bash -c "! WINEDEBUG=-all wine reg query '$uninstall_key' >/dev/null 2>&1"
check "the settings key is gone" bash -c "! WINEDEBUG=-all wine reg query 'HKCU\\Software\\Instansi' >/dev/null 2>&1"
finish
