#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in the build's own Wine prefix
# (TARVEX_WINEPREFIX, else build-win/wineprefix beside this checkout), quietly.  CMake uses
# it to run the Windows tests and GoogleTest's test discovery.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export WINEPREFIX="${TARVEX_WINEPREFIX:-$here/build-win/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts, and no debugger: a crash ends the program with a failure code.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
exec wine "$@"
