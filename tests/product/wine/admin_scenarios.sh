#!/usr/bin/env bash
# What administrators and deployment tools rely on, with the demo installer
# under Wine (a prefix of its own, created afresh):
#   1. the registry entry's values for the list of programs and deployment
#      tools (the size within 1% of the installed files), and its quiet
#      uninstall command run as a command line: exit 0, no window, removed;
#   2. the shortcuts read back with lnkinfo (a Debian tool, not the shell):
#      target, working folder, icon, description; at a destination too long
#      for a shell link the run writes valid links or fails;
#   3. a player that refuses to close: a silent installation and a silent
#      uninstallation end by themselves within the bound (60 s, or
#      /CLOSETIMEOUT) with exit code 6 and change nothing;
#   4. a refused update with /SUPPRESSMSGBOXES: exit code 1, no window at
#      any time of the run, the message in the log;
#   5. a file left for the next restart (a running program's image in the
#      destination): the log and the wizard's finish page (walked with keys,
#      read by ui_probe_wizard) say that a restart
#      completes the installation, and /RESTARTEXITCODE=3010 ends a silent
#      run with 3010;
#   6. /? shows the switches (a box; on the console with
#      /SUPPRESSMSGBOXES), ends with 0 and installs nothing;
#   8. both programs' icon and version resource read back with wrestool
#      and icotool (Debian's icoutils), the icon saved as PNG with SHOTS;
#      /NODESKTOPSHORTCUT leaves the desktop alone;
#   7. one run at a time: two silent installers started together both end
#      by themselves, the second after the first; an installer started while
#      an uninstallation runs waits for it.
# Windows are watched on the prefix's own display with xdotool.
#
# usage: admin_scenarios.sh INSTALLER HOLDER PROBE WINE_RUN PREFIX
set -uo pipefail

installer=$1 holder=$2 probe=$3 wine_run=$4 prefix=$5
export WINEPREFIX=$prefix
export MIVO_COMPANION_LOG_DIR='C:\CompanionLogs'
source "$(dirname "$0")/../../wine/scenario-lib.sh"
scenario_cleanup() { timeout 60 wineserver -w 2>/dev/null; }
scenario_start admin
run_timeout=240

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
registry_value() {
  run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $1    REG_[A-Z_]*    //p"
}

# setup ARGUMENTS: the installer with the arguments exactly as written; the
# exit code in $code (the whole code, which a Linux exit status would cut to
# 8 bits), the seconds it took in $took.
setup() {
  local start=$SECONDS
  # (">file" first: "6>file" would redirect handle 6)
  printf '@"%s" %s\r\n@>"%s" echo %%errorlevel%%\r\n' "$(winpath "$installer")" "$1" \
    "$(winpath "$work/code")" >"$work/setup.bat"
  rm -f "$work/code"
  run cmd /c "$(winpath "$work/setup.bat")"
  code=$(tr -d '\r\n ' <"$work/code" 2>/dev/null)
  took=$((SECONDS - start))
}

# watch_windows FILE: until stopped, appends the names of the visible windows
# of the prefix's display to FILE.
watcher=
watch_windows() {
  : >"$1"
  (while :; do
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
      xdotool getwindowname "$w" 2>/dev/null
    done >>"$1"
    sleep 0.2
  done) &
  watcher=$!
}
stop_watching() { kill "$watcher" 2>/dev/null; wait "$watcher" 2>/dev/null; watcher=; }

# The installation as files: path, size and checksum of each, and the
# registry entry.
state() {
  (cd "$(host "$1")" && find . -type f -print0 | sort -z | xargs -0 md5sum)
  run reg query "$key" 2>/dev/null | tr -d '\r' | grep -v InstallDate
}

rm -rf "$prefix" "$prefix.lock"
run reg query 'HKLM\Software' >/dev/null 2>&1
mkdir -p "$(host 'C:\CompanionLogs')"
use_display

# ---- 1. the registry entry ------------------------------------------------
default='C:\Program Files\Mivo\'
echo "case: registry entry"
setup '/AUTO /SILENT /SUPPRESSMSGBOXES'
[ "$code" = 0 ] || fail "install: exit code $code"
[ "$(registry_value InstallLocation)" = "$default" ] ||
  fail "InstallLocation is '$(registry_value InstallLocation)'"
