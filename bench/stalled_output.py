#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""What a station does while nobody reads its output: station mode on the
simulated bridge, READERS readers sending TAGS 5-byte tags each, MIN to MAX
seconds apart, its output a pipe that is read for READ_FIRST seconds, then
not read for STALL seconds, then read again. Prints how the tags came out:
every byte must come, in order per reader, and each tag as one block of its
own.

    bench/stalled_output.py [--build DIR] [--readers N] [--stall SECONDS]
                            [--tags N] [--spacing MIN MAX] [--read-first SECONDS]
                            [--json] [--check] [-- [EMULATOR...] PROGRAM]

PROGRAM defaults to DIR/kestrune; EMULATOR, if given, runs it (wine for the
Windows program), with the simulated library beside it. With --check the
exit status is 1 unless every tag came whole and the output held more than a
pipe does, so that the stall held the station's writes back: the end-to-end
tests run it so. With --read-first 0 the stall starts at the first output.
The station is stopped with SIGINT once every tag is reported, or after 120 s.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "mqtt"))
from compare_reports import scenario_bridges  # noqa: E402

HEADER = re.compile(r"^>>>\[DATA FROM (\S+), (\d+) BYTE\]\r?$")
# What a pipe holds on Linux: more output than this makes the station's writes wait.
PIPE_HOLDS = 64 * 1024


def blocks_of(text, json_lines):
    """Each serial string's reported blocks, in order."""
    blocks = {}
    lines = text.split("\n")
    for i, line in enumerate(lines):
        if json_lines:
            if '"event":"block"' in line:
                event = json.loads(line)
                blocks.setdefault(event["serial"], []).append(bytes.fromhex(event["hex"]))
            continue
        header = HEADER.match(line)
        if header and i + 1 < len(lines):
            blocks.setdefault(header.group(1), []).append(bytes.fromhex(lines[i + 1].strip()[2:]))
    return blocks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--readers", type=int, default=16)
    parser.add_argument("--stall", type=float, default=15.0)
    parser.add_argument("--tags", type=int, default=300)
    parser.add_argument("--spacing", type=float, nargs=2, default=[0.1, 0.2])
    parser.add_argument("--read-first", type=float, default=5.0)
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("command", nargs="*")
    options = parser.parse_args()
    command = options.command or [os.path.join(options.build, "kestrune")]

    text = "".join(
        'bridge "S%02d"\n  tags at 0.3 count %d bytes 5 spacing %g %g seed %d\n'
        % (i, options.tags, options.spacing[0], options.spacing[1], i + 1)
        for i in range(options.readers)
    )
    expected = {serial: plugged[0] for serial, plugged in scenario_bridges(text).items()}
    total = sum(len(tag) for tags in expected.values() for tag in tags)

    with tempfile.NamedTemporaryFile("w", suffix=".scenario", delete=False) as scenario:
        scenario.write(text)
    environment = dict(os.environ, HIDUART_SIM_SCENARIO=scenario.name)
    environment.pop("HIDUART_SIM_LOG", None)
    station = subprocess.Popen(command + ["--watch"] + (["--json"] if options.json else []),
                               stdout=subprocess.PIPE, env=environment)
    output = b""
    # Under wine the program takes a while to start: time counts from its
    # first lines.
    while not output:
        output += os.read(station.stdout.fileno(), 65536)
    start = time.monotonic()
    stalled_from, stalled_to = options.read_first, options.read_first + options.stall
    stopped = False
    while True:
        now = time.monotonic() - start
        if stalled_from <= now < stalled_to:
            time.sleep(0.05)
            continue
        reported = sum(len(block) for blocks in blocks_of(output.decode(errors="replace"),
                                                          options.json).values() for block in blocks)
        if not stopped and (reported >= total or now > 120):
            station.send_signal(signal.SIGINT)
            stopped = True
        chunk = os.read(station.stdout.fileno(), 65536)
        if not chunk:
            break
        output += chunk
    station.wait()
    os.unlink(scenario.name)

    blocks = blocks_of(output.decode(errors="replace"), options.json)
    in_order = all(b"".join(blocks.get(serial, [])) == b"".join(tags)
                   for serial, tags in expected.items())
    sizes = [len(block) for serial in blocks for block in blocks[serial]]
    merged = [size for size in sizes if size != 5]
    print("stalled output: %d readers, %d tags of 5 bytes %g to %g s apart, output not read from"
          " %g s for %g s" % (options.readers, total // 5, options.spacing[0], options.spacing[1],
                             options.read_first, options.stall))
    print("  every byte reported, in order per reader: %s" % ("yes" if in_order else "NO"))
    print("  reports of one whole tag: %d" % (len(sizes) - len(merged)))
    print("  merged blocks: %d, %d to %d bytes, holding %d tags"
          % (len(merged), min(merged, default=0), max(merged, default=0), sum(merged) // 5))
    print("  output: %d bytes; exit code: %d" % (len(output), station.returncode))
    if not in_order or station.returncode != 0:
        return 1
    if options.check and (merged or len(sizes) * 5 != total):
        print("FAIL: not every tag was reported as a block of its own")
        return 1
    if options.check and len(output) <= PIPE_HOLDS * 5 // 4:
        print("FAIL: the output held no more than a pipe does: the stall held nothing back")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
