"""The guests: what each QEMU machine holds, and the files it is built from.

Every string given to the firmware is short and distinctive, so that a field copied from the
wrong structure shows, and short enough that no record field truncates it.
"""
import os
import struct
import subprocess

# SMBIOS structures QEMU builds from -smbios options (SMBIOS 7.1-7.5, 7.18).
SMBIOS_OPTIONS = [
    "type=0,vendor=Qv Firm,version=QV-B 4.2,date=07/04/2026",
    "type=1,manufacturer=Qv Sys,product=QV-R740,version=C2,serial=QS42",
    "type=2,manufacturer=Qv Board,product=QVB-X11,version=1.0,serial=QB77",
    "type=3,manufacturer=Qv Case,version=C3,serial=QC90",
    "type=4,manufacturer=Qv Si,version=QV-C3,max-speed=3400,current-speed=2900",
    "type=17,bank=Bank 0,manufacturer=Qv Mem,speed=2666",
]


def _strings(*texts):
    """The string set that ends a structure: each text NUL-terminated, then one more NUL."""
    data = b"".join(t.encode() + b"\0" for t in texts)
    return data + b"\0" if data else b"\0\0"


def _probe(kind, handle, description, maximum, minimum, nominal, location_status):
    # SMBIOS 7.27 (voltage, 26), 7.29 (temperature, 28), 7.30 (current, 29): same layout.
    body = struct.pack("<BBHBBhhHHHIh", kind, 0x16, handle, 1, location_status, maximum, minimum,
                       0x8000, 0x8000, 0x8000, 0, nominal)
    return body + _strings(description)


# Raw structures QEMU cannot build itself, each one file (one structure per -smbios file=).
# Handles are kept clear of those QEMU gives its own structures.
RAW_STRUCTURES = {
    # Voltage probe on the processor, 0.600-1.800 V, nominal 1.050 V (millivolts).
    "26-voltage": _probe(26, 0x2600, "QV Vcore", 1800, 600, 1050, (3 << 5) | 3),
    # Temperature probe on the motherboard, tenths of a degree: nominal 45.0 C.
    "28-temperature": _probe(28, 0x2800, "QV Temp", 900, 50, 450, (3 << 5) | 3),
    # Current probe on the power unit, milliamps.
    "29-current": _probe(29, 0x2900, "QV Amps", 12000, 0, 4500, (3 << 5) | 3),
    # Cooling device: fan, OK, nominal 7300 rpm, linked to the temperature probe (7.28).
    "27-fan": struct.pack("<BBHHBBIHB", 27, 0x0F, 0x2700, 0x2800, (3 << 5) | 3, 1, 0, 7300, 1)
    + _strings("QV Fan"),
    # System power supply (7.40): present, hot-replaceable, linked to the probes and the fan.
    "39-power": struct.pack("<BBHBBBBBBBBHHHHH", 39, 0x16, 0x3900, 1, 1, 2, 3, 4, 0, 0, 0, 0x8000,
                            (1 << 0) | (1 << 1) | (4 << 3) | (3 << 7) | (4 << 10), 0x2600, 0x2700, 0x2900)
    + _strings("Bay1", "QV-PSU", "Qv Pwr", "QP31"),
}

# Enough OEM strings (type 11) to push a table past what SeaBIOS keeps in the F segment, so
# that it is placed at the top of RAM, above the end of what the kernel maps as RAM.
LARGE_TABLE_OPTIONS = ["type=11," + ",".join("value=QV OEM string %02d padding the table" % i
                                               for i in range(24))]


class Machine:
    def __init__(self, name, entry_point, memory, extra_smbios=(), append="", bmc="qemu"):
        self.name = name
        self.entry_point = entry_point
        self.memory = memory
        self.extra_smbios = list(extra_smbios)
        self.append = append
        # The BMC behind the KCS interface: "qemu", QEMU's own ipmi-bmc-sim, or "ipmi_sim",
        # OpenIPMI's simulator reached through ipmi-bmc-extern (openipmi.py). Both are loaded
        # with the same repository and FRU; only ipmi_sim answers Get Sensor Thresholds.
        self.bmc = bmc


MACHINES = {
    # SMBIOS 2.x entry point, small table in the F segment, classic RAM layout.
    "classic": Machine("classic", 32, "512M"),
    # Only an SMBIOS 3 entry point; a large table placed by SeaBIOS at the top of 2 GiB.
    "smbios3": Machine("smbios3", 64, "2G", extra_smbios=LARGE_TABLE_OPTIONS),
    # The classic machine booted with the kernel locked down: /dev/mem and iopl refused. Its
    # BMC is ipmi_sim, so that the thresholds the library reads from a BMC are checked too.
    "lockdown": Machine("lockdown", 32, "512M", append="lockdown=integrity", bmc="ipmi_sim"),
}

