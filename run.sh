#!/usr/bin/env bash
# Builds the flasher and starts it.  With --demo a simulated instrument is published as the
# port /dev/ttyTARVEXSIM0 (or a pty path when /dev is not writable) and chosen in the list.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake --build build --parallel 2 --target tarvex6-bootloader tarvex6-sim

if [ "${1:-}" = "--demo" ]; then
    link=/dev/ttyTARVEXSIM0
    [ -w /dev ] || link="$PWD/build/ttyTARVEXSIM0"
    ./build/sim/tarvex6-sim --link "$link" --version 241003 --exit-after-reset >build/sim-demo.log 2>&1 &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    ./build/tarvex6-bootloader
else
    exec ./build/tarvex6-bootloader
fi
