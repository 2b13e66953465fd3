#!/usr/bin/python3
"""The bridge's E1.31 and Art-Net output as an independent receiver sees it:
Debian's olad, fed by the bridge inside a network namespace of the test's own
that has only loopback and a link leading nowhere, so nothing either of them
sends (olad's Art-Net polls included) can leave the machine.

    tests/bridge_receivers_test.py BRIDGE_BINARY

Sends the bridge one OPC frame in which every LED has its own colour and
checks every channel olad received, for E1.31 unicast, E1.31 multicast,
Art-Net and an E1.31 URL with options, then with --brightness 50 that a
connected but silent client keeps the universes refreshed and that they go
black when it leaves; after SIGTERM, that olad saw every E1.31 stream ended
(it says so only in its log, at level 3). Channels are numbered from 1 as
on a DMX desk. Says PASS or FAIL for each check; exits 0 when all passed, 1
when one failed, and 77 (skipped) with the reason when it is not root or
olad, its Python client or network namespaces are missing.

Needs root and Debian's ola, ola-python and iproute2; runs with Debian's
Python (/usr/bin/python3), whose ola module is the one olad comes with.
"""

import ctypes
import dataclasses
import importlib
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77

# The wall: 32x16 LEDs, eight 8x8 panels.
WIDTH, HEIGHT, PANEL = 32, 16, 8
LEDS = WIDTH * HEIGHT

OPC_PORT = 7890
OLAD_RPC_PORT = 9010  # olad's default, but this namespace's own
OLAD_USER = 65534  # nobody: olad refuses to run as root
# olad's E1.31 plugin (0.10) takes only an interface that is not loopback, and
# joins its multicast groups there. It gets one that exists only in this
# namespace (one end of a veth pair whose other end is here too), with a
# loopback address.
STAND_IN = "ledwall0"
STAND_IN_PEER = "ledwall1"
STAND_IN_ADDRESS = "127.0.0.2"
# olad's Art-Net ports listen on port-address net:subnet:(OLA universe % 16).
ARTNET_OLA_BASE = 32

# Plugins olad 0.10.9 knows besides the two used; each is switched off so that
# it neither opens devices nor listens.
OTHER_PLUGINS = ("dummy", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
                 "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
                 "stageprofi", "uartdmx", "usbdmx", "usbserial")

DATA_WAIT_S = 3.0  # a frame goes out when it arrives: this is only slack
KEEP_ALIVE_S = 3.2  # past the 2.5 s after which receivers drop a silent source
KEEP_ALIVE_UPDATES = 2  # re-sent once a second: three, give or take one
TEST_TIME_LIMIT_S = 50

failures = 0


def say(line):
    print(line, flush=True)


def check(ok, what, details=()):
    global failures
    say(("PASS: " if ok else "FAIL: ") + what)
    if not ok:
        failures += 1
        for line in details:
            say("    " + line)
    return ok


def skip(reason):
    say(f"SKIP: {reason}")
    sys.exit(SKIP)


class Abort(Exception):
    """A step the rest depends on failed: what, and lines that may say why."""

    def __init__(self, what, details=()):
        super().__init__(what)
        self.details = list(details)


# --- The picture and what a controller should get ------------------------

