#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Each seed is a small input in the target's own layout (see the comment at
the top of each <target>_fuzz.cpp) that reaches one rule of the loaders:
each suffix, each header length, each program page, each expansion check,
each configuration field. Run it again after changing an input layout.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


# ---- cartridges ---------------------------------------------------------------
CART_NAMES = ["x", "x.20", "x.2", "x.60", "x.6F", "x.a0", "x.A0", "x.a", "x.b0",
              "x.B", "x.crt", "x.CRT", "x.cR", "x.c", "x.c0", "x.prg", "x.PRG", "x.pR",
              "x.p", "x.p0", "x.", "x.40", "x.zz", "x.R", "./x.a0", "d.z/x", "x.a0.prg",
              "x.prg.a0", "x.Cr", "x.pr", "x.90", "x.e0"]
CART_LENGTHS = [0, 1, 2, 3, 4095, 4096, 4097, 4098, 4099, 8191, 8192, 8193, 8194, 8195,
                12288, 16383, 16384, 16385, 16386, 16387, 24576, 25002, 32768, 65536]


def cart(name, length, body, settings=0, states=0, start=(4, 0x1001), c1=0, c2=0, which=None):
    which = CART_NAMES.index(name) if which is None else which
    sel = CART_LENGTHS.index(length) if length is not None else 255
    return ([which, c1, c2, settings] + list(struct.pack("<I", states)) + [1, 2, 3, 4] +
            [start[0]] + list(struct.pack("<H", start[1])) + [sel] + list(body))


def cartridge_seeds():
    s = {}
    s["nosuffix-8k"] = cart("x", 8192, b"\x11\x22\x33")
    s["a0-header-4098"] = cart("x.a0", 4098, b"\x00\xa0\x55")
    s["a0-header-at-6000"] = cart("x.a0", 8194, b"\x00\x60\x66")
    s["a0-header-low-byte"] = cart("x.a0", 4098, b"\x34\xb0\x77")
    s["A0-8k"] = cart("x.A0", 8192, b"\xa0\x0a")
    s["a-16k"] = cart("x.a", 16384, b"\x01\x02")
    s["a0-past-end"] = cart("x.a0", 8194, b"\x00\xf0\x99")
    s["20-4k"] = cart("x.20", 4096, b"\x20")
    s["2-8k"] = cart("x.2", 8192, b"\x22")
    s["60-8k"] = cart("x.60", 8192, b"\x60")
    s["b0-4k"] = cart("x.b0", 4096, b"\xb0")
    s["b0-4097-cut"] = cart("x.b0", 4097, b"\xb1")
    s["60-8193-cut"] = cart("x.60", 8193, b"\x61")
    s["20-16384-cut"] = cart("x.20", 16384, b"\x21")
    s["crt-16385-cut"] = cart("x.crt", 16385, b"\xc9")
    s["B-8k"] = cart("x.B", 8192, b"\xbb")
    s["crt-16k"] = cart("x.crt", 16384, b"\xc1\xc2\xc3")
    s["crt-8193-header"] = cart("x.crt", 8193, b"\x00\xa0\xc4")
    s["crt-4098-header"] = cart("x.CRT", 4098, b"\x00\x20\xc5")
    s["crt-8194-header-at-e000"] = cart("x.cR", 8194, b"\x00\xe0\xc6")
    s["crt-12k"] = cart("x.Cr", 12288, b"\xc7")
    s["crt-24k"] = cart("x.crt", 24576, b"\xc8")
    s["c-no-r"] = cart("x.c", 4096, b"\xc9")
    s["c0-no-r"] = cart("x.c0", 8192, b"\xca")
    s["prg-a0"] = cart("x.prg", None, b"\x00\xa0\x10\x20\x30")
    s["prg-basic-1001"] = cart("x.PRG", None, b"\x01\x10\x0b\x10\x0a\x00\x99\x22\x48\x49\x22\x00\x00\x00",
                               start=(1, 0))
    s["prg-basic-refused"] = cart("x.pR", None, b"\x01\x12\x0b\x12\x0a\x00", start=(1, 0), settings=1 | (3 << 1))
    s["prg-image-60"] = cart("x.pr", None, b"\x00\x60\xea\xea")
    s["p-no-r"] = cart("x.p", 4096, b"\x50")
    s["p0-no-r"] = cart("x.p0", 4096, b"\x51")
    s["dot-only"] = cart("x.", 4096, b"\x52")
    s["40-unknown"] = cart("x.40", 8192, b"\x53")
    s["zz-unknown"] = cart("x.zz", None, b"\x54" * 100)
    s["dot-slash"] = cart("./x.a0", 8192, b"\x55")
    s["dot-in-directory"] = cart("d.z/x", 8192, b"\x56")
    s["two-dots-a0-prg"] = cart("x.a0.prg", 4096, b"\x57")
    s["two-dots-prg-a0"] = cart("x.prg.a0", None, b"\x00\xa0\x58")
    s["90-unknown"] = cart("x.90", 4096, b"\x59")
    s["e0-unknown"] = cart("x.e0", 4096, b"\x5a")
    s["empty"] = cart("x.a0", 0, b"")
    s["one-byte"] = cart("x.a0", 1, b"\x01")
    s["missing"] = cart("x.a0", 8192, b"\x01", settings=2 << 4)
    s["directory"] = cart("x.crt", 8192, b"\x01", settings=3 << 4)
    s["fifo"] = cart("x.prg", 8192, b"\x01", settings=1 << 4)
    s["start-up-with-expansion"] = cart("x.a0", 8192, b"\x5b", settings=1 | (3 << 1))
    s["blocks-rom"] = cart("x.60", 4096, b"\x5c", states=0xAAAAAAAA)
    s["raw-suffix"] = cart("x", 8192, b"\x5d", which=200, c1=ord("a"), c2=ord("0"))
    s["raw-suffix-cr"] = cart("x", 16384, b"\x5e", which=201, c1=ord("C"), c2=ord("R"))
    s["64k"] = cart("x.a0", 65536, b"\x5f\x60")
    for k, v in s.items():
        write("cartridge", k, v)


