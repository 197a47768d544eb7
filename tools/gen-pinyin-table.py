#!/usr/bin/env python3
"""Builds the pinyin readings table the engine matches typed pinyin with.

    tools/gen-pinyin-table.py [UNIHAN_READINGS] [OUT_DIR]

UNIHAN_READINGS is the Unicode Han database's readings file, plain, bz2 or
inside Unihan.zip (default: the first of /usr/share/unicode/Unihan_Readings.txt,
.txt.bz2 and Unihan.zip that exists; Debian package "unicode-data").
OUT_DIR defaults to engine/resources beside this script's repository.

Readings. For every ideograph we take kMandarin and every reading of
kHanyuPinyin, kXHC1983 and kTGHZ2013, strip the tone marks, lower the
case and drop duplicates. The letter u with diaeresis is written v, as
pinyin keyboards take it ("lv", "nv", "lve"); since many people type it as
a plain u, the u spelling is kept as a second reading ("lu", "nu", "lue").
j, q, x and y never carry a written diaeresis, so "ju", "qu" stay as they are.

Coverage: every code point the file gives a reading, supplementary planes
included (the table stays small).

Outputs:
  pinyin.bin           the compact table the engine embeds (format below)
  pinyin-readings.txt  one line per ideograph, "U+4E2D zhong", readings
                       sorted and space-separated: the plain reference the
                       tests check the engine against

pinyin.bin, all numbers little-endian, every array starting on an 8-byte
boundary (zero padding between arrays):
  header, 32 bytes:
    char[4]  "QVPY"
    u16      version (1)
    u16      syllable count S
    u32      top count T (code points 0 .. T*64-1 are covered)
    u32      page count P
    u32      entry count E (code points with readings)
    u32      pool words W
    u32      syllable bytes B
    u32      0
  u64[P]   page bits: bit k set when code point page*64+k has readings
  u32[P]   page base: index in the entries of the page's first set bit
  u16[T]   top: the page record of code points t*64 .. t*64+63, or 0xFFFF
  u16[E]   entries: pool offset of the code point's readings
  u16[W]   pool: reading lists, each a count n followed by n syllable ids
  u8[B]    syllables in id order (ascending), each a length byte and that
           many ASCII letters a..z
Reading lists are shared between code points with the same readings.
"""

import bz2
import io
import os
import struct
import sys
import unicodedata
import zipfile

FIELDS = ("kMandarin", "kHanyuPinyin", "kXHC1983", "kTGHZ2013")
PAGE = 64
PLANES_END = 0x40000  # code points beyond plane 3 hold no ideographs
MAX_SYLLABLE = 7
MAX_READINGS = 255


def fail(message):
    sys.stderr.write("gen-pinyin-table: %s\n" % message)
    sys.exit(1)


def default_source():
    for name in ("Unihan_Readings.txt", "Unihan_Readings.txt.bz2", "Unihan.zip"):
        path = os.path.join("/usr/share/unicode", name)
        if os.path.exists(path):
            return path
    fail("no Unihan readings file in /usr/share/unicode (apt-get install unicode-data)")


def open_readings(path):
    if path.endswith(".zip"):
        archive = zipfile.ZipFile(path)
        return io.TextIOWrapper(archive.open("Unihan_Readings.txt"), encoding="utf-8")
    if path.endswith(".bz2"):
        return bz2.open(path, "rt", encoding="utf-8")
    return open(path, encoding="utf-8")


def field_readings(field, value):
    """The pinyin spellings of one field's value, tone marks still on."""
    if field == "kMandarin":
        return value.split()
    # "10028.100:zhōng,zhòng" entries: location, colon, comma-separated readings.
    out = []
    for entry in value.split():
        if ":" not in entry:
            fail("unexpected %s entry %r" % (field, entry))
        out.extend(entry.split(":", 1)[1].split(","))
    return out


def plain_spellings(reading):
    """The toneless ASCII spellings of one reading: the v form and, for a
    reading with ü, the u form too."""
    decomposed = unicodedata.normalize("NFD", reading.lower())
    # ü (and its toned forms) decompose to u + U+0308; keep that as v.
    decomposed = decomposed.replace("u\u0308", "v")
    letters = "".join(c for c in decomposed if not unicodedata.combining(c))
    if not letters or not all("a" <= c <= "z" for c in letters):
        fail("reading %r does not reduce to ASCII letters" % reading)
    if len(letters) > MAX_SYLLABLE:
        fail("reading %r is longer than %d letters" % (reading, MAX_SYLLABLE))
    spellings = {letters}
    if "v" in letters:
        spellings.add(letters.replace("v", "u"))
    return spellings


