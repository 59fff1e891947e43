#!/usr/bin/env bash
# Under Wine: the demo installer run over synthesized older installations,
# each in a prefix of its own (a copy of one template prefix), and what the
# preparation left on disk read back with independent tools (Python's
# zipfile for the backup archive).
#   1. an automatic update from 5.30 while the old player runs: the player is
#      closed before any file is touched; the archive holds "Program\..." and
#      "Profiles\<user>\..." entries with the old bytes and UTF-8 names; the
#      old files are gone except what an update keeps (a user's own skin, the
#      icons, the user's data); the new files are installed; of four older
#      archives the two with the lowest names are gone;
#   2. a fresh installation while the user still has generation-3 data: it
#      is archived under "Profiles\<user>\" and deleted;
#   3. an update from 3.60 with generation-3 data: copied to the current
#      folder, old names changed to the new ones, the old leftovers deleted.
#
# usage: prepare_scenarios.sh INSTALLER PLAYER IPK PRODUCT_PACKAGE WINE_RUN PREFIX_BASE
set -uo pipefail

installer=$1 player=$2 ipk=$3 product_package=$4 wine_run=$5 base=$6
export MIVO_COMPANION_LOG_DIR='C:\CompanionLogs'
prefix=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
# The prefixes go with their folder: stop the last one first.
scenario_cleanup() {
  stop_prefix
  prefix=
  rm -rf "$base"
  rm -f "$base".*
}
scenario_start prepare

put() { mkdir -p "$(dirname "$1")" && printf '%s' "$2" >"$1"; }

# install NAME ARGUMENTS: the installer through a batch file, exit code 0 expected.
install() {
  run_batch install "\"$(winpath "$installer")\" $2"
  [ "$code" = 0 ] || fail "$1: the installer exited with $code"
}

# new_case NAME: a fresh copy of the template prefix.
new_case() {
  stop_prefix
  prefix=$base/$1
  rm -rf "$prefix"
  cp -a "$base/template" "$prefix"
  export WINEPREFIX=$prefix
  user=$(ls "$prefix/drive_c/users" | grep -v -x -e Public -e public | head -n 1)
  roaming="$prefix/drive_c/users/$user/AppData/Roaming"
}

# check_archive NAME ARCHIVE ORIGINALS: every entry's bytes equal the file of
# that name below ORIGINALS (backslashes as folders), the CRCs hold, every
# entry is marked UTF-8; prints the entry names, sorted.
check_archive() {
  python3 - "$1" "$2" "$3" <<'EOF'
import os, sys, zipfile
name, archive, originals = sys.argv[1:4]
bad = 0
with zipfile.ZipFile(archive) as z:
    if z.testzip() is not None:
        print(f"FAIL: {name}: damaged entry {z.testzip()}", file=sys.stderr); bad += 1
    for info in z.infolist():
        if not info.flag_bits & 0x800:
            print(f"FAIL: {name}: {info.filename} not marked UTF-8", file=sys.stderr); bad += 1
        path = os.path.join(originals, *info.filename.split("\\"))
        try:
            same = open(path, "rb").read() == z.read(info)
        except OSError:
            same = False
        if not same:
            print(f"FAIL: {name}: {info.filename} differs from the old file", file=sys.stderr); bad += 1
    for n in sorted(i.filename for i in z.infolist()):
        print(n)
sys.exit(1 if bad else 0)
EOF
}

# The archives in a backup folder, sorted.
archives() { (cd "$1" 2>/dev/null && ls -1 | LC_ALL=C sort); }

expect_gone() {
  local name=$1 root=$2
  shift 2
  for f in "$@"; do [ -e "$root/$f" ] && fail "$name: $f is still there"; done
}
expect_kept() {
  local name=$1 root=$2
  shift 2
  for f in "$@"; do [ -e "$root/$f" ] || fail "$name: $f is gone"; done
}

"$ipk" extract "$product_package" -C "$work/product" >/dev/null || fail "cannot unpack the product package"

# The template prefix: created once, copied for every case.
rm -rf "$base"
mkdir -p "$base"
prefix=$base/template
run reg query 'HKLM\Software' >/dev/null 2>&1
stop_prefix

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
register_old() {  # register_old NAME FOLDER
  run reg add "$uninstall_key\\$1" /v DisplayName /d "$1" /f >/dev/null 2>&1
  run reg add "$uninstall_key\\$1" /v InstallPath /d "$2" /f >/dev/null 2>&1
}