def wall_led(x, y):
    """The LED index of image pixel (x, y), written again here from the wall's
    wiring as the demo describes it in words (not from its code): eight 8x8
    panels, four across and two down, chained left to right along the top
    half, then along the bottom half; inside a panel the rows run top to
    bottom, even rows left to right, odd rows right to left."""
    panel = (y // PANEL) * (WIDTH // PANEL) + x // PANEL
    row, column = y % PANEL, x % PANEL
    if row % 2 == 1:
        column = PANEL - 1 - column
    return panel * PANEL * PANEL + row * PANEL + column


def colour(x, y):
    """Every pixel its own colour; red, green and blue are 3, 2 and 1 modulo 4,
    so a channel in another's place never matches by chance."""
    return (8 * x + 3, 16 * y + 6, 4 * ((7 * x + 13 * y) % 64) + 1)


def opc_frame():
    """One OPC message (channel 0, command 0) with the picture in LED order."""
    pixels = [None] * LEDS
    for y in range(HEIGHT):
        for x in range(WIDTH):
            pixels[wall_led(x, y)] = colour(x, y)
    payload = bytes(c for pixel in pixels for c in pixel)
    return bytes([0, 0, len(payload) >> 8, len(payload) & 0xFF]) + payload


def controller_channels(colours="rgb", brightness_pct=100):
    """What a controller in the default order (rows: left to right, top to
    bottom) gets: one value per channel, scaled but not yet rounded."""
    values = []
    for y in range(HEIGHT):
        for x in range(WIDTH):
            rgb = dict(zip("rgb", colour(x, y)))
            values += [rgb[c] * brightness_pct / 100 for c in colours]
    return values


def universes_of(values, size):
    return [values[i:i + size] for i in range(0, len(values), size)]


@dataclasses.dataclass
class Output:
    name: str
    url: str
    kind: str  # "e131" or "artnet"
    first: int  # E1.31 universe or Art-Net port-address
    expected: list  # per universe: the channels' values

    def ola_universes(self):
        base = ARTNET_OLA_BASE if self.kind == "artnet" else 0
        return [base + self.first + i for i in range(len(self.expected))]


def multicast_group(universe):
    return f"239.255.{universe >> 8}.{universe & 0xFF}"


# --- Processes and the namespace -------------------------------------------

LIBC = ctypes.CDLL(None, use_errno=True)
CLONE_NEWNET = 0x40000000
PR_SET_PDEATHSIG = 1


def die_with_test():
    # Runs in the child after its user is set, so the setting survives.
    LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True, timeout=10)
    if result.returncode != 0:
        raise Abort(f"{' '.join(command)}: {result.stderr.strip() or result.returncode}")


def enter_private_network():
    if LIBC.unshare(CLONE_NEWNET) != 0:
        skip(f"cannot make a network namespace: {os.strerror(ctypes.get_errno())}")
    try:
        run("ip", "link", "set", "lo", "up")
        run("ip", "link", "add", STAND_IN, "type", "veth", "peer", "name", STAND_IN_PEER)
    except Abort as e:
        skip(f"cannot set up the namespace's links: {e}")
    run("ip", "address", "add", f"{STAND_IN_ADDRESS}/32", "dev", STAND_IN)
    run("ip", "link", "set", STAND_IN, "up")


def stop(process, name, timeout=5):
    """SIGTERM, then SIGKILL; returns the exit status or None if it had to be killed."""
    if process is None or process.poll() is not None:
        return None if process is None else process.returncode
    process.terminate()
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        say(f"    {name} did not end on SIGTERM within {timeout} s; killed")
        process.kill()
        process.wait(timeout)
        return None


def tail(path, lines=15):
    try:
        with open(path, errors="replace") as f:
            return [line.rstrip() for line in f.readlines()[-lines:]]
    except OSError as e:
        return [f"({path}: {e})"]


def wait_for_connection(port, deadline, process, name):
    """A connection to the program's port once it listens; its log is shown
    by the caller."""
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=1)
        except OSError as e:
            if process.poll() is not None:
                raise Abort(f"{name} ended with status {process.returncode} before listening")
            if time.monotonic() > deadline:
                raise Abort(f"{name} is not listening on 127.0.0.1:{port} ({e})")
            time.sleep(0.05)


# --- olad -------------------------------------------------------------------

def write_olad_config(directory, e131_ports):
    def conf(plugin, lines):
        with open(os.path.join(directory, f"ola-{plugin}.conf"), "w") as f:
            f.write("".join(line + "\n" for line in lines))

    for plugin in OTHER_PLUGINS:
        conf(plugin, ["enabled = false"])
    conf("e131", ["enabled = true", f"ip = {STAND_IN_ADDRESS}", f"input_ports = {e131_ports}",
                  "output_ports = 0", "ignore_preview = true", "draft_discovery = false"])
    conf("artnet", ["enabled = true", "ip = 127.0.0.1", "use_loopback = true", "net = 0",
                    "subnet = 0", "output_ports = 0"])
    for name in os.listdir(directory):
        os.chown(os.path.join(directory, name), OLAD_USER, OLAD_USER)
    os.chown(directory, OLAD_USER, OLAD_USER)


