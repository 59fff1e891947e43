#!/usr/bin/env bash
# Under Wine: runs that are killed are undone at the next start. An older
# installation in C:\Mivo\ (the demo installed, then its files changed the
# way an older version's differ, its configuration with the player's own
# settings and version 5.30) is updated with `/AUTO /SILENT`, and the run is
# killed at one of five moments:
#   during the backup, once the old files have been moved aside, in the
#   middle of the extraction, after the uninstall record and the registry
#   entry were written, while the configuration is saved.
# Then the installer starts again: it first undoes the killed run (its log
# says so), then installs the new version completely (exit 0), keeping the
# player's own settings. The same kill followed by the uninstaller instead:
# the old installation is restored and then removed, exit 0.
#
# usage: rollback_scenarios.sh INSTALLER WINE_RUN PREFIX
set -uo pipefail

installer=$1 wine_run=$2 base=$3
template=$base-template
prefix=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120

scenario_cleanup() {
  stop_prefix
  prefix=
  rm -rf "$base"-* "$template"
}
scenario_start rollback

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
journal='C:\ProgramData\Mivo Setup\Journal.txt'

setup() { run_batch setup "\"$(winpath "$installer")\" $1"; }
expect() {  # expect NAME CODE ARGUMENTS
  local name=$1 want=$2
  setup "$3"
  [ "$code" = "$want" ] || fail "$name: exit code $code, expected $want"
}
log_has() {  # log_has NAME FILE TEXT...
  local name=$1 file=$2 text
  shift 2
  for text in "$@"; do
    grep -aqF -- "$text" "$file" 2>/dev/null || fail "$name: the log lacks '$text'"
  done
}
ini_value() {  # ini_value FILE KEY: the value as the player's file holds it
  tr -d '\0\r' <"$1" | sed -n "s/^$2=//p" | head -n1
}

# ---- the template: the demo installed, then made an older version ---------
rm -rf "$base"-* "$template"
prefix=$template
start_server
expect 'first installation' 0 '/AUTO=C:\Mivo\ /SILENT'
dest=$(host 'C:\Mivo')
[ -f "$dest/Mivo.exe" ] || { echo "not installed" >&2; exit 1; }
mkdir -p "$work/new"
cp -a "$dest/." "$work/new/"
# What an older version had: other texts, another skin, a configuration of
# version 5.30 that holds the player's own settings.
for f in "$dest"/Readme.txt "$dest"/Skins/*.ini; do printf 'older %s' "${f##*/}" >"$f"; done
python3 - "$dest/Mivo.ini" <<'EOF'
import sys
path = sys.argv[1]
raw = open(path, 'rb').read()
text = raw.decode('utf-16') if raw[:2] in (b'\xff\xfe', b'\xfe\xff') else raw.decode('utf-8-sig')
lines = [l for l in text.splitlines() if not l.startswith('Version=')]
out = []
for l in lines:
    out.append(l)
    if l.strip() == '[System]':
        out.append('Version=5300')
out += ['[Player]', 'Volume=42']
open(path, 'w', encoding='utf-16', newline='\r\n').write('\r\n'.join(out) + '\r\n')
EOF
stop_prefix

# The installation as files (bytes), the registry entry and the journal.
installation() {
  (cd "$dest" && find . -path ./\!Backup -prune -o -type f -print0 | LC_ALL=C sort -z |
    xargs -0 md5sum)
  run reg query "$key" 2>&1 | tr -d '\r'
}

# killed CASE LOG_LINE: a copy of the template, its update killed when the
# log shows the line; says whether a journal was left.
killed() {
  local case=$1 line=$2 log
  stop_prefix
  prefix=$base-$case
  rm -rf "$prefix" "$prefix".*
  cp -a "$template" "$prefix"
  dest=$(host 'C:\Mivo')
  start_server
  old=$(installation)
  log=$(host 'C:\killed.log')
  setup '/AUTO=C:\Mivo\ /SILENT /SUPPRESSMSGBOXES /LOG=C:\killed.log' >/dev/null 2>&1 &
  local runner=$!
  while kill -0 "$runner" 2>/dev/null && ! grep -aqF -- "$line" "$log" 2>/dev/null; do :; done
  kill_installer
  wait "$runner" 2>/dev/null
  left=0
  [ -f "$(host "$journal")" ] && left=1
  echo "case $case: killed after '$(tail -n1 "$log" 2>/dev/null | tr -d '\r')'; journal left: $left"
}

points=(
  'Status: Backing up the previous installation...'
  'Status: Copying files...'
  'Written: C:\Mivo\Skins\'
  'Registry entry written'
  'Status: Saving the configuration...'
)
undone=0
for i in "${!points[@]}"; do
  # ---- then the installer again ----
  killed "update-$i" "${points[$i]}"
  after=$(host 'C:\after.log')
  expect "update-$i: the next run" 0 '/AUTO=C:\Mivo\ /SILENT /LOG=C:\after.log'
  if [ "$left" = 1 ]; then
    undone=$((undone + 1))
    # Undone, or (killed after its end, while it cleaned up) only cleaned up.
    log_has "update-$i" "$after" 'An earlier run'
  fi
  for f in Mivo.exe Readme.txt Skins/Light.ini Skins/Dark.ini Uninstall.exe; do
    cmp -s "$dest/$f" "$work/new/$f" || fail "update-$i: $f is not the new version's"
  done
  [ "$(ini_value "$dest/Mivo.ini" Volume)" = 42 ] || fail "update-$i: the player's settings are gone"
  [ -e "$(host 'C:\ProgramData\Mivo Setup')" ] && fail "update-$i: the journal's folder is left"

  # ---- or the uninstaller ----
  killed "remove-$i" "${points[$i]}"
  setup_log=$(host 'C:\remove.log')
  run_batch remove "\"$(winpath "$dest")\\Uninstall.exe\" /AUTO /SILENT /LOG=C:\\remove.log"
  [ "$code" = 0 ] ||
    fail "remove-$i: the uninstaller exited with $code: $(tr -d '\r' <"$setup_log" 2>&1 | tail -n 15)"
  [ -e "$dest/Mivo.exe" ] && fail "remove-$i: Mivo.exe is left"
  run reg query "$key" >/dev/null 2>&1 && fail "remove-$i: the registry entry is left"
  [ -f "$(host "$journal")" ] && fail "remove-$i: the journal is left"
done
echo "killed runs that left a journal: $undone of ${#points[@]}"
[ "$undone" -ge 2 ] || fail "only $undone killed updates left something to undo"

scenario_end rollback
