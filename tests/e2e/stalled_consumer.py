#!/usr/bin/env python3
"""A station whose consumer stalls: READERS simulated readers send 5-byte tags
50 to 100 ms apart, and the station's standard output, a pipe, is not read for
STALL seconds while far more than a pipe holds is written. Every tag must then
be reported as one block of its own bytes, each reader's in order, and the
station must stop with exit status 0 once asked.

    stalled_consumer.py [--readers N] [--stall SECONDS] [--json] PROGRAM [EMULATOR...]

PROGRAM is the program; EMULATOR, if given, runs it (wine for the Windows
program). The simulated library is the one beside the program.
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mqtt"))
from compare_reports import scenario_bridges  # noqa: E402

HEADER = re.compile(r"^>>>\[DATA FROM (\S+), (\d+) BYTE\]\r?$")
# Output that a pipe cannot hold, so that the station's writes wait.
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
        if header:
            blocks.setdefault(header.group(1), []).append(bytes.fromhex(lines[i + 1].strip()[2:]))
    return blocks


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--readers", type=int, default=16)
    parser.add_argument("--stall", type=float, default=6.0)
    parser.add_argument("--json", action="store_true")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    program, emulator = options.command[-1], options.command[:-1]

    text = "".join(
        'bridge "R%02d"\n  tags at 0.3 count 60 bytes 5 spacing 0.05 0.1 seed %d\n' % (i, i + 1)
        for i in range(options.readers)
    )
    expected = {serial: plugged[0] for serial, plugged in scenario_bridges(text).items()}
    total = sum(len(tags) for tags in expected.values())
    total_bytes = sum(len(tag) for tags in expected.values() for tag in tags)

    with tempfile.NamedTemporaryFile("w", suffix=".scenario", delete=False) as scenario:
        scenario.write(text)
    environment = dict(os.environ, HIDUART_SIM_SCENARIO=scenario.name)
    environment.pop("HIDUART_SIM_LOG", None)
    arguments = ["--watch"] + (["--json"] if options.json else [])
    station = subprocess.Popen(emulator + [program] + arguments, stdout=subprocess.PIPE,
                               env=environment)
    start = time.monotonic()
    output = b""
    stopped = False
    # Under wine the program takes a while to start: the stall begins once
    # it has written its first lines.
    while not output:
        output += os.read(station.stdout.fileno(), 65536)
    time.sleep(options.stall)
    while True:
        reported = sum(len(block) for blocks in blocks_of(output.decode(errors="replace"),
                                                          options.json).values() for block in blocks)
        if not stopped and (reported >= total_bytes or time.monotonic() - start > 100):
            station.send_signal(signal.SIGINT)
            stopped = True
        chunk = os.read(station.stdout.fileno(), 65536)
        if not chunk:
            break
        output += chunk
    station.wait()
    os.unlink(scenario.name)

    blocks = blocks_of(output.decode(errors="replace"), options.json)
    failures = []
    if len(output) < PIPE_HOLDS * 5 // 4:
        failures.append("only %d bytes were written: the stall held nothing back" % len(output))
    for serial, tags in expected.items():
        got = blocks.get(serial, [])
        if got != tags:
            whole = sum(1 for block in got if block in tags)
            failures.append("%s: %d of its %d tags reported, %d blocks in all, %d of them whole"
                            % (serial, sum(1 for t in tags if t in got), len(tags), len(got), whole))
    if station.returncode != 0:
        failures.append("exit status %d" % station.returncode)
    for failure in failures:
        print("FAIL: " + failure)
    print("%d readers, %d tags, output stalled %.0f s: %s"
          % (options.readers, total, options.stall, "every tag whole, in order" if not failures
             else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
