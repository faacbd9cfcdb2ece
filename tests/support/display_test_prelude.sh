# Sourced by the scripts that run the real launcher under Xvfb.

# Ends the script with 77 (skipped) when one of the tools is missing.
require_tools() {  # tool...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "skip: $tool not installed"; exit 77; }
  done
}

# Re-runs the script in a network namespace of its own where the system allows one, so the
# launcher's fixed port and its single-instance name belong to this run alone.
# Call as: run_isolated "$0" "$@"
run_isolated() {  # script arguments...
  if [ -z "${LAUNCHER_TEST_ISOLATED:-}" ] && unshare -rn sh -c 'ip link set lo up' 2>/dev/null; then
    LAUNCHER_TEST_ISOLATED=1 exec unshare -rn "$@"
  fi
  if [ -n "${LAUNCHER_TEST_ISOLATED:-}" ]; then ip link set lo up; fi
}
