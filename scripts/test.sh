#!/usr/bin/env bash
# The test command.
#
#   scripts/test.sh                 everything: the linux, linux-asan and linux-tsan presets with all
#                                   their tests, the Windows build under Wine, the bounded reliability suite
#   scripts/test.sh PRESET...       only these Linux presets (linux, linux-asan, linux-tsan)
#
# Exits non-zero when anything failed; each part prints its own summary, and the last lines sum up.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

all=0
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
  presets=(linux linux-asan linux-tsan)
  all=1
fi

LAUNCHER_WITH_WINDOWS=$all bash scripts/install-deps.sh || exit 1

# Sanitizer runs: fail on the first report, keep the output readable.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
# Tests that need a display start their own Xvfb; nothing may land on the caller's screen.
unset DISPLAY WAYLAND_DISPLAY

results=()
failed=0
run_part() {  # <name> <command...>
  local name="$1" start=$SECONDS
  shift
  echo
  echo "=== $name"
  if "$@"; then
    results+=("ok    $name ($((SECONDS - start)) s)")
  else
    results+=("FAIL  $name ($((SECONDS - start)) s)")
    failed=$((failed + 1))
  fi
}

linux_preset() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" || return 1
  # The chaos runs belong to the reliability suite, which runs them once in a sanitizer build.
  ctest --preset "$preset" -LE chaos
}

for preset in "${presets[@]}"; do
  run_part "$preset" linux_preset "$preset"
done
if [ "$all" = 1 ]; then
  run_part windows env LAUNCHER_HOST_BUILD="$root/build/linux" bash scripts/test-windows.sh
  run_part reliability env RELIABILITY_PRESET=linux-asan bash scripts/reliability.sh --ci
fi

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
echo "$(( ${#results[@]} - failed )) passed, $failed failed"
[ "$failed" = 0 ]
