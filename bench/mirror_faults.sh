#!/usr/bin/env bash
# Time and requests of one player's update against mirrors that misbehave, one fault at a time.
#
# usage: bench/mirror_faults.sh <launcher> <launcher-publish> [label]
#
# The launcher must be built for two base URLs on loopback, the second over https, with
# certificate checks off (the mirror's certificate is made here):
#   cmake -S . -B build/bench-faults -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLAUNCHER_BUILD_TESTS=OFF \
#     -DLAUNCHER_WITH_GTK=OFF "-DLAUNCHER_BASE_URLS=http://127.0.0.1:47661/;https://127.0.0.1:47662/" \
#     -DLAUNCHER_VERIFY_TLS=OFF && cmake --build build/bench-faults --target launcher launcher-publish
# Base URL 1 (https, 47662) is the faulty mirror: documents go to it first. Base URL 0 (47661)
# is healthy unless the case breaks both. Every box is answered Cancel (end of input); a run
# that has not ended after the limit (MIRROR_BENCH_LIMIT seconds, 90) is killed;
# MIRROR_BENCH_CASES (a regular expression) picks cases. Prints one row per case: outcome, seconds,
# requests on each mirror (47663 is plain http, the target of the downgrade redirect).
set -u
launcher=$(realpath "$1")
publish=$(realpath "$2")
label=${3:-}
limit=${MIRROR_BENCH_LIMIT:-90}

work=$(mktemp -d /tmp/mirror-faults.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
content=$work/content
mkdir -p "$work/build/assets" "$content" "$work/nginx/tmp"
cp /bin/true "$work/build/kolv.exe"
echo 1.0.0 >"$work/build/version.txt"
head -c 4000000 /dev/urandom >"$work/build/assets/pack0.bin"
"$publish" --no-unsupported MorvanePC1 1.0.0 "$work/build" "$content" >/dev/null
zip=$(cd "$content/MorvanePC1" && ls res_*.zip)
info=$(cd "$content/MorvanePC1" && ls fileInfo_*.json)
md5=$(md5sum "$content/MorvanePC1/$zip" | cut -d' ' -f1)
zipBytes=$(stat -c %s "$content/MorvanePC1/$zip")
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
# Documents stored compressed, as a content delivery network serves them.
mkdir -p "$work/gz/MorvanePC1"
for doc in config.json "$info"; do gzip -9 -n -c "$content/MorvanePC1/$doc" >"$work/gz/MorvanePC1/$doc"; done
ln -s "$content/MorvanePC1/$zip" "$work/gz/MorvanePC1/$zip"

start_nginx() {  # <good directives> <bad directives>
  cat >"$work/nginx/nginx.conf" <<CONF
$user_line daemon off; worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events {}
http {
  log_format counted '\$server_port \$status \$uri \$body_bytes_sent';
  access_log $work/nginx/access.log counted;
  client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp; fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
  default_type application/octet-stream;
  server { listen 127.0.0.1:47661; root $content; $1 }
  server { listen 127.0.0.1:47662 ssl; ssl_certificate $work/cert.pem; ssl_certificate_key $work/key.pem;
           root $content; $2 }
  server { listen 127.0.0.1:47663; root $content; }
}
CONF
  : >"$work/nginx/access.log"
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>>"$work/nginx/error.log" &
  nginx_pid=$!
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/47661) 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nginx did not start: $(cat "$work/nginx/error.log")" >&2
  return 1
}
stop_nginx() { kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null; }

# A listener on the faulty mirror's port that never accepts: its backlog is filled at once.
start_hung() {
  python3 - <<'PY' &
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 47662)); s.listen(0)
fill = []
for _ in range(4):
    c = socket.socket(); c.setblocking(False)
    try: c.connect(("127.0.0.1", 47662))
    except BlockingIOError: pass
    fill.append(c)
time.sleep(600)
PY
  hung_pid=$!
  for _ in $(seq 100); do ss -ltn | grep -q '127.0.0.1:47662 ' && return 0; sleep 0.05; done
}

# Over https: a 200 with a full length whose body stops half-way (libcurl error 18), for documents.
start_cutter() {
  python3 - "$work/cert.pem" "$work/key.pem" "$content" <<'PY' &
import socket, ssl, sys, threading, os
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); context.load_cert_chain(sys.argv[1], sys.argv[2])
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 47662)); s.listen(16)
def serve(raw):
    try:
        c = context.wrap_socket(raw, server_side=True)
        request = c.recv(65536).decode("latin-1")
        path = request.split(" ")[1].split("?")[0]
        body = open(sys.argv[3] + path, "rb").read()
        with open(os.environ.get("CUT_LOG", "/dev/null"), "a") as log: log.write("47662 200 %s\n" % path)
        c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body[: len(body) // 2])
        c.close()
    except Exception:
        raw.close()
while True:
    raw, _ = s.accept()
    threading.Thread(target=serve, args=(raw,), daemon=True).start()
PY
  hung_pid=$!
  for _ in $(seq 100); do ss -ltn | grep -q '127.0.0.1:47662 ' && return 0; sleep 0.05; done
}

