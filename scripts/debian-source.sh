#!/usr/bin/env bash
# Fetches Debian source packages into a cache folder with `apt-get source`, adding a deb-src
# entry for the machine's own archive when none is configured. Packages already in the folder
# (their .dsc is there) are not fetched again. The Linux build (minizip from zlib) and the
# Windows libraries (scripts/build-windows-deps.sh) both get their sources here.
#
#   scripts/debian-source.sh <cache-folder> <package[=version]>...
#   scripts/debian-source.sh --extract <cache-folder> <package> <into-folder>
#
# --extract unpacks the cached package (with Debian's patches applied) into <into-folder>,
# replacing what was there.
set -euo pipefail

# Debian 12's versions. zlib's security update has no source in the archive; its fix is in
# minizip's zip.c, which only the tools and tests use.
# shellcheck disable=SC2034
declare -A pinned=([zlib]="1:1.2.13.dfsg-1")

log() { echo "debian source: $*" >&2; }
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

ensure_source_entry() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  # Same archive as the machine's binary packages, sources only, bookworm main.
  local uri
  uri="$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)"
  uri="${uri:-http://deb.debian.org/debian}"
  log "adding a deb-src entry for $uri"
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" | $SUDO tee /etc/apt/sources.list.d/launcher-deb-src.sources >/dev/null
  $SUDO apt-get update -qq >/dev/null
}

dsc_of() { ls "$1/$2"_*.dsc 2>/dev/null | head -n1; }

if [ "${1:-}" = --extract ]; then
  [ $# -eq 4 ] || { echo "usage: $0 --extract <cache-folder> <package> <into-folder>" >&2; exit 2; }
  dsc="$(dsc_of "$2" "$3")"
  [ -n "$dsc" ] || { log "$3 is not in $2"; exit 1; }
  rm -rf "$4"
  mkdir -p "$(dirname "$4")"
  dpkg-source --no-check -x "$dsc" "$4" >/dev/null
  exit 0
fi

[ $# -ge 2 ] || { echo "usage: $0 <cache-folder> <package[=version]>..." >&2; exit 2; }
cache="$1"
shift
mkdir -p "$cache"
# Two builds configuring at once fetch once: the second waits.
exec 9>"$cache/.lock"
flock 9
wanted=()
for request in "$@"; do
  name="${request%%=*}"
  [ -n "$(dsc_of "$cache" "$name")" ] && continue
  if [ "$request" = "$name" ] && [ -n "${pinned[$name]:-}" ]; then request="$name=${pinned[$name]}"; fi
  wanted+=("$request")
done
[ ${#wanted[@]} -eq 0 ] && exit 0
ensure_source_entry
log "fetching ${wanted[*]} into $cache"
(cd "$cache" && apt-get source --download-only -qq "${wanted[@]}" >/dev/null)
