#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""A station publishing to Debian's mosquitto by itself (--mqtt), through
broker outages. Starts its own broker (persistent, loopback only) and a
subscriber the broker remembers by its client id, then, with 16 simulated readers sending
timed tags:

  outage      the broker stops for --outage seconds while tags come
  killed      the broker stops, the station is killed (SIGKILL) and started
              again with the same spool while the broker is down
  no-broker   the station starts while no broker runs, then the broker starts

Each time, once the broker is back, every tag must reach the subscriber at
least once, in order per reader, and exactly once after dropping repeated
seq values, with seq rising; the events published must be those written on
standard output; the retained status must be online while the station runs
and offline after it stops, and each reader must have its retained topic.
Then, briefly: URLs and credentials that can never work (exit status 4),
a broker that refuses a password (and takes the right one, with its last
will), and a spool that fills while the broker is down.

    tests/mqtt/broker_outages.py [--build DIR] [--outage SECONDS] [--only NAME]...
                                 [--keep] [-- [EMULATOR...] PROGRAM]

PROGRAM defaults to DIR/kestrune; EMULATOR, if given, runs it (wine for the
Windows program), with the simulated library beside it. Prints what differs
and exits 1 on any failure.
"""
import argparse
import json
import os
import pwd
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_reports import scenario_bridges  # noqa: E402

HOST = "127.0.0.1"
TOOLS_PATH = os.environ.get("PATH", "") + ":/usr/sbin:/usr/local/sbin"
# What a reader's topic may hold once its serial string is encoded.
ENCODED = re.compile(r"^[A-Za-z0-9._%-]+$")
# Programs started here, ended at the end whatever happens.
started = []


class Failed(Exception):
    """A goal cannot go on; what was seen so far is reported."""


def tool(name):
    found = shutil.which(name, path=TOOLS_PATH)
    if not found:
        raise Failed("%s is missing (.ci/install installs it)" % name)
    return found


def wait_for(predicate, limit):
    """Polls PREDICATE every 0.1 s until it holds (True) or LIMIT seconds
    have passed (False)."""
    deadline = time.monotonic() + limit
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def free_port():
    """A free port below the range the system hands out to outgoing
    connections, so that none of those takes it while the broker is down."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        low = 32768
    for port in random.sample(range(10000, max(low, 10001)), min(50, max(low - 10000, 1))):
        with socket.socket() as s:
            try:
                s.bind((HOST, port))
                return port
            except OSError:
                continue
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def read_lines(path):
    """The whole lines of a file another process may still be writing."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    return text.split("\n")[:-1]


def readers_scenario(serials, count, spacing, seed):
    """Readers sending COUNT tags of 5 bytes from 0.3 s on, SPACING (min,
    max) apart, a seed of their own each."""
    return "".join(
        'bridge "%s"\n  tags at 0.3 count %d bytes 5 spacing %g %g seed %d\n'
        % (serial, count, spacing[0], spacing[1], seed + i)
        for i, serial in enumerate(serials)
    )


def expected_tags(text):
    return {serial: plugged[0] for serial, plugged in scenario_bridges(text).items()}


class Broker:
    """Debian's mosquitto on a free loopback port, with a configuration file
    and a persistence folder of its own; stopped and started again on the
    same port."""

    def __init__(self, work, name, settings):
        self.folder = os.path.join(work, name)
        os.makedirs(os.path.join(self.folder, "db"))
        # Started as root, mosquitto runs as its own user, which must be able
        # to save its database.
        if os.geteuid() == 0:
            user = pwd.getpwnam("mosquitto")
            os.chown(os.path.join(self.folder, "db"), user.pw_uid, user.pw_gid)
        os.chmod(self.folder, 0o755)
        self.settings = settings
        self.log = os.path.join(self.folder, "log")
        self.process = None
        self.port = None

    def _configure(self):
        self.port = free_port()
        with open(os.path.join(self.folder, "mosquitto.conf"), "w") as f:
            f.write(
                "listener %d %s\n" % (self.port, HOST)
                + "persistence true\npersistence_location %s/db/\n" % self.folder
                # The subscriber's queue holds every event of an outage.
                + "max_queued_messages 100000\n"
                + "".join(line + "\n" for line in self.settings)
            )

    def _runs(self):
        return sum(" running" in line for line in read_lines(self.log))

    def start(self):
        for _ in range(5):
            if self.port is None:
                self._configure()
            before = self._runs()
            with open(self.log, "a") as log:
                self.process = subprocess.Popen(
                    [tool("mosquitto"), "-c", os.path.join(self.folder, "mosquitto.conf")],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
            started.append(self.process)
            wait_for(lambda: self._runs() > before or self.process.poll() is not None, 30)
            if self.process.poll() is None and self._runs() > before:
                return
            self.stop()
            if "Address already in use" not in "\n".join(read_lines(self.log)[-3:]):
                break
            # Taken meanwhile: before the first start another port; later
            # clients know this one, so it is tried again.
            if before == 0:
                self.port = None
            else:
                time.sleep(1)
        raise Failed("mosquitto would not start: %s" % "\n".join(read_lines(self.log)[-5:]))

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(30)
        self.process = None

    def retained(self, topic_filter, count, credentials=()):
        """The retained messages under TOPIC_FILTER, as {topic: payload};
        waits for COUNT of them, or 10 s."""
        result = subprocess.run(
            [tool("mosquitto_sub"), "-h", HOST, "-p", str(self.port), "-t", topic_filter, "-v",
             "--retained-only", "-C", str(count), "-W", "10"] + list(credentials),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        found = {}
        for line in result.stdout.decode(errors="replace").splitlines():
            topic, _, payload = line.partition(" ")
            found[topic] = payload
        return found


class Subscriber:
    """mosquitto_sub, remembered by the broker by its client id, on TOPIC/#: it gets what was
    published while it or the broker was away."""

    def __init__(self, broker, topic, work):
        self.broker, self.topic = broker, topic
        self.name = "check-" + topic.replace("/", "-")
        self.output = os.path.join(work, self.name + ".messages")
        self.process = None

    def start(self):
        with open(self.output, "a") as output:
            self.process = subprocess.Popen(
                [tool("mosquitto_sub"), "-h", HOST, "-p", str(self.broker.port), "-c", "-i", self.name,
                 "-q", "1", "-t", self.topic + "/#", "-v"],
                stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.DEVNULL)
        started.append(self.process)

        def probe_seen():
            subprocess.run([tool("mosquitto_pub"), "-h", HOST, "-p", str(self.broker.port),
                            "-t", self.topic + "/probe", "-m", "ready", "-q", "1"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            return (self.topic + "/probe ready") in self.lines()

        if not wait_for(probe_seen, 30):
            raise Failed("the subscriber on %s/# got no probe" % self.topic)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(30)

    def lines(self):
        return read_lines(self.output)

    def events(self):
        """The JSON objects on TOPIC itself, each with its seq, repeats
        included; payloads that are no such object are left aside here."""
        events = []
        for line in self.lines():
            topic, _, payload = line.partition(" ")
            if topic == self.topic:
                try:
                    event = json.loads(payload)
                except ValueError:
                    continue
                if isinstance(event, dict):
                    events.append(event)
        return events

    def unique_blocks(self):
        return len({e.get("seq") for e in self.events() if e.get("event") == "block"})

    def statuses(self):
        return [line.partition(" ")[2] for line in self.lines()
                if line.partition(" ")[0] == self.topic + "/status"]


class Station:
    """One run of the program, its standard output and error in files."""

    def __init__(self, command, work, name, scenario_text, arguments, environment=None):
        self.name = name
        self.scenario = os.path.join(work, name + ".scenario")
        with open(self.scenario, "w") as f:
            f.write(scenario_text)
        self.tags = expected_tags(scenario_text)
        self.stdout = os.path.join(work, name + ".out")
        self.stderr = os.path.join(work, name + ".err")
        self.command = command + arguments
        self.environment = dict(os.environ, HIDUART_SIM_SCENARIO=self.scenario, **(environment or {}))
        self.environment.pop("HIDUART_SIM_LOG", None)
        self.process = None
        self.code = None

    def start(self):
        with open(self.stdout, "w") as out, open(self.stderr, "w") as err:
            self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err, env=self.environment)
        started.append(self.process)

    def running(self):
        return self.process.poll() is None

    def send(self, number):
        if self.running():
            self.process.send_signal(number)

    def wait(self, limit):
        """The exit code, or None if it had to be killed after LIMIT s."""
        try:
            self.code = self.process.wait(limit)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            self.code = None
        return self.code

    def output_events(self):
        events = []
        for line in read_lines(self.stdout):
            try:
                events.append(json.loads(line))
            except ValueError:
                pass
        return events

    def output_blocks(self):
        return sum(e.get("event") == "block" for e in self.output_events())

    def errors(self):
        return [line.rstrip("\r") for line in read_lines(self.stderr)]

    def describe(self):
        return "%s: %s\n  standard error:\n%s" % (
            self.name, " ".join(self.command),
            "".join("    %s\n" % line for line in self.errors()[-20:]) or "    (empty)\n")


def broker_lines(station, broker):
    """The station's lines about the broker, in order, as ("lost"|"reached",
    waiting count), and the lines on standard error that are none of the
    known ones."""
    address = re.escape("%s:%d" % (HOST, broker.port))
    lost = re.compile(r"^kestrune: MQTT broker %s is lost \(.+\); (\d+) events? waits? in the spool$" % address)
    reached = re.compile(r"^kestrune: MQTT broker %s is reached again; (\d+) events? waits? in the spool$"
                         % address)
    found, unknown = [], []
    for line in station.errors():
        for kind, pattern in (("lost", lost), ("reached", reached)):
            match = pattern.match(line)
            if match:
                found.append((kind, int(match.group(1))))
                break
        else:
            if not line.startswith("kestrune: spool "):
                unknown.append(line)
    return found, unknown


def without_seq(event):
    return {key: value for key, value in event.items() if key != "seq"}


def by_serial(events):
    streams = {}
    for event in events:
        streams.setdefault(event.get("serial"), []).append(event)
    return streams


def difference(what, name, got, other, expected):
    """Where two lists part, briefly."""
    first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
    return "%s: %d %s, %d %s; from %d on, %s %s, %s %s" % (
        what, len(got), name, len(expected), other, first, name, got[first:first + 1], other,
        expected[first:first + 1])


def check_events(subscriber, stations):
    """The events on the topic against the station runs that published them,
    in the order they ran; each run's first event is its start."""
    problems = []
    kept, seen, repeats = [], {}, 0
    for line in subscriber.lines():
        topic, _, payload = line.partition(" ")
        if topic != subscriber.topic:
            continue
        try:
            event = json.loads(payload)
        except ValueError as error:
            problems.append("a message is not JSON (%s): %r" % (error, payload))
            continue
        seq = event.get("seq") if isinstance(event, dict) else None
        if not isinstance(seq, int) or isinstance(seq, bool):
            problems.append("a message has no whole number seq: %r" % payload)
            continue
        if seq in seen:
            repeats += 1
            if seen[seq] != event:
                problems.append("seq %d stands for two events:\n  %s\n  %s" % (seq, seen[seq], event))
            continue
        if kept and seq <= kept[-1]["seq"]:
            problems.append("seq %d comes after %d" % (seq, kept[-1]["seq"]))
        seen[seq] = event
        kept.append(event)

    runs = []
    for event in kept:
        if event["event"] == "start":
            runs.append([])
        elif not runs:
            problems.append("an event before the first start: %s" % event)
            continue
        runs[-1].append(event)
    if len(runs) != len(stations):
        problems.append("%d runs published (start events), not %d" % (len(runs), len(stations)))

    for station, events in zip(stations, runs):
        where = station.name + ": "
        streams = by_serial(events)
        for serial, tags in station.tags.items():
            blocks = [bytes.fromhex(e["hex"]) for e in streams.get(serial, []) if e.get("event") == "block"]
            if blocks != tags:
                problems.append(where + difference(serial + ": tags", "published", blocks, "sent", tags))
            if not any(e["event"] == "connected" for e in streams.get(serial, [])):
                problems.append(where + "no connected event of %s" % serial)
        for serial in set(streams) - set(station.tags) - {None}:
            problems.append(where + "events of a reader it does not have: %r" % serial)
        stop = [i for i, e in enumerate(events) if e["event"] == "stop"]
        if station.code == 0 and stop != [len(events) - 1]:
            problems.append(where + "the stop is not published once, last (at %s of %d events)"
                            % (stop, len(events)))
        if station.code != 0 and stop:
            problems.append(where + "a stop published by a run that was killed")
        # What it wrote is what it published, reader by reader.
        written = by_serial(without_seq(e) for e in station.output_events())
        published = by_serial(without_seq(e) for e in events)
        for serial in sorted(set(written) | set(published), key=str):
            a, b = written.get(serial, []), published.get(serial, [])
            if a != b:
                problems.append(where + difference("%s: events" % serial, "written", a, "published", b))
    return problems, len(kept), repeats


