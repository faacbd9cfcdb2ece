# Sourced by scripts/test-windows.sh when LAUNCHER_WIN32_LARGE=1, after wine_env_start and
# tests/win32/e2e.sh: packages past 4 GiB through the real launcher under Wine.
#   large_e2e_run <windows-build> <publish-exe> <serve-exe> <work-folder> <port>
#
#   1. an entry of 4 GiB + 1 byte of zeros, published by launcher-publish from a sparse file,
#      is unpacked to its full size with the same bytes;
#   2. an archive written by Python's zipfile whose later entries start past 4 GiB (a hole that
#      no entry refers to keeps it sparse) is downloaded, verified and unpacked.
# The download and the unpacked entry are real bytes: about 8 GiB of disk while it runs and a
# few minutes, which is why it is not part of the default run. Time and peak memory of each
# launcher run (GNU time) are printed.

large_e2e_launch() {  # content run-folder port label
  local content=$1 run=$2 port=$3 label=$4
  mkdir -p "$run"
  e2e_serve "$content" "$port" "$run/serve.log" || { record_check 1 "large: content server starts"; return 1; }
  (cd "$run" && exec /usr/bin/time -f "%e s, %M KiB" -o "$run/time.txt" \
    wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/stdout.txt" 2>"$run/stderr.txt") &
  local launcher=$!
  e2e_wait "$launcher" 420  # a failure leaves a Retry box open until then
  e2e_stop_server
  echo "  $label: launcher run $(cat "$run/time.txt" 2>/dev/null | tail -n 1) (wall time, peak resident memory)"
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "large: $label ends with exit code 0 (got $E2E_STATUS)"
  if [ "$E2E_STATUS" != 0 ]; then tail -n 20 "$run/stdout.txt" >&2; fi
}

large_e2e_huge_entry() {
  local work=$1 port=$2 game="$1/huge-game"
  mkdir -p "$game"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  truncate -s $((4 * 1024 * 1024 * 1024 + 1)) "$game/huge.pak"
  "$E2E_PUBLISH" "$E2E_CHANNEL" 1.0.0 "$game" "$work/huge-content" >"$work/huge-publish.log" 2>&1 ||
    { cat "$work/huge-publish.log" >&2; record_check 1 "large: publishing a 4 GiB + 1 byte entry"; return; }
  large_e2e_launch "$work/huge-content" "$work/huge-run" "$port" "entry of 4 GiB + 1 byte" || return
  local unpacked="$work/huge-run/$E2E_DATA/huge.pak"
  record_check $([ "$(stat -c %s "$unpacked" 2>/dev/null)" = 4294967297 ] && cmp -s "$unpacked" "$game/huge.pak" &&
    echo 0 || echo 1) "large: the 4 GiB + 1 byte entry is unpacked whole"
  rm -rf "$work/huge-run"
}

large_e2e_far_entries() {
  local work=$1 port=$2 game="$1/far-game" content="$1/far-content"
  mkdir -p "$game/assets" "$content/$E2E_CHANNEL"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  head -c 1048576 /dev/urandom >"$game/assets/late.pak"
  echo "the archive's last entry" >"$game/zz_last.txt"
  local archive="$content/$E2E_CHANNEL/$E2E_ARCHIVE"
  python3 "$E2E_ROOT/tests/e2e/padded_archive.py" "$archive" $((4 * 1024 * 1024 * 1024)) "$game" kolv.exe -- \
    assets/late.pak zz_last.txt || { record_check 1 "large: Python's zipfile writes the archive past 4 GiB"; return; }
  local md5 size
  md5=$(md5sum "$archive" | cut -d' ' -f1)
  size=$(stat -c %s "$archive")
  printf '{"zipName": "%s/%s", "zipMd5": "%s", "zipBytes": %s, "fileNameList": ["kolv.exe", "assets", "assets/late.pak", "zz_last.txt"]}' \
    "$E2E_CHANNEL" "$E2E_ARCHIVE" "$md5" "$size" >"$content/$E2E_CHANNEL/fileInfo_1_0_0.json"
  printf '{"lastVersion": "1.0.0", "unsupportedVersions": []}' >"$content/$E2E_CHANNEL/config.json"
  large_e2e_launch "$content" "$work/far-run" "$port" "archive past 4 GiB" || return
  record_check $(cmp -s "$work/far-run/$E2E_DATA/assets/late.pak" "$game/assets/late.pak" &&
    cmp -s "$work/far-run/$E2E_DATA/zz_last.txt" "$game/zz_last.txt" && echo 0 || echo 1) \
    "large: the entries past 4 GiB are unpacked"
  rm -rf "$work/far-run"
}

large_e2e_run() {
  E2E_BUILD=$1
  E2E_PUBLISH=$2
  E2E_SERVE=$3
  local work=$4 port=$5
  rm -rf "$work"
  mkdir -p "$work"
  large_e2e_huge_entry "$work" "$port"
  large_e2e_far_entries "$work" "$port"
  rm -rf "$work"
}
