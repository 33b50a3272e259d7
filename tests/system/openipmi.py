"""OpenIPMI's ipmi_sim as the BMC of a guest, for the machine whose thresholds are checked.

QEMU's own BMC (ipmi-bmc-sim) serves a repository, the FRU, Get Device ID and the watchdog,
but answers Get Sensor Thresholds and Get Sensor Reading of full records with errors. ipmi_sim
implements both, and QEMU reaches it through ipmi-bmc-extern over a socket in its "VM"
protocol (ipmi_sim's `serial 15 ADDR PORT codec VM` listener).

Its watchdog cannot be checked: ipmi_sim 2.0.33 answers Get Watchdog Timer with 6 data bytes,
without the present countdown, and Set Watchdog Timer with stray bytes after the completion
code; the other machines' BMC, QEMU's, has the countdown checked (tests/system/expected).

ipmi_sim is loaded with the sample server's own BMC files: the records of its sdr.bin as they
are (main_sdr_add), the readings, states and thresholds of its bmc.conf, its fru0.bin, and the
firmware revision the checks expect. `served` reads back the thresholds it was given, so that
the checks compare the guest's report with what this BMC answers, not with a second copy.
"""
import os
import re
import signal
import socket
import subprocess
import time

# The management controller's address on the IPMB: the BMC (IPMI 2.0 5.5).
BMC_ADDRESS = 0x20
# ipmi_sim's files in a machine's work directory.
CONFIG, COMMANDS, STATE, LOG = "ipmi_sim.conf", "ipmi_sim.emu", "ipmi_sim-state", "ipmi_sim.log"


def free_port():
    """A TCP port on 127.0.0.1 that nothing uses now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def parse_bmc_conf(path):
    """What ipmi_sim takes of a bmc.conf (sim/README.md): sensors {number: (reading, state)},
    thresholds {number: (readable mask, [LNC, LC, LNR, UNC, UC, UNR])}, and the device's
    revision, manufacturer and product."""
    conf = dict(sensors={}, thresholds={}, revision=0, manufacturer=0, product=0)
    for line in open(path):
        words = line.split("#", 1)[0].split()
        if len(words) == 6 and words[0] == "sensor" and words[2] == "reading" and words[4] == "state":
            conf["sensors"][int(words[1], 0)] = (int(words[3], 0), int(words[5], 0))
        elif len(words) == 11 and words[0] == "thresholds" and words[2] == "readable" and words[4] == "values":
            conf["thresholds"][int(words[1], 0)] = (int(words[3], 0), [int(w, 0) for w in words[5:]])
        elif len(words) == 2 and words[0] in ("manufacturer", "product"):
            conf[words[0]] = int(words[1], 0)
        elif len(words) == 2 and words[0] == "device-revision":
            conf["revision"] = int(words[1], 0)
    return conf


def sdr_blobs(path):
    """The records of an SDR dump, each whole with its 5-byte header (IPMI 2.0 43)."""
    data = open(path, "rb").read()
    records, offset = [], 0
    while offset + 5 <= len(data):
        end = offset + 5 + data[offset + 4]
        if end > len(data):
            break
        records.append(data[offset:end])
        offset = end
    return records


def _hex(value):
    return "0x%X" % value


def command_file(bmc):
    """ipmi_sim's commands that build the BMC of BMC (system_test.bmc_files)."""
    conf = parse_bmc_conf(bmc["conf"])
    sensors, thresholds = conf["sensors"], conf["thresholds"]
    mc = _hex(BMC_ADDRESS)
    lines = [
        "mc_setbmc " + mc,
        # Device ID 20h, no device SDRs, the firmware revision the checks expect (the minor one
        # in BCD), the device support bits of a BMC with sensors, SDR, SEL, FRU, IPMB event
        # receiver and chassis, then the sample server's manufacturer and product.
        "mc_add %s 0x20 no-device-sdrs %s %s %s 0x9f %s %s" % (
            mc, _hex(conf["revision"]), _hex(bmc["major"]), _hex(bmc["minor"]), _hex(conf["manufacturer"]),
            _hex(conf["product"])),
        'mc_add_fru_data %s 0 %d file 0 "%s"' % (mc, bmc["fru_size"], bmc["fru"]),
        # A System Event Log of 128 entries, as QEMU's BMC keeps, with Reserve SEL (08h) and
        # Partial Add (02h) supported; the guest adds its events to it (tests/system/events).
        "sel_enable %s 128 0x0a" % mc,
    ]
    for record in sdr_blobs(bmc["sdr"]):
        lines.append("main_sdr_add %s %s" % (mc, " ".join(_hex(b) for b in record)))
    for record in sdr_blobs(bmc["sdr"]):
        kind = record[3]
        if kind not in (1, 2) or len(record) < 14:
            continue
        number, sensor_type, event_type = record[7], record[12], record[13]
        sensor = "%s 0 %s" % (mc, _hex(number))
        lines.append("sensor_add %s %s %s" % (sensor, _hex(sensor_type), _hex(event_type)))
        lines.append("sensor_set_event_support %s disable scanning none %s" % (sensor, " ".join(["0" * 15] * 4)))
        reading, state = sensors.get(number, (0, 0))
        if event_type == 1:
            readable, values = thresholds.get(number, (0, [0] * 6))
            if readable:
                # Listed from upper non-recoverable down, as the enabled mask.
                lines.append("sensor_set_threshold %s settable %s %s" % (
                    sensor, format(readable, "06b"), " ".join(_hex(v) for v in reversed(values))))
            lines.append("sensor_set_value %s %s 0" % (sensor, _hex(reading)))
        else:
            for bit in range(15):
                if state & (1 << bit):
                    lines.append("sensor_set_bit %s %d 1 0" % (sensor, bit))
    lines.append("mc_enable " + mc)
    return "\n".join(lines) + "\n"


