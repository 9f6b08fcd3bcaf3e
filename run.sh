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

log=build/sim-demo.log
. scripts/demo-sim.sh
publish_demo_sim ./build/sim/tarvex6-sim --log-out "$log"
echo "Simulated instrument on $DEMO_SIM_LINK ($DEMO_SIM_PTY); its transcript goes to $log"
./build/tarvex6-bootloader