# Disks: model names tell them apart; sizes in MiB.
DISKS = {
    # IDE on the PIIX controller: a classic MBR, partitions on cylinder boundaries (255 heads,
    # 63 sectors: 8225280-byte cylinders), the first at sector 63.
    "ide": dict(model="QV IDE DISK", serial="QVIDE-0001", size=64,
                sfdisk="label: dos\nunit: sectors\n\n"
                       "start=63, size=16002, type=83, bootable\n"
                       "start=16065, size=16065, type=82\n"
                       "start=32130, size=48195, type=7\n"),
    # AHCI: a current MBR, 1 MiB aligned, with an extended partition holding a chain of three.
    "ahci": dict(model="QV SATA DISK", serial="QVSATA-0002", size=64,
                 sfdisk="label: dos\nunit: sectors\n\n"
                        "start=2048, size=16384, type=83\n"
                        "start=18432, size=110592, type=5\n"
                        "start=20480, size=20480, type=83\n"
                        "start=43008, size=30720, type=c\n"
                        "start=75776, size=51200, type=82\n"),
    # NVMe: GPT. QEMU names every NVMe controller "QEMU NVMe Ctrl".
    "nvme": dict(model="QEMU NVMe Ctrl", serial="QVNVME-0003", size=64,
                 sfdisk="label: gpt\nunit: sectors\n\n"
                        "start=2048, size=32768, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, name=\"QV EFI\"\n"
                        "start=34816, size=65536, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4, name=\"QV root\"\n"),
}
OUTPUT_MODEL = "QARVEL-OUTPUT"
# The results disk holds, besides the reports, each build's capture with a copy of every disk
# (sparse on the host, but busybox tar writes the images whole): 3 x 64 MiB, twice, and room;
# the capture leaves out this disk's own image.
OUTPUT_SIZE_MIB = 512


def make_disk(path, disk):
    with open(path, "wb") as image:
        image.truncate(disk["size"] << 20)
    subprocess.run(["sfdisk", "-q", "--no-reread", "--no-tell-kernel", path],
                   input=disk["sfdisk"].encode(), check=True, stdout=subprocess.DEVNULL)


def make_output_disk(path):
    with open(path, "wb") as image:
        image.truncate(OUTPUT_SIZE_MIB << 20)


def write_raw_structures(directory):
    paths = []
    for name, data in RAW_STRUCTURES.items():
        path = os.path.join(directory, "smbios-%s.bin" % name)
        with open(path, "wb") as out:
            out.write(data)
        paths.append(path)
    return paths


def base_command(work, kernel, initramfs, memory="512M", machine_options="", append=""):
    """QEMU's command line before any device: the kernel and initramfs, the serial console
    into WORK/console.log. Only TCG: /dev/kvm is not to be used here."""
    return [
        "qemu-system-x86_64", "-nodefaults", "-no-reboot", "-display", "none",
        "-machine", "pc,accel=tcg" + machine_options, "-cpu", "qemu64", "-smp", "1", "-m", memory,
        "-kernel", kernel, "-initrd", initramfs,
        # no_timer_check: on a loaded host the kernel may find the emulated timer too slow
        # and panic ("IO-APIC + timer doesn't work").
        "-append", ("console=ttyS0 panic=-1 quiet loglevel=4 no_timer_check " + append).strip(),
        "-serial", "file:" + os.path.join(work, "console.log"), "-monitor", "none",
    ]


def disk_devices(disks, output):
    """The disks every guest has: the AHCI controller, a disk on the board's PIIX IDE, one on
    AHCI, an NVMe drive (DISKS, backed by the images DISKS names), and the output disk."""
    return [
        "-device", "ahci,id=ahci0,addr=0x6",
        "-drive", "if=none,id=ide0,format=raw,snapshot=on,file=" + disks["ide"],
        "-device", "ide-hd,drive=ide0,bus=ide.0,unit=0,model=%s,serial=%s"
        % (DISKS["ide"]["model"], DISKS["ide"]["serial"]),
        "-drive", "if=none,id=sata0,format=raw,snapshot=on,file=" + disks["ahci"],
        "-device", "ide-hd,drive=sata0,bus=ahci0.0,model=%s,serial=%s"
        % (DISKS["ahci"]["model"], DISKS["ahci"]["serial"]),
        "-drive", "if=none,id=nvme0,format=raw,snapshot=on,file=" + disks["nvme"],
        "-device", "nvme,drive=nvme0,serial=%s,addr=0x8" % DISKS["nvme"]["serial"],
        "-drive", "if=none,id=out0,format=raw,file=" + output,
        "-device", "ide-hd,drive=out0,bus=ide.1,unit=0,model=%s" % OUTPUT_MODEL,
    ]


def qemu_command(machine, work, kernel, initramfs, disks, output, bmc):
    """The QEMU command line of one boot of MACHINE."""
    command = base_command(work, kernel, initramfs, machine.memory,
                           ",smbios-entry-point-type=%d" % machine.entry_point, machine.append)
    for option in SMBIOS_OPTIONS + machine.extra_smbios:
        command += ["-smbios", option]
    for path in write_raw_structures(work):
        command += ["-smbios", "file=" + path]
    # PCI: a bridge with a NIC behind it, AHCI, USB, NVMe; the PIIX IDE is on the board.
    command += [
        "-device", "pci-bridge,id=bridge1,chassis_nr=1,addr=0x5",
        "-device", "e1000,bus=bridge1,addr=0x3,romfile=,mac=52:54:00:51:76:01",
        "-device", "qemu-xhci,id=usb0,addr=0x7",
    ] + disk_devices(disks, output)
    # The BMC: our sensor repository and FRU inventory behind a KCS interface.
    if machine.bmc == "ipmi_sim":
        # ipmi_sim, started by the host, listens on bmc["port"]; QEMU retries each second
        # should it not answer at once.
        command += [
            "-chardev", "socket,id=ipmi0,host=127.0.0.1,port=%d,reconnect=1" % bmc["port"],
            "-device", "ipmi-bmc-extern,chardev=ipmi0,id=bmc0",
        ]
    else:
        command += [
            "-device", "ipmi-bmc-sim,id=bmc0,sdrfile=%s,frudatafile=%s,fruareasize=%d,fwrev1=%d,fwrev2=%d"
            % (bmc["sdr"], bmc["fru"], bmc["fru_size"], bmc["major"], bmc["minor"]),
        ]
    command += ["-device", "isa-ipmi-kcs,bmc=bmc0"]
    return command