# ---- 1. update from 5.30 with the old player running ----
new_case update530
dest="$prefix/drive_c/Program Files/Mivo"
mkdir -p "$dest"
cp "$player" "$dest/Mivo.exe"
put "$dest/Mivo.ini" $'[System]\r\nVersion=5300\r\nUserMode=1\r\n'
put "$dest/Readme.txt" 'readme of 5.30'
put "$dest/Skins/Light.ini" 'light skin of 5.30'
put "$dest/Skins/Mine.ini" 'a skin of my own'
put "$dest/Skins/Ünïcode скин.ini" 'a skin with a non-ASCII name'
put "$dest/Plugins/Equalizer.ini" 'equalizer of 5.30'
put "$dest/Plugins/CodecPack/codec.dll" 'a discontinued plug-in'
put "$dest/System/libsoxr.dll" 'old resampler'
put "$dest/System/Encoders/lame.dll" 'old encoder'
put "$dest/System/Data/tables.dat" 'old codec data'
put "$dest/Icons/mivo.ico" 'an icon'
put "$dest/UpdateInstaller.exe" 'the updater'
put "$roaming/Mivo/Mivo.ini" 'the user settings'
put "$roaming/Mivo/Library.db" 'the library'
for v in 5.00:2019 5.10:2020 5.20:2021 5.30:2022; do
  put "$dest/!Backup/z Before install ${v%:*} [${v#*:}.01.01 10-00-00].zip" "old archive $v"
done
mkdir -p "$work/old/Program" "$work/old/Profiles/$user"
(cd "$dest" && cp -a . "$work/old/Program/" && rm -rf "$work/old/Program/!Backup")
cp -a "$roaming/Mivo/." "$work/old/Profiles/$user/"
register_old Mivo 'C:\Program Files\Mivo\'
mkdir -p "$(host 'C:\CompanionLogs')"
run 'C:\Program Files\Mivo\Mivo.exe' /HIDDEN &
player_pid=$!
for _ in $(seq 1 120); do [ -s "$(host 'C:\CompanionLogs\Mivo.log')" ] && break; sleep 0.5; done
install update530 '/AUTO /SILENT'
timeout 30 tail --pid="$player_pid" -f /dev/null || fail "update530: the player is still running"
player_log=$(tr -d '\r' <"$(host 'C:\CompanionLogs\Mivo.log')" 2>/dev/null)
grep -qx 'WM_CLOSE, Mivo.ini present' <<<"$player_log" ||
  fail "update530: the player was not closed before its files were touched:"$'\n'"$player_log"

mapfile -t all < <(archives "$dest/!Backup")
new_archive=
for a in "${all[@]}"; do [[ $a == 'z Before install 5.50 ['* ]] && new_archive=$a; done
[ "${#all[@]}" = 3 ] && [ "${all[0]}" = 'z Before install 5.20 [2021.01.01 10-00-00].zip' ] &&
  [ "${all[1]}" = 'z Before install 5.30 [2022.01.01 10-00-00].zip' ] && [ -n "$new_archive" ] ||
  fail "update530: the backup folder holds:"$'\n'"$(printf '%s\n' "${all[@]}")"
if [ -n "$new_archive" ]; then
  names=$(check_archive update530 "$dest/!Backup/$new_archive" "$work/old") || failures=$((failures + 1))
  want=$(printf '%s\n' 'Program\Icons\mivo.ico' 'Program\Mivo.exe' 'Program\Mivo.ini' \
    'Program\Plugins\CodecPack\codec.dll' 'Program\Plugins\Equalizer.ini' 'Program\Readme.txt' \
    'Program\Skins\Light.ini' 'Program\Skins\Mine.ini' 'Program\Skins\Ünïcode скин.ini' \
    'Program\System\Data\tables.dat' 'Program\System\Encoders\lame.dll' \
    'Program\System\libsoxr.dll' "Profiles\\$user\\Library.db" "Profiles\\$user\\Mivo.ini" |
    python3 -c 'import sys; print("\n".join(sorted(sys.stdin.read().split("\n")[:-1])))')
  [ "$names" = "$want" ] || fail "update530: archive entries:"$'\n'"$names"$'\n'"expected:"$'\n'"$want"
fi
expect_gone update530 "$dest" UpdateInstaller.exe System/libsoxr.dll System/Encoders System/Data \
  Plugins/CodecPack
