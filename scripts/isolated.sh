#!/usr/bin/env bash
# Runs a command in namespaces of its own: network (only a loopback interface, up), process ids
# and mounts. Launchers started inside have their own single-instance socket, fixed test ports
# and process table, so several test runs on one machine cannot meet each other's launchers,
# servers or games.
#
#   scripts/isolated.sh COMMAND [ARG...]
#   scripts/isolated.sh --fresh COMMAND [ARG...]
#
# Where namespaces cannot be made (no user namespaces), the command runs as it is. Inside an
# isolated run the command runs in the namespaces it is in, unless --fresh asks for namespaces of
# its own even there (the tests that start launchers run so, beside each other); --fresh fails
# where namespaces cannot be made, since its callers then share one instance socket unguarded.
set -euo pipefail
fresh=0
if [ "${1:-}" = --fresh ]; then
  fresh=1
  shift
fi
if [ "$fresh" = 0 ] && [ -n "${LAUNCHER_ISOLATED:-}" ]; then
  exec "$@"
fi
if unshare -rn --pid --fork --mount-proc true 2>/dev/null; then
  export LAUNCHER_ISOLATED=1
  exec unshare -rn --pid --fork --mount-proc bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
if [ "$fresh" = 1 ]; then
  echo "isolated.sh: no namespaces here (unshare -rn --pid failed)" >&2
  exit 1
fi
echo "isolated.sh: no namespaces here, running as it is" >&2
exec "$@"
