#!/usr/bin/python3
"""The system test: the real Qarvel.so on Debian's own kernel under QEMU.

  system_test.py prepare --build BUILD    release builds, disks, BMC files and the initramfs
  system_test.py boot MACHINE --build BUILD
                                           boots one machine, then checks what its guest
                                           handed out against independent tools
  system_test.py check MACHINE --build BUILD
                                           checks again what the last boot handed out
  system_test.py self-test --build BUILD   the checks on Qarvel-sim.so and the sample server:
                                           each passes there and fails on a changed field

Each check's expected outcome is listed in one place, tests/system/expected; a check that
fails unexpectedly fails the test, and so does one expected to fail that now passes (so that
the list is kept true). A check that has no line there is an error.
"""
import argparse
import fnmatch
import os
import shutil
import subprocess
import sys
import tarfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import checks  # noqa: E402
import machines  # noqa: E402
import openipmi  # noqa: E402

ARCHES = ("i386", "x86_64")
# Guest programs run after the report, in order; each is a shell fragment in commands/. The
# capture comes first, so that it holds the BMC as the report saw it (the watchdog above all).
COMMANDS = ("capture", "watchdog", "wdstop", "json", "smart", "hwmon-poll", "sel")
# Every QEMU runs under this limit (seconds): a boot takes 10 s idle, 35 s under load.
BOOT_TIMEOUT = 150


def system_dir(build):
    return os.path.join(os.path.abspath(build), "system")


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def release_build(build, arch):
    """The release build of one architecture, configured for the guest's layout."""
    tree = os.path.join(system_dir(build), "release-" + arch)
    if not os.path.exists(os.path.join(tree, "CMakeCache.txt")):
        flags = ["-DCMAKE_C_FLAGS=-m32", "-DCMAKE_CXX_FLAGS=-m32"] if arch == "i386" else []
        run(["cmake", "-S", SOURCE, "-B", tree, "-DCMAKE_BUILD_TYPE=Release", "-DQARVEL_TESTS=OFF", "-DWDSTOP_LIBRARY=/qarvel/%s/Qarvel.so" % arch] + flags,
            stdout=subprocess.DEVNULL)
    run(["cmake", "--build", tree, "-j%d" % os.cpu_count(), "--target",
         "Qarvel", "Qarvel-sim", "qarvel", "qarvel-capture", "wdstop", "sample-server"], stdout=subprocess.DEVNULL)
    return tree


def shared_libraries(program):
    """Every file the dynamic loader maps for PROGRAM, the loader itself included."""
    out = subprocess.run(["ldd", program], check=True, capture_output=True, text=True).stdout
    paths = []
    for line in out.splitlines():
        words = line.split()
        if "=>" in words and len(words) > words.index("=>") + 1 and words[words.index("=>") + 1].startswith("/"):
            paths.append(words[words.index("=>") + 1])
        elif words and words[0].startswith("/"):
            paths.append(words[0])
    return paths


def copy_into(root, path, target=None):
    destination = os.path.join(root, (target or path).lstrip("/"))
    os.makedirs(os.path.dirname(destination), exist_ok=True)
    shutil.copy(os.path.realpath(path), destination)


def copy_program(root, program, target=None):
    """PROGRAM into the initramfs tree ROOT (at TARGET, or its own path), with every library
    the dynamic loader maps for it."""
    copy_into(root, program, target)
    for library in shared_libraries(program):
        copy_into(root, library)


def make_root(root, init, kernel=None):
    """An initramfs tree: busybox, the /init script INIT, the mount points, and the modules of
    KERNEL (a directory as tools/setup unpacks one; by default its), listed in /modules in
    their load order."""
    kernel = kernel or kernel_dir()
    for name in ("bin", "proc", "sys", "dev", "tmp"):
        os.makedirs(os.path.join(root, name))
    copy_into(root, "/bin/busybox")
    copy_into(root, init, "/init")
    shutil.copytree(os.path.join(kernel, "modules.d"), os.path.join(root, "modules.d"))
    shutil.copy(os.path.join(kernel, "modules"), os.path.join(root, "modules"))


def make_initramfs(root, path):
    """The tree ROOT as a newc cpio archive at PATH."""
    with open(path, "wb") as out:
        names = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
        run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=root, input=names, stdout=out)