# ---- BASIC programs -------------------------------------------------------------
BASIC_LENGTHS = [0, 1, 2, 3, 100, 4096, 11772, 11773, 11774, 19964, 19965, 19966, 25000,
                 25001, 25002, 25003, 30000, 40000, 65536, 65538]
BASIC_LENGTHS += [3585, 3586, 6657, 6658, 8194, 8195, 28161, 28162]
STARTS = {0x0401: 0, 0x1001: 1, 0x1201: 2, 0xFFFF: 3}


def basic(memdef, start, body, length=None, kind=0, end=0, states=0, chosen=0):
    sel = STARTS.get(start, 4)
    lsel = BASIC_LENGTHS.index(length) if length is not None else 255
    return ([memdef, chosen, sel] + list(struct.pack("<H", start)) + list(struct.pack("<H", end)) +
            [kind] + list(struct.pack("<I", states)) + [9, 8, 7, 6] + [lsel] + list(body))


PROGRAM = b"\x0b\x10\x0a\x00\x99\x22\x48\x49\x22\x00\x00\x00"


def basic_seeds():
    s = {}
    s["page04-3k"] = basic(1, 0x0401, b"\x01\x04" + PROGRAM)
    s["page04-refused"] = basic(0, 0x1001, b"\x01\x04" + PROGRAM)
    s["page10-unexpanded"] = basic(0, 0x1001, b"\x01\x10" + PROGRAM)
    s["page10-refused"] = basic(2, 0x1201, b"\x01\x10" + PROGRAM)
    s["page10-fill"] = basic(0, 0xFFFF, b"\x01\x10" + PROGRAM)
    s["page12-8k"] = basic(2, 0x1201, b"\x01\x12" + PROGRAM)
    s["page12-11773"] = basic(2, 0x1201, b"\x01\x12\x00", length=11773)
    s["page12-11774-8k"] = basic(2, 0x1201, b"\x01\x12\x00", length=11774)
    s["page12-11774-16k"] = basic(3, 0x1201, b"\x01\x12\x00", length=11774)
    s["page12-19966-16k"] = basic(3, 0x1201, b"\x01\x12\x00", length=19966)
    s["page12-19966-24k"] = basic(4, 0x1201, b"\x01\x12\x00", length=19966)
    s["page12-wrong-start"] = basic(0, 0x1001, b"\x01\x12\x00", length=19965)
    s["page12-30000-24k"] = basic(4, 0x1201, b"\x01\x12\x01", length=30000)
    s["page12-28161-24k-whole"] = basic(4, 0x1201, b"\x01\x12\x01", length=28161)
    s["page12-28162-24k-too-long"] = basic(4, 0x1201, b"\x01\x12\x01", length=28162)
    s["page10-3585-whole"] = basic(0, 0x1001, b"\x01\x10\x01", length=3585)
    s["page10-3586-too-long"] = basic(0, 0x1001, b"\x01\x10\x01", length=3586)
    s["page04-6657-whole"] = basic(1, 0x0401, b"\x01\x04\x01", length=6657)
    s["page04-6658-too-long"] = basic(1, 0x0401, b"\x01\x04\x01", length=6658)
    s["pageA0-8194-whole"] = basic(0, 0x1001, b"\x00\xa0\x42", length=8194)
    s["pageA0-8195-cut"] = basic(0, 0x1001, b"\x00\xa0\x42", length=8195)
    s["pageA0"] = basic(0, 0x1001, b"\x00\xa0" + PROGRAM)
    s["pageA0-25002"] = basic(0, 0x1001, b"\x00\xa0\x42", length=25002)
    s["page60-image"] = basic(0, 0x1001, b"\x00\x60\xea")
    s["page2F-image"] = basic(0, 0x1001, b"\x80\x2f\xea")
    s["pageF0-last-block"] = basic(0, 0x1001, b"\x00\xf0\x12", length=4096)
    s["pageFF-cut"] = basic(0, 0x1001, b"\xff\xff\x34", length=25002)
    s["page00-zero-page"] = basic(0, 0x1001, b"\x10\x00\x01\x02\x03")
    s["page90-io"] = basic(0, 0x1001, b"\x00\x90\x00", length=4096)
    s["pageC0-basic-rom"] = basic(0, 0x1001, b"\x00\xc0\x00", length=100)
    s["empty"] = basic(0, 0x1001, b"", length=0)
    s["one-byte"] = basic(0, 0x1001, b"\x01", length=1)
    s["header-only"] = basic(0, 0x1001, b"\x01\x10", length=2)
    s["missing"] = basic(0, 0x1001, b"\x01\x10", kind=2)
    s["directory"] = basic(0, 0x1001, b"\x01\x10", kind=3)
    s["fifo"] = basic(0, 0x1001, b"\x01\x10", kind=1)
    s["save-over-older"] = basic(0, 0x1001, b"\x01\x10" + PROGRAM, kind=16)
    s["save-nothing-over-older"] = basic(0, 0x1001, b"\x01\x10" + PROGRAM, kind=4 | 16, end=0x1003)
    s["save-end-below-start"] = basic(0, 0x1001, b"\x01\x10" + PROGRAM, kind=4, end=0x0800)
    s["save-empty-program"] = basic(0, 0x1001, b"\x01\x10" + PROGRAM, kind=4, end=0x1003)
    s["save-near-end"] = basic(0, 0xFF00, b"\x00\x60\x00", kind=4 | 8, end=0x00FF)
    s["save-long"] = basic(4, 0x1201, b"\x01\x12" + PROGRAM, kind=4 | 8, end=0x6000)
    for k, v in s.items():
        write("basic", k, v)


