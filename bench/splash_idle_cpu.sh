#!/bin/bash
# Processor time of an idle splash: the real launcher under Xvfb, sampled from /proc/<pid>/stat
# while it waits, beside two references measured the same way: a GTK 3 window woken 60 times a
# second that does nothing else (what any GTK program pays here for the splash's frame rate;
# sampled before and after the launcher, since a shared machine's cost per wake-up drifts) and
# an idle X client (xmessage).
#
#   splash_idle_cpu.sh <launcher> <launcher-publish> <launcher-serve> <demo game> <port>
#                      <idle frame reference> [seconds]
#
# States measured (the check stages end in their box after about 12.6 s, so they are sampled for
# at most 10 s):
#   box open          the digest-mismatch box is open; the splash animates its stage text behind it
#   check, silent     the server takes the connection and never answers: the splash waits
#   check, refused    nothing listens: besides the splash, the update flow starts a new attempt on
#                     a thread of its own every 100 ms, so this is not an idle launcher
# Prints each one's share of one core for the whole process and for its window thread alone,
# the process's ratio to the budget of 1 % of a core (under 1.00 meets it) and to the GTK
# reference's mean share.
set -u
LAUNCHER=$(realpath "$1")
PUBLISH=$(realpath "$2")
SERVE=$(realpath "$3")
DEMO_GAME=$(realpath "$4")
PORT=$5
FRAME_REFERENCE=$(realpath "$6")
SECONDS_SAMPLED=${7:-20}
CHECK_SECONDS=$((SECONDS_SAMPLED < 10 ? SECONDS_SAMPLED : 10))
BUDGET_PERCENT=1

. "$(dirname "$(realpath "$0")")/../tests/support/display_test_prelude.sh"
. "$(dirname "$(realpath "$0")")/silent_server.sh"
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
# User + system time in clock ticks: of all threads (also those that ended), or of one thread.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
thread_ticks() { awk '{print $14 + $15}' "/proc/$1/task/$1/stat" 2>/dev/null; } # the first thread

# Prints "<process ticks> <first thread's ticks> <Xvfb ticks> <elapsed ns>" over `seconds`.
sample() { # pid seconds
  local p0 w0 x0 t0 p1 w1 x1 t1
  p0=$(cpu_ticks "$1") w0=$(thread_ticks "$1") x0=$(cpu_ticks $XVFB) t0=$(date +%s%N)
  sleep "$2"
  p1=$(cpu_ticks "$1") w1=$(thread_ticks "$1") x1=$(cpu_ticks $XVFB) t1=$(date +%s%N)
  [ -n "$p1" ] && [ -n "$w1" ] || die "process $1 ended while it was sampled"
  echo "$((p1 - p0)) $((w1 - w0)) $((x1 - x0)) $((t1 - t0))"
}
percent() { # ticks elapsed-ns
  awk -v t="$1" -v ns="$2" -v hz="$TICKS_PER_SECOND" 'BEGIN { printf "%.2f", 100 * t / hz / (ns / 1e9) }'
}

REFERENCE_SHARE=
report() { # state ticks window-thread-ticks xvfb-ticks elapsed-ns
  local share ratio versus window
  share=$(percent "$2" "$5")
  window=$([ "$3" = - ] && echo - || echo "$(percent "$3" "$5") %")
  ratio=$(awk -v s="$share" -v b=$BUDGET_PERCENT 'BEGIN { printf "%.2f", s / b }')
  versus=-
  if [ -n "$REFERENCE_SHARE" ]; then
    versus=$(awk -v s="$share" -v r="$REFERENCE_SHARE" 'BEGIN { if (r > 0) printf "%.2f x", s / r; else print "-" }')
  fi
  printf '%-24s %8s %%   %13s   %10s   %-14s %8s %%\n' "$1" "$share" "$window" "$ratio" "$versus" \
    "$(percent "$4" "$5")"
}

printf '%-24s %10s   %13s   %10s   %-14s %10s\n' "process, state" "of a core" "window thread" "vs budget" \
  "vs GTK 60 Hz" "Xvfb"

# The GTK reference, its share of a core left in REFERENCE_SHARES.
REFERENCE_SHARES=()
measure_frame_reference() { # label
  local pid ticks wticks xticks elapsed
  "$FRAME_REFERENCE" 2>/dev/null &
  pid=$!
  PIDS+=($pid)
  timeout 10 xdotool search --sync --onlyvisible --pid "$pid" --name '^idle frame reference$' >/dev/null ||
    die "the GTK reference shows no window"
  sleep 1
  read -r ticks wticks xticks elapsed <<<"$(sample $pid "$SECONDS_SAMPLED")"
  report "$1" "$ticks" "$wticks" "$xticks" "$elapsed"
  kill $pid
  wait $pid 2>/dev/null
  REFERENCE_SHARES+=("$(percent "$ticks" "$elapsed")")
}
measure_frame_reference "GTK 60 Hz, before"

# An idle X client showing a window.
xmessage -geometry +100+100 "reference" 2>/dev/null &
XMESSAGE=$!
PIDS+=($XMESSAGE)
timeout 10 xdotool search --sync --onlyvisible --classname "^xmessage$" >/dev/null || die "xmessage shows no window"
sleep 1
read -r ticks _ xticks elapsed <<<"$(sample $XMESSAGE "$SECONDS_SAMPLED")"
report "xmessage, idle" "$ticks" - "$xticks" "$elapsed"
kill $XMESSAGE

# The launcher's rows are compared with the mean of the two GTK samples; the rows are printed
# once the second one is taken.
ROWS=()
keep() { ROWS+=("$1|${*:2}"); } # state ticks window-thread-ticks xvfb-ticks elapsed-ns

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
read -r ticks wticks xticks elapsed <<<"$(sample $LAUNCHER_PID "$SECONDS_SAMPLED")"
keep "launcher, box open" "$ticks" "$wticks" "$xticks" "$elapsed"
kill $LAUNCHER_PID $SERVER
wait $LAUNCHER_PID $SERVER 2>/dev/null

# The check stage against a server that takes the connection and never answers.
silent_server_start "$PORT" "$WORK" || die "the silent server did not start"
SILENT=$SILENT_PID
PIDS+=($SILENT)
run_launcher "$WORK/silent"
sleep 1
read -r ticks wticks xticks elapsed <<<"$(sample $LAUNCHER_PID "$CHECK_SECONDS")"
keep "launcher, check, silent" "$ticks" "$wticks" "$xticks" "$elapsed"
kill $LAUNCHER_PID $SILENT
wait $LAUNCHER_PID $SILENT 2>/dev/null

# The check stage with nothing listening.
run_launcher "$WORK/check"
sleep 1
read -r ticks wticks xticks elapsed <<<"$(sample $LAUNCHER_PID "$CHECK_SECONDS")"
keep "launcher, check, refused" "$ticks" "$wticks" "$xticks" "$elapsed"
kill $LAUNCHER_PID
wait $LAUNCHER_PID 2>/dev/null

measure_frame_reference "GTK 60 Hz, after"
REFERENCE_SHARE=$(awk -v a="${REFERENCE_SHARES[0]}" -v b="${REFERENCE_SHARES[1]}" 'BEGIN { printf "%.3f", (a + b) / 2 }')
for row in "${ROWS[@]}"; do
  read -r -a numbers <<<"${row#*|}"
  report "${row%%|*}" "${numbers[@]}"
done
