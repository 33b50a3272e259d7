#!/usr/bin/env python3
"""The JSON report against its installed schema (Debian's python3-jsonschema).

Usage: report_schema_test.py SCHEMA QARVEL SAMPLE_MACHINE GOLDEN.json...

Every golden JSON report, and the sample server's report with the commands' sections, must
validate. Every typed value must be the number its text says, read here on its own from the
text; every kind of record must show at least one such number, so that a report without them
cannot pass.
"""
import json
import re
import subprocess
import sys

import jsonschema

# The unit words of each typed key, with what one of them is in base units.
UNITS = {
    "hz": {"MHZ": lambda x: x * 10**6},
    "bytes": {"": lambda x: x, "KB": lambda x: x * 1024, "MB": lambda x: x * 1024 * 1024},
    "seconds": {"ns": lambda x: x / 10**9},
    "volts": {"V": lambda x: x, "mv": lambda x: x / 1000},
    "celsius": {"C": lambda x: x, "degree C": lambda x: x, "degree F": lambda x: (x - 32) * 5 / 9,
                "degree K": lambda x: x - 273.15},
    "rpm": {"rpm": lambda x: x, "RPM": lambda x: x},
    "ratio": {"%": lambda x: x / 100},
}
# A record's fields whose integer is in another unit than its typed key's.
INTEGER_UNITS = {"TotalSize": lambda x: x * 1024 * 1024}

# The kinds of record, by the path of the typed key (indices left out), that must each show
# at least one number across the reports.
KINDS = ["cpu.MaxSpeed_hz", "cpu.cache.InstalledSize_bytes", "TotalSize_bytes", "bank.size_bytes",
         "bank.speed_hz", "fan.speed_rpm", "voltage.CurrentVoltage_volts", "temperature.CurrentTemperature_celsius",
         "driveArray.size_bytes", "partition.size_bytes"]


def expected(text, unit, field):
    """The number a text gives in the unit, or None."""
    if isinstance(text, int):
        return INTEGER_UNITS[field](text)
    match = re.fullmatch(r"(-?[0-9]+(?:\.[0-9]+)?) ?(.*)", text)
    if not match or match.group(2) not in UNITS[unit]:
        return None
    return UNITS[unit][match.group(2)](float(match.group(1)))


def typed_values(node, path, found):
    """(kind path, text, typed key, value) of every typed key below node."""
    if isinstance(node, list):
        for item in node:
            typed_values(item, path, found)
    elif isinstance(node, dict):
        for key, value in node.items():
            base, _, unit = key.rpartition("_")
            if base in node and unit in UNITS:
                found.append((path + key, node[base], unit, base, value))
            else:
                typed_values(value, path + key + ".", found)


def check(document, name, validator, seen):
    problems = ["%s: %s at %s" % (name, error.message, "/".join(map(str, error.absolute_path)))
                for error in validator.iter_errors(document)]
    for section in document.get("sections", []):
        found = []
        typed_values(section["record"], "", found)
        for kind, text, unit, field, value in found:
            want = expected(text, unit, field)
            if want is None:
                if value is not None:
                    problems.append("%s: %s %s=%r gives %r, not null" % (name, section["section"], kind, text, value))
            elif (not isinstance(value, (int, float)) or isinstance(value, bool)
                  or abs(value - want) > 1e-9 * max(1, abs(want))):
                problems.append("%s: %s %s=%r gives %r, not %r" % (name, section["section"], kind, text, value, want))
            else:
                seen.add(kind)
    return problems


def main():
    schema_path, qarvel, sample = sys.argv[1:4]
    goldens = sys.argv[4:]
    schema = json.load(open(schema_path))
    validator = jsonschema.Draft202012Validator(schema)
    problems, seen = [], set()
    for golden in goldens:
        problems += check(json.load(open(golden)), golden, validator, seen)
    # The commands' sections, which no golden report holds.
    run = subprocess.run([qarvel, "--json", "--machine", sample, "threshold", "39", "1", "3", "46",
                          "watchdog", "arm", "1", "60000", "watchdog", "show"], capture_output=True, text=True)
    document = json.loads(run.stdout)
    titles = [section["section"] for section in document["sections"]]
    if "threshold" not in titles or titles.count("watchdog") < 2:
        problems.append("the commands' report has no threshold or watchdog sections: %s" % titles)
    problems += check(document, "qarvel --json with commands", validator, seen)
    # A document that breaks the schema is caught: the check above can fail.
    broken = json.loads(json.dumps(document))
    broken["schema_version"] = "1"
    if validator.is_valid(broken):
        problems.append("a schema_version that is a text validates")
    for kind in KINDS:
        if kind not in seen:
            problems.append("no report shows a number for %s" % kind)
    for problem in problems:
        print(problem)
    print("%d reports, %d typed kinds seen, %d problems" % (len(goldens) + 1, len(seen), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
