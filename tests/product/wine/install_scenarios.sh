#!/usr/bin/env bash
# Installs the demo product under Wine with the demo installer, silently, and
# checks what each installation leaves behind: the installed tree and its
# contents, Uninstall.exe (the installer without its product package),
# Uninstall.dat (one file, Uninstall.ini, byte for byte) and the ten values
# of the uninstall registry entry.
#   1. the default folder (C:\Program Files\Mivo\);
#   2. /AUTO="C:\Some Folder\" over a configuration whose choices the record
#      copies;
#   3. /PORTABLE: no registry entry;
#   4. in Russian (the user's UI language): the RU component, no other
#      family's;
#   5. again over an installation whose files are held open by another
#      process like a running program's (with delete sharing): the old
#      files go into the backup archive and out of the way at once, the new
#      ones are written under their names while the holder still holds the
#      old ones, and nothing of the old ones is left once it lets go;
#   6. a damaged product package: exit code 1 and nothing written.
# The Wine prefix is created afresh for every run of the script.
#
# usage: install_scenarios.sh INSTALLER HOLDER IPK PRODUCT_PACKAGE WINE_RUN PREFIX
set -uo pipefail

installer=$1 holder=$2 ipk=$3 product_package=$4 wine_run=$5 prefix=$6
export WINEPREFIX=$prefix
# The demo's own programs log outside the installations checked here.
export MIVO_COMPANION_LOG_DIR='C:\CompanionLogs'
source "$(dirname "$0")/../../wine/scenario-lib.sh"
scenario_cleanup() {
  touch "$prefix/drive_c/Locked/release" 2>/dev/null
  timeout 60 wineserver -w 2>/dev/null
}
scenario_start install

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
# The entry's values as name|type|data lines.
registry_values() {
  run reg query "$key" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \([^ ]*\)    \(REG_[A-Z_]*\)    \(.*\)$/\1|\2|\3/p'
}

# The installed files of the demo in script order and the package files they
# come from; the family's readme and the RU-only component are added per run.
common_files=(Mivo.exe Rivadavi.exe Readme.txt 'Skins\Light.ini' 'Skins\Dark.ini'
              'Plugins\Equalizer.ini')
source_of() {
  case "$1" in
    Readme.txt) echo "Readme_$2.txt" ;;
    'Radio\Stations.ini') echo 'Radio\Stations_RU.ini' ;;
    *) echo "$1" ;;
  esac
}

"$ipk" extract "$product_package" -C "$work/product" >/dev/null || fail "cannot unpack the product package"

# The uninstall record expected: the settings' sections, then "Uninstall"
# with "0", "Count", "1", ...; UTF-16LE with byte-order mark and CR LF.
expected_record() {
  local settings=$1 family=$2
  shift 2
  local files=("$@" Uninstall.dat Uninstall.exe) i=0
  {
    printf '%s' "$settings"
    printf '[Uninstall]\r\n'
    for f in "${files[@]}"; do
      printf '%s=%s\r\n' "$i" "$f"
      [ "$i" = 0 ] && printf 'Count=%s\r\n' "${#files[@]}"
      i=$((i + 1))
    done
    printf '\r\n'
  } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }
}

# offset_of PATTERN_FILE FILE: the offset of the first 16 bytes of the
# pattern file in the file (empty when they are not in it).
offset_of() {
  perl -e 'open(P, "<:raw", $ARGV[0]) or die; read(P, $p, 16); local $/;
           open(F, "<:raw", $ARGV[1]) or die; $i = index(<F>, $p); print $i if $i >= 0' "$1" "$2"
}
# rsrc_at PROGRAM: where the resource section starts in the file.
rsrc_at() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
at = pe + 24 + optional
for i in range(sections):
    name, raw = data[at:at + 8].rstrip(b"\0"), struct.unpack_from("<I", data, at + 20)[0]
    if name == b".rsrc":
        print(raw)
    at += 40
