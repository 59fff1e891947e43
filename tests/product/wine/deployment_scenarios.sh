#!/usr/bin/env bash
# Unattended deployment of the demo product under Wine, as administrators
# script it. Two copies of one template prefix, each with one Wine server
# that stays up between the runs; the cases of a copy follow each other, so
# each checks only what its own run changed: the exit code, what was written
# (and what not), the registry entry and the log.
#   Copy "dest" (no installation to begin with):
#   - damaged packages, destinations written in impossible ways: exit code 1,
#     nothing written, no registry entry;
#   - with /SUPPRESSMSGBOXES nothing waits for a person: a destination that
#     cannot be created, a full disk;
#   - destinations written in unusual ways install into exactly the folder
#     that the registry entry and the record name, and nothing is written
#     outside it but the log and the script's shortcuts;
#   - the installer runs from a read-only folder and writes nothing there;
#   - /LOG, the quoted switch form, an old unquoted uninstall command.
#   Copy "held" (one installation in C:\Held\, files of it held open):
#   - a file held open without sharing, a file in use that cannot be
#     renamed: the run ends by itself with a failure;
#   - a file in use that may be renamed is replaced at once, and a ".bak"
#     left by an earlier run goes with the old files;
#   - a question on a machine without a display fails the run by itself;
#   - a run killed while it writes leaves a readable Uninstall.dat.
#
# usage: deployment_scenarios.sh INSTALLER HOLDER IPK WINE_RUN PREFIX
set -uo pipefail

installer=$1 holder=$2 ipk=$3 wine_run=$4 base=$5
template=$base-template
prefix=
holder_pid=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120

restart_prefix() { stop_prefix; start_server; }
scenario_cleanup() {
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  stop_prefix
  prefix=
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$base"-* "$template"
}
scenario_start deploy

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
registry_value() {
  run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $1    REG_[A-Z_]*    //p"
}

# use_prefix NAME: a new copy of the template prefix.
use_prefix() {
  stop_prefix
  prefix=$base-$1
  rm -rf "$prefix" "$prefix".*
  cp -a "$template" "$prefix"
  start_server
}

