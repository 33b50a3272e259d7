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
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "system"))
sys.dont_write_bytecode = True
import machines  # noqa: E402
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
    for name in ("bin", "proc", "sys", "dev", "tmp", "out"):
        os.makedirs(os.path.join(root, name))
    system_test.copy_into(root, "/bin/busybox")
    with open(os.path.join(root, "init"), "w") as f:
        f.write(INIT)
    os.chmod(os.path.join(root, "init"), 0o755)
    shutil.copytree(os.path.join(kernel, "modules.d"), os.path.join(root, "modules.d"))
    shutil.copy(drivetemp, os.path.join(root, "modules.d", "drivetemp.ko"))
    shutil.copy(os.path.join(kernel, "modules"), os.path.join(root, "modules"))
    for name in ("Qarvel.so", "qarvel-capture", "hwmon-bench"):
        program = os.path.join(build, name)
        system_test.copy_into(root, program, "/qarvel/" + name)
        for library in system_test.shared_libraries(program):
            system_test.copy_into(root, library)
    system_test.copy_into(root, "/usr/bin/prometheus-node-exporter", "/bin/node-exporter")
    for library in system_test.shared_libraries("/usr/bin/prometheus-node-exporter"):
        system_test.copy_into(root, library)
    initramfs = os.path.join(work, "initramfs.cpio")
    with open(initramfs, "wb") as f:
        names = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
        subprocess.run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=root, input=names, stdout=f, check=True)
    disks = {}
    for name, disk in machines.DISKS.items():
        disks[name] = os.path.join(work, name + ".img")
        machines.make_disk(disks[name], disk)
    output = os.path.join(work, "output.img")
    machines.make_output_disk(output)
    command = [
        "qemu-system-x86_64", "-nodefaults", "-no-reboot", "-display", "none",
        "-machine", "pc,accel=tcg", "-cpu", "qemu64", "-smp", "1", "-m", "512M",
        "-kernel", os.path.join(kernel, "vmlinuz"), "-initrd", initramfs,
        "-append", "console=ttyS0 panic=-1 quiet loglevel=4 no_timer_check",
        "-serial", "file:" + os.path.join(work, "console.log"), "-monitor", "none",
        "-device", "ahci,id=ahci0,addr=0x6",
        "-drive", "if=none,id=ide0,format=raw,snapshot=on,file=" + disks["ide"],
        "-device", "ide-hd,drive=ide0,bus=ide.0,unit=0,model=%s" % machines.DISKS["ide"]["model"],
        "-drive", "if=none,id=sata0,format=raw,snapshot=on,file=" + disks["ahci"],
        "-device", "ide-hd,drive=sata0,bus=ahci0.0,model=%s" % machines.DISKS["ahci"]["model"],
        "-drive", "if=none,id=nvme0,format=raw,snapshot=on,file=" + disks["nvme"],
        "-device", "nvme,drive=nvme0,serial=%s,addr=0x8" % machines.DISKS["nvme"]["serial"],
        "-drive", "if=none,id=out0,format=raw,file=" + output,
        "-device", "ide-hd,drive=out0,bus=ide.1,unit=0,model=%s" % machines.OUTPUT_MODEL,
    ]
    subprocess.run(["timeout", "300"] + command, check=True)
    os.makedirs(out, exist_ok=True)
    with tarfile.open(output) as archive:
        archive.extractall(out)
    print("capture_guest: results in %s (work %s)" % (out, work))


if __name__ == "__main__":
    main()
