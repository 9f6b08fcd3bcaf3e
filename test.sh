#!/usr/bin/env bash
# Builds everything and runs every test, the Windows build under Wine last; each part ends
# with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake --build build --parallel 2
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --parallel 2 --timeout 600
# The Windows build, cross-compiled and tested under Wine: about 36 minutes on a fresh
# machine, most of them Qt for Windows built once into ~/.cache/tarvex6; a few on a warm one.
./scripts/windows.sh
