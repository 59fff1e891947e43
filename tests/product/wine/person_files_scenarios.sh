#!/usr/bin/env bash
# A person's own files under Wine: places that are never a program's folder
# are refused before anything is written, and the files a person keeps in
# the installation folder survive an installation, a second one over it, an
# automatic uninstallation and a failed update, byte for byte.
#   - /AUTO=D:\ (a drive mapped to a folder), the user's Documents, Program
#     Files itself and the system folder: exit code 1, nothing written, the
#     folder named in the log;
#   - /AUTO=C:\Tools\ holding Notes.txt and Data\keep.bin: installed, then
#     again over it, then removed by Uninstall.exe /AUTO /SILENT: both files
#     still there and the same;
#   - /AUTO=C:\Var$TEMP\: the record names Uninstall.dat and Uninstall.exe as
#     such, and the uninstallation removes them;
#   - an update whose file another program holds open for writing: exit
#     code 4, nothing deleted, the file, the reason and what to do in the log.
#
# usage: person_files_scenarios.sh INSTALLER HOLDER IPK WINE_RUN PREFIX
set -uo pipefail

installer=$1 holder=$2 ipk=$3 wine_run=$4 base=$5
prefix=$base
holder_pid=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120
scenario_cleanup() {
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  rm -f "$prefix/dosdevices/d:"
}
scenario_start person
# The demo's companion programs log into a folder of their own.
export MIVO_COMPANION_LOG_DIR='C:\logs'

quiet='/SILENT /SUPPRESSMSGBOXES /LOG=C:\setup.log'
setup_log=$(host 'C:\setup.log')

