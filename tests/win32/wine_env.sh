# Sourced by scripts/test-windows.sh: a private Wine set-up inside the build tree.
#   wine_env_start <folder> [locale]
#                             a locale (zh_CN.UTF-8 unless named), a throw-away WINEPREFIX copied
#                             from a prepared one (made once, with the Song typeface replaced by
#                             WenQuanYi Zen Hei), HOME/XDG/TMPDIR redirected, and a private Xvfb
#                             display of 1920 x 1080; returns non-zero when Xvfb does not start
#   wine_env_locale <locale>  switches the programs started from now on to another locale, e.g.
#                             en_US.UTF-8 (ANSI code page 1252), ja_JP.UTF-8 (932): the Wine
#                             server is ended so that none of the old locale's processes remain
#   wine_env_stop             ends the Wine server and Xvfb this started
# With WINE_ENV_DESKTOP_KEEPER naming tests/win32/desktop_keeper.exe, the desktop is brought up
# once per Wine server (at the start and after each locale switch) and kept: Wine fails every
# window of a session whose desktop process took more than 10 s to start, which a loaded machine
# reached, and each program started later saves the server's and the desktop's start-up.
# Wine takes its ANSI code page from the language and country of LANG; the character set stays
# UTF-8, so that file names on the Linux side hold every character whatever the code page.

# Compiles <language_COUNTRY>.UTF-8 into the private locale folder once and selects it.
wine_env_use_locale() {
  local locale=$1 locales="$WINE_ENV_ROOT/locale"
  if [ ! -d "$locales/$locale" ]; then
    mkdir -p "$locales"
    localedef -i "${locale%%.*}" -f UTF-8 "$locales/$locale" >/dev/null 2>&1 || true
  fi
  # (bash itself cannot load the private locale; only the programs it starts need it)
  export LOCPATH="$locales" LANG="$locale" LC_ALL="$locale" 2>/dev/null
}

wine_env_locale() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  wine_env_use_locale "$1"
  wine_env_keep_desktop
}

# Starts the desktop keeper and waits (at most 60 s a try, three tries) for its answer; a try
# whose desktop failed ends the server, so the next one starts the desktop afresh. 1 when no
# try brought the desktop up; 0 at once without a keeper.
wine_env_keep_desktop() {
  [ -n "${WINE_ENV_DESKTOP_KEEPER:-}" ] || return 0
  # The keeper prints one line, "desktop ready" or why not, and then only answers messages: the
  # line is read from a pipe, so the wait ends when it comes or the keeper ends (end of file).
  local pipe="$WINE_ENV_ROOT/desktop-keeper.pipe" try answer fd
  for try in 1 2 3; do
    rm -f "$pipe"
    mkfifo "$pipe"
    wine "$WINE_ENV_DESKTOP_KEEPER" >"$pipe" 2>/dev/null &
    exec {fd}<"$pipe"
    answer=""
    IFS= read -r -t 60 -u "$fd" answer
    exec {fd}<&-
    rm -f "$pipe"
    answer=${answer%$'\r'}  # a Windows program's line ends in CR LF
    [ "$answer" = "desktop ready" ] && return 0
    echo "wine: the desktop did not come up (try $try): ${answer:-no answer}" >&2
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  done
  return 1
}

wine_env_start() {
  local root="$1"
  mkdir -p "$root"
  root="$(cd "$root" && pwd)"
  WINE_ENV_ROOT="$root"
  wine_env_use_locale "${2:-zh_CN.UTF-8}"
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_DATA_HOME="$root/home/.local/share"
  export XDG_CACHE_HOME="$root/home/.cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
  chmod 700 "$XDG_RUNTIME_DIR"

  # The server picks a free display itself and reports it once it listens. Choosing a number
  # here by looking for lock files raced with another run starting at the same moment: both
  # took the same number, the second Xvfb died, and its tests ran on the other run's screen
  # (foreign windows in the screenshots, the display gone when that run ended).
  # The number comes through a pipe: the read ends when it is written or Xvfb ends.
  local display_pipe="$root/display.pipe" number="" fd
  rm -f "$display_pipe"
  mkfifo "$display_pipe"
  Xvfb -displayfd 5 -screen 0 1920x1080x24 -nolisten tcp 5>"$display_pipe" >/dev/null 2>&1 &
  WINE_ENV_XVFB=$!
  exec {fd}<"$display_pipe"
  IFS= read -r -t 10 -u "$fd" number
  exec {fd}<&-
  rm -f "$display_pipe"
  if ! [[ "$number" =~ ^[0-9]+$ ]]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"

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
  wine_env_keep_desktop
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
