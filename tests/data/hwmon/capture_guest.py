#!/usr/bin/python3
"""Boots the system test's guest once (Debian's 6.1 kernel under TCG, the same NVMe, AHCI and
IDE disks) and hands out what it holds of the kernel's hardware monitoring: the capture the
library writes (`qarvel-capture`), every hwmon file as the guest reads it (`raw.txt`), and the
hwmon benchmark beside node_exporter (`bench.txt`).

  capture_guest.py BUILD KERNEL_DIR DRIVETEMP_KO OUT_DIR

BUILD is an i386 build tree (Qarvel.so, qarvel-capture, hwmon-bench); KERNEL_DIR the one
tools/setup unpacks (build/system-kernel); DRIVETEMP_KO drivetemp.ko from the same kernel
package (tools/setup does not unpack it). Run it under `flock /work/guest.lock`.
"""
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "system"))
sys.dont_write_bytecode = True
import system_test  # noqa: E402

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules) drivetemp.ko; do insmod /modules.d/$module 2>> /out/insmod.txt; done
tries=0
while [ $tries -lt 100 ] && ! { [ -e /dev/nvme0n1 ] && [ $(ls -d /sys/block/sd* 2>/dev/null | wc -l) -ge 3 ]; }; do
    sleep 0.1; tries=$((tries + 1))
done
ip link set lo up
for chip in /sys/class/hwmon/*; do
    echo "== $chip -> $(readlink $chip) device -> $(readlink $chip/device)" >> /out/raw.txt
    for f in $chip/*; do [ -f $f ] && echo "$f: $(cat $f 2>&1)" >> /out/raw.txt; done
done
/qarvel/qarvel-capture /out/capture > /out/capture.txt 2>&1
rm -f /out/capture/dev/*.img
/qarvel/hwmon-bench /qarvel/Qarvel.so /bin/node-exporter > /out/bench.txt 2>&1
dmesg > /out/dmesg.txt
echo complete > /out/complete
for disk in /sys/block/sd*; do
    [ "$(cat $disk/device/model 2>/dev/null | tr -d ' ')" = QARVEL-OUTPUT ] && tar -c -f /dev/${disk##*/} -C /out . && sync
done
poweroff -f
"""


def main():
    build, kernel, drivetemp, out = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="qarvel-hwmon-guest-")
    root = os.path.join(work, "root")
    init = os.path.join(work, "init")
    with open(init, "w") as f:
        f.write(INIT)
    os.chmod(init, 0o755)
    system_test.make_root(root, init, kernel)
    os.makedirs(os.path.join(root, "out"))
    shutil.copy(drivetemp, os.path.join(root, "modules.d", "drivetemp.ko"))
    for name in ("Qarvel.so", "qarvel-capture", "hwmon-bench"):
        system_test.copy_program(root, os.path.join(build, name), "/qarvel/" + name)
    system_test.copy_program(root, "/usr/bin/prometheus-node-exporter", "/bin/node-exporter")
    initramfs = os.path.join(work, "initramfs.cpio")
    system_test.make_initramfs(root, initramfs)
    system_test.boot_disks_only(work, kernel, initramfs, out)
    print("capture_guest: results in %s (work %s)" % (out, work))


if __name__ == "__main__":
    main()
