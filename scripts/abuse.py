#!/usr/bin/env python3
"""Black-box abuse run of benchview on a simulated board of its own.

A hostile or unlucky user for a bounded time: grammar-aware random SCPI commands made from the
program's own HELP? tree (hostile numbers, names, blocks and bytes mixed in), mutated web-service
and discovery datagrams and mutated HTTP requests, with a liveness probe every N inputs (a new SCPI client
must get *IDN? answered, the web service /ident). It fails when a probe goes unanswered, when
the program ends, or when a sanitizer reports anything. It prints its counts.

  python3 scripts/abuse.py --benchview build/test/benchview [--seconds 45] [--probe-every 200]
"""

import argparse
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SCPI_PORT, HTTP_PORT, WS_PORT, DISCOVERY_PORT = 23, 80, 50010, 50000
# Commands that change the machine rather than the instrument (clock, network, the USB
# mass-storage switch): not ours to abuse on a developer's host.
SKIPPED = re.compile(r"MSIS|WIFI|ADDR|:DATE|:TIME|HCOP", re.I)
HOSTILE_NAMES = ["zqh\0nul2.cfg", "a\tb.cfg", "../../etc/passwd", "/tmp/../x.cfg", "x" * 300, "", ".",
                 "..", "a:b.trc", "\x1b[2J.msk", "\u00e9t\u00e9.cfg", "/media/user", "dir/", "abc.CFG",
                 "con.trc", "x\x7f.fct", "/tmp/t.bin"]
HOSTILE_NUMBERS = ["0", "-1", "1e308", "-1e308", "1e-320", "nan", "inf", "9" * 40, "0x10", "1.5.5",
                   "2147483648", "-2147483649", "+.e", "1E", "MAX", "MIN", "DEF", "UP", "DOWN", "INF"]
WS_PATHS = ["/ident", "/status", "/instrument?mode=16", "/list?p0=/", "/list?p1=/", "/open?p0=",
            "/open?p0=/setups/a.cfg", "/getfile?p0=/setups/a.cfg", "/delete?p0=/x", "/cwd", "/cwd?p0=/setups",
            "/savefile?p0=1&p1=c&p2=n", "/savefile", "/scope?ch=1", "/meter", "/harmonic", "/viewer"]
HTTP_PATHS = ["/", "/index.htm", "/files/", "/media/user/", "/../../etc/passwd", "/%2e%2e/%2e%2e/",
              "/getfile?p0=/", "/" + "a" * 5000, "/setups/a.cfg"]


# Seeds of the fuzz targets as further bases, but none that powers the instrument off or
# rewrites its factory data.
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")
UNSAFE_SEED = re.compile(r"power|factory|flash|fpga|settings", re.I)


def seeds(target):
    folder = os.path.join(CORPUS, target)
    out = []
    if os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            if not UNSAFE_SEED.search(name):
                with open(os.path.join(folder, name), "rb") as f:
                    out.append(f.read())
    return out


class Counts:
    def __init__(self):
        self.scpi = 0
        self.ws = 0
        self.discovery = 0
        self.http = 0
        self.probes = 0
        self.answered = 0


def free_offset(rng):
    for _ in range(200):
        offset = rng.randrange(2000, 15000)
        ok = True
        for port, kind in ((SCPI_PORT, socket.SOCK_STREAM), (HTTP_PORT, socket.SOCK_STREAM),
                           (WS_PORT, socket.SOCK_DGRAM), (DISCOVERY_PORT, socket.SOCK_DGRAM)):
            s = socket.socket(socket.AF_INET, kind)
            try:
                s.bind(("127.0.0.1", port + offset))
            except OSError:
                ok = False
            finally:
                s.close()
        if ok:
            return offset
    raise SystemExit("no free ports")


def connect(port, timeout=10.0):
    deadline = time.time() + timeout
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=2.0)
        except OSError:
            if time.time() > deadline:
                return None
            time.sleep(0.1)


def read_reply(sock, timeout):
    """Bytes up to and including the first "\\n\\r", or None."""
    sock.settimeout(timeout)
    data = b""
    deadline = time.time() + timeout
    while b"\n\r" not in data and time.time() < deadline:
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            break
        except OSError:
            return None
        if not chunk:
            break
        data += chunk
    return data if b"\n\r" in data else None