def boot_disks_only(work, kernel, initramfs, out):
    """Boots INITRAMFS once on KERNEL's vmlinuz with the guests' disks and no BMC, with its
    files in WORK, and unpacks what the guest wrote to its output disk into OUT (the scripts
    in tests/data/ that captured real-kernel data boot this way)."""
    disks = {}
    for name, disk in machines.DISKS.items():
        disks[name] = os.path.join(work, name + ".img")
        machines.make_disk(disks[name], disk)
    output = os.path.join(work, "output.img")
    machines.make_output_disk(output)
    command = machines.base_command(work, os.path.join(kernel, "vmlinuz"), initramfs) + \
        machines.disk_devices(disks, output)
    run(["timeout", "300"] + command)
    os.makedirs(out, exist_ok=True)
    with tarfile.open(output) as archive:
        archive.extractall(out)


def bmc_files(build):
    """The sample server's sensor repository and FRU inventory, loaded into the guest's BMC,
    and its readings and thresholds (bmc.conf), which only ipmi_sim is given."""
    ipmi = os.path.join(system_dir(build), "release-i386", "machines", "sample-server", "ipmi")
    fru = os.path.join(ipmi, "fru0.bin")
    return dict(sdr=os.path.join(ipmi, "sdr.bin"), fru=fru, fru_size=os.path.getsize(fru),
                conf=os.path.join(ipmi, "bmc.conf"), major=checks.BMC_FIRMWARE[0], minor=checks.BMC_FIRMWARE[1])


def kernel_dir():
    return os.path.join(SOURCE, "build", "system-kernel")


def prepare(build):
    work = system_dir(build)
    kernel = kernel_dir()
    if not os.path.exists(os.path.join(kernel, "modules")):
        sys.exit("system test: no kernel in %s; tools/setup unpacks it" % kernel)
    trees = {arch: release_build(build, arch) for arch in ARCHES}

    assets = os.path.join(work, "assets")
    shutil.rmtree(assets, ignore_errors=True)
    os.makedirs(assets)
    for name, disk in machines.DISKS.items():
        machines.make_disk(os.path.join(assets, name + ".img"), disk)

    root = os.path.join(assets, "root")
    make_root(root, os.path.join(HERE, "init"))
    shutil.copytree(os.path.join(HERE, "commands"), os.path.join(root, "commands.d"))
    with open(os.path.join(root, "commands"), "w") as out:
        out.write("\n".join(COMMANDS) + "\n")
    for arch, tree in trees.items():
        for name in ("qarvel", "qarvel-capture", "Qarvel.so", "wdstop"):
            copy_program(root, os.path.join(tree, name), "/qarvel/%s/%s" % (arch, name))
    # The peer tools the checks compare with, with the libraries they need: smartctl for the
    # disks' health; ipmitool (which also adds the guest's events) and FreeIPMI's ipmi-sel for
    # the BMC's event log.
    for tool in ("/usr/sbin/smartctl", "/usr/bin/ipmitool", "/usr/sbin/ipmi-sel"):
        copy_program(root, tool)
    copy_into(root, os.path.join(HERE, "events"), "/events")
    initramfs = os.path.join(assets, "initramfs.cpio")
    make_initramfs(root, initramfs)
    print("system test: prepared %s (%d KiB initramfs, kernel %s)"
          % (assets, os.path.getsize(initramfs) >> 10, open(os.path.join(kernel, "package")).read().strip()))