def check_readers(broker, topic, serials, connected):
    """Each reader's retained topic: its serial string encoded, JSON with the
    serial and whether it is connected."""
    problems = []
    retained = broker.retained(topic + "/readers/#", len(serials))
    found = {}
    for name, payload in retained.items():
        encoded = name[len(topic + "/readers/"):]
        serial = urllib.parse.unquote(encoded)
        if not ENCODED.match(encoded):
            problems.append("reader topic %r is not encoded" % name)
        try:
            state = json.loads(payload)
        except ValueError:
            problems.append("reader topic %s holds no JSON: %r" % (name, payload))
            continue
        if not isinstance(state, dict) or state.get("serial") != serial \
                or not isinstance(state.get("connected"), bool):
            problems.append("reader topic %s holds %r" % (name, payload))
            continue
        found[serial] = state["connected"]
    if sorted(found) != sorted(serials):
        problems.append("reader topics for %s, not for %s" % (sorted(found), sorted(serials)))
    if any(state != connected for state in found.values()):
        problems.append("readers connected %s, not all %s" % (found, connected))
    return problems


def stop_and_check(goal, broker, subscriber, stations, limits):
    """Stops the last station with SIGINT, checks the retained topics before
    and after, and everything the subscriber got."""
    station = stations[-1]
    topic = subscriber.topic
    problems = []
    status = broker.retained(topic + "/status", 1).get(topic + "/status")
    if status != "online":
        problems.append("retained status %r while the station runs, not online" % status)
    problems += check_readers(broker, topic, list(station.tags), True)
    station.send(signal.SIGINT)
    if station.wait(limits.exit) != 0:
        problems.append("exit status %s after SIGINT, not 0\n%s" % (station.code, station.describe()))
    if not wait_for(lambda: subscriber.statuses()[-1:] == ["offline"], limits.arrive):
        problems.append("the subscriber's last status is %s, not offline" % subscriber.statuses()[-1:])
    status = broker.retained(topic + "/status", 1).get(topic + "/status")
    if status != "offline":
        problems.append("retained status %r after the stop, not offline" % status)
    problems += check_readers(broker, topic, list(station.tags), False)
    subscriber.stop()
    found, count, repeats = check_events(subscriber, stations)
    problems += found
    print("%s: %d events published, %d repeats dropped" % (goal, count, repeats))
    return problems


