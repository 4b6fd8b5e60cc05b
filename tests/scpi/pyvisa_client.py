#!/usr/bin/python3
"""A real VISA client against benchview: PyVISA with its pure-Python backend over TCP.

Usage: pyvisa_client.py <path/to/benchview>

Starts benchview headless on a fresh simulated root and a port offset of its own, asks
*IDN?, SYST:ERR?, *ESE? and TRIG:LEV? after a write, and exits 0 only when every answer is
right. Missing pyvisa or pyvisa-py is a failure, not a skip.
"""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

START_TIMEOUT_S = 60.0


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


try:
    import pyvisa
except ImportError as e:
    fail("pyvisa is missing (install python3-pyvisa and python3-pyvisa-py): %s" % e)


def claim_port_offset():
    """The tests' scheme: a range of ports is claimed by binding an abstract socket named after
    it, so that parallel test processes never share one. The socket is kept open."""
    slots = 1400
    first = os.getpid() % slots
    for i in range(slots):
        offset = 1000 + ((first + i) % slots) * 10
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.bind("\0benchview-test-ports-%d" % offset)
            return offset, s
        except OSError:
            s.close()
    fail("no free port range")


def wait_for_port(port, process, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1.0):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def die_with_parent():
    """In the child: killed when this script goes, even by SIGKILL (a CTest time-out)."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def main():
    # A terminating signal still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if len(sys.argv) != 2:
        fail("usage: pyvisa_client.py <benchview>")
    executable = sys.argv[1]
    offset, claim = claim_port_offset()
    port = 23 + offset
    root = tempfile.mkdtemp(prefix="benchview-pyvisa-")
    env = dict(os.environ)
    env.update({
        "BENCHVIEW_SIMROOT": root,
        "BENCHVIEW_PORT_OFFSET": str(offset),
        "BENCHVIEW_SCPI_LOOPBACK_ONLY": "1",
        "QT_QPA_PLATFORM": "offscreen",
        "QT_QUICK_BACKEND": "software",
    })
    log_path = os.path.join(root, "benchview.log")
    log = open(log_path, "wb")
    process = subprocess.Popen([executable], env=env, stdin=subprocess.DEVNULL, stdout=log,
                               stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
    try:
        if not wait_for_port(port, process, START_TIMEOUT_S):
            log.flush()
            with open(log_path, "rb") as f:
                sys.stderr.write(f.read().decode(errors="replace"))
            fail("benchview does not listen on port %d" % port)
        run_client(port)
    finally:
        process.kill()
        process.wait()
        log.close()
        claim.close()
        if not os.environ.get("BENCHVIEW_KEEP_SIMROOT"):
            shutil.rmtree(root, ignore_errors=True)
    print("OK")


def check(what, got, want):
    if got != want:
        fail("%s: got %r, want %r" % (what, got, want))


def run_client(port):
    try:
        rm = pyvisa.ResourceManager("@py")
    except (OSError, ValueError, ImportError) as e:
        fail("the pyvisa-py backend is missing (install python3-pyvisa-py): %s" % e)
    inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n\r")
    inst.timeout = 20000
    try:
        idn = inst.query("*IDN?")
        fields = idn.split(", ")
        if len(fields) != 3 or not fields[1].startswith("V1.12/"):
            fail("*IDN?: unexpected identification %r" % idn)
        check("SYST:ERR?", inst.query("SYST:ERR?"), "0,No error ")
        inst.write("*ESE 36")
        check("*ESE?", inst.query("*ESE?"), "36")
        inst.write("TRIG:LEV 1")
        level = inst.query("TRIG:LEV?")
        try:
            value = float(level)
        except ValueError:
            fail("TRIG:LEV?: not a number: %r" % level)
        if abs(value - 1.0) > 0.1:
            fail("TRIG:LEV?: %r after TRIG:LEV 1" % level)
        check("SYST:ERR? at the end", inst.query("SYST:ERR?"), "0,No error ")
    finally:
        inst.close()
        rm.close()


if __name__ == "__main__":
    main()