# ---- configuration -----------------------------------------------------------------
def rc(rate=2, exp=0, vid=0, delay=0, over=28):
    return struct.pack("<iIIHB", rate, exp, vid, delay, over)


def config_seeds():
    s = {}
    s["valid"] = [0] + list(rc(3, 2, 1, 100, 9))
    s["verbose-valid"] = [0x80] + list(rc(1, 4, 0, 500, 28))
    s["empty"] = [0]
    s["nine-bytes"] = [0] + list(rc(4, 3)[:9])
    s["rate-7"] = [0] + list(rc(7))
    s["rate-6"] = [0] + list(rc(6))
    s["rate-0"] = [0] + list(rc(0))
    s["rate-negative"] = [0] + list(rc(-1))
    s["expansion-9"] = [0] + list(rc(exp=9))
    s["timing-2"] = [0] + list(rc(vid=2))
    s["timing-high-bytes"] = [0] + list(rc(vid=0x100))
    s["delay-big"] = [0] + list(rc(delay=60000))
    s["skipped-10"] = [0] + list(rc(over=10))
    s["long-file"] = [0] + list(rc()) + [1, 2, 3, 4, 5]
    s["nocfg"] = [1] + list(rc(5))
    s["missing"] = [4]
    s["fifo"] = [6]
    s["directory"] = [6 | 8]
    for k, v in s.items():
        write("config", k, v)


