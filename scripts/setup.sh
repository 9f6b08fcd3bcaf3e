#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12) and configures build/.
set -euo pipefail

PACKAGES=(cmake ninja-build g++ ccache pkg-config python3
          qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libjpeg-dev zlib1g-dev libcanberra-dev libasound2-dev libfontconfig-dev
          srecord clang libclang-rt-14-dev xvfb xauth
          dpkg-dev file lintian desktop-file-utils appstream
          qemu-system-x86 linux-image-amd64 busybox-static) # the real-driver guest (tests/vm)

# The real-driver guest boots Debian's kernel under QEMU with an initramfs of its own.  A
# machine that boots no kernel from /boot (a container) needs no initramfs made for it, which
# takes minutes on 2 cores.
ls /boot/vmlinuz-* >/dev/null 2>&1 || export INITRD=No
"$(dirname "$0")/install-packages.sh" "${PACKAGES[@]}"

cd "$(dirname "$0")/.."
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
