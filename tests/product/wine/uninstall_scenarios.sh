#!/usr/bin/env bash
# Installs the demo product under Wine with the demo installer, silently, and
# removes it again, checking what is left:
#   1. Uninstall.exe /AUTO /SILENT started from the installation folder ends
#      (through its copy in a private temporary folder) with 0 only when the
#      work is done: the recorded files, the empty folders, the backups, the
#      registry entry (both views) and the shortcuts are gone, the
#      registration program was told /REG=U, a file the user added stays
#      with its folder and so do the users' data;
#   2. the way Windows' list of installed programs removes it: Wine's own
#      "uninstaller" lists the entry and runs its uninstall command;
#   3. a tampered record whose entries point outside the installation
#      deletes none of them;
#   4. two uninstallations at once, each with its own copy;
#   5. a damaged Uninstall.dat: the uninstaller reports the failure (the one
#      "Setup" box, answered with the keyboard) with a code that is not 0.
# The Wine prefix is created afresh for every run of the script.
#
# usage: uninstall_scenarios.sh INSTALLER IPK WINE_RUN PREFIX
set -uo pipefail

installer=$1 ipk=$2 wine_run=$3 prefix=$4
export WINEPREFIX=$prefix
source "$(dirname "$0")/../../wine/scenario-lib.sh"
scenario_cleanup() { timeout 60 wineserver -w 2>/dev/null; }
scenario_start uninstall

key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
has_key() { run reg query "HKLM\\$1" >/dev/null 2>&1; }

install() {
  run_batch install "\"$(winpath "$installer")\" $1"
  [ "$code" = 0 ] || fail "installing with $1: exit code $code"
}

recorded=(Mivo.exe Rivadavi.exe Readme.txt 'Skins\Light.ini' 'Skins\Dark.ini'
          'Plugins\Equalizer.ini' Uninstall.dat Uninstall.exe)
# check_removed NAME DEST: every recorded file and the empty folders are gone.
check_removed() {
  local name=$1 dir
  dir=$(host "$2")
  for f in "${recorded[@]}"; do
    [ -e "$dir/${f//\\//}" ] && fail "$name: $f is left"
  done
  for d in Skins Plugins; do
    [ -e "$dir/$d" ] && fail "$name: the folder $d is left"
  done
}

# The demo's programs log their command lines outside the installation.
export MIVO_COMPANION_LOG_DIR='C:\logs'
rm -rf "$prefix" "$prefix.lock"
# The first run creates the prefix; do it before anything is timed.
run reg query 'HKLM\Software' >/dev/null 2>&1
mkdir -p "$(host 'C:\logs')"
user_data=$(host 'C:\users')/$(whoami)/AppData/Roaming/Mivo
[ -d "$(host 'C:\users')/$(whoami)" ] || user_data=$(find "$(host 'C:\users')" -maxdepth 1 -mindepth 1 ! -name Public | head -n 1)/AppData/Roaming/Mivo

# 1. From the installation folder.
default='C:\Program Files\Mivo\'
dir=$(host "$default")
install '/AUTO /SILENT'
[ -f "$dir/Mivo.exe" ] || fail "default: not installed"
mkdir -p "$dir/Mine" "$dir/!Backup" "$user_data"
echo song >"$dir/Mine/song.mp3"
echo zip >"$dir/!Backup/z Before install.zip"
echo data >"$user_data/library.db"
run reg add "HKLM\\${key/Software/Software\\Wow6432Node}" /v DisplayName /d Mivo /f >/dev/null 2>&1
has_key "$key" || fail "default: no registry entry after the installation"
run_batch uninstall "\"${default}Uninstall.exe\" /AUTO /SILENT"
[ "$code" = 0 ] || fail "default: the uninstaller exited with $code"
check_removed default "$default"
[ -e "$dir/!Backup" ] && fail "default: !Backup is left (removed by default in an automatic run)"
[ -f "$dir/Mine/song.mp3" ] || fail "default: the user's own file is gone"
# The player's configuration, written after the record, stays like the
# user's data; nothing else does.
rest=$(cd "$dir" 2>/dev/null && find . | sort | tr '\n' ' ')
[ "$rest" = '. ./Mine ./Mine/song.mp3 ./Mivo.ini ' ] ||
  fail "default: left in the installation folder: $rest"