# ---- processor --------------------------------------------------------------------
def cpu(program, settings=0, rates=0x11, view=0, states=0, p=0x24, steps=3000, regs=(0, 0, 0, 0xFF),
        pc=0x1000, lines=None):
    lines = lines if lines is not None else [0xFF] * 18
    return ([settings, rates, view] + list(struct.pack("<I", states)) + list(struct.pack("<H", pc)) +
            list(regs) + [p] + list(struct.pack("<H", steps)) + lines + list(program))


def cpu_seeds():
    s = {}
    # Counting loop storing through every addressing mode, into RAM and ROM.
    s["stores"] = cpu(bytes([0xA9, 0x55, 0x8D, 0x00, 0x20, 0x9D, 0x00, 0xC0, 0x99, 0x00, 0x80,
                             0x85, 0x10, 0x91, 0x10, 0x81, 0x10, 0xE8, 0xC8, 0x4C, 0x00, 0x10]))
    # VIC set-up (screen at $1E00, 22 columns) and colour writes, then a loop.
    s["vic"] = cpu(bytes([0xA9, 0x05, 0x8D, 0x00, 0x90, 0xA9, 0x19, 0x8D, 0x01, 0x90, 0xA9, 0x96,
                          0x8D, 0x02, 0x90, 0xA9, 0xAE, 0x8D, 0x03, 0x90, 0xA9, 0xF0, 0x8D, 0x05,
                          0x90, 0xA9, 0x1B, 0x8D, 0x0F, 0x90, 0xEE, 0x00, 0x1E, 0x4C, 0x1E, 0x10]),
                   rates=0x01)
    # Timer 1 of the second VIA with its interrupt enabled, CLI, wait.
    s["via-irq"] = cpu(bytes([0xA9, 0x40, 0x8D, 0x2B, 0x91, 0xA9, 0xC0, 0x8D, 0x2E, 0x91, 0xA9, 0x10,
                              0x8D, 0x24, 0x91, 0x8D, 0x25, 0x91, 0x58, 0x4C, 0x12, 0x10]))
    # NMI from the first VIA's timer.
    s["via-nmi"] = cpu(bytes([0xA9, 0x40, 0x8D, 0x1B, 0x91, 0xA9, 0xC0, 0x8D, 0x1E, 0x91, 0xA9, 0x20,
                              0x8D, 0x14, 0x91, 0x8D, 0x15, 0x91, 0x4C, 0x12, 0x10]))
    # Decimal arithmetic, BRK, RTI, stack wrap.
    s["decimal-brk"] = cpu(bytes([0xF8, 0xA9, 0x99, 0x69, 0x01, 0xE9, 0x50, 0x9A, 0x48, 0x68, 0x08,
                                  0x28, 0x00, 0x00, 0x40]), regs=(0, 0, 0, 0x00))
    # Undocumented opcodes, the direct writers among them, and a halt.
    s["illegal"] = cpu(bytes([0xA2, 0x01, 0x1F, 0xFF, 0xDF, 0x1B, 0x00, 0xE0, 0x83, 0x10, 0x73, 0x10,
                              0xA7, 0x10, 0x9C, 0xFF, 0x10, 0x9E, 0x00, 0x20, 0x02, 0x4C, 0x00, 0x10]))
    # JMP ($xxFF) on a chip page, reads of every VIA register.
    s["indirect"] = cpu(bytes([0x6C, 0xFF, 0x91, 0xAD, 0x14, 0x91, 0xAD, 0x18, 0x91, 0xAD, 0x24, 0x91,
                               0xAD, 0x21, 0x91, 0xAD, 0x04, 0x90]))
    # Expansion and timing change at the reset, ROM blocks, RAM at $A000.
    s["reset-layout"] = cpu(bytes([0xEA, 0x4C, 0x00, 0x10]), settings=0x02 | 0x04 | (3 << 3) | 0x40,
                            states=0x00A0A0A0, view=0x03)
    s["pal-reset-24k"] = cpu(bytes([0xE6, 0x10, 0x4C, 0x00, 0x10]), settings=1 | 0x02 | (4 << 3))
    s["keys-pressed"] = cpu(bytes([0xA9, 0xFE, 0x8D, 0x20, 0x91, 0xAD, 0x21, 0x91, 0x4C, 0x00, 0x10]),
                            lines=[0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
                                   0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00])
    s["pc-at-end"] = cpu(bytes([0x20, 0xFE, 0xFF]), pc=0xFFFE)
    s["empty"] = []
    for k, v in s.items():
        write("cpu", k, v)