def all_published(subscriber, total):
    return lambda: subscriber.unique_blocks() >= total


def goal_outage(context):
    """The broker stops for a while as 16 readers send tags, 2 to 2.5 s apart
    each, from before the outage to seconds after it."""
    broker, limits = context.broker, context.limits
    count = int((5 + context.outage + 5) / 2.0) + 1
    station = context.station("outage", readers_scenario(context.serials, count, (2.0, 2.5), 101),
                              ["--watch", "--json"])
    subscriber = context.subscriber("outage")
    total = sum(len(tags) for tags in station.tags.values())
    station.start()
    problems = []
    # Three tags of each reader published, then the outage.
    if not wait_for(all_published(subscriber, 48), limits.start + 5):
        raise Failed("no first tags published\n" + station.describe())
    broker.stop()
    time.sleep(context.outage)
    broker.start()
    if not wait_for(all_published(subscriber, total), 2.5 * count + limits.arrive):
        problems.append("%d of %d tags published" % (subscriber.unique_blocks(), total))
    found, unknown = broker_lines(station, broker)
    if [kind for kind, _ in found] != ["lost", "reached"] or found[1][1] == 0:
        problems.append("the broker's loss and return told %s, not once each with events waiting" % found)
    problems += ["unexpected line on standard error: %r" % line for line in unknown]
    return problems + stop_and_check("outage", broker, subscriber, [station], limits)


