# Sourced by scripts/test-windows.sh: archives written here by other zip writers (Info-ZIP zip,
# Python's zipfile), extracted under Wine by the launcher's extraction (unzip_archive.exe).
#   foreign_archives_run <windows-build> <work-folder>
# Each archive installs exactly what Info-ZIP unzip extracts from it, or is refused with its
# reason before anything in the data folder changes.
# Each check calls `record_check <ok 0|1> <name>` of the calling script.

# Python's zipfile: every file of the build in $1 into $2 with method $3, data/x.pak with $4,
# each entry opened with force_zip64=$5.
fa_python_zip() {
  (cd "$1" && python3 - "$2" "$3" "$4" "$5" <<'PY'
import os, sys, zipfile
out, method, pak, zip64 = sys.argv[1], getattr(zipfile, sys.argv[2]), getattr(zipfile, sys.argv[3]), sys.argv[4] == "1"
with zipfile.ZipFile(out, "w", method) as z:
    for top, dirs, files in sorted(os.walk(".")):
        for f in sorted(files):
            p = os.path.join(top, f)[2:]
            info = zipfile.ZipInfo.from_file(p, p)
            info.compress_type = pak if p == "data/x.pak" else method
            with open(p, "rb") as i, z.open(info, "w", force_zip64=zip64) as o:
                o.write(i.read())
PY
  )
}

# Every file below $1 with its digest, sorted: equal text, equal tree.
fa_manifest() {
  (cd "$1" && find . -type d -printf '%p/\n' && find . -type f -exec sha256sum {} + | sort -k 2) | sort
}

foreign_archives_run() {
  local build work="$2"
  build="$(cd "$1" && pwd)"
  local tool="$build/tests/win32/unzip_archive.exe"
  rm -rf "$work"
  mkdir -p "$work/game/data/maps" "$work/archives"
  work="$(cd "$work" && pwd)"
  python3 -c "import random, sys; random.seed(13); sys.stdout.buffer.write(random.randbytes(150000))" \
    >"$work/game/kolv.exe"
  seq -f 'line %g' 1 20000 >"$work/game/data/x.pak"
  : >"$work/game/data/maps/empty.map"

  local a="$work/archives"
  (cd "$work/game" && zip -q -r -fz "$a/zip-fz.zip" . && zip -q -r - . | cat >"$a/zip-pipe.zip") ||
    { record_check 1 "foreign archives: Info-ZIP zip writes the archives"; return; }
  fa_python_zip "$work/game" "$a/python-zip64.zip" ZIP_DEFLATED ZIP_DEFLATED 1 &&
    fa_python_zip "$work/game" "$a/python-stored.zip" ZIP_STORED ZIP_STORED 0 &&
    fa_python_zip "$work/game" "$a/python-bzip2.zip" ZIP_DEFLATED ZIP_BZIP2 0 &&
    fa_python_zip "$work/game" "$a/python-lzma.zip" ZIP_DEFLATED ZIP_LZMA 0 ||
    { record_check 1 "foreign archives: Python's zipfile writes the archives"; return; }
  { head -c 70000 /dev/zero | tr '\0' 'M' && cat "$a/zip-fz.zip"; } >"$a/prefixed-zip64.zip"
  { cat "$a/zip-pipe.zip" && head -c 300 /dev/zero; } >"$a/trailing.zip"

  local name
  for name in zip-fz zip-pipe python-zip64 python-stored prefixed-zip64 trailing; do
    local case="$work/cases/$name"
    mkdir -p "$case"
    cp "$a/$name.zip" "$case/package.zip"
    unzip -qq -o "$case/package.zip" -d "$case/reference" 2>/dev/null
    [ $? -le 1 ] || { record_check 1 "foreign archives: unzip extracts $name"; continue; }
    (cd "$case" && timeout 120 wine "$tool" package.zip data >"$case/out.txt" 2>&1)
    local status=$?
    if [ "$status" = 0 ] && [ "$(fa_manifest "$case/data")" = "$(fa_manifest "$case/reference")" ]; then
      record_check 0 "foreign archives: $name installs what unzip extracts"
    else
      record_check 1 "foreign archives: $name installs what unzip extracts (exit $status, see $case/out.txt)"
    fi
  done

  local reason
  for name in python-bzip2 python-lzma; do
    case "$name" in
      python-bzip2) reason="unsupported compression method 12 (bzip2): data/x.pak" ;;
      python-lzma) reason="unsupported compression method 14 (lzma): data/x.pak" ;;
    esac
    local case="$work/cases/$name"
    mkdir -p "$case/data"
    cp "$a/$name.zip" "$case/package.zip"
    echo "the installed game" >"$case/data/kolv.exe"
    local before
    before="$(fa_manifest "$case/data")"
    (cd "$case" && timeout 120 wine "$tool" package.zip data >"$case/out.txt" 2>&1)
    local status=$?
    if [ "$status" = 1 ] && tr -d '\r' <"$case/out.txt" | grep -qxF "fail: $reason" &&
      [ "$(fa_manifest "$case/data")" = "$before" ]; then
      record_check 0 "foreign archives: $name is refused before any write"
    else
      record_check 1 "foreign archives: $name is refused before any write (exit $status, see $case/out.txt)"
    fi
  done
}
