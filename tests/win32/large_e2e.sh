# Sourced by scripts/test-windows.sh after wine_env_start and tests/win32/e2e.sh: packages past
# 4 GiB through the real launcher under Wine.
#   large_e2e_run <windows-build> <publish-exe> <serve-exe> <work-folder> <port> <bounded|full>
#
#   1. an entry of 4 GiB + 1 byte of zeros, published by launcher-publish from a sparse file,
#      is unpacked to its full size with the same bytes, then updated to a release whose file
#      of 4 GiB + 1 MiB has other bytes at its start, across the 4 GiB line and at its end (both
#      forms; the second archive is written by tests/e2e/zero_run_archive.py in seconds);
#   2. an archive written by Python's zipfile whose later entries start past 4 GiB (a hole that
#      no entry refers to keeps it sparse) is downloaded, verified and unpacked (full form);
#   3. a game with a 4.5 GiB file installed, then updated to a release that rewrites that file
#      shorter with other bytes on both sides of 4 GiB (full form).
# The downloads and the unpacked entries are real bytes. The bounded form (the default run) needs
# about 9 GiB of free disk for a moment (the installed file and the staged one) and two to four
# minutes; the full form about 10 GiB and several minutes more.
# Time and peak memory of each launcher run (GNU time) are printed.

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
  local unpacked="$work/huge-run/$E2E_DATA/huge.pak" whole=1
  [ "$(stat -c %s "$unpacked" 2>/dev/null)" = 4294967297 ] && cmp -s "$unpacked" "$game/huge.pak" && whole=0
  record_check "$whole" "large: the 4 GiB + 1 byte entry is unpacked whole"
  return "$whole"  # the update starts from this install
}

# A release written by zero_run_archive.py: one large entry of zeros with marks, and small files.
large_e2e_zero_run_release() {  # content version game entry size marks...
  local content=$1 version=$2 game=$3 entry=$4 size=$5
  shift 5
  local archive="$content/$E2E_CHANNEL/res_${version//./_}.zip" previous
  mkdir -p "$content/$E2E_CHANNEL"
  python3 "$E2E_ROOT/tests/e2e/zero_run_archive.py" "$archive" "$game" "$entry" "$size" "$@" -- kolv.exe version.txt ||
    return 1
  printf '{"zipName": "%s/%s", "zipMd5": "%s", "zipBytes": %s, "fileNameList": ["%s", "kolv.exe", "version.txt"]}' \
    "$E2E_CHANNEL" "${archive##*/}" "$(md5sum "$archive" | cut -d' ' -f1)" "$(stat -c %s "$archive")" "$entry" \
    >"$content/$E2E_CHANNEL/fileInfo_${version//./_}.json"
  previous=$(sed -n 's/.*"lastVersion": *"\([^"]*\)".*/\1/p' "$content/$E2E_CHANNEL/config.json" 2>/dev/null)
  printf '{"lastVersion": "%s", "unsupportedVersions": [%s]}' "$version" "${previous:+\"$previous\"}" \
    >"$content/$E2E_CHANNEL/config.json"
}

