#!/usr/bin/env bash
# Retakes the README's pictures under Xvfb: the open port list with the simulator published
# as /dev/TARVEX6-SIM (as ./run.sh --demo does), the serial port overview (also while another
# program holds the simulator's port), and the completion message of a real write into the
# simulator.
#
#   tests/gui/screenshots.sh [build folder]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
cmake --build "$build" --parallel 2 --target gui_screenshots tarvex6-sim

. scripts/demo-sim.sh
if [ -e "$DEMO_SIM_LINK" ] || [ -L "$DEMO_SIM_LINK" ]; then
    echo "$DEMO_SIM_LINK is in use (./run.sh --demo running?); stop it first" >&2
    exit 1
fi
publish_demo_sim "./$build/sim/tarvex6-sim"

shots="./$build/tests/gui/gui_screenshots"
screen=(-a -s "-screen 0 1024x700x24")
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
    # The overview is most telling for an ordinary user, who may not open every port.
    xvfb-run "${screen[@]}" "$shots" docs TARVEX6-SIM list,completion
    out=$(mktemp -d)
    chmod 777 "$out"
    (cd /tmp && runuser -u nobody -- xvfb-run "${screen[@]}" \
        "$OLDPWD/$shots" "$out" TARVEX6-SIM overview)
    cp "$out/port-overview.png" docs/
    rm -rf "$out"
else
    xvfb-run "${screen[@]}" "$shots" docs TARVEX6-SIM
fi

# The overview while another program holds the port: a Python process takes the lock a
# second flasher would take and keeps it until it is stopped.
coproc HOLDER { exec python3 -c 'import fcntl, signal, sys
f = open(sys.argv[1], "rb+", buffering=0)
fcntl.flock(f, fcntl.LOCK_EX)
print("HELD", flush=True)
signal.pause()' "$DEMO_SIM_LINK"; }
holder=$HOLDER_PID
read -r held <&"${HOLDER[0]}"
[ "$held" = HELD ] || { echo "the port could not be held" >&2; exit 1; }
xvfb-run "${screen[@]}" "$shots" docs TARVEX6-SIM overview-busy
kill "$holder"