expect_kept update530 "$dest" Skins/Mine.ini 'Skins/Ünïcode скин.ini' Icons/mivo.ico
expect_kept update530 "$roaming/Mivo" Library.db Mivo.ini
for f in Mivo.exe Rivadavi.exe Skins/Light.ini Skins/Dark.ini Plugins/Equalizer.ini; do
  cmp -s "$dest/$f" "$work/product/$f" || fail "update530: $f is not the new one"
done
cmp -s "$dest/Readme.txt" "$work/product/Readme_EN.txt" || fail "update530: Readme.txt is not the new one"
leftovers=$(find "$dest" -name '~del*')
[ -z "$leftovers" ] || fail "update530: left behind: $leftovers"

# ---- 2. fresh installation while the user has generation-3 data ----
new_case fresh3
put "$roaming/Mivo3/Mivo3.ini" 'generation-3 settings'
put "$roaming/Mivo3/Skins/Old.ini" 'generation-3 skin'
mkdir -p "$work/old3/Profiles/$user"
cp -a "$roaming/Mivo3/." "$work/old3/Profiles/$user/"
install fresh3 '/AUTO="C:\Fresh\" /SILENT'
fresh=$(host 'C:\Fresh')
mapfile -t all < <(archives "$fresh/!Backup")
if [ "${#all[@]}" = 1 ]; then
  names=$(check_archive fresh3 "$fresh/!Backup/${all[0]}" "$work/old3") || failures=$((failures + 1))
  want=$(printf '%s\n' "Profiles\\$user\\Mivo3.ini" "Profiles\\$user\\Skins\\Old.ini")
  [ "$names" = "$want" ] || fail "fresh3: archive entries:"$'\n'"$names"
else
  fail "fresh3: the backup folder holds:"$'\n'"$(printf '%s\n' "${all[@]}")"
fi
expect_gone fresh3 "$roaming/Mivo3" Mivo3.ini Skins/Old.ini
cmp -s "$fresh/Mivo.exe" "$work/product/Mivo.exe" || fail "fresh3: Mivo.exe is not installed"

# ---- 3. update from 3.60 with generation-3 data ----
new_case update360
dest="$prefix/drive_c/Program Files/Mivo"
put "$dest/Mivo3.ini" $'[System]\r\nVersion=3600\r\nUserMode=1\r\n'
put "$dest/Mivo.exe" 'the player of 3.60'
put "$dest/Plugins/Visual.dll" 'a plug-in of 3.60'
old3="$roaming/Mivo3"
put "$old3/Mivo3.ini" 'settings of 3.60'
put "$old3/Mivo3-cat.db" 'catalogue of 3.60'
put "$old3/mivo3_menu.ini" 'menu of 3.60'
put "$old3/Mivo3ac.ini" 'auto-complete of 3.60'
put "$old3/Mivo3-SkinLayout.ini" 'skin layout of 3.60'
put "$old3/Mivo3.bak" 'a backup of 3.60'
put "$old3/Library.db" 'library of 3.60'
register_old Mivo3 'C:\Program Files\Mivo\'
install update360 '/AUTO /SILENT'
new="$roaming/Mivo"
for pair in 'Mivo.ini|settings of 3.60' 'Mivo-cat.db|catalogue of 3.60' \
  'Mivo-ContextMenu.ini|menu of 3.60' 'Mivoac.ini|auto-complete of 3.60' \
  'Library.db|library of 3.60'; do
  f=${pair%%|*} text=${pair#*|}
  [ "$(cat "$new/$f" 2>/dev/null)" = "$text" ] || fail "update360: $f is not the migrated file"
done
expect_gone update360 "$new" Mivo3.ini Mivo3-SkinLayout.ini Mivo3.bak Mivo3-cat.db
expect_gone update360 "$old3" Mivo3.ini Mivo3-cat.db Library.db Mivo3-SkinLayout.ini Mivo3.bak
expect_gone update360 "$dest" Mivo3.ini
expect_kept update360 "$dest" Mivo.ini Plugins/Visual.dll
cmp -s "$dest/Mivo.exe" "$work/product/Mivo.exe" || fail "update360: Mivo.exe is not the new one"
run reg query "$uninstall_key\\Mivo3" >/dev/null 2>&1 && fail "update360: the old uninstall entry stays"
mapfile -t all < <(archives "$dest/!Backup")
[ "${#all[@]}" = 1 ] || fail "update360: the backup folder holds ${#all[@]} archives"

scenario_end preparation
