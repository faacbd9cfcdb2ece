# Sourced by scripts/test-windows.sh after e2e_run: signed releases through launcher_e2e_signed.exe,
# the launcher built with the tests' release key, under Wine against launcher-serve on 127.0.0.1.
#   signed_release_run <windows-build> <work-folder> <port>
#   1. a signed release installs, and a signed update replaces it;
#   2. each attack is refused with a box whose text names it, installs nothing and starts nothing:
#      a tampered file information, a valid one of another version under this version's name, a
#      valid one of another channel, a replayed older configuration, a stripped signature, an
#      archive with the same MD5 (an identical-prefix collision) but another SHA-256, and an
#      unsigned server.
# Each check calls `record_check <ok 0|1> <name>` of the calling script; uses e2e.sh's helpers
# and E2E_PUBLISH, E2E_SERVE set by e2e_run.

SR_CAPTION="发生错误"
# The MD5 collision pair of Wang and Yu (2004) for MD5's standard initial value: in front of one
# and the same archive, two archives with equal MD5 and different SHA-256.
SR_COLLISION_A="d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70"
SR_COLLISION_B="d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f8955ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5bd8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70"

sr_bytes() {  # hex -> the bytes
  printf '%b' "$(echo "$1" | sed 's/../\\x&/g')"
}

sr_publish() {  # [options...] channel version build output
  "$E2E_PUBLISH" --sign-key "$SR_KEY/release-test.key" "$@" >>"$SR_WORK/publish.log" 2>&1
}

# The studio's signature of a document it wrote itself (OpenSSL's Ed25519 is libsodium's).
sr_sign() {
  { openssl pkeyutl -sign -rawin -inkey "$SR_KEY/release-test.der" -keyform DER -in "$1" | base64 -w0 && echo; } >"$1.sig"
}

sr_releases() {
  local game="$SR_WORK/game" other="$SR_WORK/game-other"
  mkdir -p "$game/data"
  cp "$E2E_BUILD/tests/win32/stand_in_game.exe" "$game/kolv.exe"
  head -c 200000 /dev/urandom >"$game/data/pack.bin"
  echo "1.0.0" >"$game/data/version.txt"
  sr_publish MorvanePC1 1.0.0 "$game" "$SR_WORK/v1" || return 1
  cp -a "$SR_WORK/v1" "$SR_WORK/v2"
  echo "1.0.1" >"$game/data/version.txt"
  sr_publish --unsupported 1.0.x MorvanePC1 1.0.1 "$game" "$SR_WORK/v2" || return 1
  # The attacks, each on a copy of the live 1.0.1 release.
  cp -a "$SR_WORK/v2" "$SR_WORK/tampered"
  sed -i 's/"zipMd5": "[0-9a-f]*"/"zipMd5": "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee"/' "$SR_WORK/tampered/MorvanePC1/fileInfo_1_0_1.json"
  cp -a "$SR_WORK/v2" "$SR_WORK/other-version"
  echo "1.0.2" >"$game/data/version.txt"
  sr_publish --unsupported 1.0.x MorvanePC1 1.0.2 "$game" "$SR_WORK/other-version" || return 1
  cp "$SR_WORK/v2/MorvanePC1/fileInfo_1_0_1.json" "$SR_WORK/other-version/MorvanePC1/fileInfo_1_0_2.json"
  cp "$SR_WORK/v2/MorvanePC1/fileInfo_1_0_1.json.sig" "$SR_WORK/other-version/MorvanePC1/fileInfo_1_0_2.json.sig"
  cp -a "$SR_WORK/v2" "$SR_WORK/other-channel"
  cp -a "$game" "$other"
  echo "other" >"$other/data/version.txt"
  sr_publish OtherPC 1.0.1 "$other" "$SR_WORK/other-channel" || return 1
  cp "$SR_WORK/other-channel/OtherPC/fileInfo_1_0_1.json"* "$SR_WORK/other-channel/MorvanePC1/"
  cp -a "$SR_WORK/v2" "$SR_WORK/stripped"
  rm "$SR_WORK/stripped/MorvanePC1/config.json.sig"
  mkdir -p "$SR_WORK/unsigned"
  "$E2E_PUBLISH" MorvanePC1 1.0.0 "$game" "$SR_WORK/unsigned" >>"$SR_WORK/publish.log" 2>&1 || return 1
  sr_collision_release
}

