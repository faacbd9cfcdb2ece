# Sourced by scripts/test-windows.sh: a private Wine set-up inside the build tree.
#   wine_env_start <folder>   a zh_CN.UTF-8 locale, a throw-away WINEPREFIX copied from a prepared
#                             one (made once, with the Song typeface replaced by WenQuanYi Zen Hei),
#                             HOME/XDG/TMPDIR redirected, and a private Xvfb display of 1920 x 1080;
#                             returns non-zero when Xvfb does not start
#   wine_env_stop             ends the Wine server and Xvfb this started
# Wine's ANSI code page follows LANG, so the narrow GBK texts need the Chinese locale.

wine_env_start() {
  local root="$1"
  mkdir -p "$root"
  root="$(cd "$root" && pwd)"
  WINE_ENV_ROOT="$root"
  local locales="$root/locale"
  if [ ! -d "$locales/zh_CN.UTF-8" ]; then
    mkdir -p "$locales"
    localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" >/dev/null 2>&1 || true
  fi
  # (bash itself cannot load the private locale; only the programs it starts need it)
  export LOCPATH="$locales" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 2>/dev/null
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_DATA_HOME="$root/home/.local/share"
  export XDG_CACHE_HOME="$root/home/.cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
  chmod 700 "$XDG_RUNTIME_DIR"

  # The server picks a free display itself and reports it once it listens. Choosing a number
  # here by looking for lock files raced with another run starting at the same moment: both
  # took the same number, the second Xvfb died, and its tests ran on the other run's screen
  # (foreign windows in the screenshots, the display gone when that run ended).
  local display_file="$root/display"
  rm -f "$display_file"
  Xvfb -displayfd 5 -screen 0 1920x1080x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
  WINE_ENV_XVFB=$!
  for _ in $(seq 1 100); do
    [ -s "$display_file" ] && break
    kill -0 "$WINE_ENV_XVFB" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$display_file" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$display_file")"

  local template="$root/prefix-template"
  if [ ! -f "$template/.ready" ]; then
    rm -rf "$template"
    WINEPREFIX="$template" wine wineboot --init >/dev/null 2>&1 || true
    local name
    for name in 宋体 SimSun; do
      WINEPREFIX="$template" wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" \
        /d 'WenQuanYi Zen Hei' /f >/dev/null 2>&1
    done
    WINEPREFIX="$template" wineserver -w
    touch "$template/.ready"
  fi
  export WINEPREFIX="$root/prefix"
  rm -rf "$WINEPREFIX"
  cp -a "$template" "$WINEPREFIX"
}

wine_env_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"  # the prepared template stays for the next run
  fi
  [ -n "${WINE_ENV_XVFB:-}" ] && kill "$WINE_ENV_XVFB" 2>/dev/null || true
  WINE_ENV_XVFB=""
}
