#!/usr/bin/env bash
# Builds the guest of the real-driver test into OUT: Debian's kernel (vmlinuz) and an
# initramfs (initrd.cpio.gz) holding busybox, the kernel modules of the USB serial path
# (xHCI, usbserial, ftdi_sio, with what they need), the guest's init and the given programs
# with the libraries they load.
#   tests/vm/make-guest.sh OUT PROGRAM...
# Needs linux-image-amd64 and busybox-static (scripts/setup-vm.sh installs them).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$1"
shift

# The newest kernel that has both its image and its modules.
kernel=""
for k in $(ls -1 /lib/modules 2>/dev/null | sort -V); do
    [ -r "/boot/vmlinuz-$k" ] && kernel="$k"
done
[ -n "$kernel" ] || { echo "no kernel in /boot with modules in /lib/modules" >&2; exit 1; }
busybox="$(command -v busybox)" || { echo "busybox not found" >&2; exit 1; }
file -L "$busybox" | grep -q 'statically linked' || { echo "$busybox is not static" >&2; exit 1; }

root="$out/root"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,proc,sys,dev,tmp,run/lock,lib/modules,etc}
cp "$busybox" "$root/bin/busybox"
cp "$here/guest-init.sh" "$root/init"
cp "$here/wait-lines.sh" "$root/bin/wait-lines"
chmod 755 "$root/init"

# Modules in load order, each after what it depends on.
: >"$root/lib/modules/order"
for m in usbcore xhci_pci usbserial ftdi_sio; do
    modprobe -S "$kernel" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
done | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$root/lib/modules/"
    basename "$ko" >>"$root/lib/modules/order"
done

for program in "$@"; do
    objcopy --strip-debug "$program" "$root/bin/$(basename "$program")"
    ldd "$program" | awk '/=> \// { print $3 } /^\t\/lib/ { print $1 }' | while read -r lib; do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
done

cp "/boot/vmlinuz-$kernel" "$out/vmlinuz"
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 >"$out/initrd.cpio.gz"
echo "$kernel"
