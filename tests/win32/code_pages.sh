# Sourced by scripts/test-windows.sh after e2e_run (which sets E2E_BUILD, E2E_PUBLISH, E2E_SERVE):
# the real launcher under Wine with the system's ANSI code page 1252, 936 and 932 in turn.
#   code_pages_run <work-folder> <port>
# The release holds names flagged UTF-8 (Chinese, accented Latin, Japanese; written by
# launcher-publish) and names stored in GBK without the flag (added by Python's zipfile, as the
# game's packers store theirs). In each code page the launcher installs it twice: in a working
# folder whose name is Chinese, and in one nested so deep that the installed paths pass 260
# characters. The installed names are read back on the Windows side (list_names.exe, through
# FindFirstFileW), the game must have started in the data folder, and the launcher's texts must
# still convert from GBK (the Windows text and typeface cases, run in the same code page).
# Each check calls `record_check <ok 0|1> <name>` of the calling script.

# Publishes the release into <work>/release; the expected listing goes to <work>/expected.txt.
code_pages_publish() {
  local work=$1 game="$1/game" name
  rm -rf "$game" "$work/release"
  mkdir -p "$game"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  python3 "$CODE_PAGES_NAMES" expected >"$work/names.txt" || return 1
  # launcher-publish packs the UTF-8 names; the GBK ones are appended below.
  python3 "$CODE_PAGES_NAMES" utf8-names | while IFS= read -r name; do
    mkdir -p "$game/$(dirname "$name")"
    printf '%s' "$name" >"$game/$name"
  done
  "$E2E_PUBLISH" "$E2E_CHANNEL" 1.0.0 "$game" "$work/release" >"$work/publish.log" 2>&1 || return 1
  local archive="$work/release/$E2E_CHANNEL/$E2E_ARCHIVE" info="$work/release/$E2E_CHANNEL/fileInfo_1_0_0.json"
  python3 "$CODE_PAGES_NAMES" append-gbk "$archive" || return 1
  # The file information names the archive's new digest and size and every installed file.
  python3 - "$archive" "$info" "$work/names.txt" <<'PY' || return 1
import hashlib, json, os, sys
archive, info_path, names_path = sys.argv[1:4]
info = json.load(open(info_path, encoding="utf-8"))
info["zipMd5"] = hashlib.md5(open(archive, "rb").read()).hexdigest()
info["zipBytes"] = os.path.getsize(archive)
names = [line.rstrip("\n") for line in open(names_path, encoding="utf-8")]
info["fileNameList"] = sorted(set(info["fileNameList"]) | set(names))
json.dump(info, open(info_path, "w", encoding="utf-8"), ensure_ascii=False, indent=2)
PY
  # Every file and folder the data folder must hold afterwards, as list_names prints them.
  {
    # the game, what it writes when started, and the launcher's own record and cache
    printf '%s\n' kolv.exe stand_in_game_runs.txt downloadRecord fileInfo_1_0_0.json
    while IFS= read -r name; do
      echo "$name"
      while [ "$name" != "${name%/*}" ]; do
        name=${name%/*}
        echo "$name/"
      done
    done <"$work/names.txt"
  } | LC_ALL=C sort -u >"$work/expected.txt"
}

# One install in <folder>, checked; <label> names the case in the checks.
code_pages_install() {
  local folder=$1 label=$2
  mkdir -p "$folder"
  (cd "$folder" && exec wine "$E2E_BUILD/tests/win32/launcher_e2e.exe" >"$CODE_PAGES_WORK/$label.stdout" 2>&1) &
  e2e_wait $! 90
  record_check $([ "$E2E_STATUS" = 0 ] && echo 0 || echo 1) "code page $label: the install ends with exit code 0 (got $E2E_STATUS)"
  local runs="$folder/$E2E_DATA/stand_in_game_runs.txt"
  for _ in $(seq 1 50); do [ -s "$runs" ] && grep -q '^end$' "$runs" && break; sleep 0.2; done
  local listing="$CODE_PAGES_WORK/$label.listing"
  (cd "$folder" && wine "$E2E_BUILD/tests/win32/list_names.exe" "$E2E_DATA" 2>&1) | tr -d '\r' | LC_ALL=C sort >"$listing"
  if diff "$CODE_PAGES_WORK/expected.txt" "$listing" >"$listing.diff"; then
    record_check 0 "code page $label: every name is installed as written, seen through FindFirstFileW"
  else
    record_check 1 "code page $label: every name is installed as written, seen through FindFirstFileW"
    sed -n '1,12p' "$listing.diff"
    grep -v '^[<>*{}]' "$CODE_PAGES_WORK/$label.stdout" | tail -n 5
  fi
  # The game ran in the data folder, whose full name holds the folder's own characters.
  local leaf
  leaf=$(basename "$folder")
  record_check $(grep -q "^cwd=.*$leaf\\\\$E2E_DATA\$" "$runs" 2>/dev/null && echo 0 || echo 1) \
    "code page $label: the game starts in the data folder"
}

code_pages_run() {
  local work=$1 port=$2
  CODE_PAGES_WORK=$work
  CODE_PAGES_NAMES="$E2E_ROOT/tests/support/named_archives.py"
  rm -rf "$work"
  mkdir -p "$work"
  if ! code_pages_publish "$work"; then
    cat "$work/publish.log" >&2
    record_check 1 "code pages: publishing the release with foreign names"
    return
  fi
  e2e_serve "$work/release" "$port" "$work/serve.log" || { record_check 1 "code pages: content server starts"; return; }
  local locale expected page deep
  for locale in en_US.UTF-8:1252 zh_CN.UTF-8:936 ja_JP.UTF-8:932; do
    expected=${locale##*:}
    locale=${locale%%:*}
    wine_env_locale "$locale"
    page=$(wine "$E2E_BUILD/tests/win32/list_names.exe" --code-page 2>/dev/null | tr -d '\r')
    record_check $([ "$page" = "$expected" ] && echo 0 || echo 1) "code page $expected: $locale gives it (got $page)"
    code_pages_install "$work/$expected/玩家的游戏 目录" "$expected-chinese-folder"
    # A working folder of 215 characters (as Windows spells it, "Z:" first): the package's
    # deepest paths pass 260, while the game's path and working folder stay within what
    # CreateProcessW takes (it has no long form for either).
    deep=$(python3 -c '
import sys
path, level = sys.argv[1] + "/deep", 0
while len(path) + 2 < 215:
    level += 1
    path += f"/第{level}层_niveau_階層"
print(path[: 213])' "$work/$expected")
    code_pages_install "$deep" "$expected-deep-folder"
    (cd "$E2E_BUILD/tests/win32" && wine ./win32_backend_tests.exe --gtest_filter='Win32Text.*:Win32Canvas.Gbk*' \
      >"$work/$expected-texts.log" 2>&1)
    record_check $? "code page $expected: the texts convert from GBK and draw in the Song typeface"
  done
  e2e_stop_server
  wine_env_locale zh_CN.UTF-8
}
