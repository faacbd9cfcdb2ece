#!/usr/bin/env bash
# Builds the Windows launcher (preset `windows`, mingw-w64 cross build) and tests it under Wine
# on a private Xvfb display:
#   - launcher.exe is one static executable importing only system DLLs, signed (with a test
#     certificate made here) so that osslsigncode verify accepts it;
#   - the portable test groups and the Win32 backend tests, built for Windows, pass under Wine;
#   - archives of other zip writers install as Info-ZIP unzip extracts them, or are refused
#     before any write (tests/win32/foreign_archives.sh);
#   - end to end: the real launcher against launcher-serve on 127.0.0.1 (tests/win32/e2e.sh), also
#     behind the proxy of the user's internet settings (tests/win32/system_proxy.sh), beside
#     files and games that are not its own (tests/win32/player_files.sh), an update that fetches
#     only the changed file (tests/win32/file_level.sh), and with names
#     outside the system code page in code pages 1252, 936 and 932 (tests/win32/code_pages.sh).
# Prints "N passed, M failed" last and exits non-zero when anything failed.
#
#   scripts/test-windows.sh               build, then test
#   scripts/test-windows.sh --build-only  build launcher.exe, the Windows tests and the host tools,
#                                         and stop (scripts/test.sh builds ahead this way)
#
# Environment: LAUNCHER_HOST_BUILD  host build folder for launcher-publish/-serve (build/linux)
#              LAUNCHER_WIN32_E2E_PORT    loopback port of the end-to-end content server (38517)
#              LAUNCHER_WIN32_LARGE       packages past 4 GiB (tests/win32/large_e2e.sh): unset,
#                                         the bounded form (the entry of 4 GiB + 1 byte, about
#                                         5 GiB of disk); 1, every case (several minutes, about
#                                         10 GiB); 0, none
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$root/build/windows"
host_build="${LAUNCHER_HOST_BUILD:-$root/build/linux}"
port="${LAUNCHER_WIN32_E2E_PORT:-38517}"
results="$build/wine-results"
start=$SECONDS
build_only=0
[ "${1:-}" = --build-only ] && build_only=1

passed=0
failed=0
failures=()
record_check() {  # <status 0 = ok> <name>
  if [ "$1" = 0 ]; then
    passed=$((passed + 1))
    echo "  ok    $2"
  else
    failed=$((failed + 1))
    failures+=("$2")
    echo "  FAIL  $2"
  fi
}
finish() {
  echo
  for failure in "${failures[@]}"; do echo "failed: $failure"; done
  echo "windows: $((SECONDS - start)) s"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
  exit $?
}

LAUNCHER_WITH_WINDOWS=1 bash scripts/install-deps.sh || { record_check 1 "install the Windows packages"; finish; }

# A code-signing certificate of the test's own, so the build signs launcher.exe as a studio's does;
# the product name holds characters outside ASCII, as a studio's may.
signing="$build/test-signing"
if [ ! -f "$signing/launcher.p12" ]; then
  mkdir -p "$signing"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Launcher Test Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null &&
    echo "test-only" >"$signing/password" &&
    openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/cert.pem" -passout "file:$signing/password" \
      -out "$signing/launcher.p12" ||
    record_check 1 "make a test code-signing certificate"
fi

echo "== Windows build (dependencies from Debian sources when not cached)"
if ! { cmake --preset windows -DLAUNCHER_WIN32_E2E_PORT="$port" -DLAUNCHER_SIGN_PKCS12="$signing/launcher.p12" \
  -DLAUNCHER_SIGN_PASSWORD_FILE="$signing/password" -DLAUNCHER_PRODUCT_NAME="Tessarine 启动器" \
  -DLAUNCHER_BUILD_NUMBER=417 >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; false; }; }; then
  record_check 1 "configure the windows preset"
  finish
fi
if ! cmake --build --preset windows --target launcher win32_tests; then
  record_check 1 "build launcher.exe and the Windows tests"
  finish
fi
record_check 0 "build launcher.exe and the Windows tests"
if [ "$build_only" = 1 ]; then
  cmake --build "$host_build" --target launcher-publish launcher-serve || record_check 1 "build the host tools"
  finish
fi

