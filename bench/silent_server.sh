# Sourced by the idle benchmarks: a server on 127.0.0.1 that takes every connection and never
# answers, so the launcher stays in its check stage for as long as it is measured.
#   silent_server_start <port> <work-folder>    sets SILENT_PID; returns non-zero if it did not start
silent_server_start() {
  local fifo="$2/silent.fifo" ready word
  rm -f "$fifo" && mkfifo "$fifo"
  python3 -c '
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(64)
print("listening", flush=True)
time.sleep(3600)' "$1" >"$fifo" 2>"$2/silent.err" &
  SILENT_PID=$!
  # Its one line says it listens; a bounded read of the pipe waits for it without polling.
  exec {ready}<"$fifo"
  read -r -t 10 word <&"$ready" || true
  exec {ready}<&-
  [ "$word" = listening ]
}