def goal_killed(context):
    """The broker stops; the station is killed once its readers are quiet,
    started again with the same spool and other tags, and the broker comes
    back while those tags come."""
    broker, limits = context.broker, context.limits
    arguments = ["--watch", "--json"]
    first = context.station("killed-1", readers_scenario(context.serials, 4, (1.0, 1.5), 201), arguments)
    second = context.station("killed-2", readers_scenario(context.serials, 6, (1.0, 1.5), 301), arguments)
    subscriber = context.subscriber("killed")
    problems = []
    first.start()
    if not wait_for(all_published(subscriber, 16), limits.start):
        raise Failed("no first tags published\n" + first.describe())
    broker.stop()
    if not wait_for(lambda: first.output_blocks() >= 64, 4.5 + limits.arrive):
        raise Failed("not every tag written by the first run\n" + first.describe())
    # Every tag is written: a margin for its spool, then the kill.
    time.sleep(2)
    first.send(signal.SIGKILL)
    first.wait(limits.exit)
    second.start()
    if not wait_for(lambda: second.output_blocks() >= 32, limits.start + 3):
        raise Failed("the second run wrote no tags\n" + second.describe())
    broker.start()
    total = 64 + 96
    if not wait_for(all_published(subscriber, total), 7.5 + limits.arrive):
        problems.append("%d of %d tags published" % (subscriber.unique_blocks(), total))
    found, unknown = broker_lines(first, broker)
    if [kind for kind, _ in found] != ["lost"]:
        problems.append("the first run told %s of the broker, not its loss once" % found)
    later, unknown_later = broker_lines(second, broker)
    if [kind for kind, _ in later] not in ([], ["reached"], ["lost", "reached"]):
        problems.append("the second run told %s of the broker" % later)
    problems += ["unexpected line on standard error: %r" % line for line in unknown + unknown_later]
    return problems + stop_and_check("killed", broker, subscriber, [first, second], limits)


