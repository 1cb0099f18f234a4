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


def filenet(width, height, tile, tiles):
    """A tiled FileNet IMG file whose `tiles` table entries all point at one tile of white segments, each as
    long as the tile (`tile` gives its width and length)."""
    image_header = 8 + 2 * 12
    segments = (tile[1] + 254) // 255
    shared = b"323I" + struct.pack(">I", segments)
    left = tile[1]
    for _ in range(segments):
        shared += struct.pack(">BBH", 0, min(left, 255), 0)
        left -= min(left, 255)
    table_at = image_header + 40
    tile_at = 40 + 8 * tiles  # from the image header
    body = b"\x03\0\0\0" + struct.pack(">I", 2)
    body += struct.pack(">III", 1, image_header, tile_at + len(shared))
    body += struct.pack(">III", 2, width, height)
    body += struct.pack(">IHHHHIIIIIII", 0x12345678, 0, 0, 0, 0, 200, 0, 0, width, height, tile[0], tile[1])[:40]
    body += struct.pack(">II", tile_at, 0) * tiles
    assert len(body) == table_at + 8 * tiles
    return body + shared


def chain(pages, last_link):
    """A little-endian TIFF of `pages` white 8 x 8 Group 4 pages that share one strip. The last directory
    links to last_link(directory offsets, file size): 0 ends the chain."""
    body = bytearray(b"II*\0\0\0\0\0")
    strip = len(body)
    body += b"\xff\xff"
    entries = [(256, 4, 1, 8), (257, 4, 1, 8), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0), (273, 4, 1, strip),
               (277, 3, 1, 1), (278, 4, 1, 8), (279, 4, 1, 2)]
    size = 2 + 12 * len(entries) + 4
    at = [len(body) + size * i for i in range(pages)]
    end = at[-1] + size
    body[4:8] = struct.pack("<I", at[0])
    for i in range(pages):
        body += struct.pack("<H", len(entries))
        for tag, kind, count, value in entries:
            packed = struct.pack("<HI", value, 0)[:4] if kind == 3 else struct.pack("<I", value)
            body += struct.pack("<HHI", tag, kind, count) + packed
        body += struct.pack("<I", at[i + 1] if i + 1 < pages else last_link(at, end))
    return bytes(body)


