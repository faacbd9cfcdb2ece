#!/usr/bin/env bash
# One player's whole update, from an empty working folder to the started game, against the
# tools a person would run by hand, from the same nginx on loopback in the same run.
#
# usage: bench/update_bench.sh <launcher> <launcher-publish> <port>
#
# <launcher> is built for the one base URL http://127.0.0.1:<port>/ (the end-to-end tests'
# launcher_e2e); run the script in a network namespace of its own (scripts/isolated.sh) so the
# fixed port meets no other test. `ninja -C build/linux update_bench` does both.
#
# For each package size (UPDATE_BENCH_SIZES, MiB, "200 1024") and each rate (unlimited and
# nginx's `limit_rate 100m`), the median of UPDATE_BENCH_RUNS runs (3) of:
#   launcher   the launcher's whole run (check, download, digest, unpack, game start, exit)
#   curl       the archive download alone with the curl tool
#   cpu        the launcher's processor time (user + system), less dependent on the machine's load
#   c+m+u      curl, then md5sum, then unzip -o -q, in sequence
# plus the waits the flow prescribes whatever the line's speed (two 500 ms pauses before the
# first attempt of each document request, 900 ms before the digest, 700 ms from the game's start
# to the exit: 2.6 s), the two ratios the launcher is held to, and its peak resident memory
# (/usr/bin/time). The packages (half of their bytes random, half text that deflates about 3:1,
# several hundred files) are made once with launcher-publish and kept in UPDATE_BENCH_CACHE
# (/tmp/update-bench-cache), so a run before and after a change measures the same archives.
# UPDATE_BENCH_BEFORE names a second launcher (the build before a change): it runs beside the
# first, run for run, and gets rows of its own, so both tables come from the same machine load.
#
# The update by files (UPDATE_BENCH_PARTS holds "files"; "whole files" by default, `ninja
# update_files_bench` runs it alone): a package of UPDATE_BENCH_FILES_SIZE MiB (1024) installed,
# then a release where one file of 10 MiB (random bytes) changes. For the median of the runs, the
# bytes nginx sent for the new archive (headers included) and the time of the launcher's whole
# run when it updates by files, when it takes the whole archive (forced by an installed file
# information without "files", as a launcher's older release wrote it), and of curl fetching the
# whole archive; with their ratios. The same 2.6 s of waits are in both launcher runs.
set -euo pipefail
launcher=$(realpath "$1")
publish=$(realpath "$2")
port=$3
runs=${UPDATE_BENCH_RUNS:-3}
sizes=${UPDATE_BENCH_SIZES:-200 1024}
parts=${UPDATE_BENCH_PARTS:-whole files}
files_size=${UPDATE_BENCH_FILES_SIZE:-1024}
cache=${UPDATE_BENCH_CACHE:-/tmp/update-bench-cache}
fixed_waits=2.6

work=$(mktemp -d /tmp/update-bench.XXXXXX)
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The game build folder of one size: 400 files, half of the bytes random, half word text.
make_build() {  # <MiB> <folder>
  python3 - "$1" "$2" <<'PY'
import os, random, sys
mib, root = int(sys.argv[1]), sys.argv[2]
rng = random.Random(17)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
# A corpus much larger than deflate's 32 KiB window, sliced per file: it compresses as text does.
lines = []
size = 0
while size < 48 << 20:
    line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14))) + " %d\n" % rng.randint(0, 10**6)
    lines.append(line)
    size += len(line)
corpus = "".join(lines).encode()
files = 400
per_file = (mib << 20) // files
os.makedirs(os.path.join(root, "data"), exist_ok=True)
for i in range(files):
    folder = os.path.join(root, "data", "pack%02d" % (i % 20))
    os.makedirs(folder, exist_ok=True)
    length = max(1, int(per_file * rng.uniform(0.5, 1.5)))
    with open(os.path.join(folder, "asset%03d.bin" % i), "wb") as out:
        if i % 2 == 0:
            remaining = length
            while remaining > 0:
                chunk = min(remaining, 1 << 22)
                out.write(os.urandom(chunk))
                remaining -= chunk
        else:
            remaining = length
            while remaining > 0:
                start = rng.randrange(0, len(corpus) - (1 << 20))
                chunk = corpus[start : start + min(remaining, 1 << 20)]
                out.write(chunk)
                remaining -= len(chunk)