setup() { run_batch setup "\"$(winpath "$installer")\" $1"; }
expect() {
  local name=$1 want=$2
  echo "case: $name"
  setup "$3"
  [ "$code" = "$want" ] || fail "$name: exit code $code, expected $want"
}
log_has() {
  local name=$1 text
  shift
  for text in "$@"; do
    grep -qF -- "$text" "$setup_log" 2>/dev/null ||
      fail "$name: the log lacks '$text':"$'\n'"$(cat "$setup_log" 2>/dev/null)"
  done
}
record() {
  "$ipk" cat "$1" Uninstall.ini 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed '1s/^\xEF\xBB\xBF//' | sed -n '/^\[Uninstall\]/,$p'
}
# The person's files in a host folder, and a check that they are unchanged.
put_mine() {
  mkdir -p "$1/Data"
  printf 'my notes\r\n' >"$1/Notes.txt"
  head -c 3000 /dev/urandom >"$1/Data/keep.bin"
  (cd "$1" && sha256sum Notes.txt Data/keep.bin) >"$work/mine.sha"
}
mine_kept() {
  (cd "$2" && sha256sum --quiet -c "$work/mine.sha" >/dev/null 2>&1) ||
    fail "$1: the person's files changed or are gone: $(ls -R "$2" 2>&1 | head -20)"
}
tree() { (cd "$1" && find . | sort); }
rm -rf "$prefix"
run cmd /c exit >/dev/null 2>&1
mkdir -p "$(host 'C:\logs')"
profile=$(run cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r' | tail -n 1)
[ -n "$profile" ] || { echo "no user profile in the prefix" >&2; exit 1; }

# ---- places that are never a program's folder ------------------------------
mkdir -p "$work/drive-d"
ln -sfn "$work/drive-d" "$prefix/dosdevices/d:"
put_mine "$work/drive-d"
documents=$(host "$profile\\Documents")
mkdir -p "$documents"
cp "$work/drive-d/Notes.txt" "$documents/Notes.txt"
before=$(tree "$prefix/drive_c" | grep -v '^\./setup\.log$')
while IFS='|' read -r given reason; do
  rm -f "$setup_log"
  expect "refused $given" 1 "\"/AUTO=$given\" $quiet"
  log_has "refused $given" "The destination folder \"$given\" cannot be used: $reason" 'Exit code: 1'
  after=$(tree "$prefix/drive_c" | grep -v '^\./setup\.log$')
  [ "$before" = "$after" ] ||
    fail "refused $given: files were written:"$'\n'"$(comm -3 <(echo "$before") <(echo "$after"))"
  run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo' >/dev/null 2>&1 &&
    fail "refused $given: a registry entry was written"
done <<EOF
D:\\|it is the root of a drive
$profile\\Documents\\|it is a folder that Windows keeps for a user's own files
C:\\Program Files\\|it holds other programs or their data
C:\\Windows\\System32\\|it is the Windows folder or a folder inside it
$profile\\Documents\\..\\Documents|it is a folder that Windows keeps for a user's own files
EOF
mine_kept 'drive D:' "$work/drive-d"
[ "$(tree "$work/drive-d")" = "$(printf '.\n./Data\n./Data/keep.bin\n./Notes.txt')" ] ||
  fail "drive D: holds more than the person's files: $(tree "$work/drive-d")"
rm -f "$prefix/dosdevices/d:"

# ---- a folder with a person's files: installed, again, removed -------------
tools=$(host 'C:\Tools')
put_mine "$tools"
expect 'install into C:\Tools\' 0 "/AUTO=C:\\Tools\\ $quiet"
[ -f "$tools/Mivo.exe" ] || fail 'install into C:\Tools\: no Mivo.exe'
mine_kept 'install into C:\Tools\' "$tools"
[ -d "$tools/!Backup" ] && fail "install into C:\\Tools\\: a backup was made of: $(ls -R "$tools/!Backup")"
expect 'install again over C:\Tools\' 0 "/AUTO=C:\\Tools\\ $quiet"
mine_kept 'install again over C:\Tools\' "$tools"
if [ -d "$tools/!Backup" ]; then
  python3 - "$tools/!Backup" <<'PY' || fail 'install again: the backup holds the person files'
import os, sys, zipfile
for name in os.listdir(sys.argv[1]):
    for entry in zipfile.ZipFile(os.path.join(sys.argv[1], name)).namelist():
        if "Notes.txt" in entry or "keep.bin" in entry:
            sys.exit(1)
PY
fi
run_batch uninstall "\"C:\\Tools\\Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES"
[ "$code" = 0 ] || fail "uninstall C:\\Tools\\: exit code $code"
mine_kept 'uninstall C:\Tools\' "$tools"
[ -e "$tools/Mivo.exe" ] && fail 'uninstall C:\Tools\: Mivo.exe is still there'
# Besides them only the player's configuration stays, as after any
# automatic uninstallation.
[ "$(tree "$tools")" = "$(printf '.\n./Data\n./Data/keep.bin\n./Mivo.ini\n./Notes.txt')" ] ||
  fail "uninstall C:\\Tools\\: left more than the person's files: $(tree "$tools")"

# ---- a "$" in the destination -----------------------------------------------
expect 'install into C:\Var$TEMP\' 0 "/AUTO=C:\\Var\$TEMP\\ $quiet"
dollar=$(host 'C:\Var$TEMP')
entries=$(record "$dollar/Uninstall.dat")
echo "$entries" | grep -qx '[0-9]*=Uninstall.dat' && echo "$entries" | grep -qx '[0-9]*=Uninstall.exe' ||
  fail "record of C:\\Var\$TEMP\\ does not name the uninstaller's files:"$'\n'"$entries"
echo "$entries" | grep -qi 'temp\\' && fail "record of C:\\Var\$TEMP\\ names the temporary folder"
run_batch uninstall "\"C:\\Var\$TEMP\\Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES"
[ "$code" = 0 ] || fail "uninstall C:\\Var\$TEMP\\: exit code $code"
[ -e "$dollar/Uninstall.dat" ] || [ -e "$dollar/Uninstall.exe" ] &&
  fail "uninstall C:\\Var\$TEMP\\ left: $(ls "$dollar")"

# ---- an update whose file is held open for writing --------------------------
expect 'install C:\Held\' 0 "/AUTO=C:\\Held\\ $quiet"
held=$(host 'C:\Held')
held_before=$(cd "$held" && find . -type f | sort | xargs sha256sum)
hold --share=writing 'C:\Held\Readme.txt'
rm -f "$setup_log"
expect 'update with a held file' 4 "/AUTO=C:\\Held\\ $quiet"
release
log_has 'update with a held file' \
  'The file "C:\Held\Readme.txt" cannot be backed up because another program is using it.' \
  'Close that program, then run Setup again.' 'Exit code: 4'
grep -q 'Success' "$setup_log" && fail "update with a held file: the library's own text leaks: $(cat "$setup_log")"
[ "$(cd "$held" && find . -type f | sort | xargs sha256sum)" = "$held_before" ] ||
  fail 'update with a held file: the installation changed'

scenario_end 'person files'
