#!/usr/bin/env bash
# The test command: builds the linux, linux-asan and linux-tsan presets and runs every test in each.
# Usage: scripts/test.sh [preset ...]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan)

# Sanitizer runs: fail on the first report, keep the output readable.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
# The tests are the only ones deciding about displays: the launcher's own tests start Xvfb where they need it.
unset DISPLAY WAYLAND_DISPLAY

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== ${preset}: tests"
  if ! ctest --preset "$preset"; then
    status=1
  fi
done
exit $status
