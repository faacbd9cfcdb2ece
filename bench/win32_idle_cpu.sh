#!/bin/bash
# Processor time of the idle Windows splash under Wine, against a plain Win32 window woken 60
# times a second built with the same toolchain (bench/win32_idle_frame_reference.cpp), measured
# the same way: processor time from /proc of the program's process, and apart from it of the
# Wine server, which does the work of every message wait and timer of a Wine program.
#
#   win32_idle_cpu.sh <launcher_e2e.exe> <win32_idle_frame_reference.exe> <port> [seconds]
#
# The launcher is the end-to-end build, whose content server is 127.0.0.1:<port>; a server that
# takes the connection and never answers holds it in the check stage, where the splash animates
# its stage text and nothing else happens. The reference is sampled before and after the
# launcher, since a shared machine's cost per wake-up drifts; the launcher's ratios are against
# their mean. Runs in namespaces of its own (scripts/isolated.sh), so the Wine server found is
# this run's.
set -u
root="$(cd "$(dirname "$(realpath "$0")")/.." && pwd)"
LAUNCHER=$(realpath "$1")
REFERENCE=$(realpath "$2")
PORT=$3
SECONDS_SAMPLED=${4:-10}
if [ -z "${LAUNCHER_ISOLATED:-}" ]; then exec bash "$root/scripts/isolated.sh" bash "$0" "$@"; fi

. "$root/tests/support/display_test_prelude.sh"
require_tools Xvfb xdotool wine python3
. "$root/tests/win32/wine_env.sh"
. "$root/bench/silent_server.sh"
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wine_env_stop
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
die() { echo "error: $*" >&2; exit 1; }
wine_env_start "$root/build/windows/wine-bench" || die "Xvfb did not start"

# Nanoseconds on a processor, summed over the process's threads (/proc schedstat): the 10 ms
# ticks of /proc stat would leave an idle program's 1 % a count of a dozen.
cpu_ticks() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ns += $1} END {if (NR) printf "%d\n", ns}'; }
# Prints "<process ns> <Wine server ns> <elapsed ns>" over `seconds`.
sample() { # pid seconds
  local server p0 s0 t0 p1 s1 t1
  server=$(pgrep -x 'wineserver(64)?' | head -n 1)
  [ -n "$server" ] || { echo "no Wine server" >&2; return 1; }
  p0=$(cpu_ticks "$1") s0=$(cpu_ticks "$server") t0=$(date +%s%N)
  sleep "$2"
  p1=$(cpu_ticks "$1") s1=$(cpu_ticks "$server") t1=$(date +%s%N)
  [ -n "$p1" ] || { echo "process $1 ended while it was sampled" >&2; return 1; }
  echo "$((p1 - p0)) $((s1 - s0)) $((t1 - t0))"
}
percent() { # cpu-ns elapsed-ns
  awk -v t="$1" -v ns="$2" 'BEGIN { printf "%.2f", 100 * t / ns }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f x", a / b; else print "-" }'; }

# The Linux process of the visible window titled $1, once it shows.
window_pid() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] && xdotool getwindowpid "$id"
}

REFERENCE_PROCESS=()
REFERENCE_SERVER=()
measure_reference() { # label
  local pid ticks sticks elapsed
  (cd "$WORK" && exec wine "$REFERENCE" >/dev/null 2>&1) &
  PIDS+=($!)
  pid=$(window_pid "idle frame reference") || die "the reference shows no window"
  sleep 1
  read -r ticks sticks elapsed <<<"$(sample "$pid" "$SECONDS_SAMPLED")" && [ -n "$elapsed" ] || die "sampling"
  REFERENCE_PROCESS+=("$(percent "$ticks" "$elapsed")")
  REFERENCE_SERVER+=("$(percent "$sticks" "$elapsed")")
  printf '%-28s %8s %%   %8s %%\n' "$1" "${REFERENCE_PROCESS[-1]}" "${REFERENCE_SERVER[-1]}"
  kill "$pid" 2>/dev/null
  wineserver -w
}

printf '%-28s %10s   %10s   %-16s %-16s\n' "program" "process" "wineserver" "process vs ref" "both vs ref"
measure_reference "Win32 60 Hz window, before"

silent_server_start "$PORT" "$WORK" || die "the silent server did not start"
PIDS+=($SILENT_PID)
mkdir -p "$WORK/launcher"
(cd "$WORK/launcher" && exec wine "$LAUNCHER" >"$WORK/launcher.out" 2>&1) &
PIDS+=($!)
pid=$(window_pid "Tessarine") || die "no splash window"
sleep 1
# The check stage ends in its box after about 12.6 s.
read -r ticks sticks elapsed <<<"$(sample "$pid" "$((SECONDS_SAMPLED < 10 ? SECONDS_SAMPLED : 10))")" &&
  [ -n "$elapsed" ] || die "sampling"
kill "$pid" 2>/dev/null
wineserver -w

measure_reference "Win32 60 Hz window, after"
ref_process=$(awk -v a="${REFERENCE_PROCESS[0]}" -v b="${REFERENCE_PROCESS[1]}" 'BEGIN { print (a + b) / 2 }')
ref_both=$(awk -v a="${REFERENCE_PROCESS[0]}" -v b="${REFERENCE_PROCESS[1]}" -v c="${REFERENCE_SERVER[0]}" \
  -v d="${REFERENCE_SERVER[1]}" 'BEGIN { print (a + b + c + d) / 2 }')
process=$(percent "$ticks" "$elapsed")
server=$(percent "$sticks" "$elapsed")
printf '%-28s %8s %%   %8s %%   %-16s %-16s\n' "launcher, check, silent" "$process" "$server" \
  "$(ratio "$process" "$ref_process")" "$(ratio "$(awk -v a="$process" -v b="$server" 'BEGIN { print a + b }')" "$ref_both")"
