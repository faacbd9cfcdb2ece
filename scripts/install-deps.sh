#!/usr/bin/env bash
# Installs the Debian packages the launcher builds and tests with. Idempotent and quiet:
# packages already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libcurl4-openssl-dev zlib1g-dev dpkg-dev patch rapidjson-dev libssl-dev libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libgtk-3-dev xvfb xdotool imagemagick fonts-wqy-zenhei
  curl unzip nginx-light
  clang libclang-rt-14-dev
)
if [ "${LAUNCHER_WITH_WINDOWS:-0}" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64
    locales osslsigncode openssl autoconf automake libtool inotify-tools)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