# The installed release of a 4 GiB + 1 byte entry is updated to one whose entry is longer, with
# other bytes on both sides of 4 GiB and at its end.
large_e2e_huge_entry_update() {
  local work=$1 port=$2 game="$1/huge-game2" run="$1/huge-run" four=$((4 * 1024 * 1024 * 1024))
  local size=$((four + 1024 * 1024))
  mkdir -p "$game"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  echo "release two" >"$game/version.txt"
  local marks=("1000:release two changes the start" "$((four - 7)):across the 4 GiB line" "$((size - 16)):and its last 16.")
  large_e2e_zero_run_release "$work/huge-content" 1.0.1 "$game" huge.pak "$size" "${marks[@]}" ||
    { record_check 1 "large: zero_run_archive.py writes the second release"; return; }
  truncate -s "$size" "$game/huge.pak"  # what the entry holds, sparse
  local mark
  for mark in "${marks[@]}"; do large_e2e_write_at "$game/huge.pak" "${mark%%:*}" "${mark#*:}"; done
  # The first release's game has recorded its start and ended before the update begins.
  e2e_wait_for_line "$run/$E2E_DATA/stand_in_game_runs.txt" '^end$' 20 || true
  large_e2e_launch "$work/huge-content" "$run" "$port" "entry of 4 GiB + 1 byte, update to 4 GiB + 1 MiB" || return
  if [ "$(stat -c %s "$run/$E2E_DATA/huge.pak" 2>/dev/null)" = "$size" ] &&
    cmp -s "$run/$E2E_DATA/huge.pak" "$game/huge.pak" && cmp -s "$run/$E2E_DATA/version.txt" "$game/version.txt"; then
    record_check 0 "large: the update past 4 GiB leaves the second release's bytes"
  else
    record_check 1 "large: the update past 4 GiB leaves the second release's bytes"
    echo "  installed: $(stat -c %s "$run/$E2E_DATA/huge.pak" 2>/dev/null) bytes, version $(cat "$run/$E2E_DATA/version.txt" 2>/dev/null)" >&2
    tail -n 40 "$run/stdout.txt" "$run/stderr.txt" >&2
  fi
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

# Writes text into an existing file at a byte offset, leaving the rest (and its holes) alone.
large_e2e_write_at() {  # file offset text
  printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

large_e2e_update() {
  local work=$1 port=$2 v1="$1/update-game1" v2="$1/update-game2" content="$1/update-content"
  local run="$work/update-run" four=$((4 * 1024 * 1024 * 1024))
  local big1=$((four + 512 * 1024 * 1024 + 4096)) big2=$((four + 512 * 1024 * 1024))
  mkdir -p "$v1" "$v2"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$v1/kolv.exe"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$v2/kolv.exe"
  truncate -s "$big1" "$v1/huge.pak"
  large_e2e_write_at "$v1/huge.pak" $((four + 1000)) "release one, past the limit"
  echo "release one" >"$v1/version.txt"
  truncate -s "$big2" "$v2/huge.pak"
  large_e2e_write_at "$v2/huge.pak" 1000 "release two changes the start"
  large_e2e_write_at "$v2/huge.pak" $((four - 7)) "across the 4 GiB line"
  large_e2e_write_at "$v2/huge.pak" $((big2 - 16)) "and its last 16"
  echo "release two" >"$v2/version.txt"
  "$E2E_PUBLISH" "$E2E_CHANNEL" 1.0.0 "$v1" "$content" >"$work/update-publish.log" 2>&1 ||
    { cat "$work/update-publish.log" >&2; record_check 1 "large: publishing the 4.5 GiB release"; return; }
  large_e2e_launch "$content" "$run" "$port" "4.5 GiB file, first install" || return
  record_check $([ "$(stat -c %s "$run/$E2E_DATA/huge.pak" 2>/dev/null)" = "$big1" ] && echo 0 || echo 1) \
    "large: the first release's 4.5 GiB file is installed"
  # The first release's game has recorded its start and ended before the update begins.
  local runs="$run/$E2E_DATA/stand_in_game_runs.txt"
  e2e_wait_for_line "$runs" '^end$' 20 || true  # the update's own checks tell what went wrong
  "$E2E_PUBLISH" --unsupported 1.0.0 "$E2E_CHANNEL" 1.0.1 "$v2" "$content" >>"$work/update-publish.log" 2>&1 ||
    { cat "$work/update-publish.log" >&2; record_check 1 "large: publishing the second release"; return; }
  large_e2e_launch "$content" "$run" "$port" "4.5 GiB file, update" || return
  if [ "$(stat -c %s "$run/$E2E_DATA/huge.pak" 2>/dev/null)" = "$big2" ] &&
    cmp -s "$run/$E2E_DATA/huge.pak" "$v2/huge.pak" && cmp -s "$run/$E2E_DATA/version.txt" "$v2/version.txt"; then
    record_check 0 "large: the update leaves the second release's bytes, the longer file cut"
  else
    record_check 1 "large: the update leaves the second release's bytes, the longer file cut"
    echo "  installed: $(stat -c %s "$run/$E2E_DATA/huge.pak" 2>/dev/null) bytes, version $(cat "$run/$E2E_DATA/version.txt" 2>/dev/null)" >&2
    tail -n 40 "$run/stdout.txt" "$run/stderr.txt" >&2
  fi
  rm -rf "$run" "$v1" "$v2" "$content"
}

# Free space on the file system holding $1, in GiB (rounded down).
large_e2e_free_gib() {
  df -P -k "$1" | awk 'NR == 2 { print int($4 / 1048576) }'
}

large_e2e_run() {
  E2E_BUILD=$1
  E2E_PUBLISH=$2
  E2E_SERVE=$3
  local work=$4 port=$5 form=$6 need=9
  [ "$form" = full ] && need=10
  rm -rf "$work"
  mkdir -p "$work"
  local free
  free=$(large_e2e_free_gib "$work")
  if [ "$free" -lt "$need" ]; then
    record_check 1 "large: $need GiB of free disk for the $form form (have $free GiB)"
    return
  fi
  large_e2e_huge_entry "$work" "$port" && large_e2e_huge_entry_update "$work" "$port"
  rm -rf "$work/huge-run" "$work/huge-game" "$work/huge-game2" "$work/huge-content"
  if [ "$form" = full ]; then
    large_e2e_far_entries "$work" "$port"
    large_e2e_update "$work" "$port"
  fi
  rm -rf "$work"
}
