#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the program's JSON Lines output and writes the human lines it stands for.

    json_lines.py [--watch] [--timestamps] [--stopped | --partial] [--repeats=FILE] JSON_OUTPUT HUMAN_OUTPUT

Every line must be one JSON object that Python's json module accepts, in UTF-8,
ending in LF alone, with no raw control character, no null, "event" and "time"
first, and exactly the fields of its event in their order; each field is then
checked against the others (a block's count, hex, value and decimal agree; a
status text is the status code's; a NAMEHex field holds bytes that are not
valid UTF-8 and that give NAME with each invalid byte as U+FFFD). From the
fields alone it writes the lines the human output shows for the same run, so
that a case's expected human output checks its JSON run field by field.
A listing (--list) writes "library" and then one "bridge" per index.

--timestamps puts each block's time before its header, as --timestamps does.
--watch writes station mode's lines: a failed connection names its bridge,
and with --timestamps the line of each event that names its bridge starts
with the event's time.
--stopped: the run was stopped, and its last event must be "stop"; otherwise
no "stop" may come. --partial reads output still being written: it ignores an
unfinished last line and the rules about the end. --repeats=FILE writes one
line "held SERIAL N" for each held tag whose N repeats were left out, with
the serial string as the human lines show it, by serial string (each
reader's in the order they came).
"""
import json
import re
import sys

STATUS_TEXTS = {
    0x00: "Success", 0x01: "Device not found", 0x02: "Invalid handle",
    0x03: "Invalid device object", 0x04: "Invalid parameter", 0x05: "Invalid request length",
    0x10: "Read error", 0x11: "Write error", 0x12: "Read timed out", 0x13: "Write timed out",
    0x14: "Device I/O failed", 0x15: "Device access error", 0x16: "Device not supported",
    0xFF: "Unknown error",
}
TIME = re.compile(r"\d{4}-[01]\d-[0-3]\dT[0-2]\d:[0-5]\d:[0-6]\d\.\d{3}[+-][0-2]\d:[0-5]\d\Z")
HEX = re.compile(r"(?:[0-9A-F]{2})*\Z")
DEVICE_TEXTS = ("serial", "vendorId", "productId", "path", "manufacturer", "product")
VERSION = ("major", "minor", "release")
# The fields of each event after "event" and "time", in order; "?" marks one
# that may be left out, "NAME|NAMEStatus" one that a listing gives, or the
# status of the call that did not give it.
LISTED_STRINGS = ("vendorId", "productId", "path", "manufacturer", "product")
LISTED_LABELS = (b"Vendor ID", b"Product ID", b"Path", b"Manufacturer", b"Product")
# A library that counts more bridges than this has only these listed.
MAX_LISTED = 1024
# A run's events end in "seq" when a broker gets them too.
# A reader is "serial", then "name" when the names file names it.
RUN_FIELDS = {
    "start": ("program", "version", "format", "library", "hidLibrary"),
    "count": ("bridges",),
    "connected": ("serial", "name?", "vendorId", "productId", "partNumber", "version", "path",
                  "manufacturer", "product"),
    "connect-failed": ("serial", "name?", "status", "statusText", "report"),
    "block": ("serial", "name?", "count", "hex", "value", "decimal"),
    "held": ("serial", "name?", "count", "hex", "value", "decimal", "repeats", "heldMs"),
    "silent": ("serial", "name?", "seconds"),
    "delivering": ("serial", "name?", "silentSeconds"),
    "shared-serial": ("serial", "name?", "bridges"),
    "disconnected": ("serial", "name?", "status", "statusText"),
    "stop": (),
}
FIELDS = {
    **{kind: fields + ("seq?",) for kind, fields in RUN_FIELDS.items()},
    "library": ("program", "version", "format", "path?", "library|libraryStatus",
                "hidLibrary|hidLibraryStatus", "bridges|bridgesStatus"),
    "bridge": ("index", "serial|serialStatus", "name?", "named?") + tuple(name + "|" + name + "Status?"
                                                       for name in LISTED_STRINGS),
}
# The events that may start an output: a run's, or a listing's.
FIRST = ("start", "library")


class Fault(Exception):
    pass


def replaced(raw):
    """The text of bytes with each byte that starts no well-formed UTF-8 sequence as U+FFFD."""
    out = []
    at = 0
    while at < len(raw):
        for length in (1, 2, 3, 4):
            try:
                out.append(raw[at:at + length].decode("utf-8"))
                at += length
                break
            except UnicodeDecodeError:
                continue
        else:
            out.append("\ufffd")
            at += 1
    return "".join(out)


def shown(raw):
    """A device string as the human lines print it."""
    return b"".join(b"\\x%02X" % byte if byte < 0x20 or byte == 0x7F else bytes([byte])
                    for byte in raw)


def number(value, name, low=0, high=None):
    if type(value) is not int or value < low or (high is not None and value > high):
        raise Fault(f"{name} is not a whole number in range: {value!r}")
    return value


def text(value, name):
    if type(value) is not str:
        raise Fault(f"{name} is not a string: {value!r}")
    return value


def no_null(value):
    if value is None:
        raise Fault("a null")
    if isinstance(value, dict):
        for item in value.values():
            no_null(item)


def ordered_fields(pairs):
    names = [name for name, _ in pairs]
    if len(set(names)) != len(names):
        raise Fault(f"a field twice: {names}")
    return pairs


def device_text(event, fields, name):
    """The exact bytes of a device string field, checked against its NAMEHex sibling."""
    value = text(event[name], name)
    hex_name = name + "Hex"
    if hex_name not in event:
        return value.encode("utf-8")
    hex_value = text(event[hex_name], hex_name)
    if not HEX.match(hex_value):
        raise Fault(f"{hex_name} is not upper-case hex: {hex_value!r}")
    raw = bytes.fromhex(hex_value)
    try:
        raw.decode("utf-8")
        raise Fault(f"{hex_name} holds valid UTF-8, which needs no hex")
    except UnicodeDecodeError:
        pass
    if replaced(raw) != value:
        raise Fault(f"{name} is not {hex_name} with U+FFFD for each invalid byte")
    fields.append(hex_name)
    return raw


def check_order(event, wanted):
    names = list(event)
    if names[:2] != ["event", "time"]:
        raise Fault(f"does not start with event and time: {names}")
    expected = ["event", "time"]
    for field in wanted:
        optional = field.endswith("?")
        field = field.rstrip("?")
        if "|" in field:
            given, failed = field.split("|")
            if (given in event) == (failed in event):
                if optional and given not in event:
                    continue
                raise Fault(f"not one of {given} and {failed}: {names}")
            field = given if given in event else failed
        if field in event or not optional:
            expected.append(field)
            if field in DEVICE_TEXTS + ("name",) and field + "Hex" in event:
                expected.append(field + "Hex")
    if names != expected:
        raise Fault(f"fields {names}, not {expected}")


def status(event):
    code = number(event["status"], "status", -(2**31), 2**31 - 1)
    wanted = STATUS_TEXTS.get(code, "Unknown status")
    if event["statusText"] != wanted:
        raise Fault(f"statusText {event['statusText']!r} is not that of {code}")
    return wanted.encode()


def failure_text(value, name):
    code = number(value, name, -(2**31), 2**31 - 1)
    if code == 0:
        raise Fault(f"{name} is success, yet nothing was given")
    return STATUS_TEXTS.get(code, "Unknown status").encode()


def not_given(label, value, name):
    return label + b": not given (" + failure_text(value, name) + b")"


def listed_version(event, name, label):
    if name in event:
        return label + b": " + version(event[name], name)
    return not_given(label, event[name + "Status"], name + "Status")


def version(value, name):
    if not isinstance(value, dict) or list(value) != list(VERSION):
        raise Fault(f"{name} is not {{major, minor, release}}: {value!r}")
    if type(value["release"]) is not bool:
        raise Fault(f"{name}.release is not true or false")
    return b"%d.%d (%s)" % (number(value["major"], "major", 0, 255),
                            number(value["minor"], "minor", 0, 255),
                            b"Release" if value["release"] else b"Debug")


def reader(event, fields):
    """A reader as the human lines name it: its serial string, and its name."""
    serial = shown(device_text(event, fields, "serial"))
    if "name" in event:
        serial += b" (" + shown(device_text(event, fields, "name")) + b")"
    return serial


def human(event, timestamps, station, one_line=False):
    """The human lines of one checked event."""
    kind = event["event"]
    fields = []
    stamp = event["time"].encode() + b" " if (timestamps and station) or one_line else b""
    if kind == "start":
        if event["program"] != "kestrune" or event["format"] != 2:
            raise Fault(f"not kestrune's format 2: {event}")
        text(event["version"], "version")
        return [b"Starting Kestrune application",
                b"SLABHIDtoUART.dll: Version " + version(event["library"], "library"),
                b"SLABHIDDevice.dll: Version " + version(event["hidLibrary"], "hidLibrary")]
    if kind == "count":
        return [b"Number of connected CP2110 HID devices = %d" %
                number(event["bridges"], "bridges", 0, 2**32 - 1)]
    if kind == "connected":
        strings = {name: shown(device_text(event, fields, name)) for name in DEVICE_TEXTS}
        strings["serial"] = reader(event, fields)
        if one_line:
            return [stamp + b"Connected to " + strings["serial"] + b": Vendor ID = " +
                    strings["vendorId"] + b", Product ID = " + strings["productId"] +
                    b", Part Number = %d, Version = %d" % (event["partNumber"], event["version"]) +
                    b", Path = " + strings["path"] + b", Manufacturer = " +
                    strings["manufacturer"] + b", Product = " + strings["product"]]
        return [b"Vendor ID = " + strings["vendorId"] + b", Product ID = " + strings["productId"],
                b"Part Number = %d, Version = %d" % (number(event["partNumber"], "partNumber", 0, 255),
                                                      number(event["version"], "version", 0, 255)),
                b"Path = " + strings["path"], b"Manufacturer = " + strings["manufacturer"],
                b"Product = " + strings["product"], stamp + b"Connected to " + strings["serial"]]
    if kind == "connect-failed":
        serial = reader(event, fields)
        status_text = status(event)
        if event["report"] == "error" and station:
            return [stamp + b"Error: " + serial + b": " + status_text]
        if event["report"] == "error":
            return [stamp + b"Error: " + status_text]
        if event["report"] == "not-connected":
            return [stamp + b"Failed to connect to " + serial + b": " + status_text,
                    b"Not Connected"]
        raise Fault(f"report is neither error nor not-connected: {event['report']!r}")
    if kind in ("block", "held"):
        serial = reader(event, fields)
        count = number(event["count"], "count", 1, 1000)
        hex_text = text(event["hex"], "hex")
        if not HEX.match(hex_text) or len(hex_text) != 2 * count:
            raise Fault(f"hex is not {count} bytes in upper-case hex")
        data = bytes.fromhex(hex_text)
        value = int.from_bytes(data[-8:], "big")
        if event["value"] != "%016X" % value:
            raise Fault(f"value {event['value']!r} is not the last eight bytes")
        if event["decimal"] != "%010d" % ((value >> 16) & 0xFFFFFFFF):
            raise Fault(f"decimal {event['decimal']!r} is not bits 16 to 47")
        if kind == "held":
            # A tag's repeats are told in JSON alone.
            number(event["repeats"], "repeats", 1)
            number(event["heldMs"], "heldMs", 0)
            return []
        header = b">>>[DATA FROM %s, %d BYTE]" % (serial, count)
        if one_line:
            return [event["time"].encode() + b" " + header + b" 0x" + hex_text.encode() +
                    b" HEX (64-bit): " + event["value"].encode() + b" Decimal (10 Digits): " +
                    event["decimal"].encode()]
        if timestamps:
            header = event["time"].encode() + b" " + header
        return [header, b"  0x" + hex_text.encode(), b"  HEX (64-bit): " + event["value"].encode(),
                b"  Decimal (10 Digits): " + event["decimal"].encode(), b"<<<"]
    if kind == "silent":
        return [stamp + b"Silent: %s for %d s" % (reader(event, fields),
                                                  number(event["seconds"], "seconds", 1))]
    if kind == "delivering":
        return [stamp + b"Delivering again: %s after %d s silent" %
                (reader(event, fields), number(event["silentSeconds"], "silentSeconds", 1))]
    if kind == "shared-serial":
        return [stamp + b"Not read: %s: %d bridges share this serial string; only the first "
                b"listed is read" % (reader(event, fields), number(event["bridges"], "bridges", 2))]
    if kind == "disconnected":
        serial = reader(event, fields)
        return [stamp + b"Disconnected from " + serial + b": " + status(event)]
    if kind == "stop":
        return []
    if kind == "library":
        if event["program"] != "kestrune" or event["format"] != 2:
            raise Fault(f"not kestrune's format 2: {event}")
        text(event["version"], "version")
        path = shown(device_text(event, fields, "path")) if "path" in event else b"not known"
        lines = [b"Bridge library: " + path,
                 listed_version(event, "library", b"Library version"),
                 listed_version(event, "hidLibrary", b"HID library version")]
        if "bridges" in event:
            count = number(event["bridges"], "bridges", 0, 2**32 - 1)
            lines.append(b"Bridges: %d" % count if count <= MAX_LISTED else
                         b"Bridges: %d (only the first %d are listed)" % (count, MAX_LISTED))
        else:
            lines.append(not_given(b"Bridges", event["bridgesStatus"], "bridgesStatus"))
        return lines
    if kind == "bridge":
        index = number(event["index"], "index", 0, MAX_LISTED - 1)
        if "serial" in event:
            lines = [b'Bridge %d: serial "%s"' % (index, shown(device_text(event, fields, "serial")))]
            if "name" in event:
                lines[0] += b" (" + shown(device_text(event, fields, "name")) + b")"
            elif event.get("named") is False:
                lines[0] += b" (not in the names file)"
        else:
            lines = [b"Bridge %d: serial not given (%s)" %
                     (index, failure_text(event["serialStatus"], "serialStatus"))]
        gone = event.get("serialStatus") == 0x01
        for name, label in zip(LISTED_STRINGS, LISTED_LABELS):
            asked = name in event or name + "Status" in event
            if asked == gone:
                raise Fault(f"{name} is {'given' if asked else 'missing'}, "
                            "though the serial string says the bridge is "
                            f"{'gone' if gone else 'there'}")
            if name in event:
                lines.append(b"  " + label + b" = " + shown(device_text(event, fields, name)))
            elif not gone:
                lines.append(b"  " + not_given(label, event[name + "Status"], name + "Status"))
        return lines
    raise Fault(f"unknown event {kind!r}")


def reject_constant(name):
    raise Fault(f"{name} is not JSON")


def convert(raw, timestamps, station, partial, one_line=False):
    """The human lines of a whole output, and the events read."""
    lines = raw.split(b"\n")
    unfinished = lines.pop()
    if unfinished and not partial:
        raise Fault("the output does not end in LF")
    out = []
    events = []
    for number_, line in enumerate(lines, 1):
        try:
            if not line:
                raise Fault("an empty line")
            if any(byte < 0x20 or byte == 0x7F for byte in line):
                raise Fault("a raw control byte (CR LF line ends, or one inside a string)")
            decoded = line.decode("utf-8")
            if any(0x80 <= ord(c) <= 0x9F or c in "\u2028\u2029" for c in decoded):
                raise Fault("a raw C1 control or line separator")
            event = json.loads(decoded, object_pairs_hook=lambda pairs: dict(ordered_fields(pairs)),
                               parse_constant=reject_constant)
            if not isinstance(event, dict):
                raise Fault("not an object")
            no_null(event)
            kind = event.get("event")
            if kind not in FIELDS:
                raise Fault(f"unknown event {kind!r}")
            if not TIME.match(text(event["time"], "time")):
                raise Fault(f"time {event['time']!r} is not local ISO 8601 with milliseconds")
            check_order(event, FIELDS[kind])
            if (kind in FIRST) != (number_ == 1):
                raise Fault("start or library is not the first event, or comes again")
            if number_ > 1 and (kind in ("library", "bridge")) != (events[0]["event"] == "library"):
                raise Fault(f"{kind} in the output of a {events[0]['event']}")
            out.extend(human(event, timestamps, station, one_line))
            events.append(event)
        except (Fault, UnicodeDecodeError, ValueError, KeyError) as fault:
            raise Fault(f"line {number_}: {fault}: {line[:300]!r}") from None
    return out, events


def main(argv):
    timestamps = "--timestamps" in argv
    station = "--watch" in argv
    stopped = "--stopped" in argv
    partial = "--partial" in argv
    repeats = [arg[len("--repeats="):] for arg in argv if arg.startswith("--repeats=")]
    paths = [arg for arg in argv if not arg.startswith("--")]
    if len(paths) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(paths[0], "rb") as output:
        raw = output.read()
    try:
        lines, events = convert(raw, timestamps, station, partial, "--one-line" in argv)
        stops = [i for i, event in enumerate(events) if event["event"] == "stop"]
        if not partial and stopped and stops != [len(events) - 1]:
            raise Fault("the run was stopped, but its last event is not its one stop")
        if not partial and not stopped and stops:
            raise Fault("a stop in a run that was not stopped")
    except Fault as fault:
        print(f"{paths[0]}: {fault}", file=sys.stderr)
        return 1
    with open(paths[1], "wb") as human_output:
        human_output.write(b"".join(line + b"\n" for line in lines))
    for path in repeats:
        with open(path, "wb") as repeats_output:
            # Each reader's in order; readers apart, by serial string.
            told = [(shown(device_text(event, [], "serial")), event["repeats"])
                    for event in events if event["event"] == "held"]
            for serial, count in sorted(told, key=lambda held: held[0]):
                repeats_output.write(b"held %s %d\n" % (serial, count))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
