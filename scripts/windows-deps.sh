#!/usr/bin/env bash
# Builds the libraries that the window's Windows build needs and Debian does not ship for
# mingw-w64, from Debian's own source packages, with Debian's mingw-w64 compiler:
#
#   Qt       qt6-base: a small static Qt (Core, Gui, Widgets, Test, the windows platform
#            plugin, the Vista style); Debian's moc, rcc and uic serve as the host tools
#   libjpeg  libjpeg-turbo, static, without its SIMD code (the about window's emblem)
#
# Each is installed straight into a cache folder outside the build tree, named after the
# source version and a digest of the options (Qt's install is not relocatable):
#   ${TARVEX_DEPS_CACHE:-~/.cache/tarvex6}/<name>-<version>-mingw-static-<digest>
# A later run finds it complete (its stamp file is written last) and reuses it; a missing
# or partial one is built anew.  Progress goes to stderr; stdout gets the two prefixes as
#   QT_PREFIX=...
#   JPEG_PREFIX=...
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
cache_root="${TARVEX_DEPS_CACHE:-$HOME/.cache/tarvex6}"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

QT_SOURCE_VERSION=6.4.2+dfsg-10 # the same version as Debian 12's qt6-base-dev
QT_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    # Only what a widget program with its tests needs.
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_opengl=OFF
    -DINPUT_opengl=no # FEATURE_opengl alone makes configure fail
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF
    -DFEATURE_fontconfig=OFF -DFEATURE_freetype=OFF
    -DFEATURE_tabletevent=OFF # Debian's repack drops the wintab headers it needs
    # The windows plugin uses the DirectWrite font database whenever directwrite3 is on,
    # but Gui builds it only with direct2d: keep them consistent by leaving both out.
    -DFEATURE_directwrite3=OFF -DFEATURE_direct2d=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_sql_sqlite=OFF
)

JPEG_SOURCE_VERSION=1:2.1.5-2 # Debian 12's libjpeg-turbo
JPEG_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
    -DWITH_SIMD=OFF # would need nasm; the emblem is one small picture
    -DWITH_TURBOJPEG=OFF
)

say() { echo "$*" >&2; }

# The install folder of one library: name, Debian source version, options.
prefix_of() {
    local name=$1 version=$2
    shift 2
    local digest upstream=${version#*:}
    upstream=${upstream%%[+-]*}
    digest=$(printf '%s\n' "$version" "$@" | sha256sum | cut -c1-10)
    echo "$cache_root/$name-$upstream-mingw-static-$digest"
}

# apt-get source needs a deb-src entry; adds one for the release's own archive if none.
ensure_deb_src() {
    if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    say "Adding a deb-src entry for Debian 12 (/etc/apt/sources.list.d/tarvex6-deb-src.sources)"
    $SUDO tee /etc/apt/sources.list.d/tarvex6-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    $SUDO apt-get update -qq
}

# Fetches and unpacks Debian's source package into $2 and checks its version; prints the
# source folder.
fetch_source() {
    local package=$1 work=$2 version=$3 src got
    ensure_deb_src
    say "$package: fetching Debian's source $version"
    (cd "$work" && apt-get source -qq --only-source "$package=$version" >/dev/null 2>&1)
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n1)
    got=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
    if [ "$got" != "$version" ]; then
        say "$package: expected source version $version, got $got"
        return 1
    fi
    echo "$src"
}

# Configures, builds and installs one CMake source package into its cache folder.
build_cached() {
    local name=$1 package=$2 version=$3 prefix=$4
    shift 4
    local started=$SECONDS work src
    if [ -f "$prefix/.tarvex6-complete" ]; then
        say "$name for Windows: reusing $prefix"
        return
    fi
    work="$prefix.work"
    rm -rf "$prefix" "$work"
    mkdir -p "$work"
    src=$(fetch_source "$package" "$work" "$version")
    say "$name for Windows: building into $prefix"
    cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$work/configure.log" 2>&1 ||
        { tail -n 40 "$work/configure.log" >&2; return 1; }
    nice -n 10 cmake --build "$work/build" --parallel "${TARVEX_DEPS_JOBS:-2}" >"$work/build.log" 2>&1 ||
        { tail -n 60 "$work/build.log" >&2; return 1; }
    cmake --install "$work/build" >"$work/install.log" 2>&1 ||
        { tail -n 20 "$work/install.log" >&2; return 1; }
    cp "$src/debian/copyright" "$prefix/debian-copyright"
    rm -rf "$work"
    touch "$prefix/.tarvex6-complete"
    say "$name for Windows: built in $((SECONDS - started)) s"
}

"$root/scripts/install-packages.sh" cmake ninja-build perl dpkg-dev g++-mingw-w64-x86-64-posix \
    qt6-base-dev qt6-base-dev-tools >&2

qt_prefix=$(prefix_of qt "$QT_SOURCE_VERSION" "${QT_OPTIONS[@]}")
jpeg_prefix=$(prefix_of libjpeg-turbo "$JPEG_SOURCE_VERSION" "${JPEG_OPTIONS[@]}")
build_cached libjpeg libjpeg-turbo "$JPEG_SOURCE_VERSION" "$jpeg_prefix" "${JPEG_OPTIONS[@]}"
build_cached Qt qt6-base "$QT_SOURCE_VERSION" "$qt_prefix" "${QT_OPTIONS[@]}"
echo "QT_PREFIX=$qt_prefix"
echo "JPEG_PREFIX=$jpeg_prefix"
