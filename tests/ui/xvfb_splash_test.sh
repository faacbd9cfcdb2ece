#!/bin/bash
# The real launcher's splash under Xvfb: centred at 405,294 on 1920x1080, drawn pixels, a drag
# that moves every form with the main window, a second launcher bringing the first to the front.
# Skips (77) only when Xvfb, xdotool or ImageMagick's import are not installed.
set -u
LAUNCHER=$(realpath "$1")
# Launchers of other tests may run at the same time; the single-instance name lives in the
# network namespace, so this test takes one of its own where the system allows it.
if [ -z "${SPLASH_TEST_ISOLATED:-}" ] && unshare -rn true 2>/dev/null; then
  SPLASH_TEST_ISOLATED=1 exec unshare -rn "$0" "$@"
fi
for tool in Xvfb xdotool import convert xmessage; do
  command -v "$tool" >/dev/null || { echo "skip: $tool not installed"; exit 77; }
done
WORK=$(mktemp -d)
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$WORK"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$WORK/launcher.out" 2>/dev/null | head -20; exit 1; }

exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$WORK/display")"
unset WAYLAND_DISPLAY

pixel() { # x y -> "r,g,b"
  import -window root -crop "1x1+$1+$2" "$WORK/p.png" 2>/dev/null
  convert "$WORK/p.png" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" info:
}
geometry() { timeout 5 xdotool getwindowgeometry "$1" | awk '/Position/ {split($2, a, ","); print a[1] "," a[2]}'; }

cd "$WORK"
"$LAUNCHER" >launcher.out 2>&1 &
FIRST=$!
PIDS+=($FIRST)
MAIN=$(timeout 10 xdotool search --sync --name '^Tessarine$' | head -n1) || fail "no splash window"
sleep 1
[ "$(geometry "$MAIN")" = "405,294" ] || fail "splash at $(geometry "$MAIN"), not 405,294"

is_red() { IFS=, read -r r g b <<<"$(pixel "$1" "$2")"; [ "$r" -gt 120 ] && [ "$g" -lt 80 ]; }
wait_red() { for _ in $(seq 40); do is_red "$1" "$2" && return 0; sleep 0.25; done; return 1; }

# Drawn pixels: the banner's red body, the transparent corner cut away (black root).
wait_red $((405 + 300)) $((294 + 300)) || fail "banner pixel $r,$g,$b is not red"
[ "$(pixel $((405 + 3)) $((294 + 3)))" = "0,0,0" ] || fail "transparent corner is drawn"

# A press on the artwork drags the whole splash.
timeout 5 xdotool mousemove $((405 + 250)) $((294 + 200)) mousedown 1 || fail "xdotool press"
for step in 10 20 30 40 50; do timeout 5 xdotool mousemove $((405 + 250 + step)) $((294 + 200 + step / 2)); sleep 0.05; done
timeout 5 xdotool mouseup 1
for _ in $(seq 20); do [ "$(geometry "$MAIN")" = "455,319" ] && break; sleep 0.25; done
[ "$(geometry "$MAIN")" = "455,319" ] || fail "main window at $(geometry "$MAIN") after the drag"
for form in $(timeout 5 xdotool search --name '^BaseForm$'); do
  [ "$(geometry "$form")" = "455,319" ] || fail "form $form at $(geometry "$form") after the drag"
done

# Something covers the splash; a second launcher brings the first one to the front.
xmessage -geometry 1920x1080+0+0 -bg magenta "cover" &
PIDS+=($!)
sleep 1
[ "$(pixel $((455 + 300)) $((319 + 300)))" = "255,0,255" ] || fail "cover window does not cover"
timeout 10 "$LAUNCHER" >second.out 2>&1 || fail "second launcher exited with $?"
sleep 0.5
wait_red $((455 + 300)) $((319 + 300)) || fail "splash not brought to the front: $r,$g,$b"
kill -0 "$FIRST" || fail "first launcher ended"
echo "splash checks passed"