# Runs one player from an empty working folder (or with the half archive of a broken download).
run_player() {  # <case> <partial: yes|no>
  local run=$work/run
  rm -rf "$run"; mkdir -p "$run/MorvanePC1" "$run/Tessarine_MorvanePC1"
  if [ "$2" = yes ]; then
    head -c $((zipBytes / 2)) "$content/MorvanePC1/$zip" >"$run/MorvanePC1/$zip"
    printf 'zipName=MorvanePC1/%s\r\nzipMd5=%s' "$zip" "$md5" >"$run/Tessarine_MorvanePC1/downloadRecord"
  fi
  local started ended code
  started=$(date +%s.%N)
  (cd "$run" && timeout -s KILL "$limit" "$launcher" </dev/null >"$work/out.log" 2>&1)
  code=$?
  ended=$(date +%s.%N)
  local outcome=updated
  if [ $code -eq 137 ]; then outcome="still running, killed"
  elif ! [ -f "$run/Tessarine_MorvanePC1/version.txt" ]; then outcome="box: $(grep -m1 -o '^\[[^]]*\] [^,]*' "$work/out.log" | head -c 60)"
  fi
  sleep 0.3  # nginx logs a request when it ends
  local good bad plain bytes
  good=$(grep -c '^47661 ' "$work/nginx/access.log" 2>/dev/null)
  bad=$(grep -c '^47662 ' "$work/nginx/access.log" 2>/dev/null)
  [ -f "$work/cut.log" ] && bad=$((bad + $(wc -l <"$work/cut.log")))
  plain=$(grep -c '^47663 ' "$work/nginx/access.log" 2>/dev/null)
  bytes=$(awk '$3 ~ /\.zip$/ {s += $4} END {print s + 0}' "$work/nginx/access.log")
  printf '%-34s %-40s %7.1f s  good %3s  bad %3s  http %2s  archive bytes %s\n' "$label $1" "$outcome" \
    "$(echo "$ended - $started" | bc)" "$good" "$bad" "$plain" "$bytes"
}

one_case() {  # <case> <good directives> <bad directives> <partial> [hung|cutter]
  [[ "$1" =~ ${MIRROR_BENCH_CASES:-.} ]] || return 0
  rm -f "$work/cut.log"
  case ${5:-} in
    hung) start_nginx_plain_only; start_hung ;;
    cutter) start_nginx_plain_only; CUT_LOG=$work/cut.log start_cutter ;;
    *) start_nginx "$2" "$3" ;;
  esac
  run_player "$1" "$4"
  stop_nginx
  [ -n "${hung_pid:-}" ] && { kill "$hung_pid" 2>/dev/null; wait "$hung_pid" 2>/dev/null; hung_pid=; }
}

# nginx without the faulty mirror's port, for cases where another server holds it.
start_nginx_plain_only() {
  cat >"$work/nginx/nginx.conf" <<CONF
$user_line daemon off; worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events {}
http {
  log_format counted '\$server_port \$status \$uri \$body_bytes_sent';
  access_log $work/nginx/access.log counted;
  client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp; fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
  server { listen 127.0.0.1:47661; root $content; }
}
CONF
  : >"$work/nginx/access.log"
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>>"$work/nginx/error.log" &
  nginx_pid=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/47661) 2>/dev/null && return 0; sleep 0.05; done
}

export CUT_LOG=$work/cut.log
# nginx running as root (also root of a user namespace) hands its folders to "nobody" unless told
# to stay the user it is.
user_line=
[ "$(id -u)" = 0 ] && user_line="user $(id -un) $(id -gn);"
one_case "1 hanging mirror" "" "" no hung
# The archive's first base URL is picked at random: three players each.
for player in a b c; do
  one_case "2 archive trickling (2 B/s) $player" "" 'location ~ \.zip$ { limit_rate 2; }' no
done
for player in a b c; do
  one_case "2 archive mirror 404 $player" "" 'location ~ \.zip$ { return 404; }' no
done
one_case "3 https redirects to http" "" 'location / { return 302 http://127.0.0.1:47663$request_uri; }' no
one_case "4 range ignored (half kept)" 'max_ranges 0;' 'max_ranges 0;' yes
one_case "5 document cut after 200" "" "" no cutter
one_case "6 fileInfo 404 on both" "location ~ fileInfo { return 404; }" "location ~ fileInfo { return 404; }" no
one_case "7 gzip-encoded documents" \
  "location / { root $work/gz; location ~ \.json\$ { add_header Content-Encoding gzip; } }" \
  "location / { root $work/gz; location ~ \.json\$ { add_header Content-Encoding gzip; } }" no
one_case "8 chunked archive" \
  "location ~ \.zip\$ { sub_filter QQQQzzzzQQQQ x; sub_filter_types *; }" \
  "location ~ \.zip\$ { sub_filter QQQQzzzzQQQQ x; sub_filter_types *; }" no