PY
}
# check_uninstaller NAME FILE: the installer without its product package:
# the same program and setup package, no product package, no larger than
# the installer less the product package (and some alignment).
check_uninstaller() {
  local name=$1 file=$2 size limit
  size=$(stat -c %s "$file")
  limit=$(($(stat -c %s "$installer") - $(stat -c %s "$product_package") + 8192))
  [ "$size" -le "$limit" ] || fail "$name: Uninstall.exe has $size bytes, more than $limit"
  [ -n "$(offset_of "$product_package" "$file")" ] && fail "$name: Uninstall.exe holds the product package"
  [ -n "$(offset_of "${product_package%/*}/setup.ipk" "$file")" ] ||
    fail "$name: Uninstall.exe lacks the setup package"
  # The program's code and data, after the headers and before the resource
  # section (whose directory the cut changes).
  cmp -s -i 4096 -n $(($(rsrc_at "$installer") - 4096)) "$file" "$installer" ||
    fail "$name: Uninstall.exe is not the installer's program"
}

# check_installation NAME DEST FAMILY SETTINGS FILES...: the tree, the
# contents, Uninstall.exe and Uninstall.dat.
check_installation() {
  local name=$1 dest=$2 family=$3 settings=$4
  shift 4
  local dir
  dir=$(host "$dest")
  local expected=("$@" Uninstall.dat Uninstall.exe)
  local tree
  tree=$(cd "$dir" 2>/dev/null && find . -type f ! -name Mivo.ini ! -path './!Backup/*' | sed 's|^\./||; s|/|\\|g' | sort)
  local want
  want=$(printf '%s\n' "${expected[@]}" | sort)
  [ "$tree" = "$want" ] || fail "$name: installed tree:"$'\n'"$tree"$'\n'"expected:"$'\n'"$want"
  for f in "$@"; do
    local src
    src=$(source_of "$f" "$family")
    cmp -s "$dir/${f//\\//}" "$work/product/${src//\\//}" || fail "$name: $f differs from $src"
  done
  check_uninstaller "$name" "$dir/Uninstall.exe"
  local listed
  listed=$("$ipk" list "$dir/Uninstall.dat" 2>&1 | awk 'NF == 2 && $1 ~ /^[0-9]+$/ {print $2}')
  [ "$listed" = Uninstall.ini ] || fail "$name: Uninstall.dat holds '$listed'"
  "$ipk" cat "$dir/Uninstall.dat" Uninstall.ini >"$work/record" 2>/dev/null
  expected_record "$settings" "$family" "$@" >"$work/expected"
  if ! cmp -s "$work/record" "$work/expected"; then
    fail "$name: Uninstall.ini:"$'\n'"$(iconv -f UTF-16LE -t UTF-8 "$work/record" | tr -d '\r')"
  fi
}

# check_registry NAME DEST: the ten values (reg lists them by name).
check_registry() {
  local name=$1 dest=$2
  local values
  # (The size's value is checked by the admin scenarios.)
  values=$(registry_values | sed -e 's/^\(InstallDate|REG_SZ|\)[0-9]\{8\}$/\1yyyyMMdd/' \
    -e 's/^\(EstimatedSize|REG_DWORD|\)0x[0-9a-f]*$/\1size/' | sort)
  local want
  want=$(printf '%s\n' 'NoModify|REG_DWORD|0x1' 'NoRepair|REG_DWORD|0x1' \
    "DisplayIcon|REG_SZ|${dest}Uninstall.exe" 'DisplayName|REG_SZ|Mivo' \
    'DisplayVersion|REG_SZ|5.50.0.5500' 'InstallDate|REG_SZ|yyyyMMdd' \
    "InstallPath|REG_SZ|$dest" 'Publisher|REG_SZ|Mivo Team' \
    "UninstallString|REG_SZ|\"${dest}Uninstall.exe\"" 'URLInfoAbout|REG_SZ|https://mivo.example/' \
    "QuietUninstallString|REG_SZ|\"${dest}Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES" \
    "InstallLocation|REG_SZ|$dest" 'EstimatedSize|REG_DWORD|size' 'VersionMajor|REG_DWORD|0x5' \
    'VersionMinor|REG_DWORD|0x32' | sort)
  [ "$values" = "$want" ] || fail "$name: registry entry:"$'\n'"$values"
}

# install NAME ARGUMENTS: runs the installer with the arguments exactly as
# written (Wine would quote an argument with a space its own way), through a
# batch file, and expects exit code 0.
install() {
  run_batch install "\"$(winpath "$installer")\" $2"
  [ "$code" = 0 ] || fail "$1: the installer exited with $code"
}

rm -rf "$prefix" "$prefix.lock"
# The first run creates the prefix; do it before anything is timed.
run reg query 'HKLM\Software' >/dev/null 2>&1

# 1. The default folder.
default='C:\Program Files\Mivo\'
install default '/AUTO /SILENT'
check_installation default "$default" EN '' "${common_files[@]}"
check_registry default "$default"

# 2. A folder with a space, over a configuration with integration choices.
some='C:\Some Folder\'
mkdir -p "$(host "$some")"
printf '[Integration]\r\nAssociateWithFiles=0\r\nShortcutDesktop=1\r\n' >"$(host "$some")/Mivo.ini"
install 'some folder' "/AUTO=\"$some\" /SILENT"
check_installation 'some folder' "$some" EN \
  $'[Integration]\r\nAssociateWithFiles=0\r\nShortcutDesktop=1\r\n\r\n' "${common_files[@]}"
check_registry 'some folder' "$some"

# 3. Portable: everything but the registry entry.
run reg delete "$key" /f >/dev/null 2>&1
install portable '/AUTO="C:\Portable\" /PORTABLE /SILENT'
check_installation portable 'C:\Portable\' EN '' "${common_files[@]}"
[ -z "$(registry_values)" ] || fail "portable: a registry entry was written"

# 4. Russian: the UI language decides in an automatic run.
run_env=(LC_ALL=ru_RU.UTF-8)
install russian '/AUTO="C:\Russian\" /SILENT'
run_env=()
check_installation russian 'C:\Russian\' RU '' "${common_files[@]}" 'Radio\Stations.ini'

# 5. Files held open: Dark.ini as installed, Readme.txt changed since.
locked='C:\Locked\'
dir=$(host "$locked")
install locked "/AUTO=\"$locked\" /SILENT"
printf 'an older readme' >"$dir/Readme.txt"
"$wine_run" --prefix "$prefix" "$holder" 'C:\locked-held' 'C:\locked-release' \
  'C:\Locked\Skins\Dark.ini' 'C:\Locked\Readme.txt' &
holder_pid=$!
for _ in $(seq 1 120); do [ -f "$(host 'C:\locked-held')" ] && break; sleep 0.5; done
if [ ! -f "$(host 'C:\locked-held')" ]; then
  fail "locked: the holder did not start"
else
  install locked "/AUTO=\"$locked\" /SILENT"
  # Written anew while the old files are still held.
  cmp -s "$dir/Readme.txt" "$work/product/Readme_EN.txt" || fail "locked: Readme.txt not written anew"
  cmp -s "$dir/Skins/Dark.ini" "$work/product/Skins/Dark.ini" || fail "locked: Dark.ini not written anew"
  touch "$(host 'C:\locked-release')"
  wait "$holder_pid" || fail "locked: the holder failed"
  archive=$(ls "$dir/!Backup/"*.zip 2>/dev/null | head -n 1)
  old_readme=$(python3 -c 'import sys, zipfile
print(zipfile.ZipFile(sys.argv[1]).read("Program\\Readme.txt").decode(), end="")' "$archive" 2>/dev/null)
  [ "$old_readme" = 'an older readme' ] || fail "locked: the old Readme.txt is not in the backup archive"
  rm -rf "$dir/!Backup"
  check_installation locked "$locked" EN '' "${common_files[@]}"
fi

# 6. A damaged product package: refused with code 1 before anything is
#    written, over the installation of 1. as into a new folder.
damaged=$work/Damaged.exe
cp "$installer" "$damaged"
perl -e 'open(F, "+<:raw", $ARGV[0]) or die; seek(F, $ARGV[1], 0); read(F, $b, 1);
         seek(F, $ARGV[1], 0); print F chr(ord($b) ^ 0x55)' "$damaged" \
  $(($(offset_of "$product_package" "$installer") + $(stat -c %s "$product_package") / 2))
state() {
  (cd "$(host "$default")" && find . -printf '%p %s %T@\n' | sort)
  registry_values
}
before=$(state)
for target in "$default" 'C:\Damaged\'; do
  run_batch damaged "\"$(winpath "$damaged")\" /AUTO=\"$target\" /SILENT /SUPPRESSMSGBOXES"
  [ "$code" = 1 ] || fail "damaged, $target: exit code $code"
done
[ "$(state)" = "$before" ] || fail "damaged: the installation was changed"
[ -e "$(host 'C:\Damaged\')" ] && fail "damaged: the new folder was made"

scenario_end installation
