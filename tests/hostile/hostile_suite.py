#!/usr/bin/python3
"""Hostile files, made from small recipes, each translated by the built program under resource limits.

Every file is refused (with the message its recipe names) or translated, where the page is legal, within
20 seconds and 2.5 GiB, and never ends in a signal. A run that fails leaves no output file. The limits are
resource limits of the child (address space and CPU time) in a plain build, and the sanitizer's own memory
limit (hard_rss_limit_mb) in the sanitizer build, whose shadow memory a limit on the address space would
refuse.

Usage: hostile_suite.py VANTREL DRAWGEN [--sanitizer] [--keep DIR]
"""

import os
import random
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SECONDS = 20
MEMORY = 2560 << 20  # 2.5 GiB

ROWS = "too many or too few rows"
COLUMNS = "too many or too few columns"
MEMORY_TEXT = "out of memory"


# ---- file makers ------------------------------------------------------------------------------------------

def tiff(width, height, compression, rows_per_strip, strips, data_blocks, tile=None):
    """A little-endian TIFF of one image: `strips` holds, per strip (or per tile when `tile` gives its width
    and length), the index of the data block it points at (strips and tiles may share a block)."""
    blocks_at = []
    body = bytearray(b"II*\0\0\0\0\0")
    for block in data_blocks:
        blocks_at.append(len(body))
        body += block
        if len(body) % 2:
            body += b"\0"
    offsets = [blocks_at[i] for i in strips]
    counts = [len(data_blocks[i]) for i in strips]
    arrays = {}
    for name, values in (("offsets", offsets), ("counts", counts)):
        if len(values) > 1:
            arrays[name] = len(body)
            body += struct.pack("<%dI" % len(values), *values)
    offsets_entry = (273 if tile is None else 324, 4, len(offsets), arrays.get("offsets", offsets[0]))
    counts_entry = (279 if tile is None else 325, 4, len(counts), arrays.get("counts", counts[0]))
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 1), (259, 3, 1, compression), (262, 3, 1, 0)]
    if tile is None:
        entries += [offsets_entry, (277, 3, 1, 1), (278, 4, 1, rows_per_strip), counts_entry]
    else:
        entries += [(277, 3, 1, 1), (322, 4, 1, tile[0]), (323, 4, 1, tile[1]), offsets_entry, counts_entry]
    ifd = len(body)
    body[4:8] = struct.pack("<I", ifd)
    body += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack("<HI", value, 0)[:4] if kind == 3 and count == 1 else struct.pack("<I", value)
        body += struct.pack("<HHI", tag, kind, count) + packed
    body += b"\0\0\0\0"
    return bytes(body)


