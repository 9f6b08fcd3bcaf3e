#!/usr/bin/env bash
# Takes the README's pictures of the Windows build under Wine, on an X display of the same
# size as the Linux pictures (tests/gui/screenshots.sh): the window with the frame Wine draws
# for it, the open port list, and the completion message of a real write into the simulator
# behind COM7.  Needs scripts/windows.sh to have run (the Wine prefix, its ports and both
# builds).  Then the window again, both views, with the display at 150 % (the desktop's
# LogPixels at 144, as Windows keeps it).
#
#   tests/win/screenshots.sh        -> docs/windows-window.png, docs/windows-port-list.png,
#                                      docs/windows-completion-message.png,
#                                      docs/windows-window-150.png,
#                                      docs/windows-window-service-150.png
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
cmake --build build-win --parallel 2 --target gui_screenshots
cmake --build build-win-host --parallel 2 --target tarvex6-sim tarvex_modem_shim

export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all LANG=uk_UA.UTF-8 LC_ALL=uk_UA.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
out=$(mktemp -d)
Xvfb -displayfd 9 -screen 0 1024x700x24 -nolisten tcp 9>"$out/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$out/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(cat "$out/display")"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 # a server on the new display, its diagnostics kept quiet
./build-win-host/sim/tarvex6-sim --link build-win/ports/com7 --log-out "$out/sim.log" &
sim_pid=$!
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
trap 'set_dpi 96; kill "$sim_pid" "$xvfb_pid" 2>/dev/null || true; wineserver -k >/dev/null 2>&1 || true; rm -rf "$out"' EXIT
for _ in $(seq 100); do
    [ -e build-win/ports/com7 ] && break
    sleep 0.1
done

# Wine on a pseudo-terminal needs the test shim's modem lines to switch DTR and RTS.
set_dpi 96
LD_PRELOAD="$root/build-win-host/tests/win/libtarvex_modem_shim.so" \
    wine build-win/tests/gui/gui_screenshots.exe 'Z:'"$out" COM7 window,list,completion
for shot in window port-list completion-message; do
    cp "$out/$shot.png" "docs/windows-$shot.png"
done

set_dpi 144
LD_PRELOAD="$root/build-win-host/tests/win/libtarvex_modem_shim.so" \
    wine build-win/tests/gui/gui_screenshots.exe 'Z:'"$out" COM7 window,service
for shot in window window-service; do
    cp "$out/$shot.png" "docs/windows-$shot-150.png"
done