with open(os.path.join(root, "version.txt"), "w") as out:
    out.write("1.0.0\n")
PY
  cp /bin/true "$2/kolv.exe"
}

# Content folder of one size, made once.
content_for() {  # <MiB>
  local content=$cache/content-$1
  if ! [ -f "$content/.complete" ]; then
    rm -rf "$content" "$cache/build-$1"
    mkdir -p "$content" "$cache/build-$1"
    make_build "$1" "$cache/build-$1"
    "$publish" --no-unsupported MorvanePC1 1.0.0 "$cache/build-$1" "$content" >"$work/publish.log" 2>&1 ||
      { cat "$work/publish.log" >&2; return 1; }
    rm -rf "$cache/build-$1"
    touch "$content/.complete"
  fi
  echo "$content"
}

start_nginx() {  # <content> <server directives>
  mkdir -p "$work/nginx/tmp"
  local user_line=
  # nginx as root (also root of a user namespace) hands its folders to "nobody" unless told otherwise.
  [ "$(id -u)" = 0 ] && user_line="user $(id -un) $(id -gn);"
  cat >"$work/nginx/nginx.conf" <<CONF
$user_line daemon off; worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events {}
http {
  log_format sent '\$uri \$status \$bytes_sent';
  access_log $work/nginx/access.log sent; sendfile on;
  client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp; fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $1; $2 }
}
CONF
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>>"$work/nginx/error.log" &
  nginx_pid=$!
  for _ in $(seq 200); do
    curl -s -o /dev/null "http://127.0.0.1:$port/MorvanePC1/config.json" && return 0
    sleep 0.05
  done
  echo "nginx did not start: $(cat "$work/nginx/error.log")" >&2
  return 1
}
stop_nginx() {
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
}

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# One launcher run from an empty working folder; prints "seconds peak-KiB cpu-seconds". Fails
# when the game was not installed.
run_launcher() {  # <zip> <launcher>
  local run=$work/run
  rm -rf "$run"
  mkdir -p "$run"
  local started ended
  started=$(now)
  (cd "$run" && env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/time -f '%M %U %S' -o "$work/rss" \
    timeout -s KILL 600 "$2" </dev/null >"$work/launcher.log" 2>&1) || true
  ended=$(now)
  if ! [ -f "$run/Tessarine_MorvanePC1/version.txt" ] || [ -e "$run/MorvanePC1/$1" ]; then
    echo "launcher run did not install the package:" >&2
    tail -5 "$work/launcher.log" >&2
    return 1
  fi
  local peak user system
  read -r peak user system < <(tail -1 "$work/rss")
  echo "$(echo "$ended - $started" | bc) $peak $(echo "$user + $system" | bc)"
}

run_curl() {  # <url>
  local started ended
  rm -f "$work/curl.zip"
  started=$(now)
  curl -s -f -o "$work/curl.zip" "$1"
  ended=$(now)
  echo "$ended - $started" | bc
}

# curl, md5sum and unzip one after the other, as a person updating by hand.
run_by_hand() {  # <url> <md5>
  local started ended digest
  rm -rf "$work/curl.zip" "$work/unzipped"
  started=$(now)
  curl -s -f -o "$work/curl.zip" "$1"
  digest=$(md5sum "$work/curl.zip" | cut -d' ' -f1)
  unzip -o -q "$work/curl.zip" -d "$work/unzipped"
  ended=$(now)
  [ "$digest" = "$2" ] || { echo "md5sum gave $digest, expected $2" >&2; return 1; }
  echo "$ended - $started" | bc
}

# Bytes nginx sent for one path since the access log had <lines> lines.
bytes_sent_since() {  # <lines> <path>
  tail -n +$(($1 + 1)) "$work/nginx/access.log" | awk -v path="$2" '$1 == path { sum += $3 } END { print sum + 0 }'
}
log_lines() { wc -l <"$work/nginx/access.log" 2>/dev/null || echo 0; }

