#!/bin/bash
# Processor time of an idle splash: the real launcher under Xvfb, sampled from /proc/<pid>/stat
# while it waits, beside an idle X client (xmessage) and `sleep` measured the same way.
#
#   splash_idle_cpu.sh <launcher> <launcher-publish> <launcher-serve> <demo game> <port> [seconds]
#
# States measured:
#   box    the digest-mismatch box is open; the splash animates its stage text behind it
#   check  no content server: the "check" stage waits for the request time-outs
# Prints each one's share of one core and its ratio to the budget of 1 % of a core (under 1.00
# meets it) and to the reference (floored to one clock tick, so "> N x" when the reference used
# no measurable time at all).
set -u
LAUNCHER=$(realpath "$1")
PUBLISH=$(realpath "$2")
SERVE=$(realpath "$3")
DEMO_GAME=$(realpath "$4")
PORT=$5
SECONDS_SAMPLED=${6:-10}
BUDGET_PERCENT=1

. "$(dirname "$(realpath "$0")")/../tests/support/display_test_prelude.sh"
require_tools Xvfb xdotool xmessage
run_isolated "$0" "$@"

CHANNEL=MorvanePC1
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
die() { echo "error: $*" >&2; exit 1; }

exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 1920x1080x24 -br -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
PIDS+=($XVFB)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || die "Xvfb did not start"
export DISPLAY=":$(head -n1 "$WORK/display")"
unset WAYLAND_DISPLAY

TICKS_PER_SECOND=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; } # user + system, all threads

# Prints "<process ticks> <Xvfb ticks> <elapsed ns>" over the sampling time.
sample() { # pid
  local p0 x0 t0 p1 x1 t1
  p0=$(cpu_ticks "$1") x0=$(cpu_ticks $XVFB) t0=$(date +%s%N)
  sleep "$SECONDS_SAMPLED"
  p1=$(cpu_ticks "$1") x1=$(cpu_ticks $XVFB) t1=$(date +%s%N)
  [ -n "$p1" ] || die "process $1 ended while it was sampled"
  echo "$((p1 - p0)) $((x1 - x0)) $((t1 - t0))"
}
percent() { # ticks elapsed-ns
  awk -v t="$1" -v ns="$2" -v hz="$TICKS_PER_SECOND" 'BEGIN { printf "%.2f", 100 * t / hz / (ns / 1e9) }'
}

REFERENCE_TICKS=
report() { # state ticks xvfb-ticks elapsed-ns
  local share ratio versus
  share=$(percent "$2" "$4")
  ratio=$(awk -v s="$share" -v b=$BUDGET_PERCENT 'BEGIN { printf "%.2f", s / b }')
  if [ -z "$REFERENCE_TICKS" ]; then
    versus="-"
  elif [ "$REFERENCE_TICKS" -gt 0 ]; then
    versus=$(awk -v a="$2" -v r="$REFERENCE_TICKS" 'BEGIN { printf "%.1f x", a / r }')
  else
    versus=$(awk -v a="$2" 'BEGIN { printf "> %.1f x", a }')
  fi
  printf '%-22s %8s %%   %10s   %-12s %8s %%\n' "$1" "$share" "$ratio" "$versus" "$(percent "$3" "$4")"
}

printf '%-22s %10s   %10s   %-12s %10s\n' "process, state" "of a core" "vs budget" "vs xmessage" "Xvfb"

# The references: an idle X client showing a window, and a process that only sleeps.
xmessage -geometry +100+100 "reference" 2>/dev/null &
REFERENCE=$!
PIDS+=($REFERENCE)
timeout 10 xdotool search --sync --onlyvisible --classname "^xmessage$" >/dev/null || die "xmessage shows no window"
sleep 1
read -r ticks xticks elapsed <<<"$(sample $REFERENCE)"
report "xmessage, idle" "$ticks" "$xticks" "$elapsed"
REFERENCE_TICKS=$ticks
kill $REFERENCE
sleep 1000 &
SLEEPER=$!
PIDS+=($SLEEPER)
read -r ticks xticks elapsed <<<"$(sample $SLEEPER)"
report "sleep" "$ticks" "$xticks" "$elapsed"
kill $SLEEPER

# A release whose archive never passes the digest check.
BUILD=$WORK/build
mkdir -p "$BUILD" "$WORK/content"
cp "$DEMO_GAME" "$BUILD/kolv.exe"
head -c $((1024 * 1024)) /dev/urandom >"$BUILD/data.bin"
"$PUBLISH" "$CHANNEL" 1.0.0 "$BUILD" "$WORK/content" >/dev/null 2>&1 || die "publishing"
sed -i 's/"zipMd5": *"[^"]*"/"zipMd5": "0123456789abcdef0123456789abcdef"/' "$WORK/content/$CHANNEL/fileInfo_1_0_0.json"

run_launcher() { # folder
  mkdir -p "$1"
  (cd "$1" && exec "$LAUNCHER" >"$1.out" 2>&1 </dev/null) &
  LAUNCHER_PID=$!
  PIDS+=($LAUNCHER_PID)
  timeout 10 xdotool search --sync --all --onlyvisible --pid "$LAUNCHER_PID" --name '^Tessarine$' >/dev/null ||
    die "no splash window"
}

# The box is open.
"$SERVE" --port "$PORT" "$WORK/content" >"$WORK/serve.log" 2>&1 &
SERVER=$!
PIDS+=($SERVER)
for _ in $(seq 100); do grep -q '^listening' "$WORK/serve.log" && break; sleep 0.1; done
run_launcher "$WORK/box"
timeout 10 xdotool search --sync --all --onlyvisible --pid "$LAUNCHER_PID" --name '^$' >/dev/null || die "no box"
sleep 1
read -r ticks xticks elapsed <<<"$(sample $LAUNCHER_PID)"
report "launcher, box open" "$ticks" "$xticks" "$elapsed"
kill $LAUNCHER_PID $SERVER
wait $LAUNCHER_PID $SERVER 2>/dev/null

# The check stage, waiting for a server that does not answer (about 12.6 s before its box).
run_launcher "$WORK/check"
sleep 1
read -r ticks xticks elapsed <<<"$(sample $LAUNCHER_PID)"
report "launcher, check stage" "$ticks" "$xticks" "$elapsed"
