# Sourced by scripts/test-windows.sh, after wine_env_start: the real launcher under Wine against
# launcher-serve on 127.0.0.1.
#   e2e_run <windows-build> <publish-exe> <serve-exe> <work-folder> <port>
# Each check calls `record_check <ok 0|1> <name>` of the calling script.
#
#   1. first install: the launcher downloads (hashing as it writes), verifies and unpacks the
#      release, then starts the stand-in game in the data folder with the launcher's own
#      arguments, and exits with 0;
#   2. a damaged archive: the digest-mismatch box appears over the splash (whose screenshot is
#      checked at chosen pixels); a second launcher exits with 0 at once; Escape on the box (a
#      person pressing Cancel) ends the first with 0 and the damaged archive is gone.

E2E_CHANNEL=MorvanePC1
E2E_DATA=Tessarine_MorvanePC1
E2E_ARCHIVE=res_1_0_0.zip

e2e_serve() {  # folder port log -> E2E_SERVER
  "$E2E_SERVE" --port "$2" "$1" >"$3" 2>&1 &
  E2E_SERVER=$!
  for _ in $(seq 1 100); do
    grep -q "listening on" "$3" 2>/dev/null && return 0
    kill -0 "$E2E_SERVER" 2>/dev/null || break
    sleep 0.1
  done
  echo "content server did not start:" >&2
  cat "$3" >&2
  return 1
}

e2e_stop_server() {
  [ -n "${E2E_SERVER:-}" ] && kill "$E2E_SERVER" 2>/dev/null && wait "$E2E_SERVER" 2>/dev/null
  E2E_SERVER=""
}

# Waits until a line of file $1 matches $2, at most $3 seconds; 1 after the bound. Each look waits
# for the next write in the file's folder (inotify), or a second for a write just before the watch.
e2e_wait_for_line() {
  local file=$1 pattern=$2 deadline=$((SECONDS + $3))
  command -v inotifywait >/dev/null || { echo "e2e: inotifywait is missing (inotify-tools)" >&2; return 1; }
  until grep -q "$pattern" "$file" 2>/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    inotifywait -qq -t 1 -e modify,close_write,create,moved_to "$(dirname "$file")" >/dev/null 2>&1 || true
  done
}

# Waits for process $1 to end within $2 seconds; sets E2E_STATUS to its exit code, or 124.
e2e_wait() {
  local pid=$1 limit=$2 waited=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$waited" -ge $((limit * 10)) ]; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
      E2E_STATUS=124
      return
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$pid"
  E2E_STATUS=$?
}

# The visible top-level window of process $1 whose title is exactly $2 (may be empty), within
# $3 seconds; prints its id. Wine maps and destroys a few short-lived windows while the splash
# starts: a window gone between the search and the name lookup has no name to read, which must
# not pass for the untitled box, so the name must be read, and read again once it has settled.
e2e_find_window() {
  local pid=$1 title=$2 limit=$3 id name
  for _ in $(seq 1 $((limit * 4))); do
    for id in $(timeout 5 xdotool search --all --onlyvisible --pid "$pid" --name '.*' 2>/dev/null); do
      name=$(timeout 5 xdotool getwindowname "$id" 2>/dev/null) || continue
      [ "$name" = "$title" ] || continue
      sleep 0.25
      name=$(timeout 5 xdotool getwindowname "$id" 2>/dev/null) || continue
      if [ "$name" = "$title" ]; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.25
  done
  return 1
}

# Channel values (0-255) of one screen pixel: "r g b".
e2e_pixel() {
  convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}

# Number of pixels in a region whose channels pass a test, e.g. "r>200 && g>200 && b>200".
e2e_count() {
  local shot=$1 geometry=$2 test=$3
  convert "$shot" -crop "$geometry" -depth 8 txt:- |
    sed -n 's/.*: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p' |
    awk "{ r=\$1; g=\$2; b=\$3; if ($test) n++ } END { print n+0 }"
}

e2e_publish() {  # work -> release folders good/ and damaged/
  local work=$1
  mkdir -p "$work/game/data"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$work/game/kolv.exe"
  head -c 300000 /dev/urandom >"$work/game/data/pack.bin"
  echo "level one" >"$work/game/data/level1.txt"
  "$E2E_PUBLISH" "$E2E_CHANNEL" 1.0.0 "$work/game" "$work/good" >"$work/publish.log" 2>&1 || return 1
  cp -a "$work/good" "$work/damaged"
  # One byte changed in the middle of the archive: same size, other digest.
  local archive="$work/damaged/$E2E_CHANNEL/$E2E_ARCHIVE" size
  size=$(stat -c %s "$archive")
  printf '\x5a' | dd of="$archive" bs=1 seek=$((size / 2)) conv=notrunc status=none
}

