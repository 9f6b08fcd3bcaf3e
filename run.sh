#!/usr/bin/env bash
# Builds the flasher and starts it.  With --demo a simulated instrument (an earlier firmware,
# 241003) is published as the serial port /dev/TARVEX6-SIM, which sorts first in the port
# list, so "Прошити" flashes it straight away.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake --build build --parallel 2 --target tarvex6-bootloader tarvex6-sim

if [ "${1:-}" != "--demo" ]; then
    exec ./build/tarvex6-bootloader
fi

SUDO=""
[ -w /dev ] || SUDO=sudo
link=/dev/TARVEX6-SIM
log=build/sim-demo.log
coproc SIM { exec ./build/sim/tarvex6-sim --version 241003 --log-out "$log"; }
sim=$SIM_PID
cleanup() {
    kill "$sim" 2>/dev/null || true
    $SUDO rm -f "$link"
}
trap cleanup EXIT
read -r ready pty <&"${SIM[0]}"
[ "$ready" = READY ] || { echo "the simulator did not start" >&2; exit 1; }
$SUDO ln -sfn "$pty" "$link"
echo "Simulated instrument on $link ($pty); its transcript goes to $log"
./build/tarvex6-bootloader