[ "$(registry_value InstallLocation)" = "$(registry_value InstallPath)" ] ||
  fail 'InstallLocation differs from InstallPath'
quiet=$(registry_value QuietUninstallString)
[ "$quiet" = "\"${default}Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES" ] ||
  fail "QuietUninstallString is '$quiet'"
[ "$(registry_value VersionMajor)" = 0x5 ] || fail "VersionMajor is '$(registry_value VersionMajor)'"
[ "$(registry_value VersionMinor)" = 0x32 ] || fail "VersionMinor is '$(registry_value VersionMinor)'"
size=$(($(registry_value EstimatedSize)))
files=$(du -sb --apparent-size "$(host "$default")" | cut -f1)
kib=$(((files + 1023) / 1024))
echo "  EstimatedSize $size KiB, installed files $kib KiB"
[ $((size * 100)) -ge $((kib * 99)) ] && [ $((size * 100)) -le $((kib * 101)) ] ||
  fail "EstimatedSize $size KiB, the files take $kib KiB"

# ---- 8. icon and version of both programs -------------------------------
echo "case: icon and version"
# version_strings FILE: the version resource's strings, "Name=Value" a line.
version_strings() {
  wrestool -x --raw -t 16 "$1" 2>/dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read().decode("utf-16-le", "replace")
keys = ["CompanyName", "FileDescription", "FileVersion", "LegalCopyright", "ProductName",
        "ProductVersion"]
for key in keys:
    at = data.find(key + "\0")
    if at < 0:
        continue
    rest = data[at + len(key) + 1:].lstrip("\0")
    print(key + "=" + rest.split("\0")[0])
'
}
# The uninstaller is the installer without its product package, and keeps
# the rest of its resources.
setup_size=$(stat -c %s "$installer")
uninstaller_size=$(stat -c %s "$(host "$default")Uninstall.exe")
echo "  MivoSetup.exe $setup_size bytes, Uninstall.exe $uninstaller_size bytes"
[ "$uninstaller_size" -lt "$setup_size" ] || fail 'Uninstall.exe is not cut'
for program in "$installer" "$(host "$default")Uninstall.exe"; do
  name=$(basename "$program")
  strings=$(version_strings "$program")
  echo "  $name: $(tr '\n' ';' <<<"$strings")"
  for want in 'CompanyName=Mivo Team' 'FileDescription=Mivo Setup' 'FileVersion=5.50.0.5500' \
    'ProductName=Mivo' 'ProductVersion=5.50.0.5500' 'LegalCopyright=Copyright © 2025 Mivo Team'; do
    grep -qxF "$want" <<<"$strings" || fail "$name: no version string $want"
  done
  rm -rf "$work/icons"
  mkdir -p "$work/icons"
  wrestool -x -t 14 -o "$work/icons/" "$program" 2>/dev/null
  ico=$(ls "$work/icons/"*.ico 2>/dev/null | head -n 1)
  [ -n "$ico" ] || { fail "$name: no icon"; continue; }
  sizes=$(icotool -l "$ico" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -n | tr '\n' ' ')
  echo "  $name icon sizes: $sizes"
  for size in 16 32 48 256; do
    grep -qw "$size" <<<"$sizes" || fail "$name: no $size-pixel icon ($sizes)"
  done
  if [ -n "${SHOTS:-}" ]; then
    mkdir -p "$SHOTS"
    icotool -x -w 256 -o "$SHOTS/icon-$name.png" "$ico" 2>/dev/null &&
      echo "  icon: $SHOTS/icon-$name.png"
  fi
done