# setup [PROGRAM] ARGUMENTS: runs the installer with the arguments exactly
# as written, through a batch file; the exit code is the installer's (124
# when it still waited after two minutes).
setup() {
  local program=$installer
  [ $# -gt 1 ] && { program=$1; shift; }
  run_batch setup "\"$(winpath "$program")\" $1"
}

# expect NAME CODE [PROGRAM] ARGUMENTS: runs setup and checks its exit code.
expect() {
  local name=$1 want=$2
  shift 2
  echo "case: $name"
  setup "$@"
  local code=$?
  [ "$code" = "$want" ] || fail "$name: exit code $code, expected $want"
}

# log_has NAME FILE TEXT...: each text is in the log.
log_has() {
  local name=$1 file=$2
  shift 2
  [ -f "$file" ] || { fail "$name: no log $file"; return; }
  local text
  for text in "$@"; do
    grep -qF -- "$text" "$file" || fail "$name: the log lacks '$text':"$'\n'"$(cat "$file")"
  done
}

# The record's entries, one a line.
record() {
  "$ipk" cat "$1" Uninstall.ini 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed '1s/^\xEF\xBB\xBF//' | sed -n '/^\[Uninstall\]/,$p'
}

# Every file and folder of drive C:, one a line.
drive_c() { (cd "$prefix/drive_c" && find . | sort); }

# ---- the template prefix --------------------------------------------------
rm -rf "$base"-* "$template"
prefix=$template
run reg query 'HKLM\Software' >/dev/null 2>&1 || true
stop_prefix
[ -f "$template/system.reg" ] || { echo "no template prefix" >&2; exit 1; }

quiet='/SILENT /SUPPRESSMSGBOXES /LOG=C:\setup.log'
setup_log=

# =========================== copy "dest" ===================================
use_prefix dest
setup_log=$(host 'C:\setup.log')

# refused NAME CODE [PROGRAM] ARGUMENTS: the run fails with the code and
# writes nothing but its log; the registry entry stays as it was.
refused() {
  local name=$1
  local entry before after
  entry=$(registry_value InstallPath)
  before=$(drive_c | grep -v '^\./setup\.log$')
  rm -f "$setup_log"
  expect "$@"
  after=$(drive_c | grep -v '^\./setup\.log$')
  [ "$before" = "$after" ] ||
    fail "$name: files were written:"$'\n'"$(comm -13 <(echo "$before") <(echo "$after"))"
  [ "$(registry_value InstallPath)" = "$entry" ] || fail "$name: the registry entry changed"
}

# ---- damaged packages, impossible destinations: refused -------------------
cp "$installer" "$work/Damaged.exe"
offset=$(grep -obUa 'IPK5' "$work/Damaged.exe" | tail -1 | cut -d: -f1)
printf '\x5a\x5a\x5a\x5a' | dd of="$work/Damaged.exe" bs=1 seek=$((offset + 200)) conv=notrunc 2>/dev/null
refused 'damaged packages' 1 "$work/Damaged.exe" "/AUTO=C:\\Damaged\\ $quiet"
log_has 'damaged packages' "$setup_log" 'Package was corrupted' 'Exit code: 1'

while read -r given; do
  refused "destination $given" 1 "$given $quiet"
  log_has "destination $given" "$setup_log" 'cannot be used' 'Exit code: 1'
done <<'EOF'
"/AUTO=C:\Trail. \"
/AUTO=C:\Bad?Name\
/AUTO=C:\A:B\
/AUTO="C:\Quote\"x
/AUTO=C:\NUL\Mivo
/AUTO=\\?\C:\Mivo\
/AUTO=\\.\C:\Mivo\
EOF

# ---- /SUPPRESSMSGBOXES: failures end the run by themselves ----------------
printf 'a file' >"$(host 'C:\Blocked')"
expect 'destination cannot be created' 4 "/AUTO=C:\\Blocked\\Mivo\\ $quiet"
log_has 'destination cannot be created' "$setup_log" 'C:\Blocked\Mivo\' 'Exit code: 4'

mkdir -p "$(host 'C:\Full')"
ln -s /dev/full "$(host 'C:\Full\Mivo.exe')"
# An installation's folder (its record), whose old files /NOBACKUP leaves.
: >"$(host 'C:\Full\Uninstall.dat')"
# Held by a program that lets others write it but not delete it, so that
# the preparation leaves it in place for the extraction to write.
hold --share=write 'C:\Full\Mivo.exe'
# Without a backup: the file behind the name is the device, which the
# backup (reading only files that lie in the folder) would refuse first.
# The run is undone: nothing of it is left on the drive or in the registry.
entry=$(registry_value InstallPath)
before=$(drive_c | grep -v -x -e './setup.log' -e './holder-release')
expect 'disk full' 4 "/AUTO=C:\\Full\\ /NOBACKUP $quiet"
release
after=$(drive_c | grep -v -x -e './setup.log' -e './holder-release')
[ "$after" = "$before" ] ||
  fail "disk full: left behind:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
[ "$(registry_value InstallPath)" = "$entry" ] || fail 'disk full: the registry entry changed'
log_has 'disk full' "$setup_log" 'C:\Full\Mivo.exe' 'Exit code: 4'
# The system's reason (Wine: "Disk full.", Windows: "There is not enough
# space on the disk."), on a line of its own after the file.
grep -A1 -F 'Error: C:\Full\Mivo.exe' "$setup_log" | tail -n1 | tr -d '\r' |
  grep -qE '  (Disk full|There is not enough space on the disk)\.$' ||
  fail "disk full: no reason named: $(cat "$setup_log")"

# ---- destinations: exactly the one folder ---------------------------------
# What the script's shortcuts create; nothing else may appear outside the
# installation.
shortcuts='./users/Public/Desktop/Mivo.lnk
./ProgramData/Microsoft/Windows/Start Menu/Programs/Mivo
./ProgramData/Microsoft/Windows/Start Menu/Programs/Mivo/Mivo.lnk
./ProgramData/Microsoft/Windows/Start Menu/Programs/Mivo/Uninstall Mivo.lnk'
# given|folder installed into
while IFS='|' read -r given folder; do
  before=$(drive_c)
  expect "destination $given" 0 "$given $quiet"
  dir=$(host "$folder")
  [ -f "$dir/Mivo.exe" ] || fail "destination $given: no Mivo.exe in $folder"
  [ "$(registry_value InstallPath)" = "$folder" ] ||
    fail "destination $given: InstallPath is '$(registry_value InstallPath)'"
  [ "$(registry_value UninstallString)" = "\"${folder}Uninstall.exe\"" ] ||
    fail "destination $given: UninstallString is '$(registry_value UninstallString)'"
  record "$dir/Uninstall.dat" | grep -q '^0=Mivo.exe$' ||
    fail "destination $given: the record names other folders:"$'\n'"$(record "$dir/Uninstall.dat")"
  # New since the run: the folder, what is in it, the folders above it, the
  # log and the shortcuts; nothing else.
  inside=./$(printf '%s' "${folder#C:\\}" | tr '\\' '/' | sed 's|/$||')
  outside=$(comm -13 <(echo "$before") <(drive_c) | grep -vxF -e ./setup.log -e "$shortcuts" |
    while read -r p; do
      case "$inside/" in "$p/"*) continue ;; esac
      case "$p" in "$inside" | "$inside/"*) ;; *) echo "$p" ;; esac
    done)
  [ -z "$outside" ] || fail "destination $given: written outside $folder:"$'\n'"$outside"
