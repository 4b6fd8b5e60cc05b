#!/usr/bin/python3
"""A real VISA client reads a whole trace in the INTeger and ASCii formats and a window of it in
HEXadecimal and BINary, and checks them against the trace file of the same held record.

Usage: pyvisa_traces.py <port> <root>

Runs against a benchview already started (scope mode, channel 1 shown, a sine on channel 1) on
the simulated root <root>, SCPI on TCP <port> of 127.0.0.1. Exits 0 only when every answer is
right. Missing pyvisa or pyvisa-py is a failure, not a skip.
"""

import os
import struct
import sys

SAMPLES_AT = 194
SAMPLE_COUNT = 100000


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


try:
    import pyvisa
except ImportError as e:
    fail("pyvisa is missing (install python3-pyvisa and python3-pyvisa-py): %s" % e)


def fields(text):
    """The values of a text array: split on "," and drop the empty field after the last comma."""
    return [f for f in text.split(",") if f]


def words_of(byte_values):
    data = bytes(byte_values)
    return list(struct.unpack("<%dI" % (len(data) // 4), data))


def expect(inst, line, answer):
    got = inst.query(line)
    if got != answer:
        fail("%s: %r, not %r" % (line, got, answer))


def main():
    if len(sys.argv) != 3:
        fail("usage: pyvisa_traces.py <port> <root>")
    port = int(sys.argv[1])
    root = sys.argv[2]
    try:
        rm = pyvisa.ResourceManager("@py")
    except (OSError, ValueError, ImportError) as e:
        fail("the pyvisa-py backend is missing (install python3-pyvisa-py): %s" % e)
    inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n\r")
    inst.timeout = 60000
    inst.chunk_size = 1 << 20
    try:
        inst.write("TRIG:RUN:STAT OFF")
        expect(inst, "*OPC?", "1")
        inst.write('MMEM:STOR:TRAC "t1"')
        expect(inst, "*OPC?", "1")
        with open(os.path.join(root, "media", "user", "t1.trc"), "rb") as f:
            stored = f.read()
        words = list(struct.unpack_from("<%dI" % SAMPLE_COUNT, stored, SAMPLES_AT))

        inst.write("FORM INT")
        expect(inst, "FORM?", "INT")
        inst.write("TRAC:LIM 0,99999,1")
        block = inst.query_binary_values("TRAC? INT1", datatype="I", is_big_endian=False, header_fmt="ieee",
                                         expect_termination=True)
        if len(block) != SAMPLE_COUNT or list(block) != words:
            fail("TRAC? INT1 as INTeger: %d words, not the %d stored" % (len(block), SAMPLE_COUNT))

        inst.write("FORM ASC")
        expect(inst, "FORM?", "ASC")
        values = inst.query_ascii_values("TRAC? INT1", converter="d", separator=fields)
        if len(values) != 4 * SAMPLE_COUNT or words_of(values) != words:
            fail("TRAC? INT1 as ASCii: %d byte values, not the stored words" % len(values))

        inst.write("TRAC:LIM 100,199,10")
        window = words[100:200:10]
        inst.write("FORM HEX")
        hexes = inst.query_ascii_values("TRAC? INT1", converter=lambda v: int(v[2:], 16), separator=fields)
        if words_of(hexes) != window:
            fail("TRAC? INT1 as HEXadecimal: %r" % hexes[:8])
        inst.write("FORM BIN")
        bins = inst.query_ascii_values("TRAC? INT1", converter=lambda v: int(v[2:], 2), separator=fields)
        if words_of(bins) != window:
            fail("TRAC? INT1 as BINary: %r" % bins[:8])

        inst.write("FORM:DINT ON")
        inst.write("FORM ASC")
        dif = inst.query("TRAC? INT1")
        if not dif.startswith("(DIF (VER 1999.1) DIM=X (TYPE IMPL SCAL ") or not dif.endswith(")))"):
            fail("TRAC? INT1 with DIF: %r ... %r" % (dif[:60], dif[-20:]))
        inst.write("FORM:DINT OFF")

        expect(inst, "TRAC:CAT?", "INT1")
        expect(inst, "SYST:ERR?", "0,No error ")
    finally:
        inst.close()
        rm.close()
    print("OK")


if __name__ == "__main__":
    main()
