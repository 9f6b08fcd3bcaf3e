#!/usr/bin/env bash
# The Windows build, cross-compiled here with Debian's mingw-w64 and tested under Wine.
#
#   build-win/           static Windows executables: the window tarvex6-bootloader, the core,
#                        the serial component, their tests, tarvex6-flash, and the installer
#                        tarvex6-bootloader-<version>-setup.exe; GoogleTest built for Windows
#                        in build-win/gtest; the Wine prefix in build-win/wineprefix, with COM7
#                        to COM9 mapped (HKLM\Software\Wine\Ports) to the links
#                        build-win/ports/com7..9
#   build-win-host/      the Linux side: tarvex6-sim, the modem-line shim preloaded into Wine,
#                        the program's icon, and wine_tests, which puts a peer behind COM7 and
#                        runs the Windows programs against it
#
# Qt and libjpeg for Windows come from scripts/windows-deps.sh (built once into a cache).
# The window and its tests run with Qt's windows platform plugin on an X display of their
# own (Xvfb).  Installs what it needs (Debian 12), builds both sides, runs the Windows tests,
# prints the time.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
started=$SECONDS

PACKAGES=(cmake ninja-build g++ ccache googletest locales g++-mingw-w64-x86-64-posix wine wine64
          libz-mingw-w64-dev nsis xvfb xauth fonts-wine
          # the Linux side draws the icon with the window's own picture code
          pkg-config qt6-base-dev libgl-dev libjpeg-dev zlib1g-dev libcanberra-dev libasound2-dev
          libfontconfig-dev)
"$root/scripts/install-packages.sh" "${PACKAGES[@]}"

export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
mkdir -p build-win/ports

# GoogleTest for Windows, from Debian's sources.
if [ ! -f build-win/gtest/lib/cmake/GTest/GTestConfig.cmake ]; then
    cmake -S /usr/src/googletest -B build-win/googletest -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_INSTALL_PREFIX="$root/build-win/gtest" >/dev/null
    cmake --build build-win/googletest --parallel 2
    cmake --install build-win/googletest >/dev/null
fi

eval "$("$root/scripts/windows-deps.sh")" # QT_PREFIX, JPEG_PREFIX

# Wine takes its locale from the Unix one: the Ukrainian Windows of a technician's bench
# (code page 1251, the 24-hour long time format).
if ! locale -a 2>/dev/null | grep -qi '^uk_UA\.utf-\?8$'; then
    localedef -i uk_UA -f UTF-8 uk_UA.UTF-8
fi
export LANG=uk_UA.UTF-8 LC_ALL=uk_UA.UTF-8

# An X display of our own for Wine's windows (the window and its tests), started before any
# Wine process so that all of them, Wine's own services too, use it.
Xvfb -displayfd 9 -screen 0 1024x700x24 -nolisten tcp 9>build-win/display 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s build-win/display ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
export DISPLAY=":$(cat build-win/display)"

# The Wine prefix, its COM ports, and one wineserver kept running for all the tests
# (without it every program start pays about 2 s).  Wine reads the port map when its
# services start, so the server is restarted once after a change.
export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
ports_changed=0
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
# Wine draws the windows' frames itself, as Windows does, rather than leaving them to an X
# window manager (there is none on the test display, and Wine would wait for one at every
# hide).
if ! grep -qF '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    ports_changed=1
fi
for n in 7 8 9; do
    if ! grep -qF "\"COM$n\"=\"$root/build-win/ports/com$n\"" "$WINEPREFIX/system.reg" 2>/dev/null; then
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$root/build-win/ports/com$n" /f >/dev/null 2>&1
        ports_changed=1
    fi
done
if ((ports_changed)); then
    wineserver -k || true
    wineserver -w || true
fi
wineserver -p >/dev/null 2>&1 || true # one may run already
trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true # starts the prefix's services, which map the ports
# Wine's own fonts (Tahoma, Marlett for the frame's buttons...) in the prefix's font folder,
# where Windows keeps its system fonts.
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
for n in 7 8 9; do
    [ -L "$WINEPREFIX/dosdevices/com$n" ] || ln -sfn "$root/build-win/ports/com$n" "$WINEPREFIX/dosdevices/com$n"
done

# The Linux side.
cmake -S . -B build-win-host -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_BUILD_GUI=ON \
    -DTARVEX_BUILD_TESTS=ON -DTARVEX_BUILD_BENCH=OFF -DTARVEX_SANITIZE_CORE=OFF \
    -DTARVEX_WIN_BUILD_DIR="$root/build-win" >/dev/null
cmake --build build-win-host --parallel 2 \
    --target tarvex6-sim tarvex_modem_shim wine_tests tarvex6-windows-icon

# The Windows side, configured through Qt's toolchain file, which loads ours.  A folder
# configured before the window was part of it starts its cache anew.
if [ -f build-win/CMakeCache.txt ] && ! grep -q 'qt.toolchain.cmake' build-win/CMakeCache.txt; then
    rm -rf build-win/CMakeCache.txt build-win/CMakeFiles
fi
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$QT_PREFIX/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" \
    -DTARVEX_BUILD_GUI=ON -DTARVEX_BUILD_BENCH=OFF -DTARVEX_SANITIZE_CORE=OFF \
    -DGTest_DIR="$root/build-win/gtest/lib/cmake/GTest" \
    -DJPEG_INCLUDE_DIR="$JPEG_PREFIX/include" -DJPEG_LIBRARY="$JPEG_PREFIX/lib/libjpeg.a" \
    -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
    -DTARVEX_WINDOWS_ICON="$root/build-win-host/packaging/tarvex6-bootloader.ico" >/dev/null
cmake --build build-win --parallel 2 --target core_tests win_tests win_port_tests tarvex6-flash \
    tarvex6-flash-ansi tarvex6-bootloader gui_tests win_window_tests win_manifest_tests tarvex6-setup

echo "== Windows tests under Wine"
status=0
ctest --test-dir build-win --output-on-failure --parallel 2 --timeout 300 || status=1
ctest --test-dir build-win-host -L wine --output-on-failure --timeout 600 || status=1
echo "Windows build and tests took $((SECONDS - started)) s"
exit $status
