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
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM = os.path.join(HERE, "..", "..", "system")
sys.path.insert(0, SYSTEM)
sys.dont_write_bytecode = True
import system_test  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--build")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="qarvel-collect-")
    root = os.path.join(work, "root")
    system_test.make_root(root, os.path.join(HERE, "collect-init"), args.kernel)
    for program in ("/usr/sbin/smartctl", "/usr/bin/strace"):
        system_test.copy_program(root, program, "/usr/sbin/" + os.path.basename(program))
    if args.build:
        for name in ("qarvel-capture", "disk-health-bench", "Qarvel.so"):
            system_test.copy_program(root, os.path.join(args.build, name), "/usr/sbin/" + name)
    initramfs = os.path.join(work, "initramfs.cpio")
    system_test.make_initramfs(root, initramfs)
    system_test.boot_disks_only(work, args.kernel, initramfs, args.out)
    print("collected into %s (work files in %s)" % (args.out, work))


if __name__ == "__main__":
    main()