# ---- 2. the shortcuts -----------------------------------------------------
echo "case: shortcuts"
programs="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
desktop=$(find "$prefix/drive_c/users/Public" -maxdepth 1 -iname Desktop | head -1)
# lnk_field FILE NAME: the value lnkinfo gives for NAME.
lnk_field() { lnkinfo "$1" 2>/dev/null | sed -n "s/^[[:space:]]*$2[[:space:]]*: //p" | head -n 1; }
check_link() {
  local file=$1 program=$2 description=$3
  [ -f "$file" ] || { fail "no shortcut $file"; return; }
  local target workdir icon
  target=$(lnk_field "$file" 'Local path')
  workdir=$(lnk_field "$file" 'Working directory')
  icon=$(lnk_field "$file" 'Icon location')
  echo "  $(basename "$file"): target '$target', working folder '$workdir', icon '$icon'," \
    "description '$(lnk_field "$file" 'Description')'"
  [ "$target" = "${default}$program" ] || fail "$file: target '$target'"
  [ "$workdir" = "${default%\\}" ] || fail "$file: working folder '$workdir'"
  [ "$icon" = "${default}$program" ] || fail "$file: icon '$icon'"
  [ "$(lnk_field "$file" 'Description')" = "$description" ] || fail "$file: description"
}
check_link "$desktop/Mivo.lnk" Mivo.exe Mivo
check_link "$programs/Mivo/Mivo.lnk" Mivo.exe Mivo
check_link "$programs/Mivo/Uninstall Mivo.lnk" Uninstall.exe 'Uninstall Mivo'

# Another installation without the desktop shortcut: no desktop shortcut to
# it (the one of the earlier copy goes with that copy's integration), the
# start menu's point to it.
echo "case: /NODESKTOPSHORTCUT"
setup '/AUTO=C:\NoDesktop\ /SILENT /SUPPRESSMSGBOXES /NODESKTOPSHORTCUT'
[ "$code" = 0 ] || fail "/NODESKTOPSHORTCUT: exit code $code"
[ "$(lnk_field "$desktop/Mivo.lnk" 'Local path')" = 'C:\NoDesktop\Mivo.exe' ] &&
  fail "/NODESKTOPSHORTCUT: a desktop shortcut was made"
[ "$(lnk_field "$programs/Mivo/Mivo.lnk" 'Local path')" = 'C:\NoDesktop\Mivo.exe' ] ||
  fail "/NODESKTOPSHORTCUT: the start-menu shortcut is not this installation's"
run_batch remove_nodesktop '"C:\NoDesktop\Uninstall.exe" /AUTO /SILENT /SUPPRESSMSGBOXES' >/dev/null 2>&1
setup '/AUTO /SILENT /SUPPRESSMSGBOXES'
[ "$code" = 0 ] || fail "reinstall: exit code $code"

# ---- 3. a player that refuses to close -----------------------------------
player_pid=
start_player() {
  "$wine_run" --prefix "$prefix" "${default}Mivo.exe" /REFUSECLOSE /HIDDEN >/dev/null 2>&1 &
  player_pid=$!
  for _ in $(seq 1 60); do
    [ -s "$(host 'C:\CompanionLogs\Mivo.log')" ] && break
    sleep 0.5
  done
  sleep 1
}
stop_player() {
  run taskkill /f /im Mivo.exe >/dev/null 2>&1
  wait "$player_pid" 2>/dev/null
}
in_use() {
  local name=$1 limit=$2 arguments=$3
  echo "case: $name"
  local before after
  before=$(state "$default")
  setup "$arguments /LOG=C:\\inuse.log"
  echo "  exit code $code after $took s"
  [ "$code" = 6 ] || fail "$name: exit code $code"
  [ "$took" -ge "$limit" ] || fail "$name: ended after $took s, before the bound of $limit s"
  [ "$took" -le $((limit + 15)) ] || fail "$name: ended after $took s (bound $limit s)"
  after=$(state "$default")
  [ "$before" = "$after" ] || fail "$name: the installation changed:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
  grep -qF "${default}Mivo.exe" "$(host 'C:\inuse.log')" || fail "$name: the log does not name the player"
  grep -qF 'Exit code: 6' "$(host 'C:\inuse.log')" || fail "$name: the log lacks the exit code"
}
rm -f "$(host 'C:\CompanionLogs\Mivo.log')"
start_player
in_use 'in use, default bound' 60 '/AUTO /SILENT /SUPPRESSMSGBOXES'
in_use 'in use, /CLOSETIMEOUT=5' 5 '/AUTO /SILENT /SUPPRESSMSGBOXES /CLOSETIMEOUT=5'
# The uninstaller, as the quiet uninstall command starts it.
echo "case: uninstall while in use"
before=$(state "$default")
start=$SECONDS
run_batch uninstall_in_use "$quiet /CLOSETIMEOUT=5"
took=$((SECONDS - start))
echo "  exit code $code after $took s"
[ "$code" = 6 ] || fail "uninstall while in use: exit code $code"
[ "$took" -le 25 ] || fail "uninstall while in use: ended after $took s"
[ "$before" = "$(state "$default")" ] || fail 'uninstall while in use: the installation changed'
# Where boxes are allowed, the box names the program.
if [ -n "${SHOTS:-}" ]; then
  mkdir -p "$SHOTS"
  start_shown "$installer" /AUTO /SILENT /CLOSETIMEOUT=2
  find_window "$pid" '^Setup$'
  if [ -n "$window" ]; then
    sleep 1
    import -window root "$SHOTS/player-in-use-box.png" 2>/dev/null && echo "  screenshot: $SHOTS/player-in-use-box.png"
    press_return "$window" '^Setup$'
  fi
  wait_end "$pid"
  echo "  with the box: exit code $code"
  [ "$code" = 6 ] || fail "in use with the box: exit code $code"