def served(conf):
    """The thresholds ipmi_sim loaded from the bmc.conf CONF answers Get Sensor Thresholds
    with: {number: (readable mask, [LNC, LC, LNR, UNC, UC, UNR])}."""
    return parse_bmc_conf(conf)["thresholds"]


def start(work, bmc, port, limit):
    """Starts ipmi_sim for BMC, its VM listener on 127.0.0.1:PORT, killed after LIMIT seconds
    at the latest; returns the process once the listener is up."""
    with open(os.path.join(work, CONFIG), "w") as out:
        out.write('name "qarvel"\nset_working_mc %s\n  serial 15 127.0.0.1 %d codec VM\n' % (_hex(BMC_ADDRESS), port))
    with open(os.path.join(work, COMMANDS), "w") as out:
        out.write(command_file(bmc))
    os.makedirs(os.path.join(work, STATE), exist_ok=True)
    log = open(os.path.join(work, LOG), "w")
    # In a process group of its own, so that stop() reaches ipmi_sim behind timeout.
    process = subprocess.Popen(["timeout", "-k", "5", str(limit), "ipmi_sim", "-n", "-c", os.path.join(work, CONFIG),
                                "-f", os.path.join(work, COMMANDS), "-s", os.path.join(work, STATE)],
                               stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    log.close()
    # Ready once the port listens; the VM listener takes one peer only, so it is not probed
    # with a connection of its own.
    for _ in range(100):
        if listening(port) or process.poll() is not None:
            break
        time.sleep(0.1)
    if not listening(port):
        stop(process)
        raise RuntimeError("ipmi_sim did not listen on port %d; its log:\n%s"
                           % (port, open(os.path.join(work, LOG), errors="replace").read()[-3000:]))
    return process


def listening(port):
    """Whether a TCP socket listens on 127.0.0.1:PORT (state 0A in /proc/net/tcp)."""
    for line in open("/proc/net/tcp").readlines()[1:]:
        words = line.split()
        if re.match(r"0100007F:%04X$" % port, words[1]) and words[3] == "0A":
            return True
    return False


def stop(process):
    """Ends ipmi_sim and the timeout it runs under: SIGTERM, then SIGKILL to their group."""
    if process.poll() is not None:
        return  # timeout is gone, and with it ipmi_sim (timeout ends when its child does)
    for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, None)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=wait)
            break
        except subprocess.TimeoutExpired:
            continue
