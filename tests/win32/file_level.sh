# Sourced by scripts/test-windows.sh after wine_env_start and tests/win32/e2e.sh (which sets
# E2E_BUILD, E2E_PUBLISH and E2E_SERVE): one update by files through the real launcher under Wine.
#   file_level_run <work-folder> <port>
#
# Release 1.0.0 (the stand-in game, four packs, a pack that changes, a file only it has) is
# installed from the whole archive; release 1.0.1, which changes the one pack and drops that file,
# is then installed by files: the launcher says so, launcher-serve sends about the changed entry's
# compressed size plus the archive's last bytes, the data folder then holds exactly the second
# release (besides the launcher's own files) and the dropped file is gone with its folder. Seconds, not minutes:
# the packages are small and the whole central directory lies in the archive's last 16 KiB.
# Each check calls `record_check <ok 0|1> <name>` of the calling script.

FL_OWN_FILES='^\./(downloadRecord|releaseSerial|fileInfo_[0-9_]+\.json|stand_in_game_runs\.txt)$'

# Every file below $1 (but the launcher's and the stand-in game's own) with its digest, sorted:
# equal text, equal tree.
fl_tree() {
  (cd "$1" && find . -type f | grep -Ev "$FL_OWN_FILES" | sort | while read -r file; do
    echo "$(sha256sum <"$file" | cut -d' ' -f1) $file"
  done)
}

fl_build() {  # <folder> <seed of the changing pack> [with the dropped file]
  local game=$1
  mkdir -p "$game/data/packs"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  local pack
  for pack in 0 1 2 3; do
    python3 -c "import random, sys; sys.stdout.buffer.write(random.Random($pack).randbytes(200000))" \
      >"$game/data/packs/pack$pack.bin"
  done
  python3 -c "import random, sys; sys.stdout.buffer.write(random.Random($2).randbytes(300000))" \
    >"$game/data/changing.bin"
  if [ -n "${3:-}" ]; then
    mkdir -p "$game/old"
    echo "a file only the first release has" >"$game/old/dropped.txt"
  fi
}

# Body bytes launcher-serve sent for one path, from its log: "GET <path> range=... <status> <bytes>".
fl_bytes_sent() {  # <log> <path>
  awk -v path="$2" '$1 == "GET" && $2 == path { sum += $NF } END { print sum + 0 }' "$1"
}

# The compressed size of one entry of a zip archive.
fl_compressed_size() {  # <archive> <entry>
  python3 -c "import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).getinfo(sys.argv[2]).compress_size)" "$1" "$2"
}

fl_launch() {  # <content> <run> <serve-log> -> E2E_STATUS
  local content=$1 run=$2 log=$3
  e2e_serve "$content" "$FL_PORT" "$log" || { E2E_STATUS=125; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >>"$run/stdout.txt" 2>>"$run/stderr.txt") &
  e2e_wait $! 120
  e2e_stop_server
}

file_level_run() {
  local work=$1 run="$1/run" content="$1/content"
  FL_PORT=$2
  rm -rf "$work"
  mkdir -p "$run" "$content"
  fl_build "$work/game1" 10 dropped
  fl_build "$work/game2" 11
  if ! "$E2E_PUBLISH" "$E2E_CHANNEL" 1.0.0 "$work/game1" "$content" >"$work/publish.log" 2>&1; then
    cat "$work/publish.log" >&2
    record_check 1 "files: publishing the first release"
    return
  fi
  fl_launch "$content" "$run" "$work/serve-1.log"
  local installed=1
  [ "$E2E_STATUS" = 0 ] && [ "$(fl_tree "$run/$E2E_DATA")" = "$(fl_tree "$work/game1")" ] && installed=0
  record_check "$installed" "files: the first release is installed whole (exit code $E2E_STATUS)"
  if [ "$installed" != 0 ]; then
    tail -n 20 "$run/stdout.txt" >&2
    return
  fi
  # The first release's game has recorded its start and ended before the update begins.
  e2e_wait_for_line "$run/$E2E_DATA/stand_in_game_runs.txt" '^end$' 20 || true

  if ! "$E2E_PUBLISH" --unsupported 1.0.0 "$E2E_CHANNEL" 1.0.1 "$work/game2" "$content" >>"$work/publish.log" 2>&1; then
    cat "$work/publish.log" >&2
    record_check 1 "files: publishing the second release"
    return
  fi
  : >"$run/stdout.txt"
  local started=$SECONDS
  fl_launch "$content" "$run" "$work/serve-2.log"
  echo "  the update by files took $((SECONDS - started)) s under Wine"
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: the update ends with exit code 0 (got $E2E_STATUS)"
  # Seven files in the second release: the game, four packs, the changing pack; one of them fetched.
  record_check $(grep -q "^file-level update: 1 of 6 files" "$run/stdout.txt" &&
    ! grep -q "^whole-archive update" "$run/stdout.txt" && echo 0 || echo 1) \
    "files: the launcher takes the file-level path for the one changed file"

  local archive="$content/$E2E_CHANNEL/res_1_0_1.zip" sent entry size
  sent=$(fl_bytes_sent "$work/serve-2.log" "/$E2E_CHANNEL/res_1_0_1.zip")
  entry=$(fl_compressed_size "$archive" data/changing.bin)
  size=$(stat -c %s "$archive")
  echo "  launcher-serve sent $sent bytes of an archive of $size for a changed entry of $entry"
  # The entry with its local header (name, zip64 field) and the archive's last 16 KiB, which hold
  # the end records and this small archive's whole central directory.
  record_check $([ "$sent" -ge "$entry" ] && [ "$sent" -le $((entry + 16384 + 512)) ] && echo 0 || echo 1) \
    "files: the server sends the changed entry and the archive's end only ($sent bytes, entry $entry)"

  local tree=1
  [ "$(fl_tree "$run/$E2E_DATA")" = "$(fl_tree "$work/game2")" ] && tree=0
  record_check "$tree" "files: the data folder holds exactly the second release"
  if [ "$tree" != 0 ]; then
    diff <(fl_tree "$run/$E2E_DATA") <(fl_tree "$work/game2") >&2
    tail -n 30 "$run/stdout.txt" >&2
  fi
  record_check $([ ! -e "$run/$E2E_DATA/old/dropped.txt" ] && [ ! -e "$run/$E2E_DATA/old" ] &&
    grep -q "^removed old/dropped.txt, which the new release no longer has" "$run/stdout.txt" && echo 0 || echo 1) \
    "files: the file the second release dropped is removed, and the folder it leaves empty"
  record_check $([ "$(grep -c '^end$' "$run/$E2E_DATA/stand_in_game_runs.txt" 2>/dev/null)" = 2 ] && echo 0 || echo 1) \
    "files: the game is started after the update"
  rm -rf "$work"
}