fi
stop_player

# ---- 4. a refused update, no window --------------------------------------
echo "case: refused update"
watch_windows "$work/windows"
setup '/AUTO=C:\NoSuchMivo\ /UPDATE /SILENT /SUPPRESSMSGBOXES /LOG=C:\update.log'
stop_watching
echo "  exit code $code"
[ "$code" = 1 ] || fail "refused update: exit code $code"
[ -s "$work/windows" ] && fail "refused update: windows were shown: $(sort -u "$work/windows" | tr '\n' ' ')"
grep -qF 'Error (no box shown): Cannot install update on v0.00' "$(host 'C:\update.log')" ||
  fail "refused update: the log lacks the message: $(cat "$(host 'C:\update.log')")"

# ---- 5. a restart completes the installation ----------------------------
# hold_image: the holder program running as C:\Restart\Rivadavi.exe, a file
# of the installation (its image cannot be deleted, only moved away until
# the next restart).
hold_image() {
  touch "$(host 'C:\release')"
  sleep 1
  cp "$holder" "$(host 'C:\Restart')/Rivadavi.exe"
  rm -f "$(host 'C:\ready')" "$(host 'C:\release')"
  "$wine_run" --prefix "$prefix" 'C:\Restart\Rivadavi.exe' 'C:\ready' 'C:\release' \
    'C:\Restart\Readme.txt' >/dev/null 2>&1 &
  pids+=("$!")
  for _ in $(seq 1 100); do [ -f "$(host 'C:\ready')" ] && break; sleep 0.2; done
}
echo "case: restart needed"
setup '/AUTO=C:\Restart\ /SILENT /SUPPRESSMSGBOXES'
[ "$code" = 0 ] || fail "restart: first installation, exit code $code"
hold_image
setup '/AUTO=C:\Restart\ /SILENT /SUPPRESSMSGBOXES /RESTARTEXITCODE=3010 /LOG=C:\restart.log'
echo "  exit code $code"
[ "$code" = 3010 ] || fail "restart: exit code $code, expected 3010"
grep -qF 'a restart completes the installation' "$(host 'C:\restart.log')" ||
  fail "restart: the log does not say so: $(cat "$(host 'C:\restart.log')")"
hold_image
setup '/AUTO=C:\Restart\ /SILENT /SUPPRESSMSGBOXES /LOG=C:\restart.log'
[ "$code" = 0 ] || fail "restart without /RESTARTEXITCODE: exit code $code"
grep -qF 'a restart completes the installation' "$(host 'C:\restart.log')" ||
  fail "restart without /RESTARTEXITCODE: the log does not say so"

# The wizard, walked as a person does (keys; the probe reads the window and
# ticks the license box), into C:\Restart\: its finish page says so too.
probe() { run "$probe" "$@" 2>/dev/null | tr -d '\r'; }
on_page() {
  for _ in $(seq 1 120); do
    listing=$(probe)
    grep -q "^TSetupPage|$1|" <<<"$listing" && return 0
    sleep 0.5
  done
  fail "restart wizard: the page $1 did not come"
  return 1
}
# Return presses Next; where the page's focus starts in a viewer (the
# summary), Ctrl+Return does, as for a person.
next() { xdotool key --window "$(xdotool search --name '^Mivo Setup' | head -n 1)" "${1:-Return}"; }
hold_image
rm -f "$(host 'C:\wizard.log')"
start_shown "$installer" '/LOG=C:\wizard.log'
find_window "$pid" '^Select Language$'
sleep 0.5
[ -n "$window" ] && xdotool key --window "$window" Return
on_page PageWelcome && next
if on_page PageLicense; then
  probe click "$(sed -n 's/^Button|\(.*\)|1|1|0$/\1/p' <<<"$listing" | head -n 1)" >/dev/null
  sleep 1
  next