done <<'EOF'
/AUTO=C:\Up\A\..|C:\Up\
"/AUTO=C:/Program Files/Mivo"|C:\Program Files\Mivo\
"/AUTO=C:\Dollar\$TEMP $NAME\"|C:\Dollar\$TEMP $NAME\
EOF
[ -e "$(host 'C:\Up\A')" ] && fail 'destination C:\Up\A\..: C:\Up\A was created'

# ---- from a read-only folder ----------------------------------------------
mkdir -p "$work/cdrom"
cp "$installer" "$work/cdrom/MivoSetup.exe"
chmod 555 "$work/cdrom"
expect 'read-only folder' 0 "$work/cdrom/MivoSetup.exe" '/AUTO=C:\FromCd\ /SILENT /SUPPRESSMSGBOXES'
[ -f "$(host 'C:\FromCd\Mivo.exe')" ] || fail 'read-only folder: not installed'
[ "$(ls "$work/cdrom")" = MivoSetup.exe ] || fail "read-only folder: written to: $(ls "$work/cdrom")"
chmod 755 "$work/cdrom"

# ---- the log, the quoted switch form, an old unquoted entry ---------------
expect 'quoted switch' 0 '"/AUTO=C:\Some Folder\" /SILENT "/LOG=C:\My Logs.log"'
[ -f "$(host 'C:\Some Folder\Mivo.exe')" ] || fail 'quoted switch: not installed into C:\Some Folder\'
log_has 'log' "$(host 'C:\My Logs.log')" 'Command line: ' 'Product: Mivo 5.50' \
  'Run: install; options: Auto Silent' 'Destination: C:\Some Folder\' 'Status: ' \
  'Written: C:\Some Folder\Mivo.exe' 'Written: C:\Some Folder\Uninstall.dat' \
  'Registry entry written' 'Exit code: 0'
expect 'log of a failed run' 1 '/AUTO=C:\Bad?\ /SILENT /SUPPRESSMSGBOXES /LOG'
logs=$(find "$prefix/drive_c/users" -name 'MivoSetup *.log' 2>/dev/null)
[ "$(wc -l <<<"$logs")" = 1 ] && [ -n "$logs" ] || fail "log of a failed run: not one log: $logs"
[ -n "$logs" ] && log_has 'log of a failed run' "$logs" 'cannot be used' 'Exit code: 1'

