#!/usr/bin/env bash
# Builds the launcher's Windows libraries from Debian's source packages with the mingw-w64
# cross compilers: static zlib, a static libcurl with Schannel TLS and only HTTP(S), and a static
# libsodium for the release signatures.
# RapidJSON is header-only: Debian's headers are linked into the prefix. The result is a cache under the build tree; when it is
# complete the script does nothing.
#
#   scripts/build-windows-deps.sh [cache-folder]     default: build/windows-deps
#
# The preset `windows` finds the libraries in <cache-folder>/prefix. minizip is compiled by the
# project's own build (cmake/Minizip.cmake) from the same zlib source, as on Linux.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${1:-$root/build/windows-deps}"
prefix="$cache/prefix"
sources="$cache/src"
work="$cache/work"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64.cmake"
triplet=x86_64-w64-mingw32
jobs="$(nproc)"

# Bump when the recipe below changes, so caches built by an older recipe are rebuilt.
recipe=6
stamp="$prefix/.complete-$recipe"

mkdir -p "$cache"
# Two configures at once (two build folders) build the cache once: the second waits.
exec 9>"$cache/.lock"
flock 9
if [ -f "$stamp" ]; then
  echo "windows deps: cached in $prefix"
  exit 0
fi

log() { echo "windows deps: $*"; }

fetch_sources() {
  bash "$root/scripts/debian-source.sh" "$sources" zlib curl libsodium
  rm -rf "$work"
  mkdir -p "$work"
  bash "$root/scripts/debian-source.sh" --extract "$sources" zlib "$work/zlib"
  bash "$root/scripts/debian-source.sh" --extract "$sources" curl "$work/curl"
  bash "$root/scripts/debian-source.sh" --extract "$sources" libsodium "$work/libsodium"
}

build_zlib() {
  log "zlib"
  # zlib's own CMake build does not work on the dfsg tarball; its configure script does.
  (cd "$work/zlib" &&
    CHOST=$triplet CC=$triplet-gcc-posix AR=$triplet-ar RANLIB=$triplet-ranlib CFLAGS="-O2" \
      ./configure --static --prefix="$prefix" >/dev/null &&
    make -j"$jobs" libz.a >/dev/null &&
    make install-libs install-data >/dev/null 2>&1 || make install >/dev/null)
  test -f "$prefix/lib/libz.a"
}

build_curl() {
  log "curl (Schannel, HTTP only)"
  local off=()
  # Verbose strings stay: downloads trace to standard error.
  for feature in ALTSVC COOKIES CRYPTO_AUTH DOH GETOPTIONS HSTS MIME NETRC NTLM PARSEDATE PROGRESS_METER; do
    off+=("-DCURL_DISABLE_$feature=ON")
  done
  for protocol in DICT FILE FTP GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP; do
    off+=("-DCURL_DISABLE_$protocol=ON")
  done
  cmake -S "$work/curl" -B "$work/curl-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DLAUNCHER_WINDOWS_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_WIN32_LDAP=OFF -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DCURL_ZLIB=ON -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    "${off[@]}" >"$work/curl-configure.log" 2>&1 || { tail -40 "$work/curl-configure.log"; exit 1; }
  cmake --build "$work/curl-build" -j"$jobs" >"$work/curl-build.log" 2>&1 || { tail -40 "$work/curl-build.log"; exit 1; }
  cmake --install "$work/curl-build" >/dev/null
  test -f "$prefix/lib/libcurl.a"
}

build_libsodium() {
  log "libsodium (static)"
  # Debian's source carries no generated configure script: autoreconf makes it (autoconf,
  # automake, libtool); the autotools build then cross-compiles as shipped, the library only.
  (cd "$work/libsodium" &&
    autoreconf -fi >"$work/libsodium-autoreconf.log" 2>&1 || { tail -40 "$work/libsodium-autoreconf.log"; exit 1; }
    CC=$triplet-gcc-posix AR=$triplet-ar RANLIB=$triplet-ranlib CFLAGS="-O2" \
      ./configure --host=$triplet --prefix="$prefix" --disable-shared --enable-static \
      --disable-dependency-tracking >"$work/libsodium-configure.log" 2>&1 || { tail -40 "$work/libsodium-configure.log"; exit 1; }
    make -j"$jobs" >"$work/libsodium-build.log" 2>&1 || { tail -40 "$work/libsodium-build.log"; exit 1; }
    make install >/dev/null)
  test -f "$prefix/lib/libsodium.a"
}

link_rapidjson() {
  # Header-only; the cross build sees only its own roots, so Debian's headers are linked in.
  mkdir -p "$prefix/include"
  ln -sfn /usr/include/rapidjson "$prefix/include/rapidjson"
  test -f "$prefix/include/rapidjson/document.h"
}

start=$SECONDS
rm -rf "$prefix"
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
fetch_sources
build_zlib
build_curl
build_libsodium
link_rapidjson
rm -rf "$work"
touch "$stamp"
log "done in $((SECONDS - start)) s, prefix $prefix"
