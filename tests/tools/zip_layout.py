#!/usr/bin/env python3
"""Reads an archive with Python's zipfile and reports where it carries zip64 fields.

Output, one line each:
  entry <name> local64=<0|1> central64=<0|1> size=<n> offset=<n>
  end64=<0|1> entries=<n>
  crc ok            (every entry read whole and its CRC checked; only with --test)
Exit status 1 when zipfile refuses the archive or an entry's CRC.
"""
import struct
import sys
import zipfile

ZIP64_EXTRA = 0x0001


def has_zip64(extra):
    pos = 0
    while pos + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, pos)
        if tag == ZIP64_EXTRA:
            return True
        pos += 4 + size
    return False


def local_extra(handle, offset):
    handle.seek(offset)
    header = handle.read(30)
    if header[:4] != b"PK\x03\x04":
        raise ValueError("no local header at %d" % offset)
    name_length, extra_length = struct.unpack_from("<HH", header, 26)
    handle.seek(offset + 30 + name_length)
    return handle.read(extra_length)


def main():
    path = sys.argv[1]
    test = "--test" in sys.argv[2:]
    with zipfile.ZipFile(path) as archive, open(path, "rb") as raw:
        infos = archive.infolist()
        for info in infos:
            local64 = has_zip64(local_extra(raw, info.header_offset))
            print("entry %s local64=%d central64=%d size=%d offset=%d"
                  % (info.filename, local64, has_zip64(info.extra), info.file_size, info.header_offset))
        raw.seek(0, 2)
        end = raw.tell()
        raw.seek(max(0, end - 22 - 20 - 65535))
        tail = raw.read()
        record = tail.rfind(b"PK\x05\x06")
        end64 = record >= 20 and tail[record - 20:record - 16] == b"PK\x06\x07"
        print("end64=%d entries=%d" % (end64, len(infos)))
        if test:
            bad = archive.testzip()
            if bad is not None:
                print("crc bad " + bad)
                return 1
            print("crc ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
