#!/usr/bin/env bash
# The demo: a whole update run of the launcher against a local content server.
#
#   bash scripts/run-demo.sh [--update] [--fresh] [--port N] [--] [arguments for the game...]
#
# Installs what is missing, builds the launcher configured for http://127.0.0.1:<port>/ (build/demo),
# publishes the demo game as version 1.0.0 with launcher-publish (once), serves the release with
# launcher-serve, and runs the launcher in a scratch working folder (build/demo/run/work). The
# launcher hands the arguments after the options on to the demo game, which prints and records
# them. With a display the splash is shown; without one the launcher runs in the terminal.
#
#   first run          downloads, verifies and unpacks 1.0.0, starts the game
#   run it again       "notNeedUpdate": starts the game without downloading
#   --update           publishes 1.0.1 (1.0.0 marked unsupported) and shows the update
#   --fresh            starts over with an empty content folder and working folder
#   --port N           the content server's port (default 47600, or DEMO_PORT)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${DEMO_PORT:-47600}"
update=0
fresh=0
game_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --update) update=1 ;;
    --fresh) fresh=1 ;;
    --port) port="$2"; shift ;;
    --help|-h) sed -n '2,18p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --) shift; game_args+=("$@"); break ;;
    *) game_args+=("$1") ;;
  esac
  shift
done

build="$repo/build/demo"
state="$build/run"
content="$state/content"
work="$state/work"
say() { printf '\n== %s\n' "$*" >&2; }

say "installing what is missing"
bash "$repo/scripts/install-deps.sh"

say "building the launcher for http://127.0.0.1:$port/ (build/demo)"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_BUILD_TESTS=OFF \
  -DLAUNCHER_BASE_URLS="http://127.0.0.1:$port/" >/dev/null
cmake --build "$build" --target launcher launcher-publish launcher-serve demo_game -- -j"$(nproc)" >/dev/null
game_exe="$(cd "$build/demo_game_build" && ls | head -n 1)"
channel="$(sed -n 's/^#define LAUNCHER_CHANNEL_ID "\(.*\)"$/\1/p' "$build/generated/launcher_config.h")"

if [ "$fresh" = 1 ]; then rm -rf "$state"; fi
mkdir -p "$content" "$work"

# A game build: the demo game, a version marker and some data, made once per version so that
# publishing it again finds the same content.
make_build() {
  local version="$1" dir="$state/game-$1"
  if [ ! -d "$dir" ]; then
    mkdir -p "$dir/assets"
    cp "$build/demo_game_build/$game_exe" "$dir/$game_exe"
    echo "$version" > "$dir/version.txt"
    head -c $((4 * 1024 * 1024)) /dev/urandom > "$dir/assets/pack0.bin"
    echo "demo asset of version $version" > "$dir/assets/readme.txt"
  fi
  echo "$dir"
}

if [ ! -f "$content/$channel/config.json" ]; then
  say "publishing the demo game as 1.0.0"
  "$build/tools/publish/launcher-publish" --game-exe "$game_exe" "$channel" 1.0.0 "$(make_build 1.0.0)" "$content"
fi
if [ "$update" = 1 ]; then
  say "publishing the demo game as 1.0.1 (1.0.0 must not be kept)"
  "$build/tools/publish/launcher-publish" --game-exe "$game_exe" --unsupported 1.0.0 \
    "$channel" 1.0.1 "$(make_build 1.0.1)" "$content"
fi

say "starting launcher-serve on 127.0.0.1:$port"
log="$state/server.log"
rm -f "$state/port"
"$build/tools/serve/launcher-serve" --port "$port" --port-file "$state/port" "$content" >"$log" 2>&1 &
server_pid=$!
stop_server() { kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true; }
trap stop_server EXIT
for _ in $(seq 100); do
  [ -s "$state/port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log" >&2; echo "launcher-serve did not start (port $port busy? try --port)" >&2; exit 1; }
  sleep 0.05
done

if [ -n "${DISPLAY:-}" ]; then mode="splash on $DISPLAY"; else mode="terminal mode (no DISPLAY)"; fi
say "running the launcher in $work, $mode, game arguments: ${game_args[*]:-(none)}"
runs="$work/$(sed -n 's/^#define LAUNCHER_DATA_FOLDER_PREFIX "\(.*\)"$/\1/p' "$build/generated/launcher_config.h")$channel/demo_game_runs.txt"
count_runs() { if [ -f "$runs" ]; then wc -l <"$runs"; else echo 0; fi; }
runs_before=$(count_runs)
set +e
(cd "$work" && "$build/app/launcher" "${game_args[@]}")
status=$?
set -e
for _ in $(seq 40); do  # the game may still be writing its record
  [ "$(count_runs)" -gt "$runs_before" ] && break
  sleep 0.05
done

say "content server log"
cat "$log" >&2
say "outcome"
echo "launcher exit code: $status" >&2
if grep -q "^GET /$channel/res_" "$log"; then
  echo "update check: needUpdate, downloaded $(grep "^GET /$channel/res_" "$log" | awk '{print $2}' | sort -u | tr '\n' ' ')" >&2
else
  echo "update check: notNeedUpdate, nothing downloaded" >&2
fi
if [ "$(count_runs)" -gt "$runs_before" ]; then
  echo "the game started; its record: $(tail -n 1 "$runs")" >&2
  echo "installed version: $(cat "$(dirname "$runs")/version.txt")" >&2
else
  echo "the game did not start this time" >&2
fi
exit "$status"
