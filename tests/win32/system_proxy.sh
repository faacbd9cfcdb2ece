# Sourced by scripts/test-windows.sh after e2e_run, which leaves a published release in
# <work>/good: the launcher behind the proxy of the user's internet settings, written to the
# registry as the system's proxy dialog writes it, against tests/support/forward_proxy.py.
#   proxy_run <work-folder> <content-port>
#   1. proxy 127.0.0.1:<proxy port>, bypass "<local>": the install succeeds and every request the
#      content server saw came through the proxy;
#   2. the content server on the bypass list: the install succeeds and the proxy saw nothing.
# Each check calls `record_check <ok 0|1> <name>` of the calling script.

PROXY_SETTINGS='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'

# What the dialog stores for "use a proxy server" with these values: the legacy values and the
# connection's settings block (version 0x46, a change counter, flags 1 direct | 2 proxy, then
# each text with its length, no configuration script, and the block's zeroed tail).
proxy_set() {  # server bypass
  local blob
  blob=$(python3 - "$1" "$2" <<'PY'
import struct, sys
proxy, bypass = (s.encode("ascii") for s in sys.argv[1:3])
blob = struct.pack("<III", 0x46, 1, 0x3) + struct.pack("<I", len(proxy)) + proxy
blob += struct.pack("<I", len(bypass)) + bypass + struct.pack("<I", 0) + bytes(32)
print(blob.hex())
PY
)
  wine reg add "$PROXY_SETTINGS" /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null 2>&1 &&
    wine reg add "$PROXY_SETTINGS" /v ProxyServer /t REG_SZ /d "$1" /f >/dev/null 2>&1 &&
    wine reg add "$PROXY_SETTINGS" /v ProxyOverride /t REG_SZ /d "$2" /f >/dev/null 2>&1 &&
    wine reg add "$PROXY_SETTINGS\\Connections" /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f \
      >/dev/null 2>&1
}

proxy_clear() {
  wine reg delete "$PROXY_SETTINGS\\Connections" /v DefaultConnectionSettings /f >/dev/null 2>&1
  wine reg add "$PROXY_SETTINGS" /v ProxyEnable /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

# Lines "<method> <path>" of the requests the content server's log shows.
proxy_served_requests() { sed -n 's/^\([A-Z]*\) \([^ ]*\) .*/\1 \2/p' "$1"; }

proxy_install() {  # work run-name -> PROXY_STATUS
  local run="$1/$2"
  mkdir -p "$run"
  (cd "$run" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$run/stdout.txt" 2>"$run/stderr.txt") &
  e2e_wait $! 120
  PROXY_STATUS=$E2E_STATUS
}

# One install with the proxy set to <proxy> and the bypass list <bypass>, against the release in
# <work>/good; leaves PROXY_STATUS, the content server's log in <work>/serve-<run>.log and the
# install in <work>/<run>.
proxy_case() {  # work run proxy bypass port
  local work=$1 run=$2
  proxy_set "$3" "$4" || record_check 1 "proxy: the settings of $run are written"
  e2e_serve "$work/good" "$5" "$work/serve-$run.log" || record_check 1 "proxy: content server starts"
  proxy_install "$work" "$run"
  e2e_stop_server
}

proxy_run() {
  local work=$1 port=$2 log="$1/proxy-requests.log" proxy_pid proxy_port word ready
  : >"$log"
  # The proxy's first line names its port; a bounded read of a pipe waits for it without polling.
  rm -f "$work/proxy.fifo" && mkfifo "$work/proxy.fifo"
  python3 "$E2E_ROOT/tests/support/forward_proxy.py" "$log" >"$work/proxy.fifo" 2>"$work/proxy.err" &
  proxy_pid=$!
  exec {ready}<"$work/proxy.fifo"
  read -r -t 10 word proxy_port <&"$ready" || true
  exec {ready}<&-
  if [ "$word" != listening ] || [ -z "$proxy_port" ]; then
    record_check 1 "proxy: the forward proxy starts ($(cat "$work/proxy.err"))"
    kill "$proxy_pid" 2>/dev/null
    return
  fi

  proxy_case "$work" proxy-install "127.0.0.1:$proxy_port" "<local>" "$port"
  record_check $([ "$PROXY_STATUS" = 0 ] && [ -f "$work/proxy-install/$E2E_DATA/kolv.exe" ] && echo 0 || echo 1) \
    "proxy: the install through the system proxy succeeds (exit $PROXY_STATUS)"
  local served through
  served=$(proxy_served_requests "$work/serve-proxy-install.log" | sort)
  through=$(sort "$log")
  record_check $([ -n "$served" ] && [ "$served" = "$through" ] && echo 0 || echo 1) \
    "proxy: every request went through the proxy ($(echo "$through" | grep -c .) of $(echo "$served" | grep -c .))"

  : >"$log"
  proxy_case "$work" proxy-bypass "127.0.0.1:$proxy_port" "<local>;127.0.0.1" "$port"
  record_check $([ "$PROXY_STATUS" = 0 ] && [ -f "$work/proxy-bypass/$E2E_DATA/kolv.exe" ] && echo 0 || echo 1) \
    "proxy: the install with the content server on the bypass list succeeds (exit $PROXY_STATUS)"
  served=$(proxy_served_requests "$work/serve-proxy-bypass.log" | grep -c .)
  record_check $([ "$served" -ge 3 ] && [ ! -s "$log" ] && echo 0 || echo 1) \
    "proxy: no request of a bypassed server went through the proxy ($(grep -c . "$log") of $served)"

  proxy_clear
  kill "$proxy_pid" 2>/dev/null
  wait "$proxy_pid" 2>/dev/null
}