# ---- disk images ---------------------------------------------------------------
def d64(mode=0, name=200, length=100, track=17, sector=0, patches=(), size=None, raw=b""):
    out = [mode, name] + list(struct.pack("<H", length)) + [track, sector]
    if size is not None:
        out += list(struct.pack("<I", size))
    for t, sec, at, value in patches:
        out += [t - 1, sec, at, value]
    return out + list(raw)


def d64_seeds():
    # The base disk: ten files; entry n of the first directory sector at 18/1
    # offset 32 * n, its type at + 2, first track and sector at + 3 and + 4.
    s = {}
    s["new-file"] = d64()
    s["new-three-sectors"] = d64(length=509)
    s["new-too-long"] = d64(mode=0x10, length=65535)
    s["new-empty"] = d64(length=0)
    s["exists"] = d64(name=4, length=10)
    s["replace"] = d64(mode=4, name=4, length=2000)
    s["replace-locked"] = d64(mode=4, name=1, patches=[(18, 1, 32 + 2, 0xC2)])
    s["with-errors-saved"] = d64(mode=1 | 8, length=300)
    s["saved"] = d64(mode=8)
    s["directory-loop"] = d64(patches=[(18, 1, 0, 18), (18, 1, 1, 1)])
    s["directory-track-40"] = d64(patches=[(18, 1, 0, 40)])
    s["directory-off-its-track"] = d64(patches=[(18, 1, 0, 17), (18, 1, 1, 5)])
    s["entry-sector-25"] = d64(patches=[(18, 1, 4, 25)])
    s["entry-track-0"] = d64(patches=[(18, 1, 3, 0)])
    s["entry-scratched"] = d64(patches=[(18, 1, 2, 0)])
    s["file-loops-to-itself"] = d64(mode=4, name=0, patches=[(17, 0, 0, 17), (17, 0, 1, 0)])
    s["last-index-1"] = d64(patches=[(17, 0, 1, 1)])
    s["bam-count-wrong"] = d64(patches=[(18, 0, 4 + 4 * 16, 200)])
    s["bam-track-17-free"] = d64(length=5000, patches=[(18, 0, 4 + 4 * 16 + i, 0xFF) for i in range(1, 4)])
    s["read-18-19"] = d64(track=18, sector=19)
    s["read-36-0"] = d64(track=36, sector=0)
    s["cut-by-one"] = d64(mode=2, size=174847)
    s["grown-to-errors"] = d64(mode=2 | 8, size=175531)
    s["grown-by-one"] = d64(mode=2, size=175532)
    s["raw-short"] = d64(mode=3, raw=b"\x12\x01\x41\x00" * 8)
    for k, v in s.items():
        write("d64", k, v)


if __name__ == "__main__":
    for t in ("cartridge", "basic", "config", "cpu", "d64"):
        shutil.rmtree(os.path.join(HERE, "corpus", t), ignore_errors=True)
    cartridge_seeds()
    basic_seeds()
    config_seeds()
    cpu_seeds()
    d64_seeds()