def ask(port, text, timeout=10.0):
    sock = connect(port)
    if sock is None:
        return None
    try:
        sock.sendall(text.encode("latin-1"))
        return read_reply(sock, timeout)
    finally:
        sock.close()


# ---- the grammar of the HELP? texts ------------------------------------------------------------

def help_forms(port):
    """Every command form the program lists, one string each."""
    top = ask(port, "HELP?\n", 20.0)
    if not top:
        raise SystemExit("HELP? was not answered")
    sock = connect(port)
    forms = []
    text = top.decode("latin-1")
    keywords = re.findall(r"(?:^|\s)([*A-Z][A-Za-z]*)(?=\s|$)", text.split("keywords:")[-1])
    sock.settimeout(5.0)
    for keyword in keywords:
        sock.sendall(("HELP? %s\n" % keyword).encode())
        time.sleep(0.05)
        data = b""
        deadline = time.time() + 5.0
        while time.time() < deadline:
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                break
            data += chunk
            if not chunk or data.endswith(b"\n\r"):
                time.sleep(0.05)
                sock.setblocking(False)
                try:
                    more = sock.recv(65536)
                    data += more
                except (BlockingIOError, OSError):
                    pass
                sock.setblocking(True)
                sock.settimeout(5.0)
                if data.endswith(b"\n\r"):
                    break
        forms += [f for f in data.decode("latin-1").split("\n\r") if f.strip()]
    sock.close()
    return [f for f in forms if not SKIPPED.search(f)]


def choose_braces(text, rng):
    """{a|[b]|c}: one alternative (a bracketed one is an optional default)."""
    def pick(m):
        alternative = rng.choice(m.group(1).split("|"))
        return alternative.strip("[]") if rng.random() < 0.7 else ""
    return re.sub(r"\{([^{}]*)\}", pick, text)


def mnemonic_forms(header, rng):
    """Each mnemonic in its long or short (capitals) form, in random case."""
    def word(m):
        w = m.group(0)
        short = "".join(c for c in w if c.isupper() or c in "*?")
        w = w if rng.random() < 0.5 or not short else short
        return w.lower() if rng.random() < 0.3 else w.upper()
    return re.sub(r"[*A-Za-z]+", word, header)


def optional_parts(text, rng):
    while "[" in text:
        text = re.sub(r"\[([^\[\]]*)\]", lambda m: m.group(1) if rng.random() < 0.5 else "", text)
    return text


def number(rng):
    r = rng.random()
    if r < 0.3:
        return rng.choice(HOSTILE_NUMBERS)
    if r < 0.6:
        return str(rng.randint(-1000, 1000))
    return "%g%s" % (rng.uniform(-1e6, 1e6), rng.choice(["", "V", "mV", "s", "ms", "us", "Hz", "kHz", "%"]))


def quoted(rng):
    if rng.random() < 0.5:
        name = rng.choice(HOSTILE_NAMES)
    else:
        name = "".join(rng.choice("abcXYZ019_-.:/") for _ in range(rng.randint(1, 40)))
    return '"%s"' % name


def block(rng):
    body = bytes(rng.randrange(256) for _ in range(rng.randint(0, 64))).decode("latin-1")
    r = rng.random()
    if r < 0.6:
        digits = str(len(body))
        return "#%d%s%s" % (len(digits), digits, body)
    if r < 0.8:
        return "#9999999999"  # announced longer than anything sent: drained until a pause
    return "#0" + body


def parameter(spec, rng):
    spec = choose_braces(spec, rng)
    if spec.startswith("(") or "fct" in spec:
        return "(" + rng.choice(["ch1*2", "ch1+ch2", "sqrt(ch1)", "1/0", "(((", "ch9", "x" * 120]) + ")"
    if "block" in spec:
        return block(rng)
    if spec.startswith('"') or "file" in spec or "name" in spec:
        return quoted(rng)
    alternatives = [a for a in spec.split("|") if a]
    words = [a for a in alternatives if re.match(r"^[A-Z0-9]", a)]
    if words and rng.random() < 0.7:
        return mnemonic_forms(rng.choice(words), rng)
    return number(rng)