def read_table(path):
    readings = {}
    with open_readings(path) as lines:
        for line in lines:
            if line.startswith("#") or not line.strip():
                continue
            parts = line.rstrip("\n").split("\t")
            if len(parts) != 3 or parts[1] not in FIELDS:
                continue
            cp = int(parts[0][2:], 16)
            if cp >= PLANES_END:
                fail("code point %s beyond the covered planes" % parts[0])
            for reading in field_readings(parts[1], parts[2]):
                readings.setdefault(cp, set()).update(plain_spellings(reading))
    if len(readings) < 20000:
        fail("only %d ideographs with readings: wrong input file?" % len(readings))
    return readings


def check_known(readings):
    known = {0x4E2D: "zhong", 0x884C: "hang", 0x5973: "nv", 0x7EFF: "lv", 0x62A5: "bao"}
    for cp, reading in known.items():
        if reading not in readings.get(cp, ()):
            fail("U+%04X lacks the reading %s" % (cp, reading))
    if "xing" not in readings[0x884C]:
        fail("U+884C lacks the reading xing")


def pad8(blob):
    return blob + b"\0" * (-len(blob) % 8)


def build_binary(readings):
    syllables = sorted({s for spellings in readings.values() for s in spellings})
    if len(syllables) >= 0xFFFF:
        fail("too many syllables")
    syllable_id = {s: i for i, s in enumerate(syllables)}

    pool = []
    pool_offset = {}
    entries = []
    page_bits = []
    page_base = []
    top = [0xFFFF] * (PLANES_END // PAGE)
    for cp in sorted(readings):
        ids = tuple(syllable_id[s] for s in sorted(readings[cp]))
        if len(ids) > MAX_READINGS:
            fail("U+%04X has too many readings" % cp)
        if ids not in pool_offset:
            pool_offset[ids] = len(pool)
            pool.append(len(ids))
            pool.extend(ids)
        page = cp // PAGE
        if top[page] == 0xFFFF:
            top[page] = len(page_bits)
            page_bits.append(0)
            page_base.append(len(entries))
        page_bits[top[page]] |= 1 << (cp % PAGE)
        entries.append(pool_offset[ids])
    if len(pool) > 0xFFFF or len(page_bits) >= 0xFFFF:
        fail("table outgrows its 16-bit offsets")

    names = b"".join(bytes([len(s)]) + s.encode("ascii") for s in syllables)
    header = struct.pack("<4sHHIIIIII", b"QVPY", 1, len(syllables), len(top), len(page_bits),
                         len(entries), len(pool), len(names), 0)
    return b"".join([
        pad8(header),
        pad8(struct.pack("<%dQ" % len(page_bits), *page_bits)),
        pad8(struct.pack("<%dI" % len(page_base), *page_base)),
        pad8(struct.pack("<%dH" % len(top), *top)),
        pad8(struct.pack("<%dH" % len(entries), *entries)),
        pad8(struct.pack("<%dH" % len(pool), *pool)),
        pad8(names),
    ]), len(syllables)


def listing(readings):
    return "".join("U+%04X %s\n" % (cp, " ".join(sorted(readings[cp]))) for cp in sorted(readings))


def main(argv):
    if len(argv) > 3:
        fail("usage: gen-pinyin-table.py [UNIHAN_READINGS] [OUT_DIR]")
    source = argv[1] if len(argv) > 1 else default_source()
    out_dir = argv[2] if len(argv) > 2 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "engine", "resources")
    try:
        readings = read_table(source)
    except (OSError, KeyError, zipfile.BadZipFile, UnicodeDecodeError, ValueError) as error:
        fail("cannot read %s: %s" % (source, error))
    check_known(readings)
    binary, syllable_count = build_binary(readings)
    with open(os.path.join(out_dir, "pinyin.bin"), "wb") as f:
        f.write(binary)
    with open(os.path.join(out_dir, "pinyin-readings.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(listing(readings))
    bmp = sum(1 for cp in readings if cp < 0x10000)
    print("%d ideographs (%d in the BMP), %d syllables, pinyin.bin %d bytes" %
          (len(readings), bmp, syllable_count, len(binary)))


if __name__ == "__main__":
    main(sys.argv)