# An entry as older versions wrote it: only the command, unquoted, though
# the folder has a space in it. A run without a folder finds it.
run reg delete "$key" /f >/dev/null 2>&1
run reg add "$key" /v UninstallString /t REG_SZ /d 'C:\Some Folder\Uninstall.exe' /f >/dev/null 2>&1
expect 'old unquoted entry' 0 '/AUTO /SILENT /SUPPRESSMSGBOXES'
[ "$(registry_value InstallPath)" = 'C:\Some Folder\' ] ||
  fail "old unquoted entry: installed elsewhere: '$(registry_value InstallPath)'"

# =========================== copy "held" ===================================
use_prefix held
setup_log=$(host 'C:\setup.log')
readme=$(host 'C:\Held\Readme.txt')
expect 'first installation' 0 '/AUTO=C:\Held\ /SILENT'

printf 'an older readme' >"$readme"
hold --share=none 'C:\Held\Readme.txt'
expect 'held without sharing' 4 "/AUTO=C:\\Held\\ $quiet"
release
log_has 'held without sharing' "$setup_log" 'C:\Held\Readme.txt' 'Error (no box shown)'

# Others may read the file, not rename it: it stays, and the question comes.
# The failed run is undone: every file of the installation (byte for byte,
# the configuration and the uninstall record among them), the entry in the
# list of programs and the shortcuts are as they were, and nothing of the
# run is left.
printf 'an older copy' >"$readme.bak"
installation() {
  (cd "$(host 'C:\Held')" && find . -type f -exec md5sum {} + | LC_ALL=C sort)
  for f in 'C:\users\Public\Desktop\Mivo.lnk' \
           'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Mivo\Mivo.lnk'; do
    md5sum "$(host "$f")" 2>&1
  done
  run reg query "$key" 2>&1 | tr -d '\r'
}
before=$(installation)
hold --share=read 'C:\Held\Readme.txt' 'C:\Held\Readme.txt.bak'
expect 'question suppressed' 4 "/AUTO=C:\\Held\\ $quiet"
release
log_has 'question suppressed' "$setup_log" 'Question not shown, answered 3' \
  'C:\Held\Readme.txt' 'Status: Restoring the previous installation...' \
  'Restored: C:\Held\Mivo.exe' 'Exit code: 4'
[ "$(cat "$readme")" = 'an older readme' ] || fail 'question suppressed: Readme.txt was changed'
after=$(installation)
[ "$after" = "$before" ] ||
  fail "question suppressed: not restored:"$'\n'"$(diff <(echo "$before") <(echo "$after"))"
[ -e "$(host 'C:\ProgramData\Mivo Setup')" ] &&
  fail "question suppressed: left: $(ls -R "$(host 'C:\ProgramData\Mivo Setup')")"

# A file in use that may be renamed and deleted (as a running player holds
# its files), with a ".bak" of an earlier update: the preparation archives
# both and deletes them; the file in use is renamed aside at once, so the
# new one is written while the old one is still held, and the renamed one
# goes when its holder lets go.
printf 'left by an earlier update' >"$readme.bak"
hold 'C:\Held\Readme.txt'
expect 'stale bak' 0 "/AUTO=C:\\Held\\ $quiet"
[ "$(cat "$readme")" != 'an older readme' ] || fail 'stale bak: Readme.txt not written anew'
release
[ -e "$readme.bak" ] && fail 'stale bak: the .bak of an earlier update is still there'
left=$(cd "$(host 'C:\Held')" && ls -A | grep '^~del')
[ -z "$left" ] || fail "stale bak: the file in use was left behind as $left"
log_has 'stale bak' "$setup_log" 'Exit code: 0'

# No display at all, and no /SUPPRESSMSGBOXES: the question cannot be
# shown, which fails the run instead of skipping the file. (Every program
# of the prefix then runs without a display.)
run_env=(MIVO_WINE_DISPLAY=none)
restart_prefix
printf 'an older readme' >"$readme"
printf 'an older copy' >"$readme.bak"
hold --share=read 'C:\Held\Readme.txt' 'C:\Held\Readme.txt.bak'
expect 'no display' 4 '/AUTO=C:\Held\ /SILENT /LOG=C:\no-display.log'
release
log_has 'no display' "$(host 'C:\no-display.log')" 'C:\Held\Readme.txt' 'Exit code: 4'
echo "no display: $(grep -a -m1 -E 'Answer: |Question not shown' "$(host 'C:\no-display.log')" | tr -d '\r')"
[ "$(cat "$readme")" = 'an older readme' ] || fail 'no display: Readme.txt was changed'
run_env=()
restart_prefix

# The failed runs above archived and deleted the old files before they
# stopped; a run that succeeds puts the installation back.
expect 'installed again' 0 '/AUTO=C:\Held\ /SILENT'

# ---- the record and the configuration survive a killed run ---------------
# Both are written beside the old file, which is replaced only when the new
# one is complete: the old file's data, kept under a second name (a hard
# link), must still be what it was after a run, whatever moment a kill would
# have hit.
kept() { host "C:\\kept-$1"; }
for name in Uninstall.dat Mivo.ini; do
  ln -f "$(host "C:\\Held\\$name")" "$(kept "$name")"
  cp "$(kept "$name")" "$work/before-$name"
done
expect 'replaced, not rewritten' 0 '/AUTO=C:\Held\ /SILENT'
for name in Uninstall.dat Mivo.ini; do
  cmp -s "$(kept "$name")" "$work/before-$name" || fail "$name was rewritten in place"
  [ "$(kept "$name")" -ef "$(host "C:\\Held\\$name")" ] && fail "$name was not replaced"
done
record "$(host 'C:\Held\Uninstall.dat')" | grep -q '^0=Mivo.exe$' || fail 'the new record is unreadable'

# And a run killed while it writes the record leaves a readable one.
echo "case: killed"
log=$(host 'C:\killed.log')
setup '/AUTO=C:\Held\ /SILENT /SUPPRESSMSGBOXES /LOG=C:\killed.log' >/dev/null 2>&1 &
runner=$!
while kill -0 "$runner" 2>/dev/null && ! grep -qF 'Written: C:\Held\Uninstall.exe' "$log" 2>/dev/null; do
  :
done
kill_installer
wait "$runner" 2>/dev/null
echo "  killed after: $(tail -n1 "$log" | tr -d '\r')"
record "$(host 'C:\Held\Uninstall.dat')" | grep -q '^0=Mivo.exe$' || fail 'killed: Uninstall.dat unreadable'
[ "$(registry_value InstallPath)" = 'C:\Held\' ] || fail 'killed: the registry entry is gone'

scenario_end deployment
