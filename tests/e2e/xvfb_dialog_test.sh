#!/bin/bash
# The real launcher under Xvfb against the local content server, its boxes answered with the
# mouse and the keyboard as a player would.
#
#   xvfb_dialog_test.sh first-run|digest-mismatch <launcher> <launcher-publish> <launcher-serve> <demo game> <port>
#
# first-run        an empty working folder; the server drops the archive's connection half-way, so
#                  the splash stands in the download stage (checked on a screenshot) under the
#                  download-failure box; Retry from the keyboard resumes the download with a range
#                  request, the package is installed and the game starts.
# digest-mismatch  1.0.0 installed; 1.0.1 published with a wrong "zipMd5". A click on Cancel ends
#                  the launcher at once with 0 and leaves the installed game as it was; the next run
#                  meets the box again, a click on Retry starts a new check (a broken file
#                  information on the server now gives the captioned error box, found by its
#                  caption), and once the release is repaired, Retry from the keyboard installs
#                  1.0.1 and starts the game.
# Skips (77) only when Xvfb, xdotool or ImageMagick are not installed.
set -u
SCENARIO=$1
LAUNCHER=$(realpath "$2")
PUBLISH=$(realpath "$3")
SERVE=$(realpath "$4")
DEMO_GAME=$(realpath "$5")
PORT=$6

. "$(dirname "$(realpath "$0")")/../support/display_test_prelude.sh"
require_tools Xvfb xdotool import convert

run_isolated "$0" "$@"

CHANNEL=MorvanePC1
DATA=Tessarine_$CHANNEL
GAME=kolv.exe
ASSET_BYTES=$((3 * 1024 * 1024))

WORK=$(mktemp -d)
CONTENT=$WORK/content
RUN=$WORK/run
mkdir -p "$CONTENT" "$RUN"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  # What the screen showed, for a look afterwards.
  local shot=${TMPDIR:-/tmp}/xvfb_dialog_test_$SCENARIO.png
  import -window root "$shot" 2>/dev/null && echo "screen at the failure: $shot"
  echo "--- launcher output"; tail -n 20 "$WORK/launcher.out" 2>/dev/null
  echo "--- server log"; tail -n 20 "$WORK/serve.log" 2>/dev/null
  exit 1
}
step() { echo "== $*"; }

exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$WORK/display")"
unset WAYLAND_DISPLAY

# --- the studio's side: game builds, releases, the content server

make_build() { # version -> folder
  local dir=$WORK/build-$1
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir/assets"
    cp "$DEMO_GAME" "$dir/$GAME"
    echo "$1" >"$dir/version.txt"
    head -c "$ASSET_BYTES" /dev/urandom >"$dir/assets/pack0.bin"
  fi
  echo "$dir"
}
publish() { # version [launcher-publish options...]
  local version=$1
  shift
  "$PUBLISH" "$@" "$CHANNEL" "$version" "$(make_build "$version")" "$CONTENT" >/dev/null 2>&1 || fail "publishing $version"
}
file_info() { echo "$CONTENT/$CHANNEL/fileInfo_${1//./_}.json"; }
set_zip_md5() { # version digest
  sed -i "s/\"zipMd5\": *\"[^\"]*\"/\"zipMd5\": \"$2\"/" "$(file_info "$1")"
}
start_server() { # [launcher-serve options...]
  "$SERVE" --port "$PORT" "$@" "$CONTENT" >"$WORK/serve.log" 2>&1 &
  SERVER=$!
  PIDS+=($SERVER)
  for _ in $(seq 100); do grep -q '^listening' "$WORK/serve.log" && return 0; sleep 0.1; done
  fail "content server did not start"
}
requests_for() { grep -c "^GET /$CHANNEL/$1" "$WORK/serve.log"; }

# --- the player's side

