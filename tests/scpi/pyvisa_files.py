#!/usr/bin/python3
"""A real VISA client reads a measurement, stores a trace and moves files as blocks.

Usage: pyvisa_files.py <port> <root>

Runs against a benchview already started (scope mode, channel 1 shown at 1 ms/div, a 1 kHz
square on channel 1) on the simulated root <root>, SCPI on TCP <port> of 127.0.0.1. Exits 0
only when every answer is right. Missing pyvisa or pyvisa-py is a failure, not a skip.
"""

import os
import struct
import sys

TRACE_FILE_SIZE = 400194
SAMPLES_AT = 194
SAMPLE_COUNT = 100000


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


try:
    import pyvisa
except ImportError as e:
    fail("pyvisa is missing (install python3-pyvisa and python3-pyvisa-py): %s" % e)


def two_levels(words):
    """The valid samples cluster round a low and a high level (a square wave). Returns None when
    they do, else what was found."""
    valid = sorted(w for w in words if w < 0x40000000)
    if len(valid) < len(words) // 2:
        return "%d valid samples" % len(valid)
    low = valid[len(valid) // 20]
    high = valid[len(valid) * 19 // 20]
    span = high - low
    if span <= 0:
        return "a flat record at %d" % low
    near = sum(1 for w in valid if abs(w - low) <= span // 10 or abs(w - high) <= span // 10)
    if near < len(valid) * 3 // 4:
        return "levels %d and %d, only %d of %d samples near them" % (low, high, near, len(valid))
    return None


def main():
    if len(sys.argv) != 3:
        fail("usage: pyvisa_files.py <port> <root>")
    port = int(sys.argv[1])
    root = sys.argv[2]
    try:
        rm = pyvisa.ResourceManager("@py")
    except (OSError, ValueError, ImportError) as e:
        fail("the pyvisa-py backend is missing (install python3-pyvisa-py): %s" % e)
    inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n\r")
    inst.timeout = 60000
    try:
        frequency = float(inst.query("MEAS:FREQ? INT1"))
        if abs(frequency - 1000.0) > 5.0:
            fail("MEAS:FREQ? INT1: %r, not within 0.5 %% of 1000" % frequency)

        inst.write("TRIG:RUN:STAT OFF")
        inst.write('MMEM:STOR:TRAC "t1"')
        if inst.query("*OPC?") != "1":
            fail("*OPC? after the trace store")
        trace = inst.query_binary_values('MMEM:DATA? "t1.trc"', datatype="B", header_fmt="ieee",
                                         expect_termination=True, container=bytes)
        with open(os.path.join(root, "media", "user", "t1.trc"), "rb") as f:
            stored = f.read()
        if trace != stored:
            fail("MMEM:DATA? t1.trc: %d bytes differ from the %d stored" % (len(trace), len(stored)))
        if len(trace) != TRACE_FILE_SIZE:
            fail("t1.trc: %d bytes, not %d" % (len(trace), TRACE_FILE_SIZE))
        if struct.unpack_from("<H", trace, 128)[0] != 1:
            fail("t1.trc: channel mask is not 1")
        words = struct.unpack_from("<%dI" % SAMPLE_COUNT, trace, SAMPLES_AT)
        found = two_levels(words)
        if found:
            fail("t1.trc: the samples do not hold a square wave's two levels: " + found)

        data = bytes(range(256))
        inst.write_binary_values('MMEM:DATA "u.bin",', data, datatype="B")
        back = inst.query_binary_values('MMEM:DATA? "u.bin"', datatype="B", header_fmt="ieee",
                                        expect_termination=True, container=bytes)
        if back != data:
            fail("u.bin came back as %r" % back[:32])

        error = inst.query("SYST:ERR?")
        if error.strip() != "0,No error":
            fail("SYST:ERR? at the end: %r" % error)
    finally:
        inst.close()
        rm.close()
    print("OK")


if __name__ == "__main__":
    main()