fi
if on_page PageSetup; then
  probe type 'C:\Restart\' >/dev/null
  sleep 1
  probe click 'Next >' >/dev/null
fi
on_page PageIntegration && next
on_page PageReadyToInstall && next ctrl+Return
if on_page PageFinish; then
  grep -qF 'A restart of the computer completes the installation.' <<<"$listing" ||
    fail "restart: the finish page does not say so:"$'\n'"$listing"
  if [ -n "${SHOTS:-}" ]; then
    mkdir -p "$SHOTS"
    probe "$(winepath -w "$work/finish.bmp" 2>/dev/null | tr -d '\r')" >/dev/null
    convert "$work/finish.bmp" "$SHOTS/restart-finish-page.png" 2>/dev/null &&
      echo "  screenshot: $SHOTS/restart-finish-page.png"
  fi
  # Nothing is started afterwards: every offered program unticked.
  while read -r text; do
    [ -n "$text" ] && probe click "$text" >/dev/null
  done < <(sed -n 's/^Button|\(.*\)|1|1|1$/\1/p' <<<"$listing")
  sleep 1
  next
fi
wait_end "$pid" || fail 'restart: the wizard did not end'
echo "  wizard: exit code $code"
grep -qF 'a restart completes the installation' "$(host 'C:\wizard.log')" ||
  fail "restart: the wizard's log does not say so"
touch "$(host 'C:\release')"
run taskkill /f /im Mivo.exe >/dev/null 2>&1
# The registry entry names the default installation again.
setup "\"/AUTO=$default\" /SILENT /SUPPRESSMSGBOXES"
[ "$code" = 0 ] || fail "default installation again: exit code $code"

# ---- 6. the switches -------------------------------------------------------
echo "case: /?"
before=$(state "$default")
start_shown "$installer" '/?'
find_window "$pid" '^Setup$'
[ -n "$window" ] || fail '/?: no box'
if [ -n "$window" ]; then
  [ -n "${SHOTS:-}" ] && import -window root "$SHOTS/help-box.png" && echo "  screenshot: $SHOTS/help-box.png"
  press_return "$window" '^Setup$'
fi
wait_end "$pid" || fail '/?: still running'
[ "$code" = 0 ] || fail "/?: exit code $code"
text=$(run "$installer" /AUTO /SILENT /SUPPRESSMSGBOXES /? 2>/dev/null | tr -d '\r')
code=$?
for part in /AUTO /SILENT /SUPPRESSMSGBOXES /LOG /CLOSETIMEOUT /RESTARTEXITCODE 'Exit codes'; do
  grep -qF -- "$part" <<<"$text" || fail "/? on the console lacks $part: $text"
done
[ "$before" = "$(state "$default")" ] || fail '/?: the installation changed'

# ---- 7. one run at a time -------------------------------------------------
# start_bg NAME COMMAND: the command line through a batch file in the
# background; its process in $bg_NAME, its exit code later in $work/NAME.code.
start_bg() {
  printf '@%s\r\n@>"%s" echo %%errorlevel%%\r\n' "$2" "$(winpath "$work/$1.code")" >"$work/$1.bat"
  rm -f "$work/$1.code"
  run cmd /c "$(winpath "$work/$1.bat")" >/dev/null 2>&1 &
  printf -v "bg_$1" '%s' "$!"
}
bg_code() { tr -d '\r\n ' <"$work/$1.code" 2>/dev/null; }
# log_time FILE TEXT: the time of the first line with TEXT (seconds of the day).
log_time() {
  local t
  t=$(grep -aF -m1 -- "$2" "$1" 2>/dev/null | cut -c12-19)
  [ -n "$t" ] && date -d "$t" +%s
}
echo "case: two installers at once"
rm -f "$(host 'C:\one.log')" "$(host 'C:\two.log')"
exe="\"$(winpath "$installer")\""
start_bg one "$exe /AUTO /SILENT /SUPPRESSMSGBOXES /LOG=C:\one.log"
start_bg two "$exe /AUTO /SILENT /SUPPRESSMSGBOXES /LOG=C:\two.log"
wait "$bg_one" "$bg_two"
echo "  exit codes $(bg_code one) and $(bg_code two)"
[ "$(bg_code one)" = 0 ] && [ "$(bg_code two)" = 0 ] || fail "two at once: exit codes $(bg_code one) $(bg_code two)"
first=one second=two
grep -qF 'Waiting: ' "$(host 'C:\one.log')" && first=two second=one
grep -qF 'Waiting: ' "$(host "C:\\$second.log")" || fail 'two at once: neither waited'
grep -qF 'Waiting: ' "$(host "C:\\$first.log")" && fail 'two at once: both waited'
ended=$(log_time "$(host "C:\\$first.log")" 'Exit code: ')
began=$(log_time "$(host "C:\\$second.log")" 'Steps: ')
echo "  the first ended at $ended, the second began its steps at $began"
[ -n "$ended" ] && [ -n "$began" ] && [ "$began" -ge "$ended" ] ||
  fail 'two at once: the second ran before the first had ended'