start_launcher() { # arguments for the game...
  (cd "$RUN" && exec "$LAUNCHER" "$@" >"$WORK/launcher.out" 2>&1 </dev/null) &
  LAUNCHER_PID=$!
  PIDS+=($LAUNCHER_PID)
  MAIN=$(timeout 30 xdotool search --sync --all --onlyvisible --pid "$LAUNCHER_PID" --name '^Tessarine$' | head -n1)
  [ -n "$MAIN" ] || fail "no splash window"
}
# Waits for the launcher's end; EXIT_CODE is its exit code, or "running" after `seconds`.
wait_launcher() { # seconds
  local deadline=$((SECONDS + $1))
  while kill -0 "$LAUNCHER_PID" 2>/dev/null && [ $SECONDS -lt "$deadline" ]; do sleep 0.02; done
  EXIT_CODE=running
  if ! kill -0 "$LAUNCHER_PID" 2>/dev/null; then
    wait "$LAUNCHER_PID"
    EXIT_CODE=$?
  fi
}
# A box of the launcher: a visible window of its process with the given title (a box with an
# empty caption has an empty title; the splash's own windows have names of their own).
find_box() { # title-regex
  local box
  box=$(timeout 10 xdotool search --sync --all --onlyvisible --pid "$LAUNCHER_PID" --name "$1" | head -n1)
  [ -n "$box" ] || fail "no box titled '$1'"
  sleep 0.3 # mapped; let it draw before it is pressed
  echo "$box"
}
box_gone() { # box
  for _ in $(seq 50); do
    timeout 5 xdotool search --all --onlyvisible --pid "$LAUNCHER_PID" --name '.*' 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  return 1
}
# The Retry/Cancel box lays its two buttons side by side along its bottom edge: Retry left.
click_button() { # box left|right
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(timeout 5 xdotool getwindowgeometry --shell "$1")"
  local x=$((WIDTH / 4))
  [ "$2" = right ] && x=$((WIDTH * 3 / 4))
  timeout 5 xdotool mousemove --window "$1" "$x" $((HEIGHT - 15)) click 1 || fail "xdotool click"
}
press_key() { # box key
  timeout 5 xdotool windowfocus --sync "$1" || fail "xdotool focus"
  timeout 5 xdotool key "$2" || fail "xdotool key"
}
game_runs() { wc -l <"$RUN/$DATA/demo_game_runs.txt" 2>/dev/null || echo 0; }
wait_game_runs() { # count
  for _ in $(seq 50); do [ "$(game_runs)" -ge "$1" ] && return 0; sleep 0.1; done
  return 1
}
installed_game() { # digests of the installed game's files (the resume record aside)
  (cd "$RUN/$DATA" && find . -type f ! -name downloadRecord -print0 | sort -z | xargs -0 md5sum)
}

# --- screenshots: counts of pixels of a kind in a rectangle of the screen

count_pixels() { # x y width height kind(green|track|cyan|white)
  import -window root -crop "$3x$4+$1+$2" "$WORK/crop.png" 2>/dev/null || fail "screenshot"
  convert "$WORK/crop.png" -depth 8 txt:- | awk -v kind="$5" -F'[(),]+' '
    /^[0-9]/ { r = $3; g = $4; b = $5
      if (kind == "green" && g > 150 && g > r + 40 && g > b + 40) n++
      if (kind == "track" && g < 110 && b < 110 && r < 60 && g > r) n++
      if (kind == "cyan" && r < 100 && g > 180 && b > 180) n++
      if (kind == "white" && r > 220 && g > 220 && b > 220) n++ }
    END { print n + 0 }'
}
crop_digest() { # x y width height
  import -window root -crop "$3x$4+$1+$2" "$WORK/crop.png" 2>/dev/null
  convert "$WORK/crop.png" -depth 8 rgb:- | md5sum
}

case "$SCENARIO" in
first-run)
  publish 1.0.0
  ZIP_BYTES=$(stat -c %s "$CONTENT/$CHANNEL/res_1_0_0.zip")
  CUT=$((ZIP_BYTES / 2))
  start_server --cut-once "/$CHANNEL/res_1_0_0.zip:$CUT"

  step "first run: the download breaks off half-way"
  start_launcher --from-xvfb splash
  BOX=$(find_box '^$')
  eval "$(timeout 5 xdotool getwindowgeometry --shell "$MAIN")"
  [ "$X,$Y" = "405,294" ] || fail "splash at $X,$Y, not centred"
  [ "$(requests_for res_1_0_0.zip)" = 1 ] || fail "the archive was not requested once"

  step "screenshot of the download stage under the box"
  # The fill stops where the transfer stopped (element at 402,411, full width 564), in front of
  # the empty track; the size and speed texts are cyan, the stage text white.
  FILLED=$((564 * CUT / ZIP_BYTES))
  [ "$(count_pixels $((X + 402 + 20)) $((Y + 415)) $((FILLED - 40)) 8 green)" -gt $(((FILLED - 40) * 6)) ] ||
    fail "the fill does not reach the transferred half"
  [ "$(count_pixels $((X + 402 + FILLED + 20)) $((Y + 415)) 100 8 green)" = 0 ] || fail "the fill goes past the transferred half"
  [ "$(count_pixels $((X + 402 + FILLED + 20)) $((Y + 415)) 100 8 track)" -gt 600 ] || fail "the empty track is not shown"
  [ "$(count_pixels $((X + 746)) $((Y + 389)) 140 22 cyan)" -gt 40 ] || fail "no size text"
  [ "$(count_pixels $((X + 899)) $((Y + 389)) 120 22 cyan)" -gt 40 ] || fail "no speed text"
  [ "$(count_pixels $((X + 589)) $((Y + 387)) 140 24 white)" -gt 40 ] || fail "no stage text"
  # The stage text keeps animating (a dot every half second) while the box waits.
  BEFORE=$(crop_digest $((X + 589)) $((Y + 387)) 150 24)
  CHANGED=0
  for _ in $(seq 15); do
    sleep 0.1
    [ "$(crop_digest $((X + 589)) $((Y + 387)) 150 24)" != "$BEFORE" ] && CHANGED=1 && break
  done
  [ $CHANGED = 1 ] || fail "the stage text stands still under the box"

  step "Retry from the keyboard resumes the download"
  press_key "$BOX" Return
  wait_launcher 40
  [ "$EXIT_CODE" = 0 ] || fail "the launcher ended with $EXIT_CODE after the retry"
  grep -q "^GET /$CHANNEL/res_1_0_0.zip range=bytes=$CUT- 206" "$WORK/serve.log" || fail "no range request from byte $CUT"
  [ "$(requests_for config.json)" = 2 ] || fail "the retry did not start a new check"
  wait_game_runs 1 || fail "the game did not start"
  grep -q '"args":\["--from-xvfb","splash"\]' "$RUN/$DATA/demo_game_runs.txt" || fail "the game's arguments: $(cat "$RUN/$DATA/demo_game_runs.txt")"
  [ "$(cat "$RUN/$DATA/version.txt")" = 1.0.0 ] || fail "version 1.0.0 is not installed"
  [ ! -e "$RUN/$CHANNEL" ] || fail "the download folder was left behind"
  ;;

