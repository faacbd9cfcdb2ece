# Sourced by scripts/test-windows.sh after e2e_run, which leaves the release in <work>/good, its
# build in <work>/game and an installed first run in <work>/first-install: the real launcher
# under Wine beside files and games that are not its own.
#   player_files_run <work-folder> <content-port>
#   1. a second install folder (same folder and file names) whose game is open survives an
#      update of the first, while the open game of the first is stopped;
#   2. a download folder that is a link to a folder elsewhere: its content stays, and an update
#      never fetches through it (Wine shows a Unix link to a folder as a directory reparse
#      point; it cannot make reparse points itself, and shows a link to a file as a plain file,
#      so only folder links can be tried here);
#   3. a folder of the package that is such a link: the update writes nothing into its target;
#   4. a game that is no program is deleted with the system's reason in a box, and the next run
#      installs it again.
# Each check calls `record_check <ok 0|1> <name>` of the calling script.

# Every file below $1 with its digest, links with their targets, sorted: equal text, equal tree.
pf_manifest() {
  (cd "$1" && find . -type l -printf '%p -> %l\n' && find . -type f -exec sha256sum {} + | sort -k 2)
}

# A copy of the stand-in game left open in $1 (its data folder); sets PF_GAME to its process.
pf_open_game() {
  rm -f "$1/stand_in_game_runs.txt"
  (cd "$1" && STAND_IN_GAME_STAY_MS=120000 exec wine ./kolv.exe open >/dev/null 2>&1) &
  PF_GAME=$!
  for _ in $(seq 1 150); do
    grep -q '^end$' "$1/stand_in_game_runs.txt" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# Waits up to $2 seconds for process $1 to end; non-zero when it still runs.
pf_ends_within() {
  for _ in $(seq 1 $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

pf_stop() {
  [ -n "${1:-}" ] || return 0
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

pf_launch() {  # run-folder -> E2E_STATUS
  (cd "$1" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$1/stdout.txt" 2>"$1/stderr.txt") &
  e2e_wait $! 120
}

pf_second_install() {
  local work=$1 port=$2 first="$1/pf-first" second="$1/pf-second"
  rm -rf "$first" "$second" "$work/good2" "$work/game2"
  cp -a "$work/first-install" "$first"
  mkdir -p "$second"
  cp -a "$work/first-install/$E2E_DATA" "$second/"
  cp -a "$work/good" "$work/good2"
  cp -a "$work/game" "$work/game2"
  echo "level two" >"$work/game2/data/level1.txt"
  if ! "$E2E_PUBLISH" --unsupported 1.0.0 "$E2E_CHANNEL" 1.0.1 "$work/game2" "$work/good2" >"$work/publish2.log" 2>&1; then
    cat "$work/publish2.log" >&2
    record_check 1 "files: publishing the second release"
    return
  fi
  local theirs ours
  pf_open_game "$second/$E2E_DATA" || record_check 1 "files: the game of the second install opens"
  theirs=$PF_GAME
  pf_open_game "$first/$E2E_DATA" || record_check 1 "files: the game of the first install opens"
  ours=$PF_GAME
  local before
  before=$(pf_manifest "$second")

  e2e_serve "$work/good2" "$port" "$work/serve-good2.log" || { record_check 1 "files: content server starts"; return; }
  pf_launch "$first"
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: the update of the first install ends with 0 (got $E2E_STATUS)"
  record_check $([ "$(cat "$first/$E2E_DATA/data/level1.txt" 2>/dev/null)" = "level two" ] && echo 0 || echo 1) \
    "files: the first install holds the new release"
  record_check $(pf_ends_within "$ours" 10 && echo 0 || echo 1) "files: the open game of the first install is stopped"
  record_check $(kill -0 "$theirs" 2>/dev/null && echo 0 || echo 1) \
    "files: the open game of the second install (same names) keeps running"
  record_check $([ "$(pf_manifest "$second")" = "$before" ] && echo 0 || echo 1) \
    "files: the second install's files are unchanged"
  grep -q "runs from another folder" "$first/stdout.txt" ||
    echo "  (the launcher did not say it left the other game alone)"
  pf_stop "$theirs"
  pf_stop "$ours"
}

# Wine 8 cannot remove a Unix link to a folder (RemoveDirectory answers that the folder is not
# empty, with the target's content in view); where the link stays, an update must not fetch
# the archive through it.
pf_linked_download_folder() {
  local work=$1 port=$2 run="$1/pf-link" outside="$1/pf-outside"
  rm -rf "$run" "$outside"
  cp -a "$work/first-install" "$run"
  mkdir -p "$outside/sub"
  echo "the player's notes" >"$outside/notes.txt"
  head -c 5000 /dev/urandom >"$outside/sub/deep.bin"
  local before runs_before
  before=$(pf_manifest "$outside")
  runs_before=$(grep -c '^end$' "$run/$E2E_DATA/stand_in_game_runs.txt" 2>/dev/null)
  ln -s "$outside" "$run/$E2E_CHANNEL"

  e2e_serve "$work/good" "$port" "$work/serve-link.log" || { record_check 1 "files: content server starts"; return; }
  pf_launch "$run"
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: a run with a linked download folder ends with 0 (got $E2E_STATUS)"
  record_check $([ "$(pf_manifest "$outside")" = "$before" ] && echo 0 || echo 1) \
    "files: the linked folder's content is unchanged"
  local runs_after=0
  for _ in $(seq 1 50); do
    runs_after=$(grep -c '^end$' "$run/$E2E_DATA/stand_in_game_runs.txt" 2>/dev/null)
    [ "$runs_after" -gt "$runs_before" ] && break
    sleep 0.2
  done
  record_check $([ "$runs_after" -gt "$runs_before" ] && echo 0 || echo 1) "files: the game starts beside the link"
  if [ ! -L "$run/$E2E_CHANNEL" ]; then
    record_check 0 "files: the link itself is removed"
    return
  fi

  echo "  (the link stays: this Wine cannot remove a link to a folder; an update must not use it)"
  e2e_serve "$work/good2" "$port" "$work/serve-link2.log" || { record_check 1 "files: content server starts"; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/update-stdout.txt" 2>&1) &
  local launcher=$! box
  box=$(e2e_find_window "$launcher" "错误" 60)
  record_check $([ -n "$box" ] && echo 0 || echo 1) "files: an update through the remaining link shows the box instead"
  [ -n "$box" ] && e2e_cancel_box "$box" "$launcher"
  e2e_wait "$launcher" 30
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: Cancel then ends the launcher with 0 (got $E2E_STATUS)"
  record_check $([ "$(pf_manifest "$outside")" = "$before" ] && ! grep -q "^GET /$E2E_CHANNEL/res_" "$work/serve-link2.log" &&
    echo 0 || echo 1) "files: no archive is fetched into the linked folder"
}

# A folder of the package replaced by a link to a folder elsewhere: the update must not write
# the package's files into the link's target.
pf_linked_package_folder() {
  local work=$1 port=$2 run="$1/pf-linked-data" outside="$1/pf-outside-data"
  rm -rf "$run" "$outside"
  cp -a "$work/first-install" "$run"
  mkdir -p "$outside"
  echo "another program's level" >"$outside/level1.txt"
  local before
  before=$(pf_manifest "$outside")
  rm -rf "$run/$E2E_DATA/data"
  ln -s "$outside" "$run/$E2E_DATA/data"

  e2e_serve "$work/good2" "$port" "$work/serve-linked-data.log" || { record_check 1 "files: content server starts"; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/stdout.txt" 2>"$run/stderr.txt") &
  local launcher=$! box
  # Where the link cannot be removed (this Wine), unpacking fails with its box before any file
  # is written; where it can, the update completes.
  box=$(e2e_find_window "$launcher" "" 60)
  [ -n "$box" ] && e2e_cancel_box "$box" "$launcher"
  e2e_wait "$launcher" 60
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: an update over a linked package folder ends with 0 (got $E2E_STATUS)"
  if [ -L "$run/$E2E_DATA/data" ]; then
    # Staged while downloading, the files meet the link at the commit; unpacked after the
    # download, at the unpacking.
    record_check $([ -n "$box" ] && grep -qE "^start unzip|^commit file fail: data" "$run/stdout.txt" && echo 0 || echo 1) \
      "files: the link stays, and the unpacking that would write through it fails with its box"
  else
    record_check $([ "$(cat "$run/$E2E_DATA/data/level1.txt" 2>/dev/null)" = "level two" ] && echo 0 || echo 1) \
      "files: the link is replaced by the package's folder"
  fi
  record_check $([ "$(pf_manifest "$outside")" = "$before" ] && echo 0 || echo 1) \
    "files: nothing of the package is written into the linked folder's target"
}

pf_damaged_game() {
  local work=$1 port=$2 run="$1/pf-damaged"
  rm -rf "$run"
  cp -a "$work/first-install" "$run"
  head -c 3000 /dev/zero | tr '\0' 'Z' >"$run/$E2E_DATA/kolv.exe"

  e2e_serve "$work/good" "$port" "$work/serve-damaged-game.log" || { record_check 1 "files: content server starts"; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/damaged-stdout.txt" 2>&1) &
  local launcher=$! box
  box=$(e2e_find_window "$launcher" "" 60)
  record_check $([ -n "$box" ] && echo 0 || echo 1) "files: a box tells that the game cannot start"
  [ -n "$box" ] && e2e_cancel_box "$box" "$launcher"
  e2e_wait "$launcher" 30
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: the launcher then ends with 0 (got $E2E_STATUS)"
  # The reason is the system's text in GBK: matched byte-wise.
  record_check $(LC_ALL=C grep -q "^could not start .*(193)" "$run/damaged-stdout.txt" && echo 0 || echo 1) \
    "files: the system's reason is the bad executable format"
  record_check $([ ! -e "$run/$E2E_DATA/kolv.exe" ] && echo 0 || echo 1) "files: the damaged game is deleted"

  rm -f "$run/$E2E_DATA/stand_in_game_runs.txt"
  pf_launch "$run"
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "files: the next run ends with 0 (got $E2E_STATUS)"
  for _ in $(seq 1 50); do grep -q '^end$' "$run/$E2E_DATA/stand_in_game_runs.txt" 2>/dev/null && break; sleep 0.2; done
  record_check $(cmp -s "$run/$E2E_DATA/kolv.exe" "$work/game/kolv.exe" &&
    grep -q '^end$' "$run/$E2E_DATA/stand_in_game_runs.txt" 2>/dev/null && echo 0 || echo 1) \
    "files: the next run installs the game again and starts it"
}

player_files_run() {
  local work=$1 port=$2
  if [ ! -f "$work/first-install/$E2E_DATA/kolv.exe" ]; then
    record_check 1 "files: the first install to start from"
    return
  fi
  pf_second_install "$work" "$port"
  pf_linked_download_folder "$work" "$port"
  pf_linked_package_folder "$work" "$port"
  pf_damaged_game "$work" "$port"
}
