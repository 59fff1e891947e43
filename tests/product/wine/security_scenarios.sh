#!/usr/bin/env bash
# What a standard user can write does not steer the elevated installer and
# uninstaller, under Wine, each case in a fresh copy of one template prefix:
#   - a window of the player's class, opened by a program in the user's
#     Downloads folder, does not move a silent installation out of
#     C:\Program Files\Mivo\;
#   - the installation's Uninstall.exe started by hand with /PATH naming
#     another folder deletes nothing there and starts nothing there;
#   - a clean uninstallation leaves no deletion registered for the next
#     restart;
#   - /LOG naming a link (another name of a file): the file is untouched,
#     exit code 1; a log folder that does not exist is made;
#   - the Start menu redirected into a folder with other files: those stay.
#
# usage: security_scenarios.sh INSTALLER PLAYER WINE_RUN PREFIX
set -uo pipefail

installer=$1 player=$2 wine_run=$3 base=$4
template=$base-template
prefix=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120
scenario_cleanup() {
  stop_prefix
  prefix=
  rm -rf "$base"-* "$template"
}
scenario_start security

quiet='/SILENT /SUPPRESSMSGBOXES'
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
program_files='C:\Program Files\Mivo\'

use_prefix() {
  stop_prefix
  prefix=$base-$1
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  echo "case: $1"
}
setup() { run_batch setup "\"$(winpath "$installer")\" $1"; }
registry_value() {
  run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $1    REG_[A-Z_]*    //p"
}
pending_renames() {
  run reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep -i 'MivoUninstall'
}

rm -rf "$base"-* "$template"
prefix=$template
run cmd /c exit >/dev/null 2>&1
profile=$(run cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r' | tail -n 1)
stop_prefix
[ -n "$profile" ] && [ -f "$template/system.reg" ] || { echo "no template prefix" >&2; exit 1; }

# ---- a player's window from Downloads ---------------------------------------
use_prefix window
downloads=$(host "$profile\\Downloads")
mkdir -p "$downloads"
cp "$player" "$downloads/Mivo.exe"
printf 'not an installation' >"$downloads/Uninstall.dat"
printf 'mine' >"$downloads/keep.txt"
"$wine_run" --prefix "$prefix" --display "$profile\\Downloads\\Mivo.exe" /HIDDEN >/dev/null 2>&1 &
pids+=("$!")
sleep 3
setup "/AUTO $quiet"
[ "$code" = 0 ] || fail "window: exit code $code"
[ -f "$(host "$program_files")/Mivo.exe" ] || fail "window: not installed into $program_files"
[ "$(registry_value InstallPath)" = "$program_files" ] ||
  fail "window: the entry names '$(registry_value InstallPath)'"
[ "$(cat "$downloads/keep.txt")" = mine ] || fail "window: a file in Downloads changed"
[ -e "$downloads/Rivadavi.exe" ] && fail "window: the product was put into Downloads"

# ---- /PATH from anybody ------------------------------------------------------
use_prefix path
setup "/AUTO $quiet"
[ "$code" = 0 ] || fail "path: the installation failed with $code"
victim=$(host 'C:\victim')
mkdir -p "$victim"
cp "$(host "$program_files")"/{Uninstall.dat,Mivo.exe,Rivadavi.exe,Readme.txt} "$victim/"
before=$(cd "$victim" && find . -type f | sort | xargs sha256sum)
run_batch uninstall "\"${program_files}Uninstall.exe\" /PATH=C:\\victim\\ /AUTO $quiet"
after=$(cd "$victim" && find . -type f | sort | xargs sha256sum)
[ "$before" = "$after" ] || fail "path: the folder named by /PATH changed:"$'\n'"$after"
[ -e "$victim/Rivadavi.log" ] && fail "path: a program of the folder named by /PATH was started"
# It removed its own installation instead, and left nothing for the restart.
[ "$code" = 0 ] || fail "path: the uninstaller's own removal failed with $code"
[ -e "$(host "$program_files")/Mivo.exe" ] && fail "path: the installation itself is still there"
pending=$(pending_renames)
[ -z "$pending" ] || fail "path: deletions left for the restart:"$'\n'"$pending"

# ---- /LOG naming a link, and a log folder that does not exist ----------------
use_prefix log
target=$(host 'C:\Target')
mkdir -p "$target"
printf 'precious' >"$target/system.ini"
# A second name of the file (a hard link: Wine shows no symbolic links).
ln "$target/system.ini" "$(host 'C:\planted.log')"
setup "/AUTO $quiet /LOG=C:\\planted.log"
[ "$code" = 1 ] || fail "log link: exit code $code, expected 1"
[ "$(cat "$target/system.ini")" = precious ] || fail "log link: the link's target was written"
[ -e "$(host "$program_files")/Mivo.exe" ] && fail "log link: the run went on"
setup "/AUTO $quiet /LOG=C:\\Logs\\Deep\\setup.log"
[ "$code" = 0 ] || fail "log folder: exit code $code"
grep -q 'Exit code: 0' "$(host 'C:\Logs\Deep\setup.log')" 2>/dev/null ||
  fail "log folder: no log in the folder made for it"

# ---- a redirected Start menu ---------------------------------------------------
use_prefix menu
shared=$(host 'C:\Shared')
mkdir -p "$shared/Mivo"
printf 'mine' >"$shared/Mivo/notes.txt"
printf 'mine' >"$shared/other.txt"
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
  /v 'Start Menu' /t REG_EXPAND_SZ /d 'C:\Shared' /f >/dev/null 2>&1
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' \
  /v 'Start Menu' /t REG_SZ /d 'C:\Shared' /f >/dev/null 2>&1
setup "/AUTO $quiet"
[ "$code" = 0 ] || fail "menu: the installation failed with $code"
run_batch uninstall "\"${program_files}Uninstall.exe\" /AUTO $quiet"
[ "$code" = 0 ] || fail "menu: the uninstallation failed with $code"
[ "$(cat "$shared/Mivo/notes.txt" 2>/dev/null)" = mine ] ||
  fail "menu: a file in the redirected Start menu's folder went"
[ "$(cat "$shared/other.txt" 2>/dev/null)" = mine ] || fail "menu: a file in the redirected Start menu went"

scenario_end security