def dotted_band(width, rows, dot_row, step):
    """Uncompressed rows (1 = black) with one dot every `step` columns in row `dot_row`."""
    row_bytes = (width + 7) // 8
    dots = bytearray(row_bytes)
    for x in range(3, width, step):
        dots[x // 8] |= 0x80 >> (x % 8)
    white = bytes(row_bytes)
    return b"".join(bytes(dots) if r == dot_row else white for r in range(rows))


def patched(data, changes):
    """Big-endian 32-bit words written at the given offsets."""
    out = bytearray(data)
    for at, value in changes:
        out[at:at + 4] = struct.pack(">I", value)
    return bytes(out)


def cals_header(pelcnt):
    records = ["srcdocid: NONE", "dstdocid: NONE", "txtfilid: NONE", "figid: NONE", "srcgph: NONE",
               "doccls: NONE", "rtype: 1", "rorient: 000,270", "rpelcnt: " + pelcnt, "rdensty: 0200", "notes: NONE"]
    records += [""] * 5
    return b"".join(r.ljust(128).encode() for r in records)


# ---- recipes ----------------------------------------------------------------------------------------------

class Recipe:
    def __init__(self, name, data, args, expect, out="out.rnl"):
        self.name, self.data, self.args, self.expect, self.out = name, data, args, expect, out


def recipes(base):
    """`base` maps a format name to a small legal page of that format made by drawgen."""
    rnl = base["rnl"]
    # Native header: height at 26, width at 30, resolutions in tenths at 18 and 22.
    yield Recipe("native-million-squared", patched(rnl, [(26, 1000000), (30, 1000000)]), [], ROWS)
    yield Recipe("native-million-squared-turned", patched(rnl, [(26, 1000000), (30, 1000000)]), ["-rot", "90"], ROWS)
    yield Recipe("native-tenth-dpi-enlarged", patched(rnl, [(18, 1), (22, 1)]), ["-odpi", "400"], ROWS)
    yield Recipe("native-tall-turned", patched(rnl, [(26, 1 << 25), (30, 32)]), ["-rot", "90"], COLUMNS)
    yield Recipe("native-tall-half-turn", patched(rnl, [(26, 1 << 25), (30, 32)]), ["-rot", "180"], ROWS)
    yield Recipe("cals-pel-count-beyond-the-budget", cals_header("999999,999999") + bytes(64), [], ROWS)
    # A 1.6 KB TIFF whose one strip claims a page of 10^12 pixels.
    yield Recipe("tiff-million-squared", tiff(1000000, 1000000, 4, 1000000, [0], [bytes(1500)]),
                 ["-rof", "pcl"], ROWS, "out.pcl")
    # Legal pages made of one shared strip: every row the same, 8 * 10^9 pixels.
    row = dotted_band(1000000, 1, 0, 997)
    shared = tiff(1000000, 8000, 1, 1, [0] * 8000, [row])
    yield Recipe("tiff-shared-rows", shared, [], "complete")
    yield Recipe("tiff-shared-rows-to-a-full-device", shared, ["-rof", "pcl"],
                 "Unable to complete writing file.", "/dev/full")
    # Every 32 x 32 tile holds one dot: the turned page's tiles are all real (2^21 of them).
    band = dotted_band(32768, 32, 5, 32)
    yield Recipe("tiff-dot-in-every-tile-turned", tiff(32768, 65536, 1, 32, [0] * 2048, [band]),
                 ["-rot", "90"], "complete")
    big_band = dotted_band(131072, 32, 5, 32)
    yield Recipe("tiff-dot-in-every-tile-beyond-the-budget",
                 tiff(131072, 131072, 1, 32, [0] * 4096, [big_band]), ["-rot", "90"], ROWS)
    yield Recipe("tiff-dot-in-every-tile-reduced", tiff(32768, 65536, 1, 32, [0] * 2048, [band]),
                 ["-odpi", "100", "-dpi", "400"], "complete")

    # Tiles narrower or shorter than 16 pixels are refused before any is read.
    for w, h in ((1, 16), (16, 8), (8, 8)):
        across, down = (64 + w - 1) // w, (64 + h - 1) // h
        yield Recipe("tiff-tiles-%dx%d" % (w, h), tiff(64, 64, 1, 0, [0] * (across * down),
                                                        [bytes((w + 7) // 8 * h)], tile=(w, h)),
                     [], "bad header data")
    # White Group 4 tiles of 4096 rows (one V0 bit a row) shared by every tile of the page: 2^32 pixels are
    # legal and translated, 2^34 are beyond the page budget.
    white_tile = b"\xff" * 512
    yield Recipe("tiff-shared-white-tiles", tiff(65536, 65536, 4, 0, [0] * 256, [white_tile], tile=(4096, 4096)),
                 [], "complete")
    yield Recipe("tiff-shared-white-tiles-beyond-the-budget",
                 tiff(131072, 131072, 4, 0, [0] * 1024, [white_tile], tile=(4096, 4096)), [], ROWS)

    # Cut and corrupted copies of every base page, read plainly, turned and reduced, and into PDF (whose
    # writer copies the code of a one-block Group 4 page after the reader has decoded it).
    rng = random.Random(18)
    for fmt, data in sorted(base.items()):
        variants = [("cut-header", data[:min(len(data), 40)]), ("cut-third", data[:len(data) // 3]),
                    ("cut-last", data[:-1])]
        for k in range(6):
            flipped = bytearray(data)
            for _ in range(1 + k):
                at = rng.randrange(len(flipped))
                flipped[at] ^= 1 << rng.randrange(8)
            variants.append(("flip%d" % k, bytes(flipped)))
            smashed = bytearray(data)
            at = rng.randrange(min(len(smashed), 256))
            smashed[at:at + 4] = b"\xff\xff\xff\x7f"
            variants.append(("smash%d" % k, bytes(smashed)))
        for label, variant in variants:
            for options in ([], ["-rot", "90"], ["-odpi", "100"], ["-rof", "pdf"]):
                name = "%s-%s%s" % (fmt, label, "".join(options).replace("-", "_"))
                yield Recipe(name, variant, options, "any", "out.pdf" if "pdf" in options else "out.rnl")


# ---- the runner -------------------------------------------------------------------------------------------

def limit_child():
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY, MEMORY))
    resource.setrlimit(resource.RLIMIT_CPU, (SECONDS, SECONDS))


def run(vantrel, work, recipe, sanitizer, extension):
    inp = os.path.join(work, "in." + extension)
    with open(inp, "wb") as f:
        f.write(recipe.data)
    out = recipe.out if recipe.out.startswith("/") else os.path.join(work, recipe.out)
    if not out.startswith("/dev/") and os.path.exists(out):
        os.remove(out)
    env = dict(os.environ)
    if sanitizer:
        # A sanitizer report must not pass for the exit status 1 of a complete translation.
        env["ASAN_OPTIONS"] = "hard_rss_limit_mb=%d:allocator_may_return_null=1:exitcode=86" % (MEMORY >> 20)
        env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1:exitcode=86"
    start = time.monotonic()
    try:
        p = subprocess.run([vantrel, inp, out] + recipe.args, cwd=work, env=env, capture_output=True,
                           timeout=SECONDS, preexec_fn=None if sanitizer else limit_child)
    except subprocess.TimeoutExpired:
        return "took more than %d seconds" % SECONDS
    seconds = time.monotonic() - start
    text = p.stdout.decode(errors="replace") + p.stderr.decode(errors="replace")
    if p.returncode < 0:
        return "ended by signal %s: %s" % (signal.Signals(-p.returncode).name, text[-300:])
    if p.returncode not in (0, 1):
        return "exit status %d: %s" % (p.returncode, text[-300:])
    complete = p.returncode == 1
    if not complete and not out.startswith("/dev/") and os.path.exists(out):
        return "a failed run left its output"
    if recipe.expect == "complete" and not complete:
        return "not translated: " + text
    if recipe.expect not in ("complete", "any"):
        if complete or ("vantrel: " + recipe.expect) not in text:
            return "expected '%s', got: %s" % (recipe.expect, text)
    return "ok %.2f s" % seconds


def main():
    args = sys.argv[1:]
    sanitizer = "--sanitizer" in args
    keep = args[args.index("--keep") + 1] if "--keep" in args else None
    vantrel, drawgen = os.path.abspath(args[0]), os.path.abspath(args[1])
    work = keep or tempfile.mkdtemp(prefix="vantrel-hostile-")
    os.makedirs(work, exist_ok=True)
    try:
        base = {}
        for fmt in ("rnl", "g3", "g4", "cg4", "tif", "tiffg3", "tiffu", "tiled", "opt", "pcx", "mmr", "cit",
                    "rlc", "13"):
            path = os.path.join(work, "base." + fmt)
            subprocess.run([drawgen, "-w", "300", "-h", "200", "-dpi", "200", "-f", fmt, path], check=True)
            with open(path, "rb") as f:
                base[fmt] = f.read()
        failures = 0
        count = 0
        for recipe in recipes(base):
            # The run-length formats without a magic are read by their extension.
            extension = "rlc" if recipe.name.startswith("rlc-") else "bin"
            result = run(vantrel, work, recipe, sanitizer, extension)
            count += 1
            if not result.startswith("ok"):
                failures += 1
                print("FAILED %s: %s" % (recipe.name, result))
            elif recipe.expect != "any":
                print("%-40s %s" % (recipe.name, result))
        print("%d hostile files, %d failed" % (count, failures))
        return 1 if failures else 0
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