class Olad:
    """olad's RPC client driven by hand, so that every wait has a deadline."""

    def __init__(self, sock, log):
        from ola.OlaClient import OlaClient
        self.OlaClient = OlaClient
        self.log = log
        self.sock = sock
        self.client = OlaClient(sock)
        self.updates = {}  # OLA universe -> [(time, data)]

    def pump_until(self, done, timeout):
        deadline = time.monotonic() + timeout
        while not done():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            if select.select([self.sock], [], [], min(left, 0.1))[0]:
                self.client.SocketReady()
        return True

    def call(self, what, method, *args):
        """Calls an RPC whose last argument is the callback; returns the
        callback's arguments after the status."""
        reply = []
        method(*args, lambda status, *rest: reply.append((status, rest)))
        if not self.pump_until(lambda: reply, 5):
            raise Abort(f"olad did not answer: {what}")
        status, rest = reply[0]
        if not status.Succeeded():
            raise Abort(f"olad refused: {what}: {status.message}")
        return rest

    def devices(self, deadline, e131_ports):
        """The E1.31 and Art-Net devices' aliases, once both plugins are up."""
        while True:
            (devices,) = self.call("list the devices", self.client.FetchDevices)
            e131 = [d for d in devices if "E1.31" in d.name and len(d.input_ports) >= e131_ports]
            artnet = [d for d in devices if "ArtNet" in d.name and len(d.input_ports) >= 4]
            if e131 and artnet:
                return e131[0].alias, artnet[0].alias
            if time.monotonic() > deadline:
                raise Abort("olad has no E1.31 device with enough input ports or no Art-Net "
                            f"device: {[(d.name, len(d.input_ports)) for d in devices]}")
            time.sleep(0.1)

    def patch(self, device, port, universe):
        self.call(f"patch input port {port} of device {device} to universe {universe}",
                  self.client.PatchPort, device, port, False, self.OlaClient.PATCH, universe)

    def listen(self, universe):
        self.updates.setdefault(universe, [])

        def received(data):
            self.updates[universe].append((time.monotonic(), bytes(data)))

        self.call(f"register for universe {universe}", self.client.RegisterUniverse, universe,
                  self.OlaClient.REGISTER, received)

    def latest(self, universe):
        updates = self.updates.get(universe)
        return updates[-1][1] if updates else None

    def terminations_missing(self, universes, timeout):
        """The E1.31 universes whose stream olad has not (yet) logged as
        ended by its source; olad says so in no other way."""
        deadline = time.monotonic() + timeout
        while True:
            with open(self.log, errors="replace") as f:
                said = f.read()
            missing = [u for u in universes if f"sent a termination for universe {u}\n" not in said]
            if not missing or time.monotonic() > deadline:
                return missing
            time.sleep(0.05)


# --- Comparing --------------------------------------------------------------

def differences(output, olad, black=False):
    """Lines saying what olad holds that differs from the frame (or from
    black); none when it matches. A scaled value may round either way."""
    lines = []
    for i, (ola_universe, expected) in enumerate(zip(output.ola_universes(), output.expected)):
        if black:
            expected = [0] * len(expected)
        universe = output.first + i
        label = f"port-address {universe}" if output.kind == "artnet" else f"universe {universe}"
        got = olad.latest(ola_universe)
        if got is None:
            lines.append(f"{label}: nothing received")
            continue
        if len(got) != len(expected):
            lines.append(f"{label}: {len(got)} channels, expected {len(expected)}")
        wrong = [(channel, want, have) for channel, (want, have) in enumerate(zip(expected, got), 1)
                 if abs(have - want) > 0.5]
        for channel, want, have in wrong[:5]:
            shown = f"{want:g}" if want == int(want) else f"{int(want)} or {int(want) + 1}"
            lines.append(f"{label} channel {channel}: expected {shown}, got {have}")
        if len(wrong) > 5:
            lines.append(f"{label}: and {len(wrong) - 5} more channels differ")
    return lines


# --- The bridge -------------------------------------------------------------

