#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_elf into fuzz/corpus/elf: small ELF files
with an "__info_plist" section in both classes and byte orders, the form
that keeps its section count in entry 0, files whose section holds no usable
version, and hostile files whose header or section table points past the
end or wraps. The helper tool's test reads them all back: version 7 from
those named "good-", none from the others.

    python3 fuzz/make_elf_seeds.py
"""
import pathlib

PLIST = b'<plist version="1.0"><dict><key>CFBundleVersion</key><string>7</string></dict></plist>'
SECTION = b"__info_plist"


def put(data, at, value, width, big):
    data[at:at + width] = (value & ((1 << 8 * width) - 1)).to_bytes(width, "big" if big else "little")


def make_elf(is64, big, name=SECTION, contents=PLIST):
    """The header, the section's bytes, the name table, and last the section
    table: entry 0 empty, the section, the name table."""
    word = 8 if is64 else 4
    entry_size = 64 if is64 else 40
    data = bytearray(64 if is64 else 52)
    data[0:7] = b"\x7fELF" + bytes([2 if is64 else 1, 2 if big else 1, 1])
    names = b"\0" + name + b"\0.shstrtab\0"
    entries = [(0, 0, 0, 0), (1, 1, len(data), len(contents)), (len(name) + 2, 3, len(data) + len(contents), len(names))]
    data += contents + names
    table = len(data)
    for entry_name, kind, offset, size in entries:
        entry = bytearray(entry_size)
        put(entry, 0, entry_name, 4, big)
        put(entry, 4, kind, 4, big)
        put(entry, 0x18 if is64 else 0x10, offset, word, big)
        put(entry, 0x20 if is64 else 0x14, size, word, big)
        data += entry
    put(data, 0x28 if is64 else 0x20, table, word, big)
    put(data, 0x3a if is64 else 0x2e, entry_size, 2, big)
    put(data, 0x3c if is64 else 0x30, 3, 2, big)
    put(data, 0x3e if is64 else 0x32, 2, 2, big)
    return data


def patched(*patches):
    """The 64-bit little-endian file with (offset, width, value) changes;
    an offset of ("table", n) counts from the section table."""
    data = make_elf(True, False)
    table = len(data) - 3 * 64
    for at, width, value in patches:
        put(data, table + at[1] if isinstance(at, tuple) else at, value, width, False)
    return data


def main():
    seeds = {
        "good-elf32-lsb": make_elf(False, False),
        "good-elf32-msb": make_elf(False, True),
        "good-elf64-lsb": make_elf(True, False),
        "good-elf64-msb": make_elf(True, True),
        # The section count and the name table's index kept in entry 0.
        "good-many-sections": patched((0x3c, 2, 0), (("table", 0x20), 8, 3), (0x3e, 2, 0xFFFF), (("table", 0x28), 4, 2)),
        "other-section-name": make_elf(True, False, name=b"__info_plisT"),
        "no-property-list": make_elf(True, False, contents=b"junk"),
        "an-array": make_elf(True, False, contents=b"<plist><array/></plist>"),
        "a-number": make_elf(True, False, contents=PLIST.replace(b"<string>7</string>", b"<integer>7</integer>")),
        "hostile-empty": b"",
        "hostile-no-magic": make_elf(True, False)[:1] + b"X" + make_elf(True, False)[2:],
        "hostile-class-3": make_elf(True, False)[:4] + b"\x03" + make_elf(True, False)[5:],
        "hostile-cut-elf32-msb": make_elf(False, True)[:120],
        "hostile-table-past-the-end": patched((0x28, 8, 1 << 62)),
        "hostile-table-cut-short": patched((0x28, 8, len(make_elf(True, False)) - 10)),
        "hostile-entry-size-too-small": patched((0x3a, 2, 39)),
        "hostile-count-past-the-end": patched((0x3c, 2, 0xFFFF)),
        "hostile-name-table-index-too-large": patched((0x3e, 2, 3)),
        "hostile-huge-many-section-count": patched((0x3c, 2, 0), (("table", 0x20), 8, 1 << 60)),
        "hostile-huge-many-section-index": patched((0x3e, 2, 0xFFFF), (("table", 0x28), 4, 0xFFFFFFF)),
        "hostile-section-past-the-end": patched((("table", 64 + 0x18), 8, 1 << 63)),
        "hostile-section-size-wraps": patched((("table", 64 + 0x20), 8, (1 << 64) - 1)),
        "hostile-name-past-its-table": patched((("table", 64), 4, 0x7FFFFFFF)),
        "hostile-name-cut-before-its-nul": patched((("table", 128 + 0x20), 8, 13)),
        "hostile-name-table-past-the-end": patched((("table", 128 + 0x18), 8, 1 << 40)),
    }
    folder = pathlib.Path(__file__).resolve().parent / "corpus" / "elf"
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(bytes(data))


if __name__ == "__main__":
    main()