# The studio signs an archive that begins with one block of the pair; the attacker serves the
# same archive behind the other block. Sets SR_COLLIDE to 0 when the two really collide.
# The release carries no file list: with one, the launcher fetches only the changed entries by
# range and checks each against its signed SHA-256, so the colliding block is never fetched and
# the archive's own SHA-256, the check this attack is aimed at, is never reached.
sr_collision_release() {
  local channel="$SR_WORK/honest/MorvanePC1" zip="$SR_WORK/v2/MorvanePC1/res_1_0_1.zip"
  cp -a "$SR_WORK/v2" "$SR_WORK/honest"
  { sr_bytes "$SR_COLLISION_A"; cat "$zip"; } >"$channel/res_1_0_1.zip"
  python3 - "$channel/fileInfo_1_0_1.json" "$channel/res_1_0_1.zip" <<'PY' || return 1
import hashlib, json, os, sys
info_path, archive = sys.argv[1], sys.argv[2]
info = json.load(open(info_path, encoding="utf-8"))
data = open(archive, "rb").read()
info["zipMd5"] = hashlib.md5(data).hexdigest()
info["zipSha256"] = hashlib.sha256(data).hexdigest()
info["zipBytes"] = len(data)
info.pop("files", None)
open(info_path, "w", encoding="utf-8").write(json.dumps(info, indent=2) + "\n")
PY
  sr_sign "$channel/fileInfo_1_0_1.json"
  cp -a "$SR_WORK/honest" "$SR_WORK/planted"
  { sr_bytes "$SR_COLLISION_B"; cat "$zip"; } >"$SR_WORK/planted/MorvanePC1/res_1_0_1.zip"
  local honest="$channel/res_1_0_1.zip" planted="$SR_WORK/planted/MorvanePC1/res_1_0_1.zip"
  SR_PLANTED_SHA=$(sha256sum "$planted" | cut -d' ' -f1)
  SR_COLLIDE=1
  if [ "$(md5sum <"$honest")" = "$(md5sum <"$planted")" ] &&
    [ "$(sha256sum <"$honest")" != "$(sha256sum <"$planted")" ] && ! cmp -s "$honest" "$planted"; then
    SR_COLLIDE=0
  fi
}

# Runs the signed launcher in folder $1 against release $2; with $3 = refused, finds the box
# titled $4 (the check's error caption unless given; the archive's digest boxes have none) and
# answers it with Cancel. Sets E2E_STATUS; the launcher's output is in $1/stdout.txt and
# Wine's trace of every window text (the box's among them, ASCII kept as it is) in $1/stderr.txt.
sr_launch() {
  local run=$1 release=$2 expect=${3:-} caption=${4-$SR_CAPTION}
  e2e_serve "$SR_WORK/$release" "$SR_PORT" "$SR_WORK/serve-$release.log" || { record_check 1 "signed: content server starts"; return; }
  (cd "$run" && WINEDEBUG="-all,+win" exec wine "$E2E_BUILD/tests/win32/launcher_e2e_signed.exe" \
    >"$run/stdout.txt" 2>"$run/stderr.txt") &
  local launcher=$!
  if [ "$expect" = refused ]; then
    local box
    box=$(e2e_find_window "$launcher" "$caption" 40)
    [ -n "$box" ] && e2e_cancel_box "$box" "$launcher"
  fi
  e2e_wait "$launcher" 90
  e2e_stop_server
}

# Whether the box of the run in $1 named $2 (Wine traces the text of each box it shows).
sr_box_says() {
  grep -aqF -- "$2" "$1/stderr.txt" "$1/stdout.txt"
}

sr_installed() {  # run-folder -> the version installed, or "none"
  cat "$1/Tessarine_MorvanePC1/data/version.txt" 2>/dev/null || echo none
}

sr_game_runs() {  # run-folder -> how often the stand-in game started
  grep -c '^end$' "$1/Tessarine_MorvanePC1/stand_in_game_runs.txt" 2>/dev/null || echo 0
}

