#!/usr/bin/python3
"""Boots the system test's guest (its disks, Debian's 6.1 kernel, TCG) with collect-init and
unpacks what it handed out into OUT: the sysfs subset behind the disks and smartctl's view of
each disk (raw command bytes, system calls, JSON).

  collect.py --kernel build/system-kernel --out OUT [--build build/i386]

With --build, the guest also runs that build's qarvel-capture (whose dev/ files hold each
disk's answers to the health commands, byte for byte) and disk-health-bench beside smartctl.

Run QEMU only under `flock /work/guest.lock` (or the lock of the machine you are on).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM = os.path.join(HERE, "..", "..", "system")
sys.path.insert(0, SYSTEM)
sys.dont_write_bytecode = True
import machines  # noqa: E402
import system_test  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--build")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="qarvel-collect-")
    root = os.path.join(work, "root")
    for name in ("bin", "proc", "sys", "dev", "tmp"):
        os.makedirs(os.path.join(root, name))
    system_test.copy_into(root, "/bin/busybox")
    system_test.copy_into(root, os.path.join(HERE, "collect-init"), "/init")
    shutil.copytree(os.path.join(args.kernel, "modules.d"), os.path.join(root, "modules.d"))
    shutil.copy(os.path.join(args.kernel, "modules"), os.path.join(root, "modules"))
    for program in ("/usr/sbin/smartctl", "/usr/bin/strace"):
        system_test.copy_into(root, program, "/usr/sbin/" + os.path.basename(program))
        for library in system_test.shared_libraries(program):
            system_test.copy_into(root, library)
    if args.build:
        for name in ("qarvel-capture", "disk-health-bench", "Qarvel.so"):
            program = os.path.join(args.build, name)
            system_test.copy_into(root, program, "/usr/sbin/" + name)
            for library in system_test.shared_libraries(program):
                system_test.copy_into(root, library)
    initramfs = os.path.join(work, "initramfs.cpio")
    with open(initramfs, "wb") as out:
        names = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
        subprocess.run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=root, input=names, stdout=out, check=True)
    disks = {}
    for name, disk in machines.DISKS.items():
        disks[name] = os.path.join(work, name + ".img")
        machines.make_disk(disks[name], disk)
    output = os.path.join(work, "output.img")
    machines.make_output_disk(output)
    command = [
        "qemu-system-x86_64", "-nodefaults", "-no-reboot", "-display", "none", "-machine", "pc,accel=tcg",
        "-cpu", "qemu64", "-smp", "1", "-m", "512M", "-kernel", os.path.join(args.kernel, "vmlinuz"),
        "-initrd", initramfs, "-append", "console=ttyS0 panic=-1 quiet loglevel=4 no_timer_check",
        "-serial", "file:" + os.path.join(work, "console.log"), "-monitor", "none",
        "-device", "ahci,id=ahci0,addr=0x6",
        "-drive", "if=none,id=ide0,format=raw,snapshot=on,file=" + disks["ide"],
        "-device", "ide-hd,drive=ide0,bus=ide.0,unit=0,model=%s,serial=%s" % (machines.DISKS["ide"]["model"], machines.DISKS["ide"]["serial"]),
        "-drive", "if=none,id=sata0,format=raw,snapshot=on,file=" + disks["ahci"],
        "-device", "ide-hd,drive=sata0,bus=ahci0.0,model=%s,serial=%s" % (machines.DISKS["ahci"]["model"], machines.DISKS["ahci"]["serial"]),
        "-drive", "if=none,id=nvme0,format=raw,snapshot=on,file=" + disks["nvme"],
        "-device", "nvme,drive=nvme0,serial=%s,addr=0x8" % machines.DISKS["nvme"]["serial"],
        "-drive", "if=none,id=out0,format=raw,file=" + output,
        "-device", "ide-hd,drive=out0,bus=ide.1,unit=0,model=%s" % machines.OUTPUT_MODEL,
    ]
    subprocess.run(["timeout", "300"] + command, check=True)
    os.makedirs(args.out, exist_ok=True)
    with tarfile.open(output) as archive:
        archive.extractall(args.out)
    print("collected into %s (work files in %s)" % (args.out, work))


if __name__ == "__main__":
    main()