def white_g4_tiff(width, height):
    """A Group 4 TIFF of one strip of white rows: one vertical-mode bit a row."""
    return tiff(width, height, 4, max(height, 1), [0], [b"\xff" * max((height + 7) // 8, 1)])


def cals_header(pelcnt):
    records = ["srcdocid: NONE", "dstdocid: NONE", "txtfilid: NONE", "figid: NONE", "srcgph: NONE",
               "doccls: NONE", "rtype: 1", "rorient: 000,270", "rpelcnt: " + pelcnt, "rdensty: 0200", "notes: NONE"]
    records += [""] * 5
    return b"".join(r.ljust(128).encode() for r in records)


# ---- recipes ----------------------------------------------------------------------------------------------

class Recipe:
    def __init__(self, name, data, args, expect, out="out.rnl", env=None, within=SECONDS):
        self.name, self.data, self.args, self.expect, self.out = name, data, args, expect, out
        self.env = env or {}
        self.within = within  # processor seconds a plain build may take


def recipes(base):
    """`base` maps a format name to a small legal page of that format made by drawgen."""
    rnl = base["rnl"]
    # Native header: height at 26, width at 30, resolutions in tenths at 18 and 22.
    yield Recipe("native-million-squared", patched(rnl, [(26, 1000000), (30, 1000000)]), [], ROWS)
    yield Recipe("native-million-squared-turned", patched(rnl, [(26, 1000000), (30, 1000000)]), ["-rot", "90"], ROWS)
    yield Recipe("native-tenth-dpi-enlarged", patched(rnl, [(18, 1), (22, 1)]), ["-odpi", "400"], ROWS)
    raised = {"ZEB_MAXPAGE": str(1 << 25)}
    yield Recipe("native-tall-turned", patched(rnl, [(26, 1 << 25), (30, 32)]), ["-rot", "90"], COLUMNS, env=raised)
    yield Recipe("native-tall-half-turn", patched(rnl, [(26, 1 << 25), (30, 32)]), ["-rot", "180"], ROWS)
    yield Recipe("native-tall-beyond-the-rows", patched(rnl, [(26, 1 << 25), (30, 32)]), [], ROWS)
    yield Recipe("native-zero-rows", patched(rnl, [(26, 0)]), [], ROWS)

    # Directory chains that loop or leave the file end at the fault, the pages before it translated; a
    # chain of 65,535 tiny pages is counted and translated whole. Each ends within a second of processor
    # time, but translating all 65,535 pages, which writes as many (within a few, linear in the pages).
    chains = [("loop-to-self", chain(3, lambda at, end: at[-1])),
              ("loop-to-earlier", chain(4, lambda at, end: at[1])),
              ("past-the-end", chain(3, lambda at, end: end + 1000)),
              ("65535-pages", chain(65535, lambda at, end: 0))]
    for label, data in chains:
        for options, out in (([], "out.tif"), (["-page", "all"], "out.tif"), (["-page", "all"], "out.pdf"),
                             (["-page", "3"], "out.g4")):
            within = 4 if label == "65535-pages" and "all" in options else 1
            yield Recipe("tiff-chain-%s%s-%s" % (label, "".join(options).replace("-", "_"), out), data, options,
                         "complete", out, within=within)
    # A later page of no rows (its ImageLength 0, the 4-byte field of the second directory's second entry) is
    # refused when it is reached, plainly or turned.
    no_rows = patched(chain(3, lambda at, end: 0), [(10 + 114 + 2 + 12 + 8, 0)])
    for options in (["-page", "2"], ["-page", "all"], ["-page", "all", "-rot", "90"]):
        yield Recipe("tiff-chain-page-of-no-rows%s" % "".join(options).replace("-", "_"), no_rows, options, ROWS,
                     "out.tif", within=1)
    yield Recipe("tiff-chain-loop-past-its-pages", chain(3, lambda at, end: at[0]), ["-page", "4"], "no such page",
                 "out.tif", within=1)

    # Rows and columns: 2^20 of each are read and written, one more is refused unless ZEB_MAXPAGE raises it.
    side = 1 << 20
    yield Recipe("tiff-rows-at-the-budget", white_g4_tiff(16, side), [], "complete")
    yield Recipe("tiff-rows-past-the-budget", white_g4_tiff(16, side + 1), [], ROWS)
    yield Recipe("tiff-rows-past-the-budget-raised", white_g4_tiff(16, side + 1), [], "complete",
                 env={"ZEB_MAXPAGE": str(side + 1)})
    yield Recipe("tiff-columns-at-the-budget", white_g4_tiff(side, 16), [], "complete", "out.g4")
    yield Recipe("tiff-columns-past-the-budget", white_g4_tiff(side + 1, 16), [], COLUMNS, "out.g4")
    yield Recipe("tiff-rows-to-a-vbf-beyond-the-output-budget", white_g4_tiff(8, 1 << 24), ["-rof", "vbf"], ROWS,
                 "out.vbf", env={"ZEB_MAXPAGE": str(1 << 24)})
    yield Recipe("tiff-zero-rows", white_g4_tiff(16, 0), [], ROWS)
    yield Recipe("tiff-zero-rows-to-tiffu", white_g4_tiff(16, 0), ["-rof", "tiffu"], ROWS, "out.tif")
    yield Recipe("tiff-zero-columns", white_g4_tiff(0, 16), [], COLUMNS)
    # Writers whose fields cannot state the page refuse it, never cut it.
    for fmt, width, height, expect in (("rnl", 32768, 4, COLUMNS), ("rlc", 65535, 4, COLUMNS),
                                       ("rlc", 16, 65535, ROWS), ("grphtec", 65535, 4, COLUMNS),
                                       ("jd4", 65529, 4, COLUMNS), ("jd4", 65528, 4, "complete")):
        yield Recipe("tiff-%dx%d-to-%s" % (width, height, fmt), white_g4_tiff(width, height), ["-rof", fmt],
                     expect, "out.%s" % fmt)

    # FileNet tiles narrower than 16 pixels are refused, and pages of more than 2^14 tiles; the worst legal
    # cases, 2^14 tiles of 16 x 1 or 16 x 16, are read.
    yield Recipe("filenet-tiles-1x16", filenet(4096, 64, (1, 16), 4096 * 4), [], "bad header data")
    yield Recipe("filenet-tiles-16x1-most", filenet(4096, 64, (16, 1), 256 * 64), [], "complete")
    yield Recipe("filenet-tiles-8x8", filenet(4096, 64, (8, 8), 512 * 8), [], "bad header data")
    yield Recipe("filenet-tiles-16x16-most", filenet(65536, 64, (16, 16), 4096 * 4), [], "complete", "out.g4")
    yield Recipe("filenet-tiles-16x16-one-row-too-many", filenet(65536, 80, (16, 16), 4096 * 5), [],
                 "bad header data", "out.g4")
    yield Recipe("filenet-zero-rows", filenet(64, 0, (64, 64), 0), [], ROWS)
    yield Recipe("cals-pel-count-beyond-the-budget", cals_header("999999,999999") + bytes(64), [], ROWS)
    # A 1.6 KB TIFF whose one strip claims a page of 10^12 pixels.
    yield Recipe("tiff-million-squared", tiff(1000000, 1000000, 4, 1000000, [0], [bytes(1500)]),
                 ["-rof", "pcl"], ROWS, "out.pcl")
    # Legal pages made of one shared strip: every row the same, 8 * 10^9 pixels.
    row = dotted_band(1000000, 1, 0, 997)
    shared = tiff(1000000, 8000, 1, 1, [0] * 8000, [row])
    yield Recipe("tiff-shared-rows", shared, [], "complete", "out.g4")
    yield Recipe("tiff-shared-rows-to-a-full-device", shared, ["-rof", "pcl"],
                 "Unable to complete writing file.", "/dev/full")
    # Every 32 x 32 tile holds one dot: the turned page's tiles are all real (2^21 of them); the turned page
    # is narrow enough for the native run-length writer.
    band = dotted_band(32768, 32, 5, 32)
    wide_band = dotted_band(65536, 32, 5, 32)
    yield Recipe("tiff-dot-in-every-tile-turned", tiff(65536, 32736, 1, 32, [0] * 1023, [wide_band]),
                 ["-rot", "90"], "complete")
    big_band = dotted_band(131072, 32, 5, 32)
    yield Recipe("tiff-dot-in-every-tile-beyond-the-budget",
                 tiff(131072, 131072, 1, 32, [0] * 4096, [big_band]), ["-rot", "90"], ROWS)
    yield Recipe("tiff-dot-in-every-tile-reduced", tiff(32768, 65536, 1, 32, [0] * 2048, [band]),
                 ["-odpi", "100", "-dpi", "400"], "complete")

    # Tiles narrower than 16 pixels are refused before any is read; short ones are read, as libtiff does.
    for w, h, expect in ((1, 16, "bad header data"), (16, 8, "complete"), (8, 8, "bad header data"),
                         (16, 1, "complete")):
        across, down = (64 + w - 1) // w, (64 + h - 1) // h
        yield Recipe("tiff-tiles-%dx%d" % (w, h), tiff(64, 64, 1, 0, [0] * (across * down),
                                                        [bytes((w + 7) // 8 * h)], tile=(w, h)),
                     [], expect)
    # The worst short tiles: 2^16 of 16 x 1 across a page at the column budget; one row more is refused.
    yield Recipe("tiff-tiles-16x1-most", tiff(side, 1, 4, 0, [0] * 65536, [b"\xff"], tile=(16, 1)), [],
                 "complete", "out.g4")
    yield Recipe("tiff-tiles-16x1-too-many", tiff(side, 2, 4, 0, [0] * (2 * 65536), [b"\xff"], tile=(16, 1)), [],
                 "bad header data", "out.g4")
    # Strip tables of another length than RowsPerStrip says: the tables decide.
    quarter = bytes(2 * 16)
    yield Recipe("tiff-rows-per-strip-beyond-the-strips", tiff(16, 64, 1, 1000, [0, 1, 2, 3], [quarter] * 4),
                 [], "complete")
    yield Recipe("tiff-strips-beyond-the-rows", tiff(16, 4, 1, 1, [0] * 5, [bytes(2)]), [], "bad header data")
    # PBM: header numbers are bounded before the budgets see them; a comment may run to the end of the file.
    yield Recipe("pbm-million-squared", b"P4\n1000000 1000000\n" + bytes(1000), [], ROWS)
    yield Recipe("pbm-columns-past-the-budget", b"P4\n%d 1\n" % (side + 1) + bytes(1000), [], COLUMNS, "out.g4")
    yield Recipe("pbm-rows-at-the-budget", b"P4\n8 %d\n" % side + bytes(side), [], "complete")
    yield Recipe("pbm-number-beyond-int32", b"P4\n99999999999999999999 1\n" + bytes(8), [], "bad header data")
    yield Recipe("pbm-endless-comment", b"P1\n#" + b"x" * 10000000, [], "unexpected input Stream EOF")
    yield Recipe("pbm-plain-endless-white-space", b"P1\n64 64\n" + b" " * 10000000, [],
                 "unexpected input Stream EOF")
    yield Recipe("pbm-plain-bad-pixel", b"P1\n4 1\n0102", [], "undecipherable or illegal raster data")
    # Read failures are the input's: a 1-byte file, a cut run-length file.
    yield Recipe("one-byte-input", b"\x01", [], "unexpected input Stream EOF")
    yield Recipe("rlc-cut-in-a-row", b"\0\2\0\x08\0\0\0\1\0\1", [], "unexpected input Stream EOF")
    # White Group 4 tiles of 4096 rows (one V0 bit a row) shared by every tile of the page: 2^32 pixels are
    # legal and translated, 2^34 are beyond the page budget.
    white_tile = b"\xff" * 512
    yield Recipe("tiff-shared-white-tiles", tiff(65536, 65536, 4, 0, [0] * 256, [white_tile], tile=(4096, 4096)),
                 [], "complete", "out.g4")
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
            # The turned and reduced runs also take the page digest of what they hand the writer.
            for options in ([], ["-rot", "90", "-digest"], ["-odpi", "100", "-digest"], ["-rof", "pdf"]):
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
    env.pop("ZEB_MAXPAGE", None)
    env.update(recipe.env)
    if sanitizer:
        # A sanitizer report must not pass for the exit status 1 of a complete translation.
        env["ASAN_OPTIONS"] = "hard_rss_limit_mb=%d:allocator_may_return_null=1:exitcode=86" % (MEMORY >> 20)
        env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1:exitcode=86"
    start = time.monotonic()
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
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
    now = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = now.ru_utime + now.ru_stime - used.ru_utime - used.ru_stime
    if not sanitizer and cpu > recipe.within:
        return "took %.2f s of processor time, more than %d" % (cpu, recipe.within)
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
                    "rlc", "13", "pbm"):
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