class Bridge:
    def __init__(self, command, work, name, tag):
        self.name = name
        self.log = os.path.join(work, f"bridge-{tag}.log")
        state = os.path.join(work, "state")
        os.makedirs(state, exist_ok=True)
        env = dict(os.environ, STATE_DIRECTORY=state, XDG_STATE_HOME=state, HOME=work)
        self.client = None
        with open(self.log, "w") as log:
            try:
                self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                                stdout=log, stderr=subprocess.STDOUT, env=env,
                                                preexec_fn=die_with_test)
            except OSError as e:
                self.process = None
                raise Abort(f"the bridge does not start: {e}")

    def send(self, frame):
        self.client = wait_for_connection(OPC_PORT, time.monotonic() + 5, self.process,
                                          "the bridge")
        try:
            self.client.sendall(frame)
        except OSError as e:
            raise Abort(f"the bridge did not take the OPC frame ({e})")

    def leave(self):
        if self.client:
            self.client.close()
            self.client = None

    def end(self):
        """Ends the bridge and says whether it ran until SIGTERM and then
        exited 0. The client goes first, so that the port's TIME_WAIT is on
        its side and the next run can listen there at once."""
        self.leave()
        ended_early = self.process.poll()
        status = stop(self.process, "the bridge")
        if ended_early is not None:
            check(False, f"{self.name}: the bridge runs until SIGTERM",
                  [f"it ended by itself with status {ended_early}"])
        else:
            check(status == 0, f"{self.name}: the bridge ends with status 0 on SIGTERM",
                  [f"status {status}" if status is not None else "killed"])


def bridge_run(binary, work, olad, name, tag, arguments, outputs, keep_alive=False):
    """Starts the bridge with the outputs, sends it the frame and checks what
    olad received; with keep_alive, then stays connected and silent, and
    leaves. Then ends the bridge and checks that its E1.31 streams end."""
    joiner = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    # The bridge sends through lo; the kernel hands a multicast datagram sent
    # there to the sockets bound to its port (olad's among them: IP_MULTICAST_ALL
    # is on by default) only if lo has joined its group. olad joined on its
    # stand-in, so the test joins the expected groups on lo for it: anything
    # sent to another group reaches nobody.
    for output in outputs:
        if output.url.startswith("e131://multicast"):
            for universe in range(output.first, output.first + len(output.expected)):
                joiner.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                                  socket.inet_aton(multicast_group(universe))
                                  + socket.inet_aton("127.0.0.1"))
    to = [a for output in outputs for a in ("--to", output.url)]
    command = [binary, "--listen", f"127.0.0.1:{OPC_PORT}", *arguments, *to]
    say(f"{name}: {' '.join(command)}")
    failures_before = failures
    bridge = None
    try:
        bridge = Bridge(command, work, name, tag)
        bridge.send(opc_frame())
        olad.pump_until(lambda: not any(differences(o, olad) for o in outputs), DATA_WAIT_S)
        for output in outputs:
            lines = differences(output, olad)
            check(not lines, f"{name}: {output.name}: olad holds the frame in all "
                  f"{len(output.expected)} universes ({output.url})", lines)
        if keep_alive:
            since = time.monotonic()
            olad.pump_until(lambda: False, KEEP_ALIVE_S)
            for output in outputs:
                counts = {u: sum(1 for t, _ in olad.updates[u] if t > since)
                          for u in output.ola_universes()}
                lines = differences(output, olad)
                check(min(counts.values()) >= KEEP_ALIVE_UPDATES and not lines,
                      f"{name}: {output.name}: a silent client's frame is re-sent: at least "
                      f"{KEEP_ALIVE_UPDATES} updates in {KEEP_ALIVE_S} s, still the frame",
                      [f"updates per OLA universe: {counts}", *lines[:3]])
            bridge.leave()
            olad.pump_until(lambda: not any(differences(o, olad, black=True) for o in outputs),
                            DATA_WAIT_S)
            for output in outputs:
                lines = differences(output, olad, black=True)
                check(not lines, f"{name}: {output.name}: once the client leaves, olad holds "
                      "black in every universe", lines[:5])
        bridge.end()
        e131_universes = [u for o in outputs if o.kind == "e131" for u in o.ola_universes()]
        missing = olad.terminations_missing(e131_universes, 2)
        check(not missing, f"{name}: olad saw the E1.31 streams ended in all "
              f"{len(e131_universes)} universes", [f"not in universes {missing}"])
    except Abort as e:
        check(False, f"{name}: {e}", e.details)
    finally:
        if bridge and bridge.process:
            bridge.leave()
            stop(bridge.process, "the bridge")  # whatever went wrong
        joiner.close()
        if bridge and failures > failures_before:
            say("the bridge's output ends:")
            for line in tail(bridge.log):
                say("    " + line)


# --- The test ---------------------------------------------------------------

def e131(name, url, first, universe_size=510, colours="rgb", brightness_pct=100):
    values = controller_channels(colours, brightness_pct)
    return Output(name, url, "e131", first, universes_of(values, universe_size))


def artnet(name, url, first, brightness_pct=100):
    values = controller_channels("rgb", brightness_pct)
    return Output(name, url, "artnet", first, universes_of(values, 510))


