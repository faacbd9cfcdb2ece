#!/usr/bin/env python3
"""Writes a package archive with Python's zipfile whose later entries start past 4 GiB.

  padded_archive.py ARCHIVE GAP BUILD_FOLDER NAME... -- NAME...

The files NAME (relative to BUILD_FOLDER) before "--" are written first, then the archive skips
GAP bytes that no entry refers to (a hole in a sparse file, so no disk is spent on it), then
the files after "--". zipfile gives the later entries zip64 offsets in the central directory
and, with 65,535 entries or an end past 4 GiB, the zip64 end records. Every entry is deflated;
executables keep their mode.
"""
import os
import sys
import zipfile


def add(archive, build, name):
    path = os.path.join(build, name)
    info = zipfile.ZipInfo.from_file(path, name)
    info.compress_type = zipfile.ZIP_DEFLATED
    with open(path, "rb") as source:
        archive.writestr(info, source.read())


def main():
    target, gap, build = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    names = sys.argv[4:]
    split = names.index("--")
    with zipfile.ZipFile(target, "w", allowZip64=True) as archive:
        for name in names[:split]:
            add(archive, build, name)
        # zipfile writes each entry where its directory is to start; moving that on leaves a hole.
        archive.start_dir += gap
        for name in names[split + 1:]:
            add(archive, build, name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
