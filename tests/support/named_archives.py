#!/usr/bin/env python3
"""Archives with names outside ASCII, written by Python's zipfile the way real writers do.

  named_archives.py write <archive>        the names below: UTF-8 ones flagged (bit 11, as
                                           zipfile flags every name outside ASCII) and GBK ones
                                           stored unflagged, as the game's packers store theirs
  named_archives.py append-gbk <archive>   adds the GBK entries to an existing archive
  named_archives.py describe <archive>     one line per entry: "<flag bit 11> <0x7075 field> <name>"
  named_archives.py expected               the UTF-8 paths an extraction must produce, one a line
  named_archives.py utf8-names             of those, the ones a writer of UTF-8 names packs

Each entry's content is its own UTF-8 name, so a file that lands under a wrong name is caught.
"""
import struct
import sys
import zipfile

# Chinese (outside code pages 1252 and 932), accented Latin (outside 936 and 932), Japanese kana
# (outside 1252 and 936); folders nested so that each level's name is converted on its own, one
# entry 70 characters long, so that a deep working folder takes it past 260.
UTF8_NAMES = [
    "中文资料/说明文件.txt",
    "Français/éléphant à café.txt",
    "日本語/ひらがな・カタカナ.txt",
    "日本語/長い名前のフォルダー/さらに深い階層のフォルダー/もう一つ下の階層/最後のファイル.txt",
]
GBK_NAMES = [
    "旧版存档/角色数据.dat",
]


class GbkInfo(zipfile.ZipInfo):
    """An entry whose name is stored as GBK bytes without the UTF-8 flag."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.create_system = 0  # made on Windows (FAT), as those packers record

    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits & ~0x800


def add_gbk(archive):
    for name in GBK_NAMES:
        info = GbkInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(info, name.encode("utf-8"))


def write(path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in UTF8_NAMES:
            archive.writestr(name, name.encode("utf-8"))
        add_gbk(archive)


def append_gbk(path):
    with zipfile.ZipFile(path, "a", zipfile.ZIP_DEFLATED) as archive:
        add_gbk(archive)


def unicode_path_field(extra):
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        if tag == 0x7075:
            return True
        at += 4 + size
    return False


def describe(path):
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            flagged = 1 if info.flag_bits & 0x800 else 0
            field = 1 if unicode_path_field(info.extra) else 0
            print(f"{flagged} {field} {info.filename}")


def main():
    command = sys.argv[1]
    if command == "write":
        write(sys.argv[2])
    elif command == "append-gbk":
        append_gbk(sys.argv[2])
    elif command == "describe":
        describe(sys.argv[2])
    elif command == "expected":
        for name in UTF8_NAMES + GBK_NAMES:
            print(name)
    elif command == "utf8-names":
        for name in UTF8_NAMES:
            print(name)
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