def goal_no_broker(context):
    """The station starts with no broker; one reader's serial string needs
    encoding in its topic."""
    broker, limits = context.broker, context.limits
    serials = context.serials[:-1] + ["S15 a+b/c"]
    station = context.station("no-broker", readers_scenario(serials, 6, (0.8, 1.2), 401), ["--watch", "--json"])
    subscriber = context.subscriber("no-broker")
    total = 96
    problems = []
    broker.stop()
    station.start()
    if not wait_for(lambda: station.output_blocks() >= 32, limits.start + 2):
        raise Failed("the station wrote no tags\n" + station.describe())
    broker.start()
    if not wait_for(all_published(subscriber, total), 6.3 + limits.arrive):
        problems.append("%d of %d tags published" % (subscriber.unique_blocks(), total))
    found, unknown = broker_lines(station, broker)
    if [kind for kind, _ in found] not in ([], ["reached"], ["lost", "reached"]):
        problems.append("the station told %s of the broker" % found)
    problems += ["unexpected line on standard error: %r" % line for line in unknown]
    return problems + stop_and_check("no-broker", broker, subscriber, [station], limits)


def check_refused(context):
    """What can never work ends the run with status 4 and says what; a
    misused command line stays status 2."""
    limits = context.limits
    port = context.broker.port
    good = "mqtt://%s:%d/kestrune/refused" % (HOST, port)
    missing = os.path.join(context.work, "no-such-folder", "credentials")
    spool = os.path.join(context.work, "spool-refused")
    cases = [
        # arguments, exit status, what the message names (one of)
        (["--watch", "--mqtt", "ftp://%s:%d/kestrune" % (HOST, port)], 4, ("ftp://", "--mqtt")),
        (["--watch", "--mqtt", "mqtt://%s:99999/kestrune" % HOST], 4, ("99999",)),
        (["--watch", "--mqtt", "mqtt://%s:%d/" % (HOST, port)], 4, ("mqtt://", "--mqtt", "topic")),
        (["--watch", "--mqtt", "mqtt:/%s/kestrune" % HOST], 4, ("mqtt:/", "--mqtt")),
        (["--watch", "--mqtt", good, "--mqtt-credentials", missing, "--spool", spool], 4, (missing, "credentials")),
        (["--watch", "--mqtt", good, "--spool", context.broker.log], 4, ("spool",)),
        (["--watch", "--mqtt"], 2, ("--mqtt",)),
        (["--mqtt", good], 2, ("--mqtt",)),
    ]
    problems = []
    scenario = readers_scenario(["R1"], 2, (0.5, 0.5), 7)
    for number, (arguments, code, named) in enumerate(cases):
        station = context.station("refused-%d" % number, scenario, arguments)
        station.start()
        if station.wait(limits.exit) != code:
            problems.append("exit status %s, not %d\n%s" % (station.code, code, station.describe()))
        elif not any(line.startswith("kestrune: ") and any(text in line for text in named)
                     for line in station.errors()):
            problems.append("no line naming %s on standard error\n%s" % (" or ".join(named), station.describe()))
    return problems