def command(forms, rng):
    form = rng.choice(forms)
    head, _, params = form.partition(" ")
    text = mnemonic_forms(optional_parts(choose_braces(head, rng), rng), rng)
    specs = re.findall(r"<([^<>]*)>", params)
    values = [parameter(s, rng) for s in specs if rng.random() < 0.9]
    if values:
        text += " " + ",".join(values)
    r = rng.random()
    if r < 0.05:  # a byte dropped, doubled or replaced
        i = rng.randrange(len(text) + 1)
        text = text[:i] + chr(rng.randrange(256)) + text[i + 1:]
    elif r < 0.08:
        text = text + ";" + command(forms, rng)
    return text


# ---- datagrams and requests ------------------------------------------------------------------

def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(0, 4)):
        r = rng.random()
        i = rng.randrange(len(data) + 1)
        if r < 0.3:
            data[i:i] = bytes([rng.randrange(256)])
        elif r < 0.5 and data:
            del data[min(i, len(data) - 1)]
        elif r < 0.7:
            data[i:i] = rng.choice([b"\0", b"&", b"=", b"%00", b"/..", b"?", b"p0=", b"x" * 2000])
        elif data:
            data[min(i, len(data) - 1)] = rng.randrange(256)
    return bytes(data)


def web_datagram(rng, bases):
    base = rng.choice(bases) if bases and rng.random() < 0.3 else rng.choice(WS_PATHS).encode()
    return mutate(base, rng)


def discovery_datagram(rng, bases):
    return mutate(rng.choice(bases), rng) if bases else bytes(rng.randrange(256) for _ in range(16))


def http_request(rng, bases):
    if bases and rng.random() < 0.3:
        return mutate(rng.choice(bases), rng)
    method = rng.choice(["GET", "GET", "POST", "HEAD", "PUT", "G\0T", ""])
    path = rng.choice(HTTP_PATHS)
    headers = "Host: x\r\n"
    if rng.random() < 0.3:
        headers += "Content-Length: %d\r\n" % rng.choice([0, 5, -1, 99999999])
    request = ("%s %s HTTP/1.%d\r\n%s\r\n" % (method, path, rng.randint(0, 1), headers)).encode("latin-1")
    return mutate(request, rng)


# ---- the run ---------------------------------------------------------------------------------

def web_service_answers(offset):
    ws = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ws.settimeout(2.0)
    try:
        ws.sendto(b"/ident", ("127.0.0.1", WS_PORT + offset))
        ws.recvfrom(65536)
        return True
    except OSError:
        return False
    finally:
        ws.close()