e2e_first_install() {
  local work=$1 port=$2 run="$1/first-install"
  mkdir -p "$run"
  e2e_serve "$work/good" "$port" "$work/serve-good.log" || { record_check 1 "e2e: content server starts"; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" -a "b c" >"$run/stdout.txt" 2>"$run/stderr.txt") &
  local launcher=$!
  e2e_wait "$launcher" 120
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "e2e: first install ends with exit code 0 (got $E2E_STATUS)"
  local runs="$run/$E2E_DATA/stand_in_game_runs.txt"
  for _ in $(seq 1 50); do [ -s "$runs" ] && grep -q '^end$' "$runs" && break; sleep 0.2; done
  record_check $([ -f "$run/$E2E_DATA/kolv.exe" ] && [ -f "$run/$E2E_DATA/data/level1.txt" ] && echo 0 || echo 1) \
    "e2e: the package is unpacked into the data folder"
  # Quoting does not survive: "b c" reaches the game as two arguments.
  record_check $([ "$(grep '^arg=' "$runs" 2>/dev/null | tr '\n' ' ')" = "arg=-a arg=b arg=c " ] && echo 0 || echo 1) \
    "e2e: the game gets the launcher's arguments"
  record_check $(grep -q "^cwd=.*\\\\$E2E_DATA\$" "$runs" 2>/dev/null && echo 0 || echo 1) \
    "e2e: the game runs in the data folder"
  record_check $([ ! -e "$run/$E2E_ARCHIVE" ] && [ ! -e "$run/$E2E_CHANNEL" ] && echo 0 || echo 1) \
    "e2e: archive and download folder are gone after the install"
  # CryptoAPI hashed the archive as it was written; the verification read nothing again.
  record_check $(grep -q "digest already taken" "$run/stdout.txt" && ! grep -q "hashing archive" "$run/stdout.txt" &&
    echo 0 || echo 1) "e2e: the verification takes the digest computed while downloading"
  # The entries were inflated into the staging folder as they arrived; the unzip stage committed them.
  record_check $(grep -q "entries while downloading" "$run/stdout.txt" &&
    ! grep -q "unpacking after the download" "$run/stdout.txt" && [ ! -e "$run/$E2E_DATA/.staging" ] &&
    echo 0 || echo 1) "e2e: the archive is unpacked while it downloads and the staging committed"
  if [ ! -s "$runs" ]; then
    echo "--- launcher output" >&2
    tail -n 30 "$run/stdout.txt" "$run/stderr.txt" >&2
  fi
}

e2e_damaged_archive() {
  local work=$1 port=$2 run="$1/damaged-archive"
  mkdir -p "$run"
  e2e_serve "$work/damaged" "$port" "$work/serve-damaged.log" || { record_check 1 "e2e: content server starts"; return; }
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/stdout.txt" 2>"$run/stderr.txt") &
  local launcher=$!
  local box
  box=$(e2e_find_window "$launcher" "" 90)
  record_check $([ -n "$box" ] && echo 0 || echo 1) "e2e: the digest-mismatch box appears"
  if [ -n "$box" ]; then
    sleep 1  # the splash's overlays finish their last frame
    e2e_check_splash "$work" "$launcher"

    (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/second-stdout.txt" 2>&1) &
    local second=$!
    e2e_wait "$second" 30
    record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "e2e: a second launcher exits with 0 at once (got $E2E_STATUS)"
    record_check $(kill -0 "$launcher" 2>/dev/null && echo 0 || echo 1) "e2e: the first launcher keeps running"

    e2e_cancel_box "$box" "$launcher"
  fi
  e2e_wait "$launcher" 30
  e2e_stop_server
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "e2e: Cancel on the box ends the launcher with 0 (got $E2E_STATUS)"
  record_check $([ ! -e "$run/$E2E_ARCHIVE" ] && echo 0 || echo 1) "e2e: the damaged archive is deleted"
  record_check $([ ! -e "$run/$E2E_DATA/kolv.exe" ] && echo 0 || echo 1) "e2e: nothing is unpacked from a damaged archive"
}

# Answers a Retry/Cancel box with Cancel as a person would: bring it up, click into it so it is
# the active window, press Escape; if the box is still there, click its Cancel button (the
# right one of the two). Without a window manager the splash may lie above the box after an
# activation, so the box is raised first.
e2e_cancel_box() {
  local box=$1 pid=$2 geometry x y w h
  if ! geometry=$(timeout 5 xdotool getwindowgeometry --shell "$box" 2>/dev/null); then
    echo "  (the box $box cannot be found on $DISPLAY to answer it)"
    return 0
  fi
  x=$(echo "$geometry" | sed -n 's/^X=//p')
  y=$(echo "$geometry" | sed -n 's/^Y=//p')
  w=$(echo "$geometry" | sed -n 's/^WIDTH=//p')
  h=$(echo "$geometry" | sed -n 's/^HEIGHT=//p')
  timeout 10 xdotool windowraise "$box" >/dev/null 2>&1 || true
  timeout 10 xdotool mousemove --sync $((x + 10)) $((y + 10)) click 1 >/dev/null 2>&1 || true
  timeout 10 xdotool windowfocus --sync "$box" >/dev/null 2>&1 || true
  timeout 10 xdotool key Escape >/dev/null 2>&1 || true
  for _ in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "  (Escape did not close the box; clicking its Cancel button)"
  timeout 10 xdotool windowraise "$box" >/dev/null 2>&1 || true
  timeout 10 xdotool mousemove --sync $((x + w * 72 / 100)) $((y + h - 25)) click 1 >/dev/null 2>&1 || true
}

# The splash at chosen pixels: artwork, progress bar, texts. Transparent parts show the black
# root window (there is no compositor).
e2e_check_splash() {
  local work=$1 pid=$2 shot="$1/splash.png"
  local main geometry x y
  main=$(e2e_find_window "$pid" "Tessarine" 5)
  geometry=$(timeout 5 xdotool getwindowgeometry --shell "$main" 2>/dev/null)
  x=$(echo "$geometry" | sed -n 's/^X=//p')
  y=$(echo "$geometry" | sed -n 's/^Y=//p')
  record_check $([ "$x" = 405 ] && [ "$y" = 294 ] && echo 0 || echo 1) "e2e: the splash is centred on the screen (at $x,$y)"
  x=${x:-405}
  y=${y:-294}
  timeout 10 import -window root "$shot" 2>/dev/null
  local banner corner fill r g b
  read -r r g b <<<"$(e2e_pixel "$shot" $((x + 150)) $((y + 300)))"
  record_check $([ "${r:-0}" -gt 120 ] && [ "${r:-0}" -gt $((${g:-0} * 2)) ] && echo 0 || echo 1) \
    "e2e: the red banner of the artwork is drawn ($r $g $b)"
  read -r r g b <<<"$(e2e_pixel "$shot" $((x + 4)) $((y + 4)))"
  record_check $([ "$((r + g + b))" -lt 30 ] && echo 0 || echo 1) "e2e: outside the banner the splash is transparent ($r $g $b)"
  read -r r g b <<<"$(e2e_pixel "$shot" $((x + 700)) $((y + 418)))"
  record_check $([ "${g:-0}" -gt 100 ] && [ "${g:-0}" -gt "${r:-0}" ] && [ "${g:-0}" -gt "${b:-0}" ] && echo 0 || echo 1) \
    "e2e: the progress bar shows a full green fill ($r $g $b)"
  local white cyan
  white=$(e2e_count "$shot" "600x40+$((x + 400))+$((y + 429))" "r>200 && g>200 && b>200")
  record_check $([ "$white" -gt 200 ] && echo 0 || echo 1) "e2e: the notice lines are drawn ($white white pixels)"
  cyan=$(e2e_count "$shot" "300x24+$((x + 740))+$((y + 385))" "r<80 && g>180 && b>180")
  record_check $([ "$cyan" -gt 30 ] && echo 0 || echo 1) "e2e: the size and speed texts are drawn in cyan ($cyan pixels)"
}

e2e_run() {
  E2E_BUILD=$1
  E2E_PUBLISH=$2
  E2E_SERVE=$3
  local work=$4 port=$5
  rm -rf "$work"
  mkdir -p "$work"
  if ! e2e_publish "$work"; then
    cat "$work/publish.log" >&2
    record_check 1 "e2e: publishing the test release"
    return
  fi
  e2e_first_install "$work" "$port"
  e2e_damaged_archive "$work" "$port"
}