digest-mismatch)
  publish 1.0.0
  start_server
  step "1.0.0 installed by a run without a display"
  (cd "$RUN" && env -u DISPLAY "$LAUNCHER" </dev/null >"$WORK/launcher.out" 2>&1) || fail "installing 1.0.0"
  wait_game_runs 1 || fail "the game of 1.0.0 did not start"
  publish 1.0.1 --unsupported 1.0.0
  GOOD_MD5=$(sed -n 's/.*"zipMd5": *"\([0-9a-f]*\)".*/\1/p' "$(file_info 1.0.1)")
  [ ${#GOOD_MD5} = 32 ] || fail "no digest in the published file information"
  cp "$(file_info 1.0.1)" "$WORK/good_file_info.json"
  set_zip_md5 1.0.1 0123456789abcdef0123456789abcdef
  BEFORE=$(installed_game)
  RUNS=$(game_runs)

  step "a wrong digest: the box, answered Cancel with a click"
  start_launcher
  BOX=$(find_box '^$')
  [ -e "$RUN/$CHANNEL/res_1_0_1.zip" ] && fail "the archive that failed the check was kept"
  START_MS=$(date +%s%3N)
  click_button "$BOX" right
  wait_launcher 5
  ELAPSED=$(($(date +%s%3N) - START_MS))
  [ "$EXIT_CODE" = 0 ] || fail "Cancel: exit code $EXIT_CODE"
  [ "$ELAPSED" -lt 1500 ] || fail "Cancel took ${ELAPSED} ms to end the launcher"
  [ "$(installed_game)" = "$BEFORE" ] || fail "the installed game was changed"
  [ "$(game_runs)" = "$RUNS" ] || fail "a game was started after Cancel"

  step "again; a click on Retry starts a new check"
  start_launcher
  BOX=$(find_box '^$')
  CONFIGS=$(requests_for config.json)
  echo '{"zipName": ' >"$(file_info 1.0.1)" # broken on the server for a moment
  click_button "$BOX" left
  box_gone "$BOX" || fail "the box stayed after Retry"
  ERROR_BOX=$(find_box '^发生错误$')
  [ "$(requests_for config.json)" = $((CONFIGS + 1)) ] || fail "Retry did not request config.json again"

  step "the release repaired; Retry from the keyboard installs 1.0.1"
  cp "$WORK/good_file_info.json" "$(file_info 1.0.1)"
  press_key "$ERROR_BOX" Return
  wait_launcher 40
  [ "$EXIT_CODE" = 0 ] || fail "the launcher ended with $EXIT_CODE after the repaired release"
  [ "$(requests_for config.json)" = $((CONFIGS + 2)) ] || fail "the second Retry did not start a new check"
  wait_game_runs $((RUNS + 1)) || fail "the game did not start after the update"
  [ "$(cat "$RUN/$DATA/version.txt")" = 1.0.1 ] || fail "version 1.0.1 is not installed"
  ;;

*)
  echo "unknown scenario $SCENARIO"
  exit 2
  ;;
esac
echo "xvfb $SCENARIO: passed"
