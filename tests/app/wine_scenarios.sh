#!/usr/bin/env bash
# Runs a real installer executable (the test product with the core tests'
# packages) under Wine through its start-up scenarios:
#   1. /AUTO /SILENT runs the actions on the worker thread and exits with 0;
#   2. a failing run shows the one "Setup" box with the joined messages, which
#      is answered with the keyboard like a user would, and exits with 4;
#   3. Uninstall.exe outside the temporary folder copies itself and its .dat
#      into a private folder there, restarts from there with
#      /PATH="<folder>\" and its arguments, and ends when the copy has done
#      the uninstallation, with its code.
# Needs xdotool; the box is looked for on the prefix's own display.
#
# usage: wine_scenarios.sh INSTALLER READ_BOX UNINSTALL_DAT WINE_RUN PREFIX
set -uo pipefail

installer=$1 read_box=$2 uninstall_dat=$3 wine_run=$4 prefix=$5
export WINEPREFIX=$prefix
source "$(dirname "$0")/../wine/scenario-lib.sh"
# The prefix is the one the test programs run in, at the same time.
keep_prefix=1
scenario_cleanup() { timeout 60 wineserver -w 2>/dev/null; }
use_display
scenario_start app

# A text file the test product wrote (UTF-8 with a byte-order mark, CR LF).
text_of() { sed '1s/^\xEF\xBB\xBF//' "$1" 2>/dev/null | tr -d '\r'; }

# The first run may create the prefix; do it before anything is timed.
run "$read_box" >/dev/null 2>&1

# 1. A silent installation.
cp "$installer" "$work/Setup.exe"
mkdir -p "$work/dest"
run "$work/Setup.exe" /AUTO="$(winpath "$work/dest")\\" /SILENT
code=$?
[ "$code" = 0 ] || fail "silent run exited with $code"
[ "$(text_of "$work/dest/worker.txt")" = main=0 ] || fail "the action did not run on the worker thread"
[ -f "$work/dest/Payload.txt" ] || fail "the component was not extracted"

# 2. A failing silent installation: the box, answered with Enter.
mkdir -p "$work/fail"
touch "$work/fail/fail2.txt"
start_shown "$work/Setup.exe" /AUTO="$(winpath "$work/fail")\\" /SILENT
find_window "$pid" '^Setup$'
if [ -z "$window" ]; then
  fail "no \"Setup\" box appeared"
else
  text=$(run "$read_box" | tr -d '\r')
  expected=$(printf 'First problem\nAction failed in %s\\' "$(winpath "$work/fail")")
  [ "$text" = "$expected" ] || fail "box text: '$text', expected '$expected'"
  press_return "$window" '^Setup$'
fi
if ! wait_end "$pid"; then
  fail "the failed run did not end after the box"
else
  [ "$code" = 4 ] || fail "failed run exited with $code, expected 4"
fi
[ -f "$work/fail/Payload.txt" ] && fail "actions after the failure ran"

# 3. The uninstaller relaunches from a private folder in the temporary
#    folder, waits for the copy and ends with its code; the copy's folder
#    goes with it.
mkdir -p "$work/app"
cp "$installer" "$work/app/Uninstall.exe"
cp "$uninstall_dat" "$work/app/Uninstall.dat"
run "$work/app/Uninstall.exe" /AUTO /SILENT
code=$?
[ "$code" = 0 ] || fail "uninstaller exited with $code"
if [ ! -f "$work/app/uninstalled.txt" ]; then
  fail "the copy had not uninstalled when the uninstaller ended"
else
  record=$(text_of "$work/app/uninstalled.txt")
  program=$(sed -n 's/^program=//p' <<<"$record")
  dest=$(sed -n 's/^dest=//p' <<<"$record")
  [ "$dest" = "$(winpath "$work/app")\\" ] || fail "uninstalled '$dest'"
  shopt -s nocasematch
  [[ "$program" == *'\Temp\MivoUninstall-'*'\Uninstall.exe' ]] ||
    fail "the uninstallation ran from '$program'"
  shopt -u nocasematch
  temp_dir=$(WINEPREFIX=$prefix winepath -u "${program%\\*}" 2>/dev/null)
  [ -n "$temp_dir" ] && [ -e "$temp_dir" ] && fail "the copy's folder is left: $temp_dir"
fi
[ -e "$work/app/dump.xml" ] && fail "the uninstaller left dump.xml in its folder"

scenario_end installer
