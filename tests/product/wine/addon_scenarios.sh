#!/usr/bin/env bash
# The add-on installer cannot be swapped, under Wine, in a fresh prefix:
# while a standard user's watcher (addon_swapper.exe) looks without pause
# for "MivoToolsSetup.exe" in the temporary folder and in every folder
# directly in it, and tries to overwrite or rename it the moment the
# installer lets go of it, the installation is made through the wizard in
# Russian (the add-ons are offered only in an interactive run in Russian)
# by keys alone, with the three add-ons ticked:
#   - the program started with the add-on switches is the installer's own
#     copy (the stand-in records its path and its bytes), from a folder
#     "MivoAddons-" + 16 hexadecimal digits directly in the temporary folder;
#   - the watcher found that file, and from before the add-on installer
#     started until after it had run every attempt to replace or rename it
#     was refused; the watcher's own program was never started;
#   - the folder is gone after the run, and no other folder of that name is
#     left in the temporary folder (the watcher is stopped once the add-on
#     installer has run: see below).
# On Windows the folder's access list (administrators and the system may
# change it, users only read it) is what keeps a standard user out. Wine
# runs every program as the one user and enforces no access lists of files
# (without extended attributes it keeps none either, and reports one made
# from the Unix permissions), so here the watcher may write wherever it
# likes. What Wine does show: the file is held while it is started, so that
# it cannot be replaced; a file changed before it was held is written anew
# (the watcher may get in between the writing and the holding here: the
# script reports how often); the folder is private by its name. The access
# list read back for the folder is printed, and checked where Wine kept the
# one the installer asked for.
#
# With SHOTS=DIR set, pictures of the add-ons and finish pages are saved.
# KEEP_PREFIX=1 keeps the prefix for a look afterwards.
#
# usage: addon_scenarios.sh INSTALLER SWAPPER PROBE ADDON_SETUP WINE_RUN PREFIX
#   ADDON_SETUP: the demo's MivoToolsSetup.exe, as packed into the installer
set -uo pipefail

installer=$1 swapper=$2 probe=$3 addon_setup=$4 wine_run=$5 prefix=$6
export WINEPREFIX=$prefix
shots=${SHOTS:-}
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120
watcher=
scenario_cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  stop_prefix
  [ "${KEEP_PREFIX:-0}" = 1 ] || rm -rf "$prefix"
}
scenario_start addons
source "$(dirname "$0")/../../ui_win32/wine/wizard-lib.sh"

