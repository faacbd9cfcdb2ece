#!/usr/bin/env bash
# Runs a command in namespaces of its own: network (only a loopback interface, up), process ids
# and mounts. Launchers started inside have their own single-instance socket, fixed test ports
# and process table, so several test runs on one machine cannot meet each other's launchers,
# servers or games.
#
#   scripts/isolated.sh COMMAND [ARG...]
#
# Where namespaces cannot be made (no user namespaces), the command runs as it is.
set -euo pipefail
if [ -n "${LAUNCHER_ISOLATED:-}" ]; then
  exec "$@"
fi
if unshare -rn --pid --fork --mount-proc true 2>/dev/null; then
  export LAUNCHER_ISOLATED=1
  exec unshare -rn --pid --fork --mount-proc bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
echo "isolated.sh: no namespaces here, running as it is" >&2
exec "$@"
