"""Checks of what a guest handed out, each against a tool or a file independent of Qarvel.

A check is (name, passed, detail). Names are MACHINE/ARCH/WHAT for what each build of the
library reported, MACHINE/machine.WHAT for what the machine itself must be for the other
checks to mean anything.
"""
import difflib
import json
import os
import re
import struct
import subprocess
import tempfile

import machines
import openipmi

ARCHES = ("i386", "x86_64")
# The firmware revision the guests' BMCs are given: major, then the minor revision in BCD.
BMC_FIRMWARE = (3, 0x27)


# ---------------------------------------------------------------- reading what was handed out

def read_text(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return None


def parse_report(text):
    """The qarvel report as {section: {FIELD: value}} (the part before a section is "")."""
    sections, current = {}, ""
    sections[current] = {}
    for line in (text or "").splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            sections[current] = {}
        elif "=" in line:
            key, value = line.split("=", 1)
            sections[current][key] = value
    return sections


def runs(text):
    """Outputs with '## [LABEL] rc N' after each run: [(output of the run, exit status, LABEL)]."""
    result, lines = [], []
    for line in (text or "").splitlines():
        match = re.match(r"## (?:(\w+) )?rc (\d+)$", line)
        if match:
            result.append(("\n".join(lines), int(match.group(2)), match.group(1)))
            lines = []
        else:
            lines.append(line)
    return result


# What the report shows for a present countdown the BMC did not give.
NOT_GIVEN = "not given"


def watchdog_shows(text):
    """Each 'watchdog show' block of one run: (result, action, initial, present)."""
    shows = []
    for block in text.split("GetWatchDogTimer()=")[1:]:
        fields = dict(line.split("=", 1) for line in block.splitlines()[1:] if "=" in line and not line.startswith("["))
        result = block.splitlines()[0].strip()
        shows.append((result, fields.get("timerAction"), fields.get("timeOutValue"), fields.get("presentTimerOutValue")))
    return shows


# ---------------------------------------------------------------- SMBIOS against dmidecode

def smbios_dump(results, dump_path):
    """The captured entry point and table as dmidecode --dump-bin writes them: the entry point
    at 0 with its table address rewritten to 0x20, the table from 0x20."""
    entry = open(os.path.join(results, "firmware", "smbios_entry_point"), "rb").read()
    table = open(os.path.join(results, "firmware", "DMI"), "rb").read()
    entry = bytearray(entry)
    if entry[:5] == b"_SM3_":
        entry[0x10:0x18] = struct.pack("<Q", 0x20)
        entry[5] = 0
        entry[5] = (-sum(entry[:entry[6]])) & 0xFF
    elif entry[:4] == b"_SM_":
        entry[0x18:0x1C] = struct.pack("<I", 0x20)
        entry[0x15] = 0
        entry[0x15] = (-sum(entry[0x10:0x1F])) & 0xFF
    with open(dump_path, "wb") as out:
        out.write(bytes(entry).ljust(0x20, b"\0") + table)


def dmidecode(dump_path):
    """dmidecode's decoding of a dump: [(type, {field: value})] in table order."""
    out = subprocess.run(["dmidecode", "--from-dump", dump_path], capture_output=True, text=True).stdout
    structures = []
    for block in out.split("\nHandle ")[1:]:
        header = re.match(r"0x[0-9A-F]+, DMI type (\d+)", block)
        if not header:
            continue
        fields = {}
        for line in block.splitlines()[2:]:
            if line.startswith("\t") and not line.startswith("\t\t") and ":" in line:
                key, value = line.strip().split(":", 1)
                fields[key] = value.strip()
        structures.append((int(header.group(1)), fields))
    return structures


def number(text, pattern, form="%s"):
    """FORM with the number PATTERN finds in TEXT, or None when TEXT holds no such number."""
    match = re.match(pattern, text or "")
    return form % match.group(1) if match else None


def megabytes(size):
    match = re.match(r"(\d+) (MB|GB)$", size or "")
    if not match:
        return None
    return int(match.group(1)) * (1024 if match.group(2) == "GB" else 1)


def expected_smbios(structures):
    """The report fields an SMBIOS reader must give for these structures."""
    def of(kind):
        return [fields for t, fields in structures if t == kind]

    expected = {}
    bios, system, board = (of(0) or [{}])[0], (of(1) or [{}])[0], (of(2) or [{}])[0]
    expected["SMBIOS"] = {"IsSmBiosSupport()": "1"}
    expected["base board"] = {
        "GetInfo(INFO_BASE_BOARD)": "0", "ProductName": board.get("Product Name"),
        "Manufacturer": board.get("Manufacturer"), "SerialNo": board.get("Serial Number"),
        "RomVendor": bios.get("Vendor"), "RomVersion": bios.get("Version"),
        "RomReleaseDate": bios.get("Release Date")}
    expected["system"] = {
        "GetInfo(INFO_SYSTEM)": "0", "SysProductName": system.get("Product Name"),
        "manufacturer": system.get("Manufacturer"), "version": system.get("Version")}
    cpus = of(4)
    processors = {"GetInfo(INFO_PROCESSOR)": "0", "quantity": str(len(cpus))}
    for i, cpu in enumerate(cpus):
        processors["cpu[%d].manufacturer" % i] = cpu.get("Manufacturer")
        for field, name in (("MaxSpeed", "Max Speed"), ("CurrentSpeed", "Current Speed")):
            processors["cpu[%d].%s" % (i, field)] = number(cpu.get(name), r"(\d+) MHz", "%s MHZ")
    expected["processors"] = processors
    banks = [b for b in of(17) if megabytes(b.get("Size"))]
    memory = {"GetInfo(INFO_MEMORY)": "0", "quantity": str(len(banks)),
              "TotalSize": str(sum(megabytes(b["Size"]) for b in banks))}
    for i, bank in enumerate(banks):
        memory["bank[%d].size" % i] = "%d MB" % megabytes(bank["Size"])
        memory["bank[%d].manufacturer" % i] = bank.get("Manufacturer")
        memory["bank[%d].speed" % i] = number(bank.get("Speed"), r"(\d+) MT/s", "%s MHZ")
    expected["memory"] = memory
    supplies = of(39)
    power = {"GetInfo(INFO_POWER_SUPPLY)": "0", "TotalNumber": str(len(supplies))}
    for i, supply in enumerate(supplies):
        power["PowerSupply[%d].manufacturer" % i] = supply.get("Manufacturer")
        power["PowerSupply[%d].DeviceName" % i] = supply.get("Name")
        power["PowerSupply[%d].SerialNo" % i] = supply.get("Serial Number")
    expected["power supplies"] = power
    fans = of(27)
    expected["fans"] = {"GetInfo(INFO_FAN)": "0", "quantity": str(len(fans))}
    for i, fan in enumerate(fans):
        expected["fans"]["fan[%d].speed" % i] = number(fan.get("Nominal Speed"), r"(\d+) rpm", "%s rpm")

    def millivolts(text):
        value = number(text, r"(-?[\d.]+) V")
        return "%d mv" % round(float(value) * 1000) if value else None
    volts = of(26)
    expected["voltage probes"] = {"GetInfo(INFO_VOLTAGE)": "0", "quantity": str(len(volts))}
    if volts:
        expected["voltage probes"].update({
            "voltage[0].CurrentVoltage": millivolts(volts[0].get("Nominal Value")),
            "voltage[0].min": millivolts(volts[0].get("Minimum Value")),
            "voltage[0].max": millivolts(volts[0].get("Maximum Value"))})
    temperatures = of(28)
    expected["temperature probes"] = {"GetInfo(INFO_TEMPERATURE)": "0", "quantity": str(len(temperatures))}
    if temperatures:
        degrees = number(temperatures[0].get("Nominal Value"), r"(-?[\d.]+) deg C")
        expected["temperature probes"]["temperature[0].CurrentTemperature"] = \
            "%d C" % int(float(degrees)) if degrees else None
    return expected


def compare_fields(report, expected):
    """Lines naming each field whose value differs from the expected one."""
    differences = []
    for section, fields in expected.items():
        for field, value in fields.items():
            if value is None:
                continue  # a value dmidecode does not give as a number ("Unknown") is not compared
            got = report.get(section, {}).get(field)
            if got != value:
                differences.append("[%s] %s: library %r, expected %r" % (section, field, got, value))
    return differences


# ---------------------------------------------------------------- PCI against lspci

def lspci_functions(pci):
    """lspci -F on the configuration spaces in directory PCI: {"B:D.F": (revision, irq)}."""
    lines = []
    for name in sorted(os.listdir(pci)):
        data = open(os.path.join(pci, name), "rb").read()
        lines.append(name + " captured")  # lspci's dump reader wants text after the address
        for offset in range(0, len(data), 16):
            lines.append("%02x: %s" % (offset, " ".join("%02x" % b for b in data[offset:offset + 16])))
        lines.append("")
    with tempfile.NamedTemporaryFile("w", suffix=".lspci") as dump:
        dump.write("\n".join(lines))
        dump.flush()
        out = subprocess.run(["lspci", "-F", dump.name, "-v", "-nn"], capture_output=True, text=True).stdout
    functions = {}
    for block in out.strip().split("\n\n"):
        head = re.match(r"([0-9a-f]{2}):([0-9a-f]{2})\.([0-7]) ", block)
        if not head:
            continue
        bus, dev, func = (int(head.group(i), 16) for i in (1, 2, 3))
        revision = re.search(r"\(rev ([0-9a-f]+)\)", block.splitlines()[0])
        revision = int(revision.group(1), 16) if revision else 0
        irq = re.search(r"\bIRQ (\d+)", block)
        irq = int(irq.group(1)) if irq else 0
        # On x86 an interrupt line of 255 means no connection, as none does.
        functions["%d:%d.%d" % (bus, dev, func)] = (revision, 0 if irq == 255 else irq)
    return functions


def library_functions(report):
    devices = report.get("PCI devices", {})
    functions = {}
    for i in range(int(devices.get("quantity", "0") or 0)):
        match = re.match(r"bus:(\d+), dev:(\d+), func:(\d+)", devices.get("dev[%d].desc" % i, ""))
        if match:
            functions["%s:%s.%s" % match.groups()] = (int(devices.get("dev[%d].revision" % i, -1)),
                                                      int(devices.get("dev[%d].IRQ" % i, -1)))
    return functions


# ---------------------------------------------------------------- disks against sfdisk

EXTENDED = {"5", "f", "85"}


# Partition kinds the library's type texts do not name, and so does not report: the EFI
# system partition of the GPT disk.
UNNAMED = {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b"}


def expand_compact(image, raw):
    """Writes a capture's compact disk image (sim/README.md) as the raw disk, sparse."""
    with open(image, "rb") as source, open(raw, "wb") as out:
        magic, version, sector, size, runs, _ = struct.unpack("<8sIIQII", source.read(32))
        if magic != b"QRVLDISK" or version != 1:
            raise ValueError("%s: no compact image" % image)
        out.truncate(size)
        for _ in range(runs):
            first, count, _ = struct.unpack("<QII", source.read(16))
            out.seek(first * sector)
            out.write(source.read(count * sector))


def sfdisk_partitions(image, named_only=False):
    """sfdisk --dump of an image: [(partition number, size in bytes)], extended ones left out
    (and, with named_only, the kinds the library does not report). A capture's compact image is
    read as the disk it describes."""
    with open(image, "rb") as f:
        compact = f.read(8) == b"QRVLDISK"
    if compact:
        with tempfile.TemporaryDirectory() as work:
            raw = os.path.join(work, os.path.basename(image))
            expand_compact(image, raw)
            return sfdisk_partitions(raw, named_only)
    out = subprocess.run(["sfdisk", "--dump", image], capture_output=True, text=True, check=True).stdout
    partitions = []
    for line in out.splitlines():
        match = re.match(r"\S+?(\d+) : start=\s*\d+, size=\s*(\d+), type=(\S+?)(,|$)", line)
        if match and match.group(3).lower() not in EXTENDED and not (named_only and match.group(3).lower() in UNNAMED):
            partitions.append((int(match.group(1)), int(match.group(2)) * 512))
    return partitions


def guest_disks(results):
    """{model: (kernel name, sectors)} of the guest's block devices."""
    disks = {}
    for line in (read_text(os.path.join(results, "block", "list")) or "").splitlines():
        words = line.split(None, 2)
        if len(words) == 3:
            disks[words[2].strip()] = (words[0], int(words[1]))
    return disks


def partition_name(disk, number):
    return "/dev/%s%s%d" % (disk, "p" if disk[-1].isdigit() else "", number)


IDE_POSITIONS = ("Primary Master", "Primary Slave", "Secondry Master", "Secondry Slave")


def kernel_disk_view(results):
    """{model without blanks: (kind, position)} as the kernel places each ATA disk: "ide" behind
    ata_piix (the position from the port's rank among the function's ports and the device
    number), "sata" behind ahci (the SCSI address)."""
    drivers, ports = {}, {}
    for line in (read_text(os.path.join(results, "block", "controllers")) or "").splitlines():
        words = line.split()
        if len(words) >= 2:
            drivers[words[0]] = words[1]
            ports[words[0]] = sorted((w for w in words[2:] if re.match(r"ata\d+$", w)), key=lambda w: int(w[3:]))
    view = {}
    for line in (read_text(os.path.join(results, "block", "paths")) or "").splitlines():
        words = line.split()
        if len(words) != 2:
            continue
        parts = words[1].split("/")
        at = next((i for i, part in enumerate(parts) if re.match(r"ata\d+$", part)), None)
        address = next((p for p in parts if re.match(r"\d+:\d+:\d+:\d+$", p)), None)
        if at is None or address is None:
            continue
        function = parts[at - 1]
        if drivers.get(function) == "ata_piix":
            position = 2 * ports[function].index(parts[at]) + int(address.split(":")[2])
            view[words[0]] = ("ide", IDE_POSITIONS[position] if position < 4 else address)
        elif drivers.get(function) == "ahci":
            view[words[0]] = ("sata", address)
    return view


def check_controllers(report, results):
    view = kernel_disk_view(results)
    storage = report.get("IDE drives", {})
    count = int(storage.get("quantityIDE", "0") or 0) + int(storage.get("quantitySCSI", "0") or 0)
    listed = {storage.get("driveArray[%d].model" % i, "").replace(" ", ""):
              (storage.get("driveArray[%d].ControllerType" % i), storage.get("driveArray[%d].ControllerNo" % i))
              for i in range(count)}
    problems = []
    for model in (machines.DISKS["ide"]["model"], machines.DISKS["ahci"]["model"], machines.OUTPUT_MODEL):
        key = model.replace(" ", "")
        if key not in view:
            problems.append("the kernel shows no ATA disk %s" % model)
        elif listed.get(key) != view[key]:
            problems.append("%s: library (kind, position) %s, kernel %s" % (model, listed.get(key), view[key]))
    ide = sum(1 for kind, _ in view.values() if kind == "ide")
    if storage.get("quantityIDE") != str(ide):
        problems.append("quantityIDE %s, the kernel has %d disks behind ata_piix" % (storage.get("quantityIDE"), ide))
    return problems


def smartctl_outputs(text):
    """{kernel name: smartctl's JSON} from the smart command's '## NAME' blocks."""
    found, name, lines = {}, None, []
    for line in (text or "").splitlines() + ["## "]:
        if line.startswith("## "):
            if name and lines:
                try:
                    found[name] = json.loads("\n".join(lines))
                except ValueError:
                    pass
            name, lines = line[3:].strip(), []
        else:
            lines.append(line)
    return found


def json_disk_health(text):
    """The entries of the JSON report's disk health section, by device name."""
    try:
        sections = json.loads(text or "")["sections"]
    except (ValueError, KeyError, TypeError):
        return {}
    for section in sections:
        if section.get("section") == "disk health":
            return {d.get("DeviceName"): d for d in section.get("record", {}).get("disk", [])}
    return {}


def compare_disk_health(entry, smart):
    """Lines naming each value of one disk's entry that is not what smartctl read."""
    problems = []

    def same(what, got, want):
        if got != want:
            problems.append("%s: library %r, smartctl %r" % (what, got, want))
    if entry.get("Status") != "read":
        return ["status %r" % entry.get("Status")]
    nvme = smart.get("nvme_smart_health_information_log")
    if nvme is not None:
        same("temperature", entry.get("Temperature"), nvme["temperature"])
        same("critical warning", int(entry.get("criticalWarning", "-1").split()[0], 16), nvme["critical_warning"])
        for field, key in (("availableSpare", "available_spare"), ("spareThreshold", "available_spare_threshold"),
                           ("percentageUsed", "percentage_used"),
                           ("warningTemperatureMinutes", "warning_temp_time"),
                           ("criticalTemperatureMinutes", "critical_comp_time")):
            same(field, entry.get(field), nvme[key])
        for field, key in (("dataUnitsRead", "data_units_read"), ("dataUnitsWritten", "data_units_written"),
                           ("PowerOnHours", "power_on_hours"), ("powerCycles", "power_cycles"),
                           ("unsafeShutdowns", "unsafe_shutdowns"), ("mediaErrors", "media_errors"),
                           ("errorLogEntries", "num_err_log_entries")):
            same(field, int(entry.get(field, "-1")), nvme[key])
        same("overall", entry.get("Overall"), "passed" if smart["smart_status"]["passed"] else "FAILING")
        return problems
    same("overall", entry.get("Overall"), "passed" if smart["smart_status"]["passed"] else "FAILING")
    same("temperature", entry.get("Temperature"), smart.get("temperature", {}).get("current"))
    same("power-on hours", int(entry.get("PowerOnHours", "-1")), smart.get("power_on_time", {}).get("hours"))
    table = smart.get("ata_smart_attributes", {}).get("table", [])
    got = [(a["id"], a["current"], a["worst"], a["threshold"], int(a["flags"], 16), int(a["raw"]))
           for a in entry.get("attribute", [])]
    want = [(a["id"], a["value"], a["worst"], a["thresh"], a["flags"]["value"], a["raw"]["value"]) for a in table]
    same("attributes (id, current, worst, threshold, flags, raw)", got, want)
    return problems


def check_health(out, disks):
    """The JSON report's disk health against smartctl -j -H -A run right after it, for the
    PIIX, AHCI and NVMe disks."""
    health = json_disk_health(read_text(os.path.join(out, "json.txt")))
    smart = smartctl_outputs(read_text(os.path.join(out, "smart.txt")))
    problems = []
    for key, disk in machines.DISKS.items():
        name = disks.get(disk["model"], (None,))[0]
        if not name:
            problems.append("the guest has no disk %s" % disk["model"])
        elif "/dev/" + name not in health:
            problems.append("%s (%s): no disk health entry" % (name, key))
        elif name not in smart:
            problems.append("%s (%s): no smartctl JSON" % (name, key))
        else:
            problems += ["%s (%s): %s" % (name, key, p) for p in compare_disk_health(health["/dev/" + name], smart[name])]
    return problems


# ---------------------------------------------------------------- IPMI against what the BMC holds

def sdr_records(path):
    """Full (01h) and compact (02h) sensor records of an SDR dump (IPMI 2.0 43.1, 43.2)."""
    records = []
    for body in openipmi.sdr_blobs(path):
        kind = body[3]
        if kind not in (1, 2):
            continue
        name_at = 47 if kind == 1 else 31
        name_length = body[name_at] & 0x1F if len(body) > name_at else 0
        record = dict(kind=kind, number=body[7], entity=body[8], sensor_type=body[12],
                      event_type=body[13], name=body[name_at + 1:name_at + 1 + name_length].decode("latin-1"))
        if kind == 1:
            record.update(readable=body[18] & 0x3F, units=body[20], linearization=body[23] & 0x7F,
                          m=_signed((body[24] | ((body[25] & 0xC0) << 2)), 10),
                          b=_signed((body[26] | ((body[27] & 0xC0) << 2)), 10),
                          r_exp=_signed(body[29] >> 4, 4), b_exp=_signed(body[29] & 0x0F, 4),
                          thresholds=dict(zip(("unr", "uc", "unc", "lnr", "lc", "lnc"), body[36:42])))
        records.append(record)
    return records


def _signed(value, bits):
    return value - (1 << bits) if value & (1 << (bits - 1)) else value


def convert(record, raw):
    # IPMI 2.0 36.3: y = (M x + B 10^Bexp) 10^Rexp; analog format (units byte bits 7-6).
    analog = record["units"] >> 6
    if analog == 1:
        # One's complement: a negative value read as two's complement is one too low.
        raw = raw - 255 if raw & 0x80 else raw
    elif analog == 2:
        raw = _signed(raw, 8)
    return (record["m"] * raw + record["b"] * 10 ** record["b_exp"]) * 10 ** record["r_exp"]


SENSOR_SECTIONS = (("IPMI fans", "fan", 4), ("IPMI voltages", "voltage", 2), ("IPMI temperatures", "temperature", 1))
THRESHOLD_FIELDS = (("unr", "UpperNonRecoverThresholdValue", 5), ("uc", "UpperCriticalThresholdValue", 4),
                    ("unc", "UpperNonCriticalThresholdValue", 3), ("lnr", "LowerNonRecoverThreshold", 2),
                    ("lc", "LowerCriticalThreshold", 1), ("lnc", "LowerNonCriticalThreshold", 0))


def reported_sensors(report, section, prefix):
    fields = report.get(section, {})
    count = int(fields.get("quantity", "0") or 0)
    return [{k[len("%s[%d]." % (prefix, i)):]: v for k, v in fields.items() if k.startswith("%s[%d]." % (prefix, i))}
            for i in range(count)]


def check_sensors(report, records):
    problems = []
    for section, prefix, sensor_type in SENSOR_SECTIONS:
        # Threshold sensors (event/reading type 01h) are the ones with readings in units.
        want = sorted((r["number"], r["entity"], r["name"]) for r in records
                      if r["sensor_type"] == sensor_type and r["event_type"] == 1)
        got = sorted((int(s.get("sensorNumber", -1)), int(s.get("DeviceID", -1)), s.get("IdString"))
                     for s in reported_sensors(report, section, prefix)
                     if s.get("SensorType") == str(sensor_type))
        if report.get(section, {}).get("GetIpmiInfo(INFO_%s)" % prefix.upper()) != "0":
            problems.append("[%s] GetIpmiInfo gave %r" % (section, report.get(section, {}).get(
                "GetIpmiInfo(INFO_%s)" % prefix.upper())))
        if want != got:
            problems.append("[%s] sensors (number, entity, name):\n  library  %s\n  BMC SDR  %s" % (section, got, want))
    return problems


def check_thresholds(report, records):
    problems = []
    by_number = {r["number"]: r for r in records if r["kind"] == 1 and r["event_type"] == 1}
    compared = 0
    for section, prefix, _ in SENSOR_SECTIONS:
        for sensor in reported_sensors(report, section, prefix):
            record = by_number.get(int(sensor.get("sensorNumber", -1)))
            if not record or record["linearization"] != 0:
                continue
            compared += 1
            for key, field, bit in THRESHOLD_FIELDS:
                readable = record["readable"] & (1 << bit)
                want = "%.2f" % convert(record, record["thresholds"][key]) if readable else "0.00"
                got = sensor.get("sti." + field)
                if got != want:
                    problems.append("[%s] %s %s: library %r, loaded %r" % (section, record["name"], field, got, want))
    if compared < len([r for r in by_number.values() if r["linearization"] == 0]):
        problems.append("thresholds of %d of the %d linear threshold sensors reported"
                        % (compared, len([r for r in by_number.values() if r["linearization"] == 0])))
    return problems


def with_thresholds(records, served):
    """RECORDS with each full record's thresholds replaced by those a BMC serves, SERVED
    {number: (readable mask, [LNC, LC, LNR, UNC, UC, UNR])}; none readable where it serves none."""
    names = ("lnc", "lc", "lnr", "unc", "uc", "unr")
    result = []
    for record in records:
        if record["kind"] == 1:
            mask, values = served.get(record["number"], (0, [0] * 6))
            record = dict(record, readable=mask, thresholds=dict(zip(names, values)))
        result.append(record)
    return result


def fru_texts(data):
    """The type/length strings of the FRU's chassis, board and product areas (IPMI FRU 1.0)."""
    texts = []
    if len(data) < 8:
        return texts
    for offset_byte, skip in ((2, 3), (3, 6), (4, 3)):
        start = data[offset_byte] * 8
        if not start or start + 2 > len(data):
            continue
        at = start + skip
        while at < len(data) and data[at] != 0xC1:
            length = data[at] & 0x3F
            if data[at] >> 6 == 3:
                texts.append(data[at + 1:at + 1 + length].decode("latin-1"))
            at += 1 + length
    return texts


# ---------------------------------------------------------------- the checks

def check(name, function):
    try:
        problems = function()
    except Exception as error:  # a crash in a check is its failure, with the reason
        problems = ["check raised %s: %s" % (type(error).__name__, error)]
    if isinstance(problems, str):
        problems = [problems]
    return (name, not problems, "\n".join(problems))


def machine_checks(name, results):
    checks = []
    entry = open(os.path.join(results, "firmware", "smbios_entry_point"), "rb").read() \
        if os.path.exists(os.path.join(results, "firmware", "smbios_entry_point")) else b""

    def entry_point():
        want = b"_SM3_" if machines.MACHINES[name].entry_point == 64 else b"_SM_"
        return [] if entry.startswith(want) else "entry point %r, expected %r" % (entry[:5], want)
    checks.append(check(name + "/machine.entry-point", entry_point))

    def placement():
        if entry.startswith(b"_SM3_"):
            address = struct.unpack_from("<Q", entry, 0x10)[0]
        elif entry.startswith(b"_SM_"):
            address = struct.unpack_from("<I", entry, 0x18)[0]
        else:
            return "no entry point"
        ram_end = 0
        for line in read_text(os.path.join(results, "iomem")).splitlines():
            match = re.match(r"([0-9a-f]+)-([0-9a-f]+) : System RAM$", line.strip())
            if match:
                ram_end = max(ram_end, int(match.group(2), 16) + 1)
        high = name == "smbios3"
        if high and address < ram_end:
            return "table at 0x%x, below the end of RAM 0x%x: it must lie above it" % (address, ram_end)
        if not high and not 0xF0000 <= address < 0x100000:
            return "table at 0x%x, outside the F segment" % address
        return []
    checks.append(check(name + "/machine.table-placement", placement))

    def lockdown():
        state = (read_text(os.path.join(results, "lockdown")) or "").strip()
        locked = "[integrity]" in state
        if locked != (name == "lockdown"):
            return "lockdown state %r" % state
        return []
    checks.append(check(name + "/machine.lockdown", lockdown))

    checks.append(check(name + "/machine.sel-events", lambda: check_events(
        read_text(os.path.join(results, "events.txt")) or "", machines.MACHINES[name].bmc)))

    def drivers():
        return [line for line in (read_text(os.path.join(results, "insmod.txt")) or "").splitlines() if "failed" in line]
    checks.append(check(name + "/machine.modules", drivers))
    return checks


def arch_checks(name, arch, results, tree, bmc):
    prefix = "%s/%s/" % (name, arch)
    out = os.path.join(results, arch)
    report_text = read_text(os.path.join(out, "report.txt")) or ""
    report = parse_report(report_text)
    checks = []

    def report_runs():
        rc = (read_text(os.path.join(out, "report.rc")) or "").strip()
        problems = [] if rc == "0" and report_text.startswith("# qarvel report") else \
            ["qarvel exited %s; stderr: %s" % (rc, read_text(os.path.join(out, "report.err")))]
        return problems
    checks.append(check(prefix + "report.runs", report_runs))

    def smbios_fields():
        with tempfile.TemporaryDirectory() as scratch:
            dump = os.path.join(scratch, "smbios.bin")
            smbios_dump(results, dump)
            structures = dmidecode(dump)
        if not structures:
            return "dmidecode decoded nothing from the captured table"
        return compare_fields(report, expected_smbios(structures))
    checks.append(check(prefix + "smbios.fields", smbios_fields))

    def pci():
        want, got = lspci_functions(os.path.join(results, "pci")), library_functions(report)
        if not want:
            return "lspci found no function in the capture"
        problems = ["%s: library %s, lspci %s (revision, IRQ)" % (f, got.get(f), want.get(f))
                    for f in sorted(set(want) | set(got)) if want.get(f) != got.get(f)]
        return problems
    checks.append(check(prefix + "pci.functions", pci))

    disks = guest_disks(results)

    def drives():
        storage = report.get("IDE drives", {})
        count = int(storage.get("quantityIDE", "0") or 0) + int(storage.get("quantitySCSI", "0") or 0)
        listed = {storage.get("driveArray[%d].model" % i, "").strip():
                  (storage.get("driveArray[%d].SerialNo" % i, "").strip(), storage.get("driveArray[%d].size" % i))
                  for i in range(count)}
        problems = []
        for disk in machines.DISKS.values():
            sectors = disks.get(disk["model"], (None, 0))[1]
            want = (disk["serial"], str(sectors * 512))
            if listed.get(disk["model"]) != want:
                problems.append("%s: library %s, guest (serial, bytes) %s" % (disk["model"], listed.get(disk["model"]), want))
        return problems
    checks.append(check(prefix + "disks.drives", drives))

    def controllers():
        return check_controllers(report, results)
    checks.append(check(prefix + "disks.controllers", controllers))

    def health():
        return check_health(out, disks)
    checks.append(check(prefix + "disks.health", health))

    def partitions():
        section = report.get("partitions", {})
        got = {section.get("partition[%d].description" % i): section.get("partition[%d].size" % i)
               for i in range(int(section.get("quantity", "0") or 0))}
        problems = []
        for key, disk in machines.DISKS.items():
            kernel_name = disks.get(disk["model"], (None,))[0]
            if not kernel_name:
                problems.append("the guest has no disk %s" % disk["model"])
                continue
            # The image the guest's disk is backed by holds exactly the sectors the guest reads.
            table = sfdisk_partitions(os.path.join(os.path.dirname(results), "..", "assets", key + ".img"),
                                      named_only=True)
            if not table:
                problems.append("sfdisk found no partition on the %s image" % key)
            for number, size in table:
                device = partition_name(kernel_name, number)
                if got.get(device) != str(size):
                    problems.append("%s: library size %s, sfdisk %d" % (device, got.get(device), size))
        return problems
    checks.append(check(prefix + "disks.partitions", partitions))

    def captured_sectors():
        # The capture's copy of each disk must hold the sectors of every partition table.
        problems = []
        for key, disk in machines.DISKS.items():
            kernel_name = disks.get(disk["model"], (None,))[0]
            captured = os.path.join(out, "capture", "dev", "%s.img" % kernel_name)
            if not kernel_name or not os.path.exists(captured):
                problems.append("no capture of %s's sectors (capture/dev/%s.img)" % (disk["model"], kernel_name))
                continue
            image = os.path.join(os.path.dirname(results), "..", "assets", key + ".img")
            if sfdisk_partitions(captured) != sfdisk_partitions(image):
                problems.append("%s: sfdisk on the capture %s, on the disk %s"
                                % (kernel_name, sfdisk_partitions(captured), sfdisk_partitions(image)))
        return problems
    checks.append(check(prefix + "disks.captured-sectors", captured_sectors))

    records = sdr_records(bmc["sdr"])

    def ipmi_version():
        section = report.get("IPMI", {})
        want = {"IsIpmiSupport()": "1", "GetBMCVersion()": "0", "majorFirmwareRevision": str(BMC_FIRMWARE[0]),
                # The minor revision is two BCD digits: 0x27 is revision 27.
                "minorFirmwareRevision": "%x" % BMC_FIRMWARE[1]}
        return compare_fields(report, {"IPMI": want}) if section else "the report has no IPMI section"
    checks.append(check(prefix + "ipmi.version", ipmi_version))
    checks.append(check(prefix + "ipmi.sensors", lambda: check_sensors(report, records)))
    # QEMU's BMC can only be given the repository, whose records hold the thresholds; ipmi_sim
    # is given the thresholds it serves, and those are what the library must read.
    served = records if machines.MACHINES[name].bmc == "qemu" else with_thresholds(records, openipmi.served(bmc["conf"]))
    checks.append(check(prefix + "ipmi.thresholds", lambda: check_thresholds(report, served)))

    def fru():
        loaded = open(bmc["fru"], "rb").read()
        captured = os.path.join(out, "capture", "ipmi", "fru0.bin")
        if not os.path.exists(captured):
            return "no FRU inventory read through the library (capture/ipmi/fru0.bin)"
        got, want = fru_texts(open(captured, "rb").read()), fru_texts(loaded)
        return [] if got == want and want else "FRU texts: library %s, loaded %s" % (got, want)
    checks.append(check(prefix + "ipmi.fru", fru))

    def watchdog():
        steps = runs(read_text(os.path.join(out, "watchdog.txt")))
        if len(steps) != 3 or any(rc for _, rc, _ in steps):
            return "qarvel runs (exit status): %s\n%s" % ([rc for _, rc, _ in steps], read_text(os.path.join(out, "watchdog.txt")))
        shows = [show for text, _, _ in steps for show in watchdog_shows(text)]
        if len(shows) != 4 or any(s[0] != "0" for s in shows):
            return "watchdog show results: %s" % shows
        problems = []
        # Armed with action 1 (hard reset) and 60 s; stopped with no action and 180 s.
        settings = [(s[1], s[2]) for s in shows]
        if settings != [("1", "60000")] * 2 + [("0", "180000")] * 2:
            problems.append("action/initial countdown: %s" % settings)
        # A BMC that answers without the present countdown (ipmi_sim) has it shown as not
        # given every time; only the settings above can be checked there.
        if all(s[3] == NOT_GIVEN for s in shows):
            return problems
        if any(s[3] == NOT_GIVEN for s in shows):
            return problems + ["present countdown given only at times: %s" % [s[3] for s in shows]]
        present = [int(s[3]) for s in shows]
        if not present[0] > present[1]:
            problems.append("countdown not running: %d ms, then %d ms two seconds later" % (present[0], present[1]))
        if present[2] != present[3]:
            problems.append("countdown still running after stop: %d ms, then %d ms" % (present[2], present[3]))
        return problems
    checks.append(check(prefix + "ipmi.watchdog", watchdog))

    def wdstop():
        text = read_text(os.path.join(out, "wdstop.txt"))
        steps = runs(text)
        statuses = [(label or "qarvel", rc) for _, rc, label in steps]
        if statuses != [("qarvel", 0), ("wdstop", 0), ("qarvel", 0), ("qarvel", 0)]:
            return "exit statuses %s, expected qarvel, wdstop and two qarvel runs all 0\n%s" % (statuses, text)
        shows = [show for text, _, _ in steps for show in watchdog_shows(text)]
        # Without the present countdown, the stop is seen in what wdstop loaded: no action, 180 s.
        if len(shows) == 2 and all(s[3] == NOT_GIVEN for s in shows):
            stopped = [(s[0], s[1], s[2]) for s in shows]
            return [] if stopped == [("0", "0", "180000")] * 2 else "after wdstop: %s" % stopped
        if len(shows) != 2 or shows[0][3] != shows[1][3] or shows[0][3] == "60000":
            return "after wdstop the countdown was %s, then %s two seconds later" % (shows[0][3] if shows else None,
                                                                                   shows[1][3] if len(shows) > 1 else None)
        return []
    checks.append(check(prefix + "ipmi.wdstop", wdstop))

    def json_report():
        rc = (read_text(os.path.join(out, "json.rc")) or "").strip()
        if rc != "0":
            return "qarvel --json exited %s: %s" % (rc, (read_text(os.path.join(out, "json.err")) or "").strip()[:300])
        json.loads(read_text(os.path.join(out, "json.txt")))
        return []
    checks.append(check(prefix + "report.json", json_report))

    def capture_replay():
        rc = (read_text(os.path.join(out, "capture.rc")) or "").strip()
        capture = os.path.join(out, "capture")
        if rc != "0" or not os.path.isdir(capture):
            return "qarvel capture exited %s: %s" % (rc, (read_text(os.path.join(out, "capture.err")) or "").strip()[:300])
        replay = subprocess.run([os.path.join(tree, "qarvel"), "--library", os.path.join(tree, "Qarvel-sim.so"),
                                 "--machine", capture], capture_output=True, text=True)
        guest, host = without_usage(report_text), without_usage(replay.stdout)
        if guest == host:
            return []
        return ["Qarvel.so in the guest (-) and Qarvel-sim.so on its capture (+) differ:"] + \
            list(difflib.unified_diff(guest, host, "guest", "replay", lineterm="", n=1))
    checks.append(check(prefix + "capture.replay", capture_replay))
    checks.append(check(prefix + "hwmon.sensors",
                        lambda: check_hwmon(report, read_text(os.path.join(results, "hwmon.txt")))))
    checks.append(check(prefix + "ipmi.sel", lambda: check_sel(read_text(os.path.join(out, "sel.txt")),
                                                              sel_entries_before(results, arch))))
    checks.append(check(prefix + "hwmon.next-poll",
                        lambda: check_next_poll(read_text(os.path.join(out, "hwmon-poll.txt")),
                                                (read_text(os.path.join(out, "hwmon-poll.rc")) or "").strip())))
    return checks


# The hwmon kinds: the report's Kind, and what a raw number is divided by (sysfs-interface.rst).
HWMON_KINDS = {"temp": (1, 1000), "in": (2, 1000), "fan": (3, 1), "curr": (4, 1000), "power": (5, 1000000),
               "energy": (6, 1000000), "humidity": (7, 1000)}
HWMON_LIMITS = {"input": "Value", "min": "Min", "max": "Max", "lcrit": "LowCrit", "crit": "Crit",
                "emergency": "Emergency"}


def check_hwmon(report, raw):
    """Every hwmon input the guest's kernel has, as the guest read it (hwmon.txt: "hwmonN
    DEVICE ATTRIBUTE VALUE" lines), against the report's [hwmon] section: each exactly once,
    under its chip's device and name, with its value and limits."""
    if raw is None:
        return "the guest wrote no hwmon.txt"
    chips, inputs = {}, {}
    for line in raw.splitlines():
        words = line.split(" ", 3)
        if len(words) < 4:
            continue
        chip, device, attribute, value = words
        if attribute == "name":
            chips[chip] = (device, value)
            continue
        match = re.match(r"([a-z]+)(\d+)_(\w+)$", attribute)
        if match and match.group(1) in HWMON_KINDS:
            inputs.setdefault((chip, match.group(1) + match.group(2)), {})[match.group(3)] = value
    want = {}
    for (chip, name), attributes in inputs.items():
        if "input" not in attributes or chip not in chips:
            continue
        device, chip_name = chips[chip]
        kind, scale = HWMON_KINDS[re.match(r"[a-z]+", name).group(0)]
        fields = {"Chip": chip_name, "Label": attributes.get("label", name), "Kind": str(kind)}
        for item, field in HWMON_LIMITS.items():
            if item in attributes:
                fields[field] = "%.2f" % (int(attributes[item]) / scale)
        want[(device, name)] = fields
    section = report.get("hwmon", {})
    got = {}
    for index in range(int(section.get("quantity", "0"))):
        prefix = "sensor[%d]." % index
        key = (section.get(prefix + "Device"), section.get(prefix + "Input"))
        if key in got:
            return "sensor %s %s reported twice" % key
        got[key] = {k[len(prefix):]: v for k, v in section.items() if k.startswith(prefix)}
    if not want:
        return "the guest's kernel showed no hwmon input"
    problems = []
    for key, fields in sorted(want.items()):
        if key not in got:
            problems.append("%s %s: not reported" % key)
            continue
        for field, value in fields.items():
            if got[key].get(field) != value:
                problems.append("%s %s: %s=%s, the guest read %s" % (key + (field, got[key].get(field), value)))
    problems += ["%s %s: reported, but the guest has no such input" % key for key in sorted(set(got) - set(want))]
    return problems


def check_next_poll(text, rc):
    """The hwmon-poll command's two polls of one process (two [hwmon] sections) around the
    guest's write of the NVMe chip's temp1_max: the old limit in the first, the new one in the
    second, as the guest read it back."""
    if text is None:
        return "the guest wrote no hwmon-poll.txt"
    match = re.search(r"^## limit old (-?\d+) new (-?\d+) read back (-?\d+)$", text, re.M)
    if not match:
        return "the guest found no NVMe hwmon chip, or did not write its limit: %r" % text[-300:]
    old, new, back = (int(match.group(i)) for i in (1, 2, 3))
    if back != new:
        return "the kernel kept %d after %d was written" % (back, new)
    if rc != "0":
        return "qarvel hwmon exited %s" % rc
    polls = [parse_report("[hwmon]\n" + part)["hwmon"] for part in text.split("[hwmon]\n")[1:]]
    if len(polls) != 2:
        return "%d polls printed, not 2" % len(polls)
    seen = []
    for poll in polls:
        found = [poll.get(key[:-len("Input")] + "Max") for key, value in poll.items()
                 if key.endswith(".Input") and value == "temp1"
                 and poll.get(key[:-len("Input")] + "Chip") == "nvme"]
        if len(found) != 1:
            return "a poll shows %d NVMe temp1 inputs" % len(found)
        seen.append(found[0])
    want = ["%.2f" % (old / 1000.0), "%.2f" % (new / 1000.0)]
    return [] if seen == want else "polls showed the limit %s, the guest had %s" % (seen, want)


def guest_events(text):
    """What the guest's BMC did with each event it was given (tests/system/events):
    [(how, accepted, what the BMC answered)], how being "add" (Add SEL Entry) or "event"
    (Platform Event Message)."""
    events = []
    for output, rc, label in runs(text):
        if label in ("add", "event"):
            answer = [line for line in output.splitlines() if line and not line.startswith(("## ", "IANA"))]
            events.append((label, rc == 0, " ".join(answer)))
    return events


def check_events(text, bmc):
    """Every record the guest added is taken; QEMU's BMC logs the Platform Event Messages as
    well, and ipmi_sim, which lacks the command, may only refuse them as such (C1h)."""
    events = guest_events(text)
    if not events:
        return "the guest gave its BMC no event (events.txt)"
    problems = []
    for how, accepted, answer in events:
        if accepted:
            continue
        if how == "event" and bmc == "ipmi_sim" and "rsp=0xc1" in answer:
            continue
        problems.append("%s refused: %s" % (how, answer))
    return problems


def peer_columns(text, label):
    """The '|'-separated columns of each line a peer printed in the sel command's run LABEL."""
    for output, _, run_label in runs(text):
        if run_label == label:
            return [[column.strip() for column in line.split("|")] for line in output.splitlines() if "|" in line]
    return None


def library_polls(text):
    """The [SEL] sections the sel command's qarvel printed, in order: [(fields, {RecordId:
    {FIELD: value}})], one a poll."""
    block = next((output for output, _, label in runs(text) if label == "qarvel"), "")
    polls = []
    for part in block.split("\n[SEL]\n")[1:]:
        section = parse_report("[SEL]\n" + part).get("SEL", {})
        entries = {}
        for index in range(int(section.get("Shown", "0") or 0)):
            prefix = "sel[%d]." % index
            fields = {k[len(prefix):]: v for k, v in section.items() if k.startswith(prefix)}
            entries[int(fields.get("RecordId", "-1"))] = fields
        polls.append((section, entries))
    return polls


def ipmitool_time(fields):
    """The library's time of an entry as ipmitool's date and time columns: (date, time)."""
    text = fields.get("Time", "")
    match = re.match(r"(\d+) s after the BMC started$", text)
    if match:
        return ("Pre-Init", "%010d" % int(match.group(1)))
    match = re.match(r"(\d{4})-(\d\d)-(\d\d) (\d\d:\d\d:\d\d) UTC$", text)
    if match:
        return ("%s/%s/%s" % (match.group(2), match.group(3), match.group(1)[2:]), match.group(4) + " UTC")
    return None


def compare_sel_entry(fields, columns, freeipmi):
    """What differs between the library's entry and ipmitool's line (and, for texts of the
    generic and sensor-specific tables, FreeIPMI's event column)."""
    problems = []

    def differ(what, got, want):
        if got != want:
            problems.append("%s: library %r, %s" % (what, got, want if isinstance(want, str) else repr(want)))
    record_type = int(fields.get("RecordType", "0"))
    if record_type >= 0xE0:  # no timestamp: "OEM record e0 | 13 bytes"
        raw = fields.get("Raw", "").split()
        differ("line", columns[1:], ["OEM record %02x" % record_type, "".join(raw[3:]).lower()])
        return problems
    when = ipmitool_time(fields)
    differ("time", when, tuple(columns[1:3]) if len(columns) > 2 else None)
    if record_type >= 0xC0:  # "OEM record c0 | manufacturer | 6 bytes"
        raw = fields.get("Raw", "").split()
        differ("line", columns[3:], ["OEM record %02x" % record_type, "%06x" % int(fields.get("ManufacturerId", "-1")),
                                     "".join(raw[10:]).lower()])
        return problems
    if len(columns) < 6:
        return ["ipmitool's line has %d columns: %s" % (len(columns), columns)]
    name = fields.get("SensorName") or "#0x%02x" % int(fields.get("SensorNumber", "0"))
    differ("sensor", fields.get("SensorType", "") + " " + name, columns[3])
    differ("direction", fields.get("Direction"), columns[5])
    text = fields.get("EventText")
    if fields.get("EventType") == "1":
        differ("event text", text, columns[4])
    else:
        # ipmitool words some states of these tables its own way ("Failure detected" for the
        # table's "Power Supply Failure detected"); FreeIPMI prints the table's words.
        differ("event text", text, freeipmi[-1] if freeipmi else "no ipmi-sel line")
    trigger = re.match(r"Reading ([-\d.]+) [<>] Threshold ([-\d.]+)", columns[6]) if len(columns) > 6 else None
    got = (fields.get("TriggerReading"), fields.get("TriggerThreshold"))
    if trigger:
        want = (float(trigger.group(1)), float(trigger.group(2)))
        if None in got or any(abs(float(g) - w) > 0.006 for g, w in zip(got, want)):
            problems.append("trigger: library %s, ipmitool %s" % (got, columns[6]))
    elif got != (None, None):
        problems.append("trigger: library %s, ipmitool none" % (got,))
    return problems


def check_sel(text, taken):
    """The sel command's run (sel.txt), on a log that held TAKEN entries: the library's three
    polls of one process (the whole log; the one record the guest added meanwhile, alone; then
    nothing, in one request), and every entry they read against `ipmitool sel elist` and
    FreeIPMI's ipmi-sel right after."""
    if text is None:
        return "the guest wrote no sel.txt"
    statuses = [(label, rc) for _, rc, label in runs(text)]
    if statuses != [("add", 0), ("qarvel", 0), ("ipmitool", 0), ("freeipmi", 0)]:
        return "exit statuses %s, expected add, qarvel, ipmitool and freeipmi all 0\n%s" % (statuses, text[-1500:])
    polls = library_polls(text)
    if len(polls) != 3 or any(section.get("GetSelEntries") != "0" for section, _ in polls):
        return "polls (GetSelEntries): %s" % [section.get("GetSelEntries") for section, _ in polls]
    (whole, entries), (since, added), (last, none) = polls
    problems = []
    if len(entries) != taken or whole.get("Entries") != str(taken):
        problems.append("the first poll read %d entries (the log said %s); the guest's BMC took %d events"
                        % (len(entries), whole.get("Entries"), taken))
    if int(whole.get("Requests", "0")) > taken + 3:
        problems.append("the first poll sent %s requests for %d entries" % (whole.get("Requests"), taken))
    if len(added) != 1 or set(added) & set(entries) or since.get("Cleared") != "0" or int(since.get("Requests", "0")) > 4:
        problems.append("the poll after one addition: entries %s, cleared %s, %s requests"
                        % (sorted(added), since.get("Cleared"), since.get("Requests")))
    if none or last.get("Requests") != "1":
        problems.append("the poll with nothing new: entries %s, %s requests" % (sorted(none), last.get("Requests")))
    entries.update(added)
    listed = {int(c[0], 16): c for c in peer_columns(text, "ipmitool") or [] if re.match(r"[0-9a-f]+$", c[0])}
    free = {int(c[0]): c for c in peer_columns(text, "freeipmi") or [] if c[0].isdigit()}
    if set(listed) != set(entries) or set(free) != set(entries):
        problems.append("record IDs: library %s, ipmitool %s, ipmi-sel %s" % (sorted(entries), sorted(listed), sorted(free)))
    for record_id in sorted(set(entries) & set(listed)):
        problems += ["entry %d %s" % (record_id, p) for p in compare_sel_entry(entries[record_id], listed[record_id],
                                                                               free.get(record_id))]
    return problems


def sel_entries_before(results, arch):
    """How many entries the guest's BMC took before ARCH's sel command added its own: the
    guest's events (events.txt), and the records the builds run before it added."""
    taken = sum(accepted for _, accepted, _ in guest_events(read_text(os.path.join(results, "events.txt")) or ""))
    for earlier in ARCHES[:ARCHES.index(arch)]:
        taken += sum(rc == 0 for _, rc, label in runs(read_text(os.path.join(results, earlier, "sel.txt"))) if label == "add")
    return taken


def without_usage(text):
    """A report without its [usage] section, whose figures change from one run to the next."""
    lines, skipping = [], False
    for line in text.splitlines():
        if line.startswith("["):
            skipping = line == "[usage]"
        if not skipping:
            lines.append(line)
    return lines


def run_all(name, results, trees, bmc):
    found = machine_checks(name, results)
    for arch in ARCHES:
        found += arch_checks(name, arch, results, trees[arch], bmc)
    return found


SEL_DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data", "sel")


def sel_self_test():
    """The event log check on runs kept from the guests (tests/data/sel): each passes as it
    was read, and fails once one field of the library's reading is changed."""
    results = []
    for bmc in ("qemu", "ipmi_sim"):
        events = read_text(os.path.join(SEL_DATA, bmc, "events.txt"))
        text = read_text(os.path.join(SEL_DATA, bmc, "sel.txt"))
        taken = sum(accepted for _, accepted, _ in guest_events(events))
        name = "self-test/ipmi.sel (%s)" % bmc
        results.append(check(name, lambda: check_sel(text, taken)))
        results.append(check("self-test/machine.sel-events (%s)" % bmc, lambda: check_events(events, bmc)))
        # An event text, a trigger reading, a time, an OEM record's bytes, a sensor's name, a
        # direction, one entry fewer, and a poll with nothing new that cost two requests.
        changes = ((r"(sel\[1\]\.EventText=.*)", r"\1 X"), (r"(sel\[0\]\.TriggerReading=)13\.80", r"\g<1>13.70"),
                   (r"(sel\[3\]\.Time=.*)\d", r"\g<1>9"), (r"(sel\[5\]\.Raw=.*) 0D", r"\1 0E"),
                   (r"(sel\[2\]\.SensorName=)FAN1", r"\1FAN2"), (r"(sel\[2\]\.Direction=)Deasserted", r"\1Asserted"),
                   (r"Shown=(\d+)", lambda m: "Shown=%d" % (int(m.group(1)) - 1)),
                   (r"Requests=1\nShown=0\n## qarvel", "Requests=2\nShown=0\n## qarvel"))
        for number, (pattern, replacement) in enumerate(changes, 1):
            changed = "%s (change %d)" % (name, number)
            altered = re.sub(pattern, replacement, text, count=1)
            if altered == text:
                results.append((changed, False, "%s changes nothing" % pattern))
                continue
            passed = not check_sel(altered, taken)
            results.append((changed, not passed, "still passes with %s changed" % pattern if passed else ""))
    return results


def self_test(build):
    """The checks run on the simulated library serving the sample server, whose bytes the same
    tools read: each must pass there, and must fail once a field of the report is changed."""
    machine = os.path.join(build, "machines", "sample-server")
    text = subprocess.run([os.path.join(build, "qarvel")], capture_output=True, text=True, check=True).stdout
    structures = dmidecode(os.path.join(machine, "smbios.bin"))
    records = sdr_records(os.path.join(machine, "ipmi", "sdr.bin"))
    functions = lspci_functions(os.path.join(machine, "pci"))
    served = with_thresholds(records, openipmi.served(os.path.join(machine, "ipmi", "bmc.conf")))

    def all_checks(report):
        pci = library_functions(report)
        return [
            check("self-test/smbios.fields", lambda: compare_fields(report, expected_smbios(structures))),
            check("self-test/pci.functions", lambda: [] if pci == functions and functions
                  else "library %s, lspci %s" % (pci, functions)),
            check("self-test/ipmi.sensors", lambda: check_sensors(report, records)),
            check("self-test/ipmi.thresholds", lambda: check_thresholds(report, records)),
            # As on the machine with ipmi_sim: against the thresholds bmc.conf gives the BMC.
            check("self-test/ipmi.served-thresholds", lambda: check_thresholds(report, served)),
        ]
    report = parse_report(text)
    results = all_checks(report) + sel_self_test()
    # One changed field a check: the board's product, a function's revision, a sensor's
    # entity, a threshold, another threshold.
    changes = (("base board", "ProductName", "X"), ("PCI devices", "dev[3].revision", "9"),
               ("IPMI fans", "fan[1].DeviceID", "9"),
               ("IPMI voltages", "voltage[0].sti.UpperCriticalThresholdValue", "9.00"),
               ("IPMI fans", "fan[0].sti.LowerCriticalThreshold", "9.00"))
    for (name, _, _), (section, field, value) in zip(all_checks(report), changes):
        altered = {title: dict(fields) for title, fields in report.items()}
        if field not in altered.get(section, {}):
            results.append((name + " (changed)", False, "the report has no [%s] %s" % (section, field)))
            continue
        altered[section][field] = value
        failed = [r for r in all_checks(altered) if r[0] == name and not r[1]]
        results.append((name + " (changed)", bool(failed), "" if failed else "still passes with %s=%s" % (field, value)))
    return results