# The two releases of the update by files, made once: 1.0.0, and 1.0.1 with other bytes in
# data/changing.bin only.
files_content_for() {  # <MiB> -> the folder holding releases/ a and b
  local root=$cache/files-$1
  if ! [ -f "$root/.complete" ]; then
    rm -rf "$root"
    mkdir -p "$root"
    make_build "$1" "$root/build"
    head -c $((10 << 20)) /dev/urandom >"$root/build/data/changing.bin"
    "$publish" --no-unsupported MorvanePC1 1.0.0 "$root/build" "$root/a" >"$work/publish.log" 2>&1 ||
      { cat "$work/publish.log" >&2; return 1; }
    head -c $((10 << 20)) /dev/urandom >"$root/build/data/changing.bin"
    "$publish" --unsupported 1.0.0 MorvanePC1 1.0.1 "$root/build" "$root/b" >"$work/publish.log" 2>&1 ||
      { cat "$work/publish.log" >&2; return 1; }
    rm -rf "$root/build"
    touch "$root/.complete"
  fi
  echo "$root"
}

# One update run of the launcher in a copy of the installed template; prints "seconds bytes".
# <expect> must be a line of its output: the path it took.
run_update() {  # <template> <zip> <expect> [strip]
  local run=$work/run data file
  rm -rf "$run"
  # Hard links: an update replaces the files it installs by renames and never writes into them;
  # the launcher's own files at the top of the data folder are written in place, so they are copies.
  cp -al "$1" "$run"
  data=$run/Tessarine_MorvanePC1
  for file in "$data"/*; do
    if [ -f "$file" ]; then cp --remove-destination "$1/Tessarine_MorvanePC1/${file##*/}" "$file"; fi
  done
  if [ "${4:-}" = strip ]; then
    # The installed version's file information as a launcher's earlier release cached it.
    python3 - "$data/fileInfo_1_0_0.json" <<'PY'
import json, sys
path = sys.argv[1]
with open(path) as f:
    info = json.load(f)
info.pop("files", None)
with open(path, "w") as f:
    json.dump(info, f)
PY
  fi
  local before started ended
  before=$(log_lines)
  started=$(now)
  (cd "$run" && env -u DISPLAY -u WAYLAND_DISPLAY timeout -s KILL 600 "$launcher" </dev/null >"$work/launcher.log" 2>&1) || true
  ended=$(now)
  if ! grep -q "$3" "$work/launcher.log" || ! cmp -s "$data/data/changing.bin" "$files_changed"; then
    echo "the launcher did not update by the expected path ($3):" >&2
    grep -E "update|download" "$work/launcher.log" | tail -5 >&2
    return 1
  fi
  echo "$(echo "$ended - $started" | bc) $(bytes_sent_since "$before" "/MorvanePC1/$2")"
}

bench_files() {
  local root
  root=$(files_content_for "$files_size")
  local template=$work/template zip=res_1_0_1.zip url
  url=http://127.0.0.1:$port/MorvanePC1/$zip
  # The template: release 1.0.0 installed from an empty working folder.
  start_nginx "$root/a" ""
  rm -rf "$work/run"
  run_launcher res_1_0_0.zip "$launcher" >/dev/null
  mv "$work/run" "$template"
  stop_nginx
  files_changed=$work/changing.bin
  unzip -p "$root/b/MorvanePC1/$zip" data/changing.bin >"$files_changed"
  start_nginx "$root/b" ""
  : >"$work/files.rows"; : >"$work/whole.rows"; : >"$work/curl.rows"
  local before
  for _ in $(seq "$runs"); do
    run_update "$template" "$zip" "^file-level update: 1 of " >>"$work/files.rows"
    run_update "$template" "$zip" "^whole-archive update: no file list in the installed" strip >>"$work/whole.rows"
    before=$(log_lines)
    echo "$(run_curl "$url") $(bytes_sent_since "$before" "/MorvanePC1/$zip")" >>"$work/curl.rows"
  done
  stop_nginx
  rm -rf "$template" "$work/run"
  local archive
  archive=$(stat -c %s "$root/b/MorvanePC1/$zip")
  echo
  printf 'update by files: %s MiB package (archive of %s bytes), one file of 10 MiB changed, median of %s runs\n' \
    "$files_size" "$archive" "$runs"
  printf '%-22s %10s %16s\n' path seconds "bytes sent"
  local name rows ft fb wt wb ct cb
  for name in files whole curl; do
    rows=$work/$name.rows
    read -r t b <<<"$(cut -d' ' -f1 "$rows" | median) $(cut -d' ' -f2 "$rows" | median)"
    case $name in
      files) ft=$t fb=$b label="launcher, by files" ;;
      whole) wt=$t wb=$b label="launcher, whole archive" ;;
      curl) ct=$t cb=$b label="curl, whole archive" ;;
    esac
    printf '%-22s %9.2fs %16.0f\n' "$label" "$t" "$b"
  done
  printf 'by files / whole archive: bytes %.4f, time %.3f; by files / curl: bytes %.4f, time %.3f\n' \
    "$(echo "$fb / $wb" | bc -l)" "$(echo "$ft / $wt" | bc -l)" "$(echo "$fb / $cb" | bc -l)" "$(echo "$ft / $ct" | bc -l)"
  printf 'by files less the %s s of waits / curl: time %.3f\n' "$fixed_waits" "$(echo "($ft - $fixed_waits) / $ct" | bc -l)"
}