def patch_artnet(olad, device, outputs):
    """olad's Art-Net device has four input ports: they go to the outputs'."""
    for output in outputs:
        if output.kind == "artnet":
            for port, universe in enumerate(output.ola_universes()):
                olad.patch(device, port, universe)
                olad.listen(universe)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: tests/bridge_receivers_test.py BRIDGE_BINARY")
    binary = os.path.abspath(sys.argv[1])
    if not os.access(binary, os.X_OK):
        say(f"FAIL: {binary} is not an executable")
        return 1
    if os.geteuid() != 0:
        skip("needs root, for a network namespace of its own")
    for program in ("olad", "ip"):
        if not shutil.which(program):
            skip(f"{program} is not installed (Debian packages ola, iproute2)")
    try:
        importlib.import_module("ola.OlaClient")
    except ImportError as e:
        skip(f"olad's Python client is missing (Debian package ola-python): {e}")

    # Full brightness: the three kinds of output and one with options.
    full = [
        e131("E1.31 unicast", "e131://127.0.0.1/1", 1),
        # Universes 255 to 258 are groups 239.255.0.255 to 239.255.1.2.
        e131("E1.31 multicast", "e131://multicast/255?interface=127.0.0.1", 255),
        artnet("Art-Net", "artnet://127.0.0.1/0", 0),
        e131("E1.31 512-channel universes in GRB",
             "e131://127.0.0.1/41?universe-size=512&colors=grb", 41, universe_size=512,
             colours="grb"),
    ]
    # Half brightness, then a silent client.
    half = [
        e131("E1.31 unicast", "e131://127.0.0.1/51", 51, brightness_pct=50),
        artnet("Art-Net", "artnet://127.0.0.1/4", 4, brightness_pct=50),
    ]
    e131_universes = [u for o in full + half if o.kind == "e131" for u in o.ola_universes()]

    olad_process = None
    work = tempfile.mkdtemp(prefix="bridge-receivers-")
    olad_log = os.path.join(work, "olad.log")
    started = time.monotonic()
    try:
        os.chmod(work, 0o711)  # olad, not root, must reach its folder
        enter_private_network()
        config = os.path.join(work, "olad")
        os.mkdir(config)
        write_olad_config(config, len(e131_universes))
        with open(olad_log, "w") as log:
            olad_process = subprocess.Popen(
                ["olad", "-c", config, "--rpc-port", str(OLAD_RPC_PORT), "--no-http",
                 "--no-register-with-dns-sd", "--log-level", "3"],  # 3: ended streams
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, cwd=config,
                user=OLAD_USER, group=OLAD_USER, extra_groups=[], preexec_fn=die_with_test)
        deadline = time.monotonic() + 10
        olad = Olad(wait_for_connection(OLAD_RPC_PORT, deadline, olad_process, "olad"), olad_log)
        e131_device, artnet_device = olad.devices(deadline, len(e131_universes))
        for port, universe in enumerate(e131_universes):
            olad.patch(e131_device, port, universe)
            olad.listen(universe)
        say(f"olad ready after {time.monotonic() - started:.1f} s")

        patch_artnet(olad, artnet_device, full)
        bridge_run(binary, work, olad, "full brightness", "full", [], full)
        # olad's four Art-Net ports move on to port-addresses 4 to 7.
        patch_artnet(olad, artnet_device, half)
        bridge_run(binary, work, olad, "--brightness 50", "half", ["--brightness", "50"], half,
                   keep_alive=True)
    except Abort as e:
        check(False, str(e), e.details)
    finally:
        signal.alarm(0)
        olad_said = tail(olad_log)  # before its shut-down adds to it
        stop(olad_process, "olad")
        shutil.rmtree(work, ignore_errors=True)
        if failures:
            say("olad's log ends:")
            for line in olad_said:
                say("    " + line)
    say(f"{'FAILED' if failures else 'PASSED'} in {time.monotonic() - started:.1f} s")
    return 1 if failures else 0


def give_up(signum, _frame):
    if signum == signal.SIGALRM:
        raise Abort(f"the test ran out of its {TEST_TIME_LIMIT_S} s")
    raise Abort(f"stopped by {signal.Signals(signum).name}")


if __name__ == "__main__":
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM):
        signal.signal(number, give_up)
    signal.alarm(TEST_TIME_LIMIT_S)
    sys.exit(main())
