#!/usr/bin/env bash
# Creates the Wine prefix $WINEPREFIX for the Windows build once (about 10 s): where Wine finds
# the kit's DLLs and Qt's plugins, and Qt's log on stderr. Safe to call from parallel tests.
set -euo pipefail
: "${WINEPREFIX:?}"
kit=${TALLYFRAME_WIN_KIT:-/opt/qt6-win64}
export WINEDEBUG=${WINEDEBUG:--all}
[ -f "$WINEPREFIX/.tallyframe-ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.tallyframe-ready" ] && exit 0
wineboot -i >/dev/null 2>&1
windows_kit="Z:${kit//\//\\}"
# Wine hands no QT_* variable from Linux to a Windows program: the prefix's user environment
# carries them instead. (The kit's DLLs are found through WINEPATH, set by the callers.)
wine reg add 'HKCU\Environment' /v QT_PLUGIN_PATH /t REG_SZ /d "$windows_kit\\plugins" /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /t REG_SZ /d 1 /f >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.tallyframe-ready"