[ -f "$user_data/library.db" ] || fail "default: the user's data is gone"
has_key "$key" && fail "default: the registry entry is left"
has_key "${key/Software/Software\\Wow6432Node}" && fail "default: the 32-bit registry entry is left"
for link in "$(host 'C:\users\Public\Desktop')/Mivo.lnk" \
            "$(host 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs')/Mivo"; do
  [ -e "$link" ] && fail "default: the shortcut $link is left"
done
grep -q '/REG=U' "$(host 'C:\logs')/Rivadavi.log" 2>/dev/null ||
  fail "default: the registration program was not told /REG=U"
# The copy's private folder went with it.
leftover=$(find "$(host 'C:\users')" -maxdepth 5 -iname 'MivoUninstall-*' 2>/dev/null)
[ -z "$leftover" ] || fail "default: the copy's folder is left: $leftover"

# 2. As the list of installed programs does it: Wine's uninstaller runs the
#    entry's command line, which shows the language choice and the wizard;
#    Enter takes the default button of each, like a user who accepts them.
rm -rf "$dir"
install '/AUTO /SILENT'
listed=$(run uninstaller --list 2>/dev/null | tr -d '\r')
grep -q '^Mivo|||Mivo$' <<<"$listed" || fail "list: Wine's uninstaller does not list Mivo: $listed"
use_display
start_shown uninstaller --remove Mivo >/dev/null 2>&1
for _ in $(seq 1 90); do
  kill -0 "$pid" 2>/dev/null || break
  window=$(xdotool search --onlyvisible --name '^(Select Language|Mivo Setup)$' 2>/dev/null | tail -n 1)
  if [ -n "$window" ]; then
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --window "$window" Return 2>/dev/null
  fi
  sleep 2
done
if kill -0 "$pid" 2>/dev/null; then
  fail "list: the removal did not end"
else
  wait "$pid" || fail "list: Wine's uninstaller failed"
fi
check_removed list "$default"
has_key "$key" && fail "list: the registry entry is left"

# 3. A tampered record in a portable installation.
portable='C:\Portable\'
install "/AUTO=\"$portable\" /PORTABLE /SILENT"
pdir=$(host "$portable")
echo outside >"$(host 'C:\outside.txt')"
mkdir -p "$work/record"
printf '[Uninstall]\r\n0=..\\..\\outside.txt\r\nCount=5\r\n1=C:\\outside.txt\r\n2=\\\\server\\share\\x\r\n3=Mivo.exe\r\n4=\\outside.txt\r\n' \
  >"$work/record/Uninstall.ini"
"$ipk" create "$pdir/Uninstall.dat" "$work/record/Uninstall.ini" >/dev/null || fail "tampered: cannot pack"
run_batch tampered "\"${portable}Uninstall.exe\" /AUTO /SILENT"
[ "$code" = 0 ] || fail "tampered: the uninstaller exited with $code"
[ -f "$(host 'C:\outside.txt')" ] || fail "tampered: a file outside the installation was deleted"
[ -e "$pdir/Mivo.exe" ] && fail "tampered: the recorded Mivo.exe is left"

# 4. Two at once.
for n in 1 2; do install "/AUTO=\"C:\\Two$n\\\" /PORTABLE /SILENT"; done
for n in 1 2; do
  printf '@"C:\\Two%s\\Uninstall.exe" /AUTO /SILENT\r\n@exit /b %%errorlevel%%\r\n' "$n" >"$work/two$n.bat"
  timeout 180 "$wine_run" --prefix "$prefix" cmd /c "$(winpath "$work/two$n.bat")" &
  pids+=($!)
  two_pids[$n]=$!
done
for n in 1 2; do
  wait "${two_pids[$n]}"
  code=$?
  [ "$code" = 0 ] || fail "two at once: uninstaller $n exited with $code"
  check_removed "two at once $n" "C:\\Two$n\\"
done

# 5. A damaged Uninstall.dat: the box, answered with Enter, and not 0.
broken='C:\Broken\'
install "/AUTO=\"$broken\" /PORTABLE /SILENT"
head -c 100 /dev/urandom >"$(host "$broken")/Uninstall.dat"
use_display
printf '@"%sUninstall.exe" /AUTO /SILENT\r\n@exit /b %%errorlevel%%\r\n' "$broken" >"$work/broken.bat"
start_shown cmd /c "$(winpath "$work/broken.bat")"
find_window "$pid" '^Setup$'
[ -n "$window" ] && press_return "$window" '^Setup$'
if ! wait_end "$pid"; then
  fail "damaged: the uninstaller did not end"
else
  [ "$code" = 0 ] && fail "damaged: the uninstaller reported success"
fi

scenario_end uninstallation