echo "== launcher.exe imports"
imports=$(x86_64-w64-mingw32-objdump -p "$build/app/launcher.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
echo "$imports" | tr '\n' ' '
echo
system_dlls=" winhttp.dll advapi32.dll bcrypt.dll crypt32.dll gdi32.dll gdiplus.dll imm32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll ws2_32.dll "
foreign=""
for dll in $imports; do
  [[ "$system_dlls" == *" $dll "* ]] || foreign="$foreign $dll"
done
record_check $([ -n "$imports" ] && [ -z "$foreign" ] && echo 0 || echo 1) \
  "launcher.exe imports only system DLLs${foreign:+ (not:$foreign)}"

echo "== launcher.exe signature"
verify_log="$build/signature-verify.log"
osslsigncode verify -CAfile "$signing/cert.pem" -in "$build/app/launcher.exe" >"$verify_log" 2>&1
record_check $? "launcher.exe carries an Authenticode signature that verifies (see $verify_log)"

echo "== host tools for the end-to-end run"
if [ ! -f "$host_build/CMakeCache.txt" ]; then
  cmake --preset linux >/dev/null || record_check 1 "configure the host build"
  host_build="$root/build/linux"
fi
if ! cmake --build "$host_build" --target launcher-publish launcher-serve >"$build.host-tools.log" 2>&1; then
  cat "$build.host-tools.log"
  record_check 1 "build launcher-publish and launcher-serve"
fi

# shellcheck source=../tests/win32/wine_env.sh
source "$root/tests/win32/wine_env.sh"
# shellcheck source=../tests/win32/e2e.sh
source "$root/tests/win32/e2e.sh"
# shellcheck source=../tests/win32/file_level.sh
source "$root/tests/win32/file_level.sh"
# shellcheck source=../tests/win32/system_proxy.sh
source "$root/tests/win32/system_proxy.sh"
# shellcheck source=../tests/win32/player_files.sh
source "$root/tests/win32/player_files.sh"
# shellcheck source=../tests/win32/large_e2e.sh
source "$root/tests/win32/large_e2e.sh"
# shellcheck source=../tests/win32/code_pages.sh
source "$root/tests/win32/code_pages.sh"
# shellcheck source=../tests/win32/foreign_archives.sh
source "$root/tests/win32/foreign_archives.sh"
# shellcheck source=../tests/win32/signed_release.sh
source "$root/tests/win32/signed_release.sh"
E2E_ROOT="$root"
trap 'e2e_stop_server; wine_env_stop' EXIT
echo "== Wine set-up"
export WINE_ENV_DESKTOP_KEEPER="$build/tests/win32/desktop_keeper.exe"
wine_env_start "$build/wine" || { record_check 1 "Xvfb and Wine's desktop start for the Wine tests"; finish; }

echo "== unit tests under Wine"
rm -rf "$results"
mkdir -p "$results"
while read -r program posix_only; do
  [ -n "$program" ] || continue
  xml="$results/$program.xml"
  (cd "$build/tests/win32" && timeout 300 wine "./$program.exe" --gtest_output="xml:$program.xml" \
    ${posix_only:+--gtest_filter="-$posix_only"} >"$results/$program.log" 2>&1)
  status=$?
  mv "$build/tests/win32/$program.xml" "$xml" 2>/dev/null
  counts=$(python3 - "$xml" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    suites = ET.parse(sys.argv[1]).getroot()
except Exception:
    print("0 0"); sys.exit()
total = failed = 0
for case in suites.iter("testcase"):
    if case.get("result") == "skipped" or case.get("status") == "notrun":
        continue
    total += 1
    if case.find("failure") is not None or case.find("error") is not None:
        failed += 1
print(total - failed, failed)
PY
)
  read -r ok bad <<<"$counts"
  if [ "$status" != 0 ] && [ "$bad" = 0 ]; then bad=1; fi  # crashed or timed out
  passed=$((passed + ok))
  failed=$((failed + bad))
  echo "  $program: $ok passed, $bad failed"
  if [ "$bad" != 0 ]; then
    failures+=("$program (see $results/$program.log)")
    grep -E '^\[  FAILED  \]|Failure|error' "$results/$program.log" | head -n 20
  fi
done <"$build/tests/win32/test_programs.txt"

echo "== archives of other zip writers under Wine"
foreign_archives_run "$build" "$build/foreign-archives"

echo "== end to end under Wine"
if ss -ltn 2>/dev/null | grep -q ":$port "; then
  record_check 1 "e2e: port $port is free on 127.0.0.1"
else
  e2e_run "$build" "$host_build/tools/publish/launcher-publish" "$host_build/tools/serve/launcher-serve" \
    "$build/e2e" "$port"
  echo "== an update by files under Wine"
  file_level_run "$build/file-level" "$port"
  echo "== the system proxy under Wine"
  proxy_run "$build/e2e" "$port"
  echo "== files and games not the launcher's, under Wine"
  player_files_run "$build/e2e" "$port"
  echo "== signed releases and the attacks on them under Wine"
  signed_release_run "$build" "$build/signed-release" "$port"
  echo "== names outside the system code page under Wine"
  code_pages_run "$build/code-pages" "$port"
  large_form=bounded
  case "${LAUNCHER_WIN32_LARGE:-}" in
    1) large_form=full ;;
    0) large_form="" ;;
  esac
  if [ -n "$large_form" ]; then
    echo "== packages past 4 GiB under Wine ($large_form form)"
    large_e2e_run "$build" "$host_build/tools/publish/launcher-publish" "$host_build/tools/serve/launcher-serve" \
      "$build/e2e-large" "$port" "$large_form"
  fi
fi

finish