def check_credentials(context):
    """A broker that lets in one user: a wrong password, from the file or
    the environment, ends the run with status 4; the right one is taken, and
    a station killed while connected leaves its last will."""
    limits = context.limits
    folder = os.path.join(context.work, "users")
    os.makedirs(folder)
    passwords = os.path.join(folder, "passwords")
    subprocess.run([tool("mosquitto_passwd"), "-c", "-b", passwords, "station", "right horse"],
                   check=True, stdout=subprocess.DEVNULL)
    os.chmod(passwords, 0o644)
    broker = Broker(context.work, "broker-users", ["allow_anonymous false", "password_file " + passwords])
    context.brokers.append(broker)
    broker.start()
    login = ["-u", "station", "-P", "right horse"]

    def credentials(name, user, password):
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write("%s\n%s\n" % (user, password))
        return path

    scenario = readers_scenario(["R1"], 2, (0.5, 0.5), 7)
    problems = []
    for number, (how, user, password, works) in enumerate([
        ("file", "station", "wrong horse", False),
        ("environment", "station", "wrong horse", False),
        ("environment", "nobody", "right horse", False),
        ("file", "station", "right horse", True),
        ("environment", "station", "right horse", True),
    ]):
        topic = "kestrune/users-%d" % number
        # The framed sweep publishes as station mode does.
        arguments = ["--frame-gap", "20", "--mqtt", "mqtt://%s:%d/%s" % (HOST, broker.port, topic),
                     "--mqtt-id", "users-%d" % number, "--spool", os.path.join(folder, "spool-%d" % number)]
        environment = {}
        if how == "file":
            arguments += ["--mqtt-credentials", credentials("credentials-%d" % number, user, password)]
        else:
            environment = {"KESTRUNE_MQTT_USERNAME": user, "KESTRUNE_MQTT_PASSWORD": password}
        station = context.station("users-%d" % number, scenario, arguments, environment)
        station.start()
        case = "%s, user %s, password %s: " % (how, user, password)
        if not works:
            if station.wait(limits.exit) != 4:
                problems.append(case + "exit status %s, not 4\n%s" % (station.code, station.describe()))
            elif not any(line.startswith("kestrune: ") for line in station.errors()):
                problems.append(case + "no message\n" + station.describe())
            continue
        if not wait_for(lambda: not station.running() or broker.retained(
                topic + "/status", 1, login).get(topic + "/status") == "online", limits.start) \
                or not station.running():
            problems.append(case + "no retained online status\n" + station.describe())
        if how == "file":
            # Killed while connected: the broker publishes its last will.
            station.send(signal.SIGKILL)
            station.wait(limits.exit)
        else:
            station.send(signal.SIGINT)
            if station.wait(limits.exit) != 0:
                problems.append(case + "exit status %s after SIGINT\n%s" % (station.code, station.describe()))
        status = broker.retained(topic + "/status", 1, login).get(topic + "/status")
        if status != "offline":
            problems.append(case + "retained status %r once it ended, not offline" % status)
    broker.stop()
    return problems