[ -f "$(host "$default")Mivo.exe" ] && [ -n "$(registry_value DisplayVersion)" ] ||
  fail 'two at once: the installation is not complete'

echo "case: installer while an uninstallation runs"
rm -f "$(host 'C:\CompanionLogs\Mivo.log')" "$(host 'C:\waiter.log')"
start_player
# The uninstallation holds its turn while it waits for the player (6 s),
# then ends with 6; the installer waits for it, the player is ended, and
# the installer runs.
start_bg remover "$quiet /CLOSETIMEOUT=6"
sleep 2
start_bg waiter "$exe /AUTO /SILENT /SUPPRESSMSGBOXES /CLOSETIMEOUT=60 /LOG=C:\waiter.log"
wait "$bg_remover"
stop_player
wait "$bg_waiter"
echo "  uninstaller $(bg_code remover), installer $(bg_code waiter)"
[ "$(bg_code remover)" = 6 ] || fail "installer while uninstalling: the uninstaller ended with $(bg_code remover)"
[ "$(bg_code waiter)" = 0 ] || fail "installer while uninstalling: the installer ended with $(bg_code waiter)"
grep -qF 'Waiting: ' "$(host 'C:\waiter.log')" || fail 'installer while uninstalling: it did not wait'

# ---- 1b. the quiet uninstall command --------------------------------------
echo "case: quiet uninstall"
watch_windows "$work/windows"
run_batch quiet_uninstall "$quiet"
stop_watching
echo "  exit code $code"
[ "$code" = 0 ] || fail "quiet uninstall: exit code $code"
[ -s "$work/windows" ] && fail "quiet uninstall: windows were shown: $(sort -u "$work/windows" | tr '\n' ' ')"
[ -e "$(host "$default")Mivo.exe" ] && fail 'quiet uninstall: Mivo.exe is left'
run reg query "$key" >/dev/null 2>&1 && fail 'quiet uninstall: the registry entry is left'

# ---- 2b. shortcuts at a long destination ------------------------------------
# A destination of 289 characters: a shell link cannot hold the program's
# path; the run writes valid links or fails, never links without a target.
long='C:\'
while [ ${#long} -lt 280 ]; do long+='Deployment Test Folder\'; done
long=${long:0:288}'\'
echo "case: long destination (${#long} characters)"
rm -f "$desktop/Mivo.lnk"
setup "\"/AUTO=$long\" /SILENT /SUPPRESSMSGBOXES /LOG=C:\\long.log"
echo "  exit code $code"
if [ -f "$desktop/Mivo.lnk" ] && [ "$code" = 0 ]; then
  target=$(lnk_field "$desktop/Mivo.lnk" 'Local path')
  [ "$target" = "${long}Mivo.exe" ] || fail "long destination: exit 0 with a link to '$target'"
elif [ "$code" = 0 ]; then
  fail 'long destination: exit 0 without the desktop shortcut'
else
  [ "$code" = 4 ] || fail "long destination: exit code $code"
  grep -qF 'Cannot create the shortcut' "$(host 'C:\long.log')" ||
    fail "long destination: no shortcut error in the log"
fi

scenario_end admin