# An attack on a copy of the installed 1.0.0, served as release $2: refused with $3 in a box
# titled $4 (default: the check's error caption), still 1.0.0, the game not started.
sr_attack() {
  local name=$1 release=$2 message=$3 run="$SR_WORK/run-$2"
  cp -a "$SR_WORK/run-base" "$run"
  sr_launch "$run" "$release" refused "${4-$SR_CAPTION}"
  record_check $([ "$E2E_STATUS" != 124 ] && echo 0 || echo 1) "signed: $name: Cancel on its box ends the launcher"
  local runs_before
  runs_before=$(sr_game_runs "$SR_WORK/run-base")
  sr_box_says "$run" "$message"
  record_check $? "signed: $name is refused with \"$message\""
  record_check $([ "$(sr_installed "$run")" = 1.0.0 ] && [ "$(sr_game_runs "$run")" = "$runs_before" ] && echo 0 || echo 1) \
    "signed: $name installs nothing and starts nothing (installed $(sr_installed "$run"))"
}

signed_release_run() {
  E2E_BUILD=$1
  SR_WORK=$2
  SR_PORT=$3
  SR_KEY="$E2E_BUILD/tests/win32/release-key"
  rm -rf "$SR_WORK"
  mkdir -p "$SR_WORK"
  if ! sr_releases; then
    cat "$SR_WORK/publish.log" >&2
    record_check 1 "signed: publishing the signed releases"
    return
  fi
  local base="$SR_WORK/run-base"
  mkdir -p "$base"
  sr_launch "$base" v1
  record_check $([ "$E2E_STATUS" = 0 ] && [ "$(sr_installed "$base")" = 1.0.0 ] && echo 0 || echo 1) \
    "signed: a signed release installs (exit $E2E_STATUS, installed $(sr_installed "$base"))"
  local update="$SR_WORK/run-update"
  cp -a "$base" "$update"
  sr_launch "$update" v2
  record_check $([ "$E2E_STATUS" = 0 ] && [ "$(sr_installed "$update")" = 1.0.1 ] && echo 0 || echo 1) \
    "signed: a signed update replaces it (exit $E2E_STATUS, installed $(sr_installed "$update"))"

  sr_attack "a tampered file information" tampered \
    "signature of MorvanePC1/fileInfo_1_0_1.json does not match the release key"
  sr_attack "another version's file information" other-version \
    "MorvanePC1/fileInfo_1_0_2.json is the file information of version 1.0.1, not of 1.0.2"
  sr_attack "another channel's file information" other-channel \
    "MorvanePC1/fileInfo_1_0_1.json is for channel \\\"OtherPC\\\", not for \\\"MorvanePC1\\\""
  sr_attack "a stripped signature" stripped "signature of MorvanePC1/config.json is missing"
  record_check "$SR_COLLIDE" "signed: the two archives have one MD5 and two SHA-256 (md5sum, sha256sum)"
  sr_attack "an archive with the same MD5 and another SHA-256" planted "$SR_PLANTED_SHA" ""

  # The update accepted serial 2; serial 1, validly signed, is a replay.
  local replay="$SR_WORK/run-replay"
  cp -a "$update" "$replay"
  sr_launch "$replay" v1 refused
  sr_box_says "$replay" "serial 1 of MorvanePC1/config.json"
  record_check $? "signed: a replayed older configuration is refused"
  record_check $([ "$(sr_installed "$replay")" = 1.0.1 ] && echo 0 || echo 1) \
    "signed: the replay leaves 1.0.1 installed (installed $(sr_installed "$replay"))"

  local unsigned="$SR_WORK/run-unsigned"
  mkdir -p "$unsigned"
  sr_launch "$unsigned" unsigned refused
  sr_box_says "$unsigned" "signature of MorvanePC1/config.json is missing"
  record_check $? "signed: an unsigned server is refused"
  record_check $([ ! -e "$unsigned/Tessarine_MorvanePC1/kolv.exe" ] && echo 0 || echo 1) \
    "signed: nothing is installed from an unsigned server"
}
