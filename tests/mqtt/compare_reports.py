#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks what a broker's subscriber received from a station against the
human output of the same scenario, and both against the tags the scenario's
generator makes.

    compare_reports.py expected-blocks SCENARIO
        prints how many blocks the scenario's tags lines make
    compare_reports.py check SCENARIO HUMAN_OUTPUT SUBSCRIBED TOPIC
        SUBSCRIBED is mosquitto_sub -v output ("TOPIC PAYLOAD" per line); the
        lines of other topics are left aside. Prints what differs, exits 1.
"""
import json
import re
import sys

TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")


def xorshift32(state):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    return state


def scenario_bridges(text):
    """Each serial string's bridges, in the order of the file (a bridge
    plugged back is a later bridge of the same serial string), each as the
    tags its tags lines make."""
    bridges = {}
    tags = None
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        bridge = re.match(r'^bridge "([^"\\]*)"$', line)
        if bridge:
            tags = []
            bridges.setdefault(bridge.group(1), []).append(tags)
            continue
        words = line.split()
        if words[:1] != ["tags"]:
            continue
        count, size, seed = int(words[4]), int(words[6]), int(words[11])
        state = seed
        for _ in range(count):
            tag = []
            for _ in range(size):
                state = xorshift32(state)
                tag.append(state & 0xFF)
            state = xorshift32(state)  # the draw of the next tag's spacing
            tags.append(bytes(tag))
    return bridges


def block_of(data):
    """What a block report shows of these bytes."""
    value = int.from_bytes(data[-8:], "big")
    return (len(data), data.hex().upper(), "%016X" % value, "%010d" % ((value >> 16) & 0xFFFFFFFF))


def parse_human(text):
    """The human output as events of the same shape as the JSON ones."""
    events = []
    lines = text.splitlines()
    i = 0
    identity = {}
    while i < len(lines):
        line = lines[i]
        header = re.match(r"^>>>\[DATA FROM (.*), (\d+) BYTE\]$", line)
        if header:
            hex_text = re.match(r"^  0x([0-9A-F]*)$", lines[i + 1]).group(1)
            value = re.match(r"^  HEX \(64-bit\): ([0-9A-F]{16})$", lines[i + 2]).group(1)
            decimal = re.match(r"^  Decimal \(10 Digits\): (\d{10})$", lines[i + 3]).group(1)
            if lines[i + 4] != "<<<":
                raise ValueError("report without its end: %r" % lines[i : i + 5])
            events.append(("block", header.group(1), (int(header.group(2)), hex_text, value, decimal)))
            i += 5
            continue
        for pattern, key in (
            (r"^Vendor ID = (.*), Product ID = (.*)$", ("vendorId", "productId")),
            (r"^Part Number = (\d+), Version = (\d+)$", ("partNumber", "version")),
            (r"^Path = (.*)$", ("path",)),
            (r"^Manufacturer = (.*)$", ("manufacturer",)),
            (r"^Product = (.*)$", ("product",)),
        ):
            found = re.match(pattern, line)
            if found:
                identity.update(zip(key, found.groups()))
                break
        else:
            connected = re.match(r"^Connected to (.*)$", line)
            disconnected = re.match(r"^Disconnected from (.*?): (.*)$", line)
            count = re.match(r"^Number of connected CP2110 HID devices = (\d+)$", line)
            if connected:
                identity["partNumber"] = int(identity["partNumber"])
                identity["version"] = int(identity["version"])
                events.append(("connected", connected.group(1), identity))
                identity = {}
            elif disconnected:
                events.append(("disconnected", disconnected.group(1), disconnected.group(2)))
            elif count:
                events.append(("count", None, int(count.group(1))))
        i += 1
    return events


def parse_json(lines, problems):
    """The subscribed JSON objects as events; each line must be one object
    whose first fields are event and time."""
    events = []
    starts = stops = 0
    for number, line in enumerate(lines, 1):
        try:
            fields = json.loads(line, object_pairs_hook=lambda pairs: pairs)
        except ValueError as error:
            problems.append("message %d is not JSON (%s): %r" % (number, error, line))
            continue
        if not isinstance(fields, list) or [key for key, _ in fields[:2]] != ["event", "time"]:
            problems.append("message %d does not begin with event and time: %r" % (number, line))
            continue
        report = json.loads(line)
        if not TIME.match(report["time"]):
            problems.append("message %d has the time %r" % (number, report["time"]))
        event = report["event"]
        if event == "start":
            starts += 1
            if number != 1 or report.get("program") != "kestrune" or report.get("format") != 2:
                problems.append("message %d is not the first, or not format 2: %r" % (number, line))
        elif event == "stop":
            stops += 1
            if number != len(lines):
                problems.append("message %d, the stop, is not the last" % number)
        elif event == "block":
            value = (report["count"], report["hex"], report["value"], report["decimal"])
            events.append(("block", report["serial"], value))
        elif event == "connected":
            keys = ("vendorId", "productId", "partNumber", "version", "path", "manufacturer", "product")
            events.append(("connected", report["serial"], {key: report[key] for key in keys}))
        elif event == "disconnected":
            events.append(("disconnected", report["serial"], report["statusText"]))
        elif event == "count":
            events.append(("count", None, report["bridges"]))
        else:
            problems.append("message %d is an unexpected %s: %r" % (number, event, line))
    if (starts, stops) != (1, 1):
        problems.append("%d start and %d stop messages, not one of each" % (starts, stops))
    return events


def per_serial(events):
    """Each serial string's events in order: the order that holds across
    bridges read in turn."""
    streams = {}
    for kind, serial, value in events:
        streams.setdefault(serial, []).append((kind, value))
    return streams


def check(scenario_file, human_file, subscribed_file, topic):
    with open(scenario_file) as f:
        bridges = scenario_bridges(f.read())
    with open(human_file, encoding="utf-8", errors="replace") as f:
        human = per_serial(parse_human(f.read()))
    with open(subscribed_file, encoding="utf-8", errors="replace") as f:
        lines = [line[len(topic) + 1 :] for line in f.read().splitlines() if line.startswith(topic + " ")]
    problems = []
    subscribed = per_serial(parse_json(lines, problems))

    for serial in sorted(set(human) | set(subscribed), key=str):
        if human.get(serial) != subscribed.get(serial):
            problems.append(
                "%s: the human run and the broker differ:\n  human:  %s\n  broker: %s"
                % (serial, human.get(serial), subscribed.get(serial))
            )
    # Each bridge connected, its tags one block each, and a disconnection
    # before the same serial string's next bridge is connected.
    for serial, plugged in bridges.items():
        expected = []
        for number, tags in enumerate(plugged):
            expected += [("connected",)] + [("block", block_of(tag)) for tag in tags]
            if number + 1 < len(plugged):
                expected.append(("disconnected",))
        got = [(kind, value) if kind == "block" else (kind,) for kind, value in human.get(serial, [])]
        if got != expected:
            problems.append(
                "%s: not its bridges' tags one block each:\n  got:      %s\n  expected: %s"
                % (serial, got, expected)
            )
    return problems


def main(argv):
    if len(argv) == 3 and argv[1] == "expected-blocks":
        with open(argv[2]) as f:
            bridges = scenario_bridges(f.read()).values()
            print(sum(len(tags) for plugged in bridges for tags in plugged))
        return 0
    if len(argv) == 6 and argv[1] == "check":
        problems = check(*argv[2:])
        for problem in problems:
            print("compare_reports: " + problem, file=sys.stderr)
        return 1 if problems else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
