#!/usr/bin/env python3
"""What a station does while nobody reads its output: station mode on the
simulated bridge, READERS readers sending 5-byte tags 100 to 200 ms apart,
its output a pipe that is read for 5 s, then not read for STALL seconds, then
read again. Prints how the tags came out: every byte must come, in order per
reader; tags that arrived while the station waited in its write come merged.

    bench/stalled_output.py [--build DIR] [--readers N] [--stall SECONDS]

About 5 + STALL + 40 seconds; the station is stopped with SIGINT once every
tag is reported, or after 120 s.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "mqtt"))
from compare_reports import scenario_bridges  # noqa: E402

HEADER = re.compile(rb"^>>>\[DATA FROM (\S+), (\d+) BYTE\]$")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--readers", type=int, default=16)
    parser.add_argument("--stall", type=float, default=15.0)
    options = parser.parse_args()
    tags_each = 300
    text = "".join(
        'bridge "S%02d"\n  tags at 0.3 count %d bytes 5 spacing 0.1 0.2 seed %d\n' % (i, tags_each, i + 1)
        for i in range(options.readers)
    )
    expected = {serial: b"".join(plugged[0]) for serial, plugged in scenario_bridges(text).items()}
    total = sum(len(data) for data in expected.values())

    with tempfile.NamedTemporaryFile("w", suffix=".scenario", delete=False) as scenario:
        scenario.write(text)
    environment = dict(os.environ, HIDUART_SIM_SCENARIO=scenario.name, LD_LIBRARY_PATH=options.build)
    station = subprocess.Popen(
        [os.path.join(options.build, "kestrune"), "--watch"], stdout=subprocess.PIPE, env=environment
    )
    start = time.monotonic()
    output = b""
    got = 0
    stalled_from, stalled_to = 5.0, 5.0 + options.stall
    stopped = False
    while True:
        now = time.monotonic() - start
        if stalled_from <= now < stalled_to:
            time.sleep(0.05)
            continue
        if not stopped and (got >= total or now > 120):
            station.send_signal(signal.SIGINT)
            stopped = True
        chunk = os.read(station.stdout.fileno(), 65536)
        if not chunk:
            break
        output += chunk
        got = sum(int(m.group(2)) for m in map(HEADER.match, output.split(b"\n")) if m)
    station.wait()
    os.unlink(scenario.name)

    lines = output.split(b"\n")
    blocks = {}
    sizes = []
    for i, line in enumerate(lines):
        header = HEADER.match(line)
        if header:
            data = bytes.fromhex(lines[i + 1].strip()[2:].decode())
            blocks.setdefault(header.group(1).decode(), []).append(data)
            sizes.append(len(data))
    in_order = all(b"".join(blocks.get(serial, [])) == data for serial, data in expected.items())
    merged = [size for size in sizes if size != 5]
    print("stalled output: %d readers, %d tags of 5 bytes 100 to 200 ms apart, output not read from"
          " 5 s for %.0f s" % (options.readers, total // 5, options.stall))
    print("  every byte reported, in order per reader: %s" % ("yes" if in_order else "NO"))
    print("  reports of one whole tag: %d" % (len(sizes) - len(merged)))
    print("  merged blocks: %d, %d to %d bytes, holding %d tags"
          % (len(merged), min(merged, default=0), max(merged, default=0), sum(merged) // 5))
    print("  exit code: %d" % station.returncode)
    return 0 if in_order and station.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
