#!/bin/busybox sh
# The guest's init: mounts the kernel's file systems, loads the USB serial modules, then runs
# the host's commands from the console: each line is a number and a command, answered by the
# command's output and "@@END <number> <exit status>".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts
dmesg -n 1
for ko in $(cat /lib/modules/order); do
    insmod "/lib/modules/$ko"
done
exec </dev/ttyS0 >/dev/ttyS0 2>&1
stty -echo -onlcr
echo "@@READY $(uname -r)"
while read -r number line; do
    sh -c "$line"
    echo "@@END $number $?"
done
poweroff -f