def probe(offset, counts, log):
    counts.probes += 1
    reply = ask(SCPI_PORT + offset, "*IDN?\n", 15.0)
    ws = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ws.settimeout(10.0)
    try:
        ws.sendto(b"/ident", ("127.0.0.1", WS_PORT + offset))
        ws_reply, _ = ws.recvfrom(65536)
    except OSError:
        ws_reply = None
    finally:
        ws.close()
    if reply and ws_reply:
        counts.answered += 1
        return True
    log.write("probe %d unanswered: scpi=%r ws=%r\n" % (counts.probes, reply, ws_reply))
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--benchview", required=True)
    parser.add_argument("--seconds", type=float, default=45.0)
    parser.add_argument("--probe-every", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the simulated root")
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    offset = free_offset(rng)
    root = tempfile.mkdtemp(prefix="bv-abuse-")
    asan_dir = os.path.join(root, "sanitizer")
    os.makedirs(asan_dir)
    env = dict(os.environ)
    env.update({
        "BENCHVIEW_SIMROOT": os.path.join(root, "board"),
        "BENCHVIEW_PORT_OFFSET": str(offset),
        "BENCHVIEW_SCPI_LOOPBACK_ONLY": "1",
        "QT_QPA_PLATFORM": "offscreen",
        "QT_QUICK_BACKEND": "software",
        "ASAN_OPTIONS": "detect_leaks=0:log_path=%s/asan" % asan_dir,
        "UBSAN_OPTIONS": "print_stacktrace=1:log_path=%s/ubsan" % asan_dir,
    })
    log_path = os.path.join(root, "benchview.log")
    log = open(log_path, "w")
    program = subprocess.Popen([args.benchview], env=env, stdout=log, stderr=subprocess.STDOUT,
                               start_new_session=True)
    counts = Counts()
    failures = []
    try:
        # The start (under a sanitizer, on a loaded machine) takes a while.
        started = time.time() + 120.0
        while connect(SCPI_PORT + offset, 1.0) is None:
            if time.time() > started or program.poll() is not None:
                failures.append("not answering after start")
                raise StopIteration
        # The web service binds its port a little after the SCPI server: ask again (a datagram
        # sent before it is bound is lost) until it answers or the start has taken too long.
        while not web_service_answers(offset):
            if time.time() > started or program.poll() is not None:
                failures.append("web service not answering after start")
                raise StopIteration
        if not probe(offset, counts, log):
            failures.append("not answering after start")
            raise StopIteration
        forms = help_forms(SCPI_PORT + offset)
        ws_seeds, admin_seeds, http_seeds = seeds("websvc"), seeds("admin"), seeds("http")
        clients = [connect(SCPI_PORT + offset) for _ in range(2)]
        for c in clients:
            c.setblocking(False)
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.setblocking(False)
        end = time.time() + args.seconds
        inputs = 0
        while time.time() < end and program.poll() is None:
            r = rng.random()
            if r < 0.6:
                client = rng.choice(clients)
                try:
                    client.sendall((command(forms, rng) + rng.choice(["\n", "\r\n", "\n"])).encode("latin-1"))
                    counts.scpi += 1
                except OSError:  # dropped (a stalled reply): a new connection
                    client.close()
                    fresh = connect(SCPI_PORT + offset)
                    if fresh is None:
                        failures.append("no new SCPI connection")
                        break
                    fresh.setblocking(False)
                    clients[clients.index(client)] = fresh
            elif r < 0.8:
                try:
                    udp.sendto(web_datagram(rng, ws_seeds), ("127.0.0.1", WS_PORT + offset))
                    counts.ws += 1
                except OSError:
                    pass
            elif r < 0.88:
                try:
                    udp.sendto(discovery_datagram(rng, admin_seeds), ("127.0.0.1", DISCOVERY_PORT + offset))
                    counts.discovery += 1
                except OSError:
                    pass
            else:
                sock = connect(HTTP_PORT + offset, 2.0)
                if sock is not None:
                    try:
                        sock.sendall(http_request(rng, http_seeds))
                        sock.settimeout(0.5)
                        sock.recv(65536)
                    except OSError:
                        pass
                    finally:
                        sock.close()
                    counts.http += 1
            for c in clients:  # replies are read and dropped: a client that reads
                try:
                    while c.recv(65536):
                        pass
                except (BlockingIOError, OSError):
                    pass
            try:
                while udp.recv(65536):
                    pass
            except (BlockingIOError, OSError):
                pass
            inputs += 1
            if inputs % args.probe_every == 0 and not probe(offset, counts, log):
                failures.append("probe %d unanswered" % counts.probes)
                break
        if program.poll() is None and not probe(offset, counts, log):
            failures.append("final probe unanswered")
    except StopIteration:
        pass
    finally:
        ended = program.poll()
        if ended is None:
            os.killpg(program.pid, signal.SIGTERM)
            try:
                program.wait(20)
            except subprocess.TimeoutExpired:
                os.killpg(program.pid, signal.SIGKILL)
                program.wait()
        else:
            failures.append("benchview ended with status %d" % ended)
        log.close()

    reports = [f for f in os.listdir(asan_dir)]
    with open(log_path, errors="replace") as f:
        text = f.read()
    reports += re.findall(r"ERROR: AddressSanitizer|runtime error:", text)
    print("abuse run: seed %d, %.0f s, SCPI commands %d, web-service datagrams %d, discovery datagrams %d, "
          "HTTP requests %d, liveness probes %d answered of %d, sanitizer reports %d"
          % (seed, args.seconds, counts.scpi, counts.ws, counts.discovery, counts.http, counts.answered,
             counts.probes, len(reports)))
    if reports:
        failures.append("sanitizer reports: %s" % ", ".join(reports[:5]))
        for name in os.listdir(asan_dir):
            with open(os.path.join(asan_dir, name), errors="replace") as f:
                sys.stdout.write(f.read()[:4000])
    if failures:
        print("FAILED: " + "; ".join(failures))
        print("log: " + log_path)
        sys.stdout.write(text[-4000:])
        return 1
    if not args.keep:
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