def check_full_spool(context):
    """16 readers fill the smallest spool while the broker is down: it says
    so, goes on, and publishes again once the broker is back."""
    broker, limits = context.broker, context.limits
    station = context.station("full-spool", readers_scenario(context.serials, 400, (0.05, 0.1), 501),
                              ["--watch", "--quiet", "--spool-size", "64K"])
    subscriber = context.subscriber("full-spool")
    problems = []
    broker.stop()
    station.start()

    def full():
        return any(line.startswith("kestrune: spool %s is full" % os.path.join(context.work, "spool-full-spool"))
                   for line in station.errors())

    if not wait_for(lambda: full() or not station.running(), limits.start + 20) or not full():
        problems.append("no line saying the spool is full\n" + station.describe())
    if not station.running():
        raise Failed("the station ended with a full spool\n" + station.describe())
    broker.start()

    def positions():
        """Where each reader's published tags stand among those it sent."""
        found = {}
        for event in subscriber.events():
            if event.get("event") == "block":
                tags = station.tags.get(event.get("serial"), [])
                tag = bytes.fromhex(event["hex"])
                found.setdefault(event.get("serial"), []).append(tags.index(tag) if tag in tags else -1)
        return found

    def resumed():
        # Tags left out, then at least three published again.
        for indices in positions().values():
            gaps = [i for i in range(1, len(indices)) if indices[i] - indices[i - 1] > 1]
            if gaps and len(indices) - gaps[0] >= 3:
                return True
        return False

    if not wait_for(resumed, limits.arrive):
        problems.append("no tags published after those left out: %s" % positions())
    station.send(signal.SIGINT)
    if station.wait(limits.exit) != 0:
        problems.append("exit status %s after SIGINT, not 0\n%s" % (station.code, station.describe()))
    if not wait_for(lambda: subscriber.statuses()[-1:] == ["offline"], limits.arrive):
        problems.append("the last status is %s, not offline" % subscriber.statuses()[-1:])
    subscriber.stop()
    # Whatever was published is each reader's tags in order, with gaps only.
    for serial, indices in positions().items():
        unique = list(dict.fromkeys(indices))
        if unique != sorted(unique) or -1 in unique:
            problems.append("%s: tags published out of order or never sent: %s" % (serial, unique))
    if os.path.getsize(station.stdout):
        problems.append("--quiet, yet standard output holds %r" % read_lines(station.stdout)[:2])
    found, unknown = broker_lines(station, broker)
    problems += ["unexpected line on standard error: %r" % line for line in unknown]
    return problems


