#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""A station feeding a broker of its own (--mqtt), on loopback: how long a
tag takes from its first byte read to a subscriber, what the client and its
spool cost the station in CPU, and how many writes and syncs the spool makes
per event.

    bench/broker_latency.py [--build DIR] [--readers N] [--seconds S] [--tags N]
                            [--spacing MIN MAX] [--frame-gap MS] [--spool-in DIR]

READERS simulated readers (default 16) send 5-byte tags MIN to MAX seconds
apart (default 0.1 to 0.2) for about S seconds (default 30), or TAGS tags
each; with --tags 0 they stay quiet for S seconds, which shows what the
client costs while nothing happens. The script starts Debian's mosquitto on a free loopback port and a
subscriber (mosquitto_sub) that stamps every message with its arrival time,
then runs the same scenario three times:

  1. kestrune --watch --json, standard output read through a pipe and
     stamped as it arrives: the station's CPU without the client;
  2. kestrune --watch --quiet --mqtt ...: the latency from each block's
     "time" (its first byte read, to the millisecond) to its arrival at the
     subscriber, the station's CPU with the client, the broker's;
  3. the same under strace, which counts the station's writes and syncs by
     file: the spool's per event (its CPU is not taken: strace slows it).

CPU is utime+stime of /proc/PID/stat (clock ticks; every thread, the
simulated library included) and, finer, the scheduler's run time of the
threads (/proc/PID/task/*/schedstat), from the start to the end of the
scenario, as a share of one core. Every run must deliver every tag as a block
of its own, in order per reader: the exit status is 1 otherwise, or if a
station fails. Timings are reported, never judged by the exit status.
The spool lies in a new folder under DIR (default: the system's temporary
folder); its file system is shown, as a sync on tmpfs costs nothing.
"""
import argparse
import datetime
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

TOPIC = "kestrune-bench"
BAUD = 9600
BITS = 10  # 8N1
TAG_BYTES = 5
TAGS_AT_NS = 500_000_000  # the first tag, after the open
# Past the last tag: its framing, the publish and some slack.
SETTLE_S = 1.0
SYSCALLS = "pwrite64,write,fdatasync,fsync"


def xorshift32(state):
    state ^= (state << 13) & 0xFFFFFFFF
    state ^= state >> 17
    state ^= (state << 5) & 0xFFFFFFFF
    return state


def tag_schedule(seed, count, min_ns, max_ns):
    """The tags of `tags at TAGS_AT count COUNT bytes 5 spacing MIN MAX seed
    SEED` at 9600 8N1: (first byte's time on the line in ns, bytes) each."""
    duration = -(-TAG_BYTES * BITS * 10**9 // BAUD)
    state, start, tags = seed, TAGS_AT_NS, []
    for _ in range(count):
        data = []
        for _ in range(TAG_BYTES):
            state = xorshift32(state)
            data.append(state & 0xFF)
        state = xorshift32(state)
        spacing = min_ns + state * (max_ns - min_ns + 1) // 2**32
        tags.append((start, bytes(data)))
        start += max(spacing, duration)
    return tags


def seconds_text(ns):
    return "%d.%09d" % divmod(ns, 10**9)


def percentile(values, share):
    """Nearest rank."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def cpu_ticks(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    except OSError:
        return None


def run_time_ns(pid):
    total = 0
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as stat:
                    total += int(stat.read().split()[0])
            except OSError:
                pass
    except OSError:
        return None
    return total


def wake_ups(pid):
    """Voluntary context switches of the threads alive now."""
    total = 0
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/status" % (pid, task)) as status:
                    total += sum(int(line.split()[1]) for line in status
                                 if line.startswith("voluntary_ctxt_switches"))
            except OSError:
                pass
    except OSError:
        return None
    return total


def file_system_of(path):
    path = os.path.realpath(path)
    best, kind, device = "", "?", "?"
    with open("/proc/mounts") as mounts:
        for line in mounts:
            fields = line.split()
            point = fields[1].replace("\\040", " ")
            if (path == point or path.startswith(point.rstrip("/") + "/")) and len(point) >= len(best):
                best, kind, device = point, fields[2], fields[0]
    return "%s (%s)" % (kind, device)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(what, deadline_s, check):
    until = time.monotonic() + deadline_s
    while time.monotonic() < until:
        if check():
            return
        time.sleep(0.05)
    raise RuntimeError("gave up waiting for %s" % what)


class Subscriber:
    """mosquitto_sub on TOPIC/#, each line "ARRIVAL TOPIC PAYLOAD"."""

    def __init__(self, port, work):
        self.path = os.path.join(work, "subscribed.txt")
        self.process = subprocess.Popen(
            ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-t", TOPIC + "/#",
             "-F", "%U %t %p"], stdout=open(self.path, "w"), stderr=subprocess.DEVNULL)
        # Subscribed once a message published now comes back.
        def probe_back():
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-q", "1",
                            "-t", TOPIC + "/probe", "-m", "ready"], check=False,
                           stderr=subprocess.DEVNULL)
            return any(topic == TOPIC + "/probe" for _, topic, _ in self.lines())
        wait_for("the subscriber", 10, probe_back)

    def lines(self):
        with open(self.path, errors="replace") as text:
            for line in text:
                parts = line.rstrip("\n").split(" ", 2)
                if len(parts) == 3:
                    yield float(parts[0]), parts[1], parts[2]

    def events(self, topic):
        """(arrival, event) of every JSON message on topic or below it."""
        found = []
        for arrival, where, payload in self.lines():
            if (where == topic or where.startswith(topic + "/")) and payload.startswith("{"):
                try:
                    found.append((arrival, json.loads(payload)))
                except ValueError:
                    pass
        return found


class Station:
    """One run of the program; standard output, if read, stamped line by line."""

    def __init__(self, command, environment, work, name, read_output):
        self.stderr_path = os.path.join(work, name + ".stderr")
        self.lines = []
        self.process = subprocess.Popen(
            command, env=environment, stderr=open(self.stderr_path, "w"),
            stdout=subprocess.PIPE if read_output else subprocess.DEVNULL)
        self.started = time.monotonic()
        self.reader = None
        if read_output:
            self.reader = threading.Thread(target=self._read, daemon=True)
            self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append((time.time_ns() / 1e9, line))

    def stop(self, pid):
        try:
            os.kill(pid, signal.SIGINT)
        except ProcessLookupError:
            pass
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        if self.reader:
            self.reader.join(timeout=10)
        return self.process.returncode

    def stderr(self):
        with open(self.stderr_path, errors="replace") as text:
            return [line.rstrip("\n") for line in text if line.strip()]


def child_of(pid):
    """The program strace started."""
    def found():
        try:
            with open("/proc/%d/task/%d/children" % (pid, pid)) as children:
                return children.read().split()
        except OSError:
            return []
    wait_for("the program under strace", 10, found)
    return int(found()[0])


def check_tags(blocks, expected):
    """blocks: serial -> hex of each block, in order. Says what differs, or ''."""
    wrong = []
    for serial, tags in expected.items():
        got = blocks.get(serial, [])
        want = [tag.hex().upper() for _, tag in tags]
        if got != want:
            first = next((i for i, (g, w) in enumerate(zip(got, want)) if g != w),
                         min(len(got), len(want)))
            wrong.append("%s: %d blocks for %d tags, the first %d as sent"
                         % (serial, len(got), len(want), first))
    extra = sorted(set(blocks) - set(expected))
    if extra:
        wrong.append("blocks of unknown readers: %s" % ", ".join(extra))
    return "; ".join(wrong)


def blocks_by_serial(events):
    blocks = {}
    for event in events:
        if event.get("event") == "block":
            blocks.setdefault(event["serial"], []).append(event["hex"])
    return blocks


def latencies_ms(stamped_events):
    """From each block's "time" to its arrival, in ms."""
    return [(arrival - datetime.datetime.fromisoformat(event["time"]).timestamp()) * 1000
            for arrival, event in stamped_events if event.get("event") == "block"]


def count_strace(log, spool):
    """Writes and syncs by what they went to: {(kind, target): calls}."""
    call = re.compile(r"^\d+\s+(pwrite64|write|fdatasync|fsync)\((\d+)<([^>]*)>")
    spool = os.path.realpath(spool)
    counts = {}
    with open(log, errors="replace") as text:
        for line in text:
            found = call.match(line)
            if not found:
                continue
            name, path = found.group(1), found.group(3)
            kind = "sync" if name in ("fdatasync", "fsync") else "write"
            if path.startswith(spool + "/"):
                base = os.path.basename(path)
                target = "spool segments" if base.endswith(".seg") else "spool " + base
            elif path == spool:
                target = "spool folder"
            elif path.startswith(("TCP:", "TCPv6:")):
                target = "socket to the broker"
            elif path.startswith("UNIX"):
                target = "socket pair (wake-ups)"
            else:
                target = "other (%s)" % re.sub(r"\[.*\]", "", path)
            counts[(kind, target)] = counts.get((kind, target), 0) + 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--readers", type=int, default=16)
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--tags", type=int,
                        help="tags per reader (default: SECONDS' worth; 0: quiet readers for SECONDS)")
    parser.add_argument("--spacing", type=float, nargs=2, default=[0.1, 0.2], metavar=("MIN", "MAX"))
    parser.add_argument("--frame-gap", type=int, default=20)
    parser.add_argument("--spool-in", default=tempfile.gettempdir())
    options = parser.parse_args()
    program = os.path.join(options.build, "kestrune")
    if not os.access(program, os.X_OK):
        print("broker_latency: no program at %s: build first" % program, file=sys.stderr)
        return 2
    os.environ["PATH"] += ":/usr/sbin"
    for tool in ("mosquitto", "mosquitto_sub", "mosquitto_pub", "strace"):
        if not shutil.which(tool):
            print("broker_latency: %s is missing (.ci/install installs it)" % tool, file=sys.stderr)
            return 2
    min_ns, max_ns = (round(s * 1e9) for s in options.spacing)
    if options.readers < 1 or not 0 < min_ns <= max_ns:
        parser.error("readers and spacing must be positive, MIN <= MAX")
    per_reader = options.tags if options.tags is not None else max(
        1, int(options.seconds * 2e9 / (min_ns + max_ns)))
    if per_reader < 0:
        parser.error("--tags must not be negative")

    width = max(2, len(str(options.readers)))
    expected, text = {}, ""
    for i in range(options.readers):
        serial = "R%0*d" % (width, i + 1)
        expected[serial] = tag_schedule(i + 1, per_reader, min_ns, max_ns)
        text += 'bridge "%s"\n' % serial
        if per_reader:
            text += '  tags at %s count %d bytes %d spacing %s %s seed %d\n' % (
                seconds_text(TAGS_AT_NS), per_reader, TAG_BYTES, seconds_text(min_ns),
                seconds_text(max_ns), i + 1)
    last_ns = (max(tags[-1][0] for tags in expected.values()) if per_reader
               else round(options.seconds * 1e9))
    # From the program's start: its bridges open within a fraction of a second.
    window_s = 0.2 + last_ns / 1e9 + options.frame_gap / 1000 + SETTLE_S
    total_tags = options.readers * per_reader

    work = tempfile.mkdtemp(prefix="broker-latency-")
    spool_parent = tempfile.mkdtemp(prefix="broker-latency-spool-", dir=options.spool_in)
    scenario = os.path.join(work, "tags.scenario")
    with open(scenario, "w") as out:
        out.write(text)
    environment = dict(os.environ, HIDUART_SIM_SCENARIO=scenario)
    environment.pop("HIDUART_SIM_LOG", None)
    clock_tick = os.sysconf("SC_CLK_TCK")
    load_before = open("/proc/loadavg").read().split()[:3]

    broker = subscriber = None
    running = []
    try:
        port = free_port()
        broker = subprocess.Popen(["mosquitto", "-p", str(port)], stdout=subprocess.DEVNULL,
                                  stderr=open(os.path.join(work, "broker.log"), "w"))

        def broker_listens():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", port)) == 0
        wait_for("the broker", 10, broker_listens)
        subscriber = Subscriber(port, work)

        def mqtt_command(run):
            return [program, "--watch", "--quiet", "--frame-gap", str(options.frame_gap),
                    "--mqtt", "mqtt://127.0.0.1:%d/%s/%s" % (port, TOPIC, run),
                    "--spool", os.path.join(spool_parent, run),
                    "--mqtt-id", "kestrune-bench-%d-%s" % (os.getpid(), run)]

        def run(name, command, read_output=False, traced=False):
            """Runs the scenario to its end; CPU of the station, the broker and
            the subscriber over it (ticks, run time ns), and the exit code."""
            before = {p: (cpu_ticks(p), run_time_ns(p)) for p in (broker.pid, subscriber.process.pid)}
            station = Station(command, environment, work, name, read_output)
            running.append(station)
            pid = child_of(station.process.pid) if traced else station.process.pid
            time.sleep(max(0.0, station.started + window_s - time.monotonic()))
            wall = time.monotonic() - station.started
            used = {"station": (cpu_ticks(pid), run_time_ns(pid)), "wake-ups": wake_ups(pid)}
            for who, p in (("broker", broker.pid), ("subscriber", subscriber.process.pid)):
                used[who] = (cpu_ticks(p) - before[p][0], run_time_ns(p) - before[p][1])
            code = station.stop(pid)
            running.remove(station)
            return station, wall, used, code

        def delivered(topic):
            """The run's events at the subscriber, once its stop came (or 15 s)."""
            try:
                wait_for("the stop event", 15, lambda: any(
                    e.get("event") == "stop" for _, e in subscriber.events(topic)))
            except RuntimeError:
                pass
            return subscriber.events(topic)

        results = {}
        # 1. Without the client: JSON lines on standard output.
        station, wall, used, code = run(
            "plain", [program, "--watch", "--json", "--frame-gap", str(options.frame_gap)],
            read_output=True)
        printed = []
        for arrival, line in station.lines:
            try:
                printed.append((arrival, json.loads(line)))
            except ValueError:
                pass
        results["plain"] = dict(wall=wall, used=used, code=code, stderr=station.stderr(),
                                wrong=check_tags(blocks_by_serial(e for _, e in printed), expected),
                                latency=latencies_ms(printed))

        # 2. With the client.
        station, wall, used, code = run("mqtt", mqtt_command("mqtt"))
        events = delivered(TOPIC + "/mqtt")
        results["mqtt"] = dict(wall=wall, used=used, code=code, stderr=station.stderr(),
                               wrong=check_tags(blocks_by_serial(e for _, e in events), expected),
                               latency=latencies_ms(events),
                               seqs=[e["seq"] for _, e in events if "seq" in e])

        # 3. With the client, under strace.
        log = os.path.join(work, "strace.log")
        station, wall, used, code = run(
            "traced", ["strace", "-f", "--seccomp-bpf", "-qq", "-yy", "-e", "trace=" + SYSCALLS,
                       "-o", log] + mqtt_command("traced"), traced=True)
        events = delivered(TOPIC + "/traced")
        results["traced"] = dict(code=code, stderr=station.stderr(),
                                 wrong=check_tags(blocks_by_serial(e for _, e in events), expected),
                                 events=len({e["seq"] for _, e in events if "seq" in e}),
                                 counts=count_strace(log, os.path.join(spool_parent, "traced")))
    finally:
        for station in running:
            station.process.kill()
            station.process.wait()
        for process in (subscriber.process if subscriber else None, broker):
            if process:
                process.terminate()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(spool_parent, ignore_errors=True)

    plain, mqtt, traced = results["plain"], results["mqtt"], results["traced"]

    def share(ticks, wall):
        return "%.2f %%" % (ticks / clock_tick / wall * 100)

    def fine(ns, wall):
        return "%.2f %%" % (ns / 1e9 / wall * 100)

    def cpu(used, who, wall):
        ticks, ns = used[who]
        text = "%s (run time %s)" % (share(ticks, wall), fine(ns, wall))
        if who == "station":
            text += ", %.0f wake-ups/s" % (used["wake-ups"] / wall)
        return text

    def spread(values):
        if not values:
            return "no blocks"
        return "%.1f / %.1f / %.1f ms (%d blocks)" % (
            percentile(values, 0.5), percentile(values, 0.99), max(values), len(values))

    goal_ms = options.frame_gap + 50
    p99 = percentile(mqtt["latency"], 0.99) if mqtt["latency"] else float("inf")
    client_ticks = mqtt["used"]["station"][0] / mqtt["wall"] - plain["used"]["station"][0] / plain["wall"]
    client_ns = mqtt["used"]["station"][1] / mqtt["wall"] - plain["used"]["station"][1] / plain["wall"]
    with_client = mqtt["used"]["station"][0] / clock_tick / mqtt["wall"] * 100
    duplicates = len(mqtt["seqs"]) - len(set(mqtt["seqs"]))

    print("broker latency: %d readers, %s (%.1f s), frame gap %d ms"
          % (options.readers, "%d tags of %d bytes %g to %g ms apart" % (
              total_tags, TAG_BYTES, min_ns / 1e6, max_ns / 1e6) if total_tags else "quiet",
             last_ns / 1e9, options.frame_gap))
    print("machine: %d cores, %s, Linux %s, load average %s before, %s after; spool on %s"
          % (os.cpu_count(), next((line.split(": ", 1)[1].strip() for line in open("/proc/cpuinfo")
                                   if line.startswith("model name")), "?"),
             os.uname().release, " ".join(load_before),
             " ".join(open("/proc/loadavg").read().split()[:3]), file_system_of(options.spool_in)))
    for name, what in (("plain", "--json, standard output"), ("mqtt", "--mqtt, at the subscriber"),
                       ("traced", "--mqtt under strace, at the subscriber")):
        print("  every tag whole and in order per reader (%s): %s" % (
            what, "yes" if not results[name]["wrong"] else "NO: " + results[name]["wrong"]))
    print("  latency from a block's \"time\" to its arrival, p50 / p99 / max:")
    print("    at the subscriber (--mqtt):        %s%s"
          % (spread(mqtt["latency"]), "" if not mqtt["latency"] else
             "; goal p99 within %d ms (gap + 50): %s" % (goal_ms, "met" if p99 <= goal_ms else "NOT met")))
    print("    on standard output (no --mqtt):    %s" % spread(plain["latency"]))
    print("    (\"time\" is to the millisecond, floored: up to 1 ms of each figure is that)")
    print("  CPU over the scenario (utime+stime, share of one core; run time from schedstat):")
    print("    station without --mqtt: %s over %.1f s" % (cpu(plain["used"], "station", plain["wall"]),
                                                         plain["wall"]))
    print("    station with --mqtt:    %s over %.1f s; goal under 1 %%: %s"
          % (cpu(mqtt["used"], "station", mqtt["wall"]), mqtt["wall"],
             "met" if with_client < 1 else "NOT met"))
    print("    the client's share:     %.2f %% (run time %.2f %%)"
          % (client_ticks / clock_tick * 100, client_ns / 1e7))
    print("    broker:                 %s" % cpu(mqtt["used"], "broker", mqtt["wall"]))
    print("    subscriber:             %s" % cpu(mqtt["used"], "subscriber", mqtt["wall"]))
    events = traced["events"]
    print("  writes and syncs under strace (%s), %d events (%d blocks):"
          % (SYSCALLS, events, total_tags))
    counts = traced["counts"]
    if not counts:
        print("    nothing counted: strace could not trace the program")
    for target in sorted({target for _, target in counts}):
        writes, syncs = counts.get(("write", target), 0), counts.get(("sync", target), 0)
        print("    %-22s %6d writes (%.2f per event), %6d syncs (%.2f per event)"
              % (target, writes, writes / max(events, 1), syncs, syncs / max(events, 1)))
    print("  messages delivered twice (--mqtt): %d" % duplicates)
    print("  exit codes: %d without --mqtt, %d with, %d under strace"
          % (plain["code"], mqtt["code"], traced["code"]))
    for name in ("plain", "mqtt", "traced"):
        for line in results[name]["stderr"][:5]:
            print("  station (%s) said: %s" % (name, line))
    failed = any(results[name]["wrong"] or results[name]["code"] != 0 for name in results)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
