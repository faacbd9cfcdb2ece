#!/usr/bin/env python3
"""Writes a package archive holding one large entry of zeros with a few marks, in seconds.

  zero_run_archive.py ARCHIVE BUILD_FOLDER NAME SIZE [OFFSET:TEXT]... -- FILE...

The entry NAME is SIZE bytes of zeros with each TEXT written at its OFFSET; the FILEs (relative
to BUILD_FOLDER) come after it. Zeros are deflated once a mebibyte after a full flush, which
leaves the compressor as it was, and that block is repeated: a 4 GiB entry costs its CRC-32 and
a few megabytes of archive instead of minutes of deflating. Sizes and offsets past 32 bits get
zip64 extra fields in the local and the central header, as the format asks; the archive itself
stays small, so the classic end record holds it.
"""
import os
import struct
import sys
import zlib

MIB = 1 << 20
LIMIT = 0xFFFFFFFF


def deflater():
    return zlib.compressobj(6, zlib.DEFLATED, -15)


class Entry:
    def __init__(self, name, size, crc, data, mode):
        self.name, self.size, self.crc, self.data, self.mode = name.encode(), size, crc, data, mode
        self.offset = 0


def zero_run_entry(name, size, marks):
    """The entry's deflated bytes and CRC-32, built from repeated blocks of a mebibyte of zeros."""
    zeros = bytes(MIB)
    block = deflater()
    repeated = block.compress(zeros) + block.flush(zlib.Z_FULL_FLUSH)
    stream, parts, crc, at = deflater(), [], 0, 0

    def plain(data):
        nonlocal crc
        crc = zlib.crc32(data, crc)
        parts.append(stream.compress(data) + stream.flush(zlib.Z_FULL_FLUSH))

    def zero_run(length):
        nonlocal crc
        whole, rest = divmod(length, MIB)
        for _ in range(whole):
            crc = zlib.crc32(zeros, crc)
        parts.append(repeated * whole)
        if rest:
            plain(bytes(rest))

    for offset, text in sorted(marks):
        if offset < at or offset + len(text) > size:
            raise SystemExit(f"mark at {offset} overlaps another or lies past the end")
        zero_run(offset - at)
        plain(text)
        at = offset + len(text)
    zero_run(size - at)
    parts.append(stream.flush(zlib.Z_FINISH))
    return Entry(name, size, crc, b"".join(parts), 0o644)


def file_entry(build, name):
    path = os.path.join(build, name)
    with open(path, "rb") as source:
        data = source.read()
    stream = deflater()
    return Entry(name, len(data), zlib.crc32(data), stream.compress(data) + stream.flush(), os.stat(path).st_mode & 0o777)


def write(target, entries):
    with open(target, "wb") as out:
        for entry in entries:
            entry.offset = out.tell()
            big = entry.size > LIMIT or len(entry.data) > LIMIT
            extra = struct.pack("<HHQQ", 1, 16, entry.size, len(entry.data)) if big else b""
            sizes = (LIMIT, LIMIT) if big else (len(entry.data), entry.size)
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45 if big else 20, 0x800, 8, 0, 0x21, entry.crc,
                                  sizes[0], sizes[1], len(entry.name), len(extra)))
            out.write(entry.name + extra + entry.data)
        directory = out.tell()
        for entry in entries:
            fields = [v for v in (entry.size, len(entry.data), entry.offset) if v > LIMIT]
            extra = struct.pack("<HH", 1, 8 * len(fields)) + b"".join(struct.pack("<Q", v) for v in fields) if fields else b""
            packed = [LIMIT if v > LIMIT else v for v in (len(entry.data), entry.size, entry.offset)]
            out.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (3 << 8) | 45, 45 if fields else 20, 0x800, 8, 0,
                                  0x21, entry.crc, packed[0], packed[1], len(entry.name), len(extra), 0, 0, 0,
                                  (0o100000 | entry.mode) << 16, packed[2]))
            out.write(entry.name + extra)
        end = out.tell()
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), end - directory, directory, 0))


def main():
    target, build, name, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    rest = sys.argv[5:]
    split = rest.index("--")
    marks = []
    for mark in rest[:split]:
        offset, text = mark.split(":", 1)
        marks.append((int(offset), text.encode()))
    entries = [zero_run_entry(name, size, marks)] + [file_entry(build, f) for f in rest[split + 1:]]
    write(target, entries)
    return 0


if __name__ == "__main__":
    sys.exit(main())