def end(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Limits:
    def __init__(self, emulated):
        scale = 3 if emulated else 1
        self.start = 20 * scale   # until a station's first events
        self.exit = 30 * scale    # until a station ends
        self.arrive = 30 * scale  # until what was sent has arrived


class Context:
    def __init__(self, command, work, outage, emulated):
        self.command, self.work, self.outage = command, work, outage
        self.limits = Limits(emulated)
        self.serials = ["S%02d" % i for i in range(16)]
        self.broker = Broker(work, "broker", ["allow_anonymous true"])
        self.brokers = [self.broker]
        self.subscribers = []

    def station(self, name, scenario, arguments, environment=None):
        """A station; with --mqtt not given, one on this goal's topic of the
        main broker, with a spool and client id of the goal's own."""
        if "--mqtt" not in arguments and not name.startswith("refused"):
            goal = re.sub(r"-\d+$", "", name)
            arguments = arguments + ["--mqtt", "mqtt://%s:%d/kestrune/%s" % (HOST, self.broker.port, goal),
                                     "--mqtt-id", "station-" + goal,
                                     "--spool", os.path.join(self.work, "spool-" + goal)]
        return Station(self.command, self.work, name, scenario, arguments, environment)

    def subscriber(self, goal):
        if self.broker.process is None:
            self.broker.start()
        subscriber = Subscriber(self.broker, "kestrune/" + goal, self.work)
        self.subscribers.append(subscriber)
        subscriber.start()
        return subscriber


CHECKS = [
    ("outage", goal_outage),
    ("killed", goal_killed),
    ("no-broker", goal_no_broker),
    ("refused", check_refused),
    ("credentials", check_credentials),
    ("full-spool", check_full_spool),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--outage", type=float, default=30.0)
    parser.add_argument("--only", action="append", choices=[name for name, _ in CHECKS])
    parser.add_argument("--keep", action="store_true", help="keeps the work folder, and says where")
    parser.add_argument("command", nargs="*")
    options = parser.parse_args()
    command = options.command or [os.path.join(options.build, "kestrune")]
    # The end-to-end runs under valgrind: this one would run the program as
    # it does anyway, for minutes.
    if os.environ.get("KESTRUNE_E2E_VALGRIND", "").upper() in ("ON", "1", "TRUE", "YES", "Y"):
        print("broker outages: skipped, the program is not run under valgrind here")
        return 77

    work = tempfile.mkdtemp(prefix="broker-outages-")
    os.chmod(work, 0o755)
    context = Context(command, work, options.outage, len(command) > 1)
    failures = 0
    began = time.monotonic()
    try:
        context.broker.start()
        for name, check in CHECKS:
            if options.only and name not in options.only:
                continue
            at = time.monotonic()
            try:
                problems = check(context)
            except (Failed, subprocess.SubprocessError, OSError) as error:
                problems = [str(error)]
            # What a failed check left running goes, but for the main broker.
            for process in started:
                if process is not context.broker.process:
                    end(process)
            for problem in problems:
                print("FAIL %s: %s" % (name, problem))
            failures += bool(problems)
            print("%s: %s (%.0f s)" % (name, "failed" if problems else "passed", time.monotonic() - at))
            sys.stdout.flush()
    finally:
        for process in started:
            end(process)
        if options.keep:
            print("broker outages: the work folder is %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("broker outages: %s in %.0f s, outage %g s" % (
        "%d of the checks failed" % failures if failures else "every check passed",
        time.monotonic() - began, options.outage))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
