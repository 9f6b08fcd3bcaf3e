#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet (with sudo when
# not root); prints what it installs.
set -euo pipefail
missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    # sudo drops the environment: the kernel's initramfs switch is passed on by name.
    $SUDO env DEBIAN_FRONTEND=noninteractive ${INITRD:+INITRD="$INITRD"} \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