if [[ " $parts " != *" whole "* ]]; then
  bench_files
  exit 0
fi

printf 'fixed waits of the flow: %s s (2 x 500 ms before the documents, 900 ms before the digest, 700 ms exit)\n' \
  "$fixed_waits"
printf '%-6s %-10s %-7s %9s %9s %9s %9s %11s %11s %10s\n' size rate build launcher "cpu" curl c+m+u "l/(curl+w)" \
  "l/(cmu+w)" "peak MiB"
builds="after"
[ -n "${UPDATE_BENCH_BEFORE:-}" ] && builds="before after"
launcher_of() { [ "$1" = before ] && realpath "$UPDATE_BENCH_BEFORE" || echo "$launcher"; }
for size in $sizes; do
  content=$(content_for "$size")
  zip=$(cd "$content/MorvanePC1" && ls res_*.zip)
  md5=$(md5sum "$content/MorvanePC1/$zip" | cut -d' ' -f1)
  url=http://127.0.0.1:$port/MorvanePC1/$zip
  for rate in unlimited 100m; do
    directives=
    [ "$rate" = 100m ] && directives='location ~ \.zip$ { limit_rate 100m; }'
    start_nginx "$content" "$directives"
    : >"$work/curl.times"; : >"$work/hand.times"
    for build in $builds; do : >"$work/$build.times"; : >"$work/$build.peaks"; : >"$work/$build.cpu"; done
    for _ in $(seq "$runs"); do
      for build in $builds; do
        one=$(run_launcher "$zip" "$(launcher_of "$build")")
        read -r seconds peak cpu <<<"$one"
        echo "$seconds" >>"$work/$build.times"
        echo "$peak" >>"$work/$build.peaks"
        echo "$cpu" >>"$work/$build.cpu"
      done
      run_curl "$url" >>"$work/curl.times"
      run_by_hand "$url" "$md5" >>"$work/hand.times"
    done
    stop_nginx
    c=$(median <"$work/curl.times")
    h=$(median <"$work/hand.times")
    for build in $builds; do
      l=$(median <"$work/$build.times")
      peak=$(sort -n "$work/$build.peaks" | tail -1)
      cpu=$(median <"$work/$build.cpu")
      printf '%-6s %-10s %-7s %8.2fs %8.2fs %8.2fs %8.2fs %11.3f %11.3f %10.1f\n' "${size}M" "$rate" "$build" "$l" \
        "$cpu" "$c" "$h" \
        "$(echo "$l / ($c + $fixed_waits)" | bc -l)" "$(echo "$l / ($h + $fixed_waits)" | bc -l)" \
        "$(echo "$peak / 1024" | bc -l)"
    done
  done
done
echo "targets at 1024M: 100m l/(curl+w) <= 1.10; unlimited l/(cmu+w) <= 0.75; peak < 64 MiB in every row"
if [[ " $parts " == *" files "* ]]; then bench_files; fi