def boot(build, name):
    """Boots MACHINE once; returns the directory the guest's results were unpacked into."""
    machine = machines.MACHINES[name]
    work = os.path.join(system_dir(build), name)
    assets = os.path.join(system_dir(build), "assets")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    output = os.path.join(work, "output.img")
    machines.make_output_disk(output)
    disks = {disk: os.path.join(assets, disk + ".img") for disk in machines.DISKS}
    bmc = bmc_files(build)
    simulator = None
    if machine.bmc == "ipmi_sim":
        # Its own limit outlasts QEMU's, and it is stopped as soon as QEMU is gone.
        bmc["port"] = openipmi.free_port()
        try:
            simulator = openipmi.start(work, bmc, bmc["port"], BOOT_TIMEOUT + 10)
        except RuntimeError as error:
            sys.exit("system test: %s" % error)
    command = machines.qemu_command(machine, work, os.path.join(kernel_dir(), "vmlinuz"),
                                    os.path.join(assets, "initramfs.cpio"), disks, output, bmc)
    with open(os.path.join(work, "qemu-command"), "w") as out:
        out.write(" ".join(command) + "\n")
    start = time.monotonic()
    try:
        result = subprocess.run(["timeout", str(BOOT_TIMEOUT)] + command, capture_output=True, text=True)
    finally:
        if simulator:
            openipmi.stop(simulator)
    seconds = time.monotonic() - start
    line = "system test: machine %s (BMC %s) booted, ran and powered off in %.1f s" % (name, machine.bmc, seconds)
    print(line)
    with open(os.path.join(work, "boot-time"), "w") as out:
        out.write(line + "\n")
    if result.returncode != 0:
        print(result.stdout + result.stderr)
        console = open(os.path.join(work, "console.log"), errors="replace").read()
        sys.exit("system test: QEMU exited with %d (124: timed out after %d s); console:\n%s"
                 % (result.returncode, BOOT_TIMEOUT, console[-4000:]))
    results = os.path.join(work, "out")
    os.makedirs(results)
    try:
        with tarfile.open(output) as archive:
            archive.extractall(results)
    except tarfile.TarError:
        pass
    if not os.path.exists(os.path.join(results, "complete")):
        console = open(os.path.join(work, "console.log"), errors="replace").read()
        sys.exit("system test: the guest did not finish its work; console:\n%s" % console[-4000:])
    return results


def read_expectations():
    """(pattern, expected to pass, reason) for each line of tests/system/expected."""
    rules = []
    with open(os.path.join(HERE, "expected")) as lines:
        for number, line in enumerate(lines, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split(None, 2)
            if len(words) < 2 or words[1] not in ("pass", "fail") or (words[1] == "fail" and len(words) < 3):
                sys.exit("tests/system/expected:%d: want 'CHECK pass' or 'CHECK fail REASON'" % number)
            rules.append((words[0], words[1] == "pass", words[2] if len(words) > 2 else ""))
    return rules


def judge(results, rules):
    """Prints each check's outcome; returns True when every check came out as expected."""
    good = True
    for name, passed, detail in results:
        rule = next((r for r in rules if fnmatch.fnmatchcase(name, r[0])), None)
        if rule is None:
            print("ERROR  %s: no line in tests/system/expected says whether it passes" % name)
            good = False
            continue
        expected, reason = rule[1], rule[2]
        if passed and expected:
            print("PASS   %s" % name)
        elif passed:
            print("XPASS  %s: expected to fail (%s) but passes; mark it pass in tests/system/expected"
                  % (name, reason))
            good = False
        elif expected:
            print("FAIL   %s\n%s" % (name, indent(detail)))
            good = False
        else:
            print("XFAIL  %s (%s)\n%s" % (name, reason, indent(detail)))
    return good


def indent(text):
    lines = text.rstrip().splitlines()
    if len(lines) > 40:
        lines = lines[:40] + ["... (%d more lines)" % (len(lines) - 40)]
    return "\n".join("         " + line for line in lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("action", choices=["prepare", "boot", "check", "self-test"])
    parser.add_argument("machine", nargs="?", choices=sorted(machines.MACHINES))
    parser.add_argument("--build", required=True, help="the build tree the test works in")
    args = parser.parse_args()
    if args.action == "prepare":
        prepare(args.build)
        return 0
    if args.action == "self-test":
        results = checks.self_test(os.path.abspath(args.build))
        for name, passed, detail in results:
            print("%s %s%s" % ("PASS  " if passed else "FAIL  ", name, "" if passed else "\n" + indent(detail)))
        return 0 if all(passed for _, passed, _ in results) else 1
    if not args.machine:
        parser.error(args.action + " needs a machine")
    rules = read_expectations()
    if args.action == "boot":
        results_dir = boot(args.build, args.machine)
    else:
        results_dir = os.path.join(system_dir(args.build), args.machine, "out")
    trees = {arch: os.path.join(system_dir(args.build), "release-" + arch) for arch in ARCHES}
    results = checks.run_all(args.machine, results_dir, trees, bmc_files(args.build))
    good = judge(results, rules)
    print("system test: machine %s: %d checks, %s" % (args.machine, len(results),
                                                     "all as expected" if good else "NOT as expected"))
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
