#!/usr/bin/env python3
"""The shared blocks as a host addresses them: symbol sizes from the dynamic
symbol table, and every member read at its documented byte offset after a
rating call (raw offsets, independent of the C header).

Usage: layout_check.py <library> <deflection table>; $ZALK3071_DIR names the
data folder (created when missing)."""
import ctypes
import os
import shutil
import struct
import subprocess
import sys

BLOCK_SIZES = {"CODE": 8, "DD": 160, "COM1": 1600, "COM2": 1600128, "COM3": 96, "DEPTH": 32, "DAM": 288}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def symbol_sizes(lib_path):
    out = subprocess.run(["nm", "-D", "-S", "--defined-only", lib_path], check=True,
                         capture_output=True, text=True).stdout
    sizes = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 4:
            sizes[parts[3]] = (int(parts[1], 16), parts[2])
    return sizes


class Block:
    def __init__(self, lib, name):
        self.name = name
        self.address = ctypes.addressof(ctypes.c_ubyte.in_dll(lib, name))

    def raw(self, offset, n):
        return ctypes.string_at(self.address + offset, n)

    def i32(self, offset):
        return struct.unpack("<i", self.raw(offset, 4))[0]

    def f32(self, offset, count=None):
        if count is None:
            return struct.unpack("<f", self.raw(offset, 4))[0]
        return list(struct.unpack("<%df" % count, self.raw(offset, 4 * count)))


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def main():
    lib_path, table = sys.argv[1], sys.argv[2]
    data = os.environ["ZALK3071_DIR"]
    os.makedirs(data, exist_ok=True)
    shutil.copyfile(table, os.path.join(data, "backdefl.txt"))

    sizes = symbol_sizes(lib_path)
    for name, size in BLOCK_SIZES.items():
        check(name in sizes and sizes[name][0] == size, "%s size %s, documented %d" % (name, sizes.get(name), size))
        check(name in sizes and sizes[name][1] in "BbDd", "%s is not a data symbol" % name)

    lib = ctypes.CDLL(lib_path)
    blocks = {name: Block(lib, name) for name in BLOCK_SIZES}
    for name, b in blocks.items():
        check(b.raw(0, BLOCK_SIZES[name]) == bytes(BLOCK_SIZES[name]), "%s not zero at load" % name)

    ver = ctypes.c_double(0.0)
    lib.VERSIONNUM(ctypes.byref(ver))
    check(ver.value == 2.0, "VERSIONNUM gave %r" % ver.value)

    mode, status, length = ctypes.c_int32(1), ctypes.c_int32(-1), ctypes.c_int32(0)
    lib.ZALKSTATUS(ctypes.byref(mode), ctypes.byref(status), None, ctypes.byref(length))

    # A measured basin: the engine's for known moduli.
    F = ctypes.c_float
    h1, h2, h3 = F(6.0), F(9.0), F(60.0)
    e1, e2, e3 = F(800000.0), F(40000.0), F(15000.0)
    defl, resp = (F * 10)(), (F * 10)()
    seastab = (F * 5)(10.0, 0.2, 1.0, 1.3, 1.0)
    one = ctypes.c_int32(1)
    lib.QUORVAN(ctypes.byref(h1), ctypes.byref(h2), ctypes.byref(h3), ctypes.byref(e1), ctypes.byref(e2),
                ctypes.byref(e3), ctypes.byref(F(1.0)), defl, resp, seastab, ctypes.byref(one), ctypes.byref(one))

    # FWD(20, 2000, 10), RESULT(20, 2000, 6), SECT(20, 23), column-major.
    fwd = (ctypes.c_double * (20 * 2000 * 10))()
    result = (ctypes.c_double * (20 * 2000 * 6))()
    sect = (ctypes.c_double * (20 * 23))()
    fwd_at = lambda p, j, k: (k - 1) * 40000 + (j - 1) * 20 + (p - 1)
    sect_at = lambda p, c: (c - 1) * 20 + (p - 1)
    fwd[fwd_at(1, 1, 1)] = 10.0
    fwd[fwd_at(1, 1, 2)] = 9000.0
    for s in range(6):
        fwd[fwd_at(1, 1, 3 + s)] = defl[s] * 1000.0 * 9000.0 / 10940.0
    fwd[fwd_at(1, 1, 9)] = 50000.0
    fwd[fwd_at(1, 1, 10)] = 80.0
    days, air = [91, 90, 30, 30, 124], [55, 30, 45, 60, 80]
    for i in range(1, 6):
        sect[sect_at(1, i)] = days[i - 1]
        sect[sect_at(1, 5 + i)] = air[i - 1]
        sect[sect_at(1, 13 + i)] = 1.0 + 0.1 * i
        sect[sect_at(1, 18 + i)] = 1.0 + 0.01 * i
    sect[sect_at(1, 11)], sect[sect_at(1, 12)], sect[sect_at(1, 13)] = 6.0, 9.0, 50.0
    ntest = (ctypes.c_int32 * 20)(1)
    nsec = ctypes.c_int32(1)
    lib.ZALK3071DLL(fwd, result, sect, ntest, ctypes.byref(nsec))
    lib.ZALKSTATUS(ctypes.byref(ctypes.c_int32(-1)), ctypes.byref(status), None, ctypes.byref(length))
    check(status.value == 0, "ZALK3071DLL status %d" % status.value)
    # The basin is the engine's for (800000, 40000, 15000) at depth 60 under a
    # load of 9000: the back-calculation finds those moduli within the
    # accuracy of the surfaces between grid values (a few per cent).
    for k, want, tol in ((2, 800000.0, 0.03), (4, 40000.0, 0.05), (5, 15000.0, 0.02), (6, 60.0, 0.0)):
        got = result[(k - 1) * 40000]
        check(abs(got - want) <= tol * want, "RESULT(1,1,%d) = %r, expected %r" % (k, got, want))

    code, dd, com1, com2, com3, depth, dam = (blocks[n] for n in ("CODE", "DD", "COM1", "COM2", "COM3", "DEPTH", "DAM"))
    # COM3: orders, counts and weights at their offsets.
    for offset, want in ((0, 3), (4, 3), (16, 11), (24, 1), (28, 8), (36, 1), (52, 11), (56, 8)):
        check(com3.i32(offset) == want, "COM3 at %d: %d, expected %d" % (offset, com3.i32(offset), want))
    check(com3.f32(60, 9) == [1.0] * 6 + [0.0] * 3, "WEIGHT %s" % com3.f32(60, 9))
    for offset in (8, 12, 20, 32, 40, 44, 48):
        check(com3.i32(offset) == 0, "COM3 reserved word at %d written" % offset)
    # COM1: grids and knots of the modulus surfaces.
    check(com1.f32(0, 11) == [100, 200, 300, 400, 600, 800, 1200, 1500, 2000, 3000, 4000], "XDATA")
    check(com1.f32(400, 8) == [10, 20, 30, 40, 50, 60, 80, 100], "YDATA")
    check(com1.f32(800, 4) == [100, 100, 100, 250], "XKNOT %s" % com1.f32(800, 4))
    check(com1.f32(1200, 4) == [10, 10, 10, 25], "YKNOT %s" % com1.f32(1200, 4))
    # COM2: SCOEF(i, d, s) at ((s-1)*20 + (d-1))*1000 + (i-1) floats.
    scoef = lambda i, d, s: com2.f32(4 * (((s - 1) * 20 + (d - 1)) * 1000 + (i - 1)))
    check(scoef(1, 1, 1) != 0 and scoef(88, 8, 8) != 0, "SCOEF of depth 8, sensor 8")
    check(scoef(89, 1, 1) == 0 and scoef(1, 9, 1) == 0 and scoef(1, 1, 9) == 0, "SCOEF beyond the surfaces")
    x, y, v = com2.f32(1600000), com2.f32(1600040), com2.f32(1600080)
    check(100 <= x <= 4000 and 10 <= y <= 100 and v > 0, "XVEC/YVEC/VALUE %r %r %r" % (x, y, v))
    check(com2.raw(1600120, 8) == bytes(8), "COM2 reserved bytes written")
    # DD: measured deflections / 1000 and the engine's at the back-calculated moduli.
    dmeas = dd.f32(0, 10)
    check(dmeas[:6] == [f32(fwd[fwd_at(1, 1, 3 + s)] / 1000.0) for s in range(6)], "DMEAS %s" % dmeas)
    check(dmeas[6:] == [0.0] * 4, "DMEAS(7..10) written")
    # DCALC is the engine's basin of the last search made (depth candidate 8).
    dcalc = dd.f32(80, 10)
    check(all(0 < dcalc[s] < 1 for s in range(8)), "DCALC %s" % dcalc)
    check(dcalc[8:] == [0.0, 0.0] and dd.f32(120, 10) == [0.0] * 10, "DD beyond DCALC(8) written")
    # DEPTH and CODE.
    check(1 <= depth.i32(0) <= 8 and result[5 * 40000] == [12, 24, 36, 48, 60, 120, 180, 240][depth.i32(0) - 1],
          "IDEPTH %d with depth %r" % (depth.i32(0), result[5 * 40000]))
    check(code.i32(4) == 0 and depth.raw(4, 28) == bytes(28), "reserved words of CODE/DEPTH written")
    # DAM: six arrays of twelve floats, seasons 1..5.
    check(dam.f32(0, 5) == days, "SDAYS %s" % dam.f32(0, 5))
    check(dam.f32(96, 5) == [f32(1.0 + 0.1 * i) for i in range(1, 6)], "SBASEF %s" % dam.f32(96, 5))
    check(dam.f32(144, 5) == [f32(1.0 + 0.01 * i) for i in range(1, 6)], "SSUBF %s" % dam.f32(144, 5))
    check(dam.f32(192, 5) == air, "SAIRT %s" % dam.f32(192, 5))
    check(dam.f32(240, 5) == [f32(f32(d) / f32(365.0)) for d in days], "SYEARF %s" % dam.f32(240, 5))
    spavt = dam.f32(48, 5)
    check(all(a < t < a + 15 for a, t in zip(air, spavt)), "SPAVT %s" % spavt)
    check(dam.f32(20, 7) == [0.0] * 7, "SDAYS(6..12) written")

    if failures:
        print("%d layout check(s) failed" % len(failures), file=sys.stderr)
        return 1
    print("block layouts as documented")
    return 0


if __name__ == "__main__":
    sys.exit(main())