# A fresh prefix.
stop_prefix
rm -rf "$prefix"
run cmd /c exit >/dev/null 2>&1
use_display
temp=$(run cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r' | tail -n 1)
temp_host=$(WINEPREFIX=$prefix winepath -u "$temp" 2>/dev/null | tr -d '\r')
[ -n "$temp" ] && [ -d "$temp_host" ] || { echo "no temporary folder in the prefix" >&2; exit 1; }

# The programs started by the installer record themselves here.
logs=$work/logs
mkdir -p "$logs"
MIVO_COMPANION_LOG_DIR=$(winpath "$logs")
export MIVO_COMPANION_LOG_DIR

# The watcher, started as the user before the installer.
watch_log=$(host 'C:\swapper.log')
"$wine_run" --prefix "$prefix" "$swapper" watch MivoToolsSetup.exe 'C:\swapper-ready' \
  'C:\swapper-stop' 'C:\swapper.log' >/dev/null 2>&1 &
watcher=$!
for _ in $(seq 1 300); do
  [ -f "$(host 'C:\swapper-ready')" ] && break
  kill -0 "$watcher" 2>/dev/null || break
  sleep 0.2
done
[ -f "$(host 'C:\swapper-ready')" ] || { echo "the watcher did not start" >&2; exit 1; }

# The installation in Russian (the last language of the list), by keys.
W='^Установка Mivo$'
start '/LOG=C:\setup.log'
choose_language End
if wait_page PageWelcome; then
  key "$W" Return
fi
if wait_page PageLicense; then
  # From the viewer to the box, ticked with Space.
  key "$W" Tab space
  sleep 1
  listing=$(probe)
  has 'Button|Я принимаю условия соглашения|1|1|1' "license: Space ticks the box"
  key "$W" Return
fi
if wait_page PageSetup; then
  key "$W" Return
fi
if wait_page PageAddons; then
  [ "$(grep -c '^Button|.*|1|1|1$' <<<"$listing")" = 3 ] ||
    fail "add-ons: not all three ticked in"$'\n'"$listing"
  shot addons
  key "$W" Return
fi
if wait_page PageIntegration; then
  key "$W" Return
fi
if wait_page PageReadyToInstall; then
  # The focus is in the summary: Ctrl+Enter presses Install.
  key "$W" ctrl+Return
fi
# The add-on installer is started early in the run, without waiting for
# it: its record, or the watcher's program's, within 60 s. Then the watcher
# stops: nothing starts the file any more. (Under Wine, which enforces no
# access lists, a watcher still at work could keep the installer from
# removing the folder at the end; on Windows it could not write there.)
for _ in $(seq 1 120); do
  [ -f "$logs/MivoToolsSetup.program.log" ] || [ -f "$logs/Swapper.started.log" ] && break
  sleep 0.5
done
touch "$(host 'C:\swapper-stop')"
for _ in $(seq 1 60); do kill -0 "$watcher" 2>/dev/null || break; sleep 0.5; done
kill -0 "$watcher" 2>/dev/null && fail "the watcher did not end"
watcher=
if wait_page PageFinish; then
  # The player and the release notes are not started.
  key "$W" space Tab space
  sleep 1
  shot finish
  key "$W" Return
fi
# (Not wizard-lib's finish: it waits for every program of the prefix, the
# watcher too.)
for _ in $(seq 1 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$pid" 2>/dev/null; then
  fail "the installer did not end"
else
  code=0
  wait "$pid" || code=$?
  [ "$code" = 0 ] || fail "the installation ended with $code"
fi
pid=

echo "watcher's log:"
tr -d '\r' <"$watch_log" 2>/dev/null | uniq -c |
  awk '{ n = $1; sub(/^ *[0-9]+ /, ""); print "  " $0 (n > 1 ? "  (" n " times)" : "") }'

# What was started with the add-on switches.
if [ -f "$logs/Swapper.started.log" ]; then
  fail "the watcher's program was started: $(tr -d '\r' <"$logs/Swapper.started.log")"
fi
started=$(tr -d '\r' <"$logs/MivoToolsSetup.log" 2>/dev/null)
[ "$(wc -l <<<"$started")" = 1 ] && grep -q ' /LANG=RU /VIEWER /DESKTOPICONS /FROM=MIVO$' <<<"$started" ||
  fail "the add-on installer was not started once with the add-ons' switches:"$'\n'"$started"
program=$(tr -d '\r' <"$logs/MivoToolsSetup.program.log" 2>/dev/null)
watched=$(tr -d '\r' <"$watch_log" 2>/dev/null)
if [ -n "$program" ]; then
  echo "started: $program"
  temp_pattern=$(sed 's/[][\.*^$]/\\&/g' <<<"${temp%\\}")
  grep -qiE "^$temp_pattern\\\\MivoAddons-[0-9A-F]{16}\\\\MivoToolsSetup\\.exe$" <<<"$program" ||
    fail "the add-on installer ran from '$program', not from a MivoAddons folder in $temp"
  cmp -s "$logs/MivoToolsSetup.program.exe" "$addon_setup" ||
    fail "the program started is not the installer's own copy of the add-on installer"
else
  fail "the installer's own copy of the add-on installer was not started"
  # The checks below look at the file the watcher found.
  program=$(sed -n 's/^found //p' <<<"$watched" | head -n 1)
fi

# The watcher saw that very file, and all its attempts on it were refused
# from before the add-on installer started until after it had run: the file
# was held. (Wine enforces no access lists: in the moment between the
# file's writing and its holding the watcher may get in, and the installer
# then writes the file anew; on Windows the folder's access list refuses
# those attempts too.)
grep -qixF "found $program" <<<"$watched" || fail "the watcher never saw the add-on installer"
grep -iF "refused $program " <<<"$watched" | grep -qE ' [0-9]+ [0-9]+ across-start$' ||
  fail "the add-on installer was not held while it was started"
taken=$(grep -ciE '^(replaced|renamed) ' <<<"$watched")
echo "replacements made while the file was not held (undone by the installer): $taken"
# The access list read back. The installer asks for the Administrators
# group as the folder's owner and for the right to change it for the
# administrators (BA) and the system (SY) only. Where the owner read back is
# the Administrators group, the list was kept and is checked; Wine without
# extended attributes reports a list of its own, made from the Unix
# permissions, which is only shown.
security=$(grep -iF "security ${program%\\*} " <<<"$watched" | head -n 1)
sddl=${security##* }
# The access mask of an entry's rights ("0x1200a9" or letters such as "FA").
declare -A right_bits=([GA]=0x10000000 [GW]=0x40000000 [GR]=0x80000000 [GX]=0x20000000
  [FA]=0x1f01ff [FW]=0x120116 [FR]=0x120089 [FX]=0x1200a0 [SD]=0x10000 [RC]=0x20000
  [WD]=0x40000 [WO]=0x80000 [CC]=0x1 [DC]=0x2 [LC]=0x4 [SW]=0x8 [RP]=0x10 [WP]=0x20
  [DT]=0x40 [LO]=0x80 [CR]=0x100)
mask_of() {
  local rights=$1 mask=0
  case $rights in 0x*) echo $((rights)); return ;; esac
  while [ -n "$rights" ]; do
    mask=$((mask | ${right_bits[${rights:0:2}]:-0}))
    rights=${rights:2}
  done
  echo "$mask"
}
# The rights that change a folder or what is in it: add a file or a
# folder, write extended attributes or attributes, delete a child or the
# folder, change the access list or the owner, generic write, all.
write_rights=$((0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000))
case $sddl in
  O:BAD:*)
    writers=
    while read -r ace; do
      trustee=${ace##*;}
      trustee=${trustee%)}
      case $trustee in BA | SY) continue ;; esac
      (($(mask_of "$(cut -d';' -f3 <<<"$ace")") & write_rights)) && writers+="$trustee "
    done < <(sed 's/)(/)\n(/g; s/^.*D:[A-Z]*//' <<<"$sddl" | grep '^(A;')
    [ -z "$writers" ] || fail "others may change the add-on installer's folder ($writers): $sddl"
    ;;
  *) echo "the folder's access list as Wine reports it (not the one asked for): $sddl" ;;
esac

# The folder is gone after the run, and no other of its kind is left.
left=$(find "$temp_host" -maxdepth 1 -iname 'MivoAddons-*' -printf '%f: ' -exec ls -A {} \; 2>/dev/null)
[ -z "$left" ] || fail "add-on installer folders left in the temporary folder:"$'\n'"$left"

scenario_end addons
