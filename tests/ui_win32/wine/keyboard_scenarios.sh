#!/usr/bin/env bash
# The demo installer's wizard under Wine driven by the keyboard alone: every
# action is a key sent with xdotool, the probe only reads the window (the
# focused control, the controls' states, the question box).
#   1. Escape on the Welcome page asks the close question; Enter there takes
#      the default answer (Cancel) and the focus is back on Next.
#   2. A whole installation from the language dialog to Finish: the focus
#      starts on each page's first control and Tab / Shift+Tab go through
#      the page's controls and the footer's buttons in reading order
#      (out of the license and summary viewers too); the license is accepted
#      with its access key (Alt+A), Enter in a viewer presses nothing and
#      Ctrl+Enter there presses the default button; the arrows move within
#      the installation type's radio buttons; Space and access keys tick
#      boxes; Escape after the run neither closes nor asks. Exit code 0,
#      the player installed, the declined desktop shortcut not made.
#   3. The uninstallation through its wizard by keys (exit code 0, the
#      player removed).
#   4. Escape on Welcome, then OK chosen with Shift+Tab and Enter: code 2.
# With SHOTS=DIR set, a PNG picture of every page with its focus is saved.
# WIZARD_THEME=dark|light and WIZARD_DPI as for wizard_scenarios.sh;
# WIZARD_CONTRAST=1 switches high contrast on while the Welcome page is
# shown (the walk goes on in it) and samples the pages' colours.
#
# With ACCESS (ui_probe_access.exe) given, the License, Setup, Integration
# and uninstall pages are also read through the accessibility interfaces,
# as a screen reader reads them: each button's and text's name is its text
# as shown (without the access key's "&"), with its states (focused,
# unavailable); the destination edit is named by the label above it and
# its value is the folder. Wine's accessibility layer gives the other
# controls the role "client" and no checked state, so only names and those
# states are compared. The announcements are heard as a screen reader
# hears them: the page's caption when a page is shown, and the run's
# result as an alert on the finish pages.
#
# usage: keyboard_scenarios.sh INSTALLER PROBE WINE_RUN PREFIX [ACCESS]
set -uo pipefail

installer=$1 probe=$2 wine_run=$3 prefix=$4 access=${5:-}
export WINEPREFIX=$prefix
shots=${SHOTS:-}
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120
listener=
scenario_cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$listener" ] && kill "$listener" 2>/dev/null
}
scenario_start keyboard

source "$(dirname "$0")/wizard-lib.sh"

# The focused control ("class|text") is the expected one, within 10 s.
focus_is() {
  local now=
  for _ in $(seq 1 20); do
    now=$(probe focus)
    [ "$now" = "$1" ] && return 0
    sleep 0.5
  done
  fail "$2: the focus is on '$now', not on '$1'"
}
# A control as the accessibility interfaces report it: "|name|states|"
# (states as the probe lists them), within 10 s; nothing without ACCESS.
reads() {
  [ -n "$access" ] || return 0
  local seen=
  for _ in $(seq 1 20); do
    seen=$(run "$access" 2>/dev/null | tr -d '\r')
    grep -qF -- "$1" <<<"$seen" && return 0
    sleep 0.5
  done
  fail "$2: the accessibility interfaces do not read '$1' in"$'\n'"$seen"
}
# Every button's and text's name, as the accessibility interfaces read it,
# is a text the page shows (the wizard probe's listing "class|text|..."),
# within 10 s; nothing without ACCESS.
names_shown() {
  [ -n "$access" ] || return 0
  local seen missing cls text
  for _ in $(seq 1 20); do
    seen=$(run "$access" 2>/dev/null | tr -d '\r')
    listing=$(probe)
    missing=
    while IFS='|' read -r cls text _; do
      case $cls in Button | Static) ;; *) continue ;; esac
      [ -n "$text" ] || continue
      grep -qF -- "|$text|" <<<"$seen" || missing+="'$text' "
    done < <(tail -n +2 <<<"$listing")
    [ -z "$missing" ] && return 0
    sleep 0.5
  done
  fail "$1: shown but not read by the accessibility interfaces: $missing"$'\n'"$seen"
}
# What the wizard announces while the keys that follow act: listen starts
# the accessibility probe listening, heard waits for it to end (a second
# after the first alert, or after 90 s) and checks that each expected line
# was heard.
events=
listen() {
  [ -n "$access" ] || return 0
  events=$work/events
  rm -f "$events"
  # Straight into the file (a pipe would hold the lines back): the
  # carriage returns go when it is read.
  run "$access" events 90 >"$events" 2>/dev/null &
  listener=$!
  for _ in $(seq 1 20); do
    grep -q '^listening' "$events" 2>/dev/null && return 0
    sleep 0.5
  done
  fail "the accessibility probe does not listen"
}
heard() {
  [ -n "$access" ] || return 0
  local what=$1 line seen
  shift
  [ -n "$listener" ] || return 0
  wait "$listener"
  listener=
  seen=$(tr -d '\r' <"$events")
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$seen" || fail "$what: '$line' not announced; heard:"$'\n'"$seen"
  done
}

# The close question: its text within 10 s.
question() {
  local text=
  for _ in $(seq 1 20); do
    text=$(probe box)
    [ -n "$text" ] && break
    sleep 0.5
  done
  echo "$text"
}
# Keys to the question box (the active window).
box_keys() {
  for k in "$@"; do
    xdotool key "$k" 2>/dev/null
    sleep 0.3
  done
}

run cmd /c ver >/dev/null 2>&1
use_display
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' \
  /v AppsUseLightTheme /t REG_DWORD /d "$([ "${WIZARD_THEME:-light}" = dark ] && echo 0 || echo 1)" \
  /f >/dev/null 2>&1
run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${WIZARD_DPI:-96}" /f \
  >/dev/null 2>&1
timeout 20 wineserver -w 2>/dev/null
dest='C:\Program Files\Mivo\'
rm -rf "$(host "$dest")"
run reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo' /f >/dev/null 2>&1
desktop_links() {
  find "$prefix/drive_c" -path "$prefix/drive_c/windows" -prune -o -iname '*.lnk' -print 2>/dev/null |
    grep -i mivo | grep -i desktop
}
desktop_links | while read -r link; do rm -f "$link"; done

W='Mivo Setup'
# WIZARD_CONTRAST=1: high contrast (white on black) is switched on while the
# Welcome page is shown, and the rest of the walk runs in it.
contrast=${WIZARD_CONTRAST:-0}
hc_window=000000 hc_highlight=1AEBFF
if [ "$contrast" = 1 ]; then
  # Wine reads the system's colours once per program, so the scheme's
  # colours are set before the start; the flag follows while it runs.
  for colour in 'Window 0 0 0' 'WindowText 255 255 255' 'Hilight 26 235 255' \
    'HilightText 0 0 0' 'ButtonFace 0 0 0' 'ButtonText 255 255 255' 'GrayText 63 242 63' \
    'HotTrackingColor 255 255 0'; do
    run reg add 'HKCU\Control Panel\Colors' /v "${colour%% *}" /t REG_SZ /d "${colour#* }" /f \
      >/dev/null 2>&1
  done
  run reg add 'HKCU\Control Panel\Accessibility\HighContrast' /v Flags /t REG_SZ /d 126 /f \
    >/dev/null 2>&1
  timeout 20 wineserver -w 2>/dev/null
fi
# 1 and 2: the installation, with the close question on Welcome.
start
choose_language
if wait_page PageWelcome; then
  focus_is 'Button|Next >' "welcome"
  key "$W" Escape
  text=$(question)
  [ "$text" = 'Setup is not complete. Do you really want to quit?' ] ||
    fail "welcome: Escape asks '$text'"
  box_keys Return
  sleep 1
  [ -z "$(probe box)" ] || fail "welcome: Enter in the question did not answer it"
  wait_page PageWelcome
  focus_is 'Button|Next >' "welcome after the question"
  if [ "$contrast" = 1 ]; then
    # Switched on while the wizard is open: the page, the footer and the
    # place of the side image take the system's colours at once.
    shot k1-welcome-before
    probe contrast >/dev/null || fail "high contrast: the probe could not switch it on"
    sleep 1
    read -r back foot side < <(colours 620,400 330,470 20,200)
    [ "$back $foot $side" = "$hc_window $hc_highlight $hc_window" ] ||
      fail "high contrast on: page, footer and side are $back $foot $side"
  fi
  shot k1-welcome
  key "$W" Return
fi
if wait_page PageLicense; then
  focus_is 'RichEdit50W|' "license: the viewer first"
  reads '|License Agreement|' "license: the page's caption"
  reads '|I accept the agreement|focusable|' "license: the box"
  reads '|Next >|unavailable|' "license: Next before the tick"
  names_shown "license"
  key "$W" Tab
  focus_is 'Button|I accept the agreement' "license: Tab leaves the viewer"
  reads '|I accept the agreement|focused,focusable|' "license: the focused box"
  key "$W" shift+Tab
  focus_is 'RichEdit50W|' "license: Shift+Tab back into the viewer"
  key "$W" shift+Tab
  focus_is 'Button|I accept the agreement' "license: Shift+Tab from the viewer (Next is off)"
  key "$W" Tab
  focus_is 'RichEdit50W|' "license: Tab round to the viewer"
  key "$W" Return ctrl+Return
  sleep 1
  wait_page PageLicense
  has 'Button|Next >|1|0|' "license: Next stays off"
  key "$W" alt+a
  sleep 1
  listing=$(probe)
  has 'Button|I accept the agreement|1|1|1' "license: Alt+A ticks the box"
  has 'Button|Next >|1|1|' "license: Next after the tick"
  focus_is 'Button|I accept the agreement' "license: the access key's box has the focus"
  shot k2-license
  key "$W" Return
fi
if wait_page PageSetup; then
  focus_is 'Edit|' "setup: the destination first"
  reads '|Destination folder|focused,focusable|C:\Program Files\Mivo\' \
    "setup: the destination named by its label"
  names_shown "setup"
  key "$W" Tab
  focus_is 'Button|Browse...' "setup: the browse button"
  reads '|Installation options|' "setup: the page's caption"
  reads '|Browse...|focused,focusable|' "setup: browse"
  reads '|Standard installation|focusable|' "setup: standard"
  reads '|Portable installation|focusable|' "setup: portable"
  reads '|< Back|focusable|' "setup: Back"
  key "$W" Tab
  focus_is 'Button|Standard installation' "setup: the checked type"
  key "$W" Tab
  focus_is 'Button|< Back' "setup: Back"
  key "$W" Tab
  focus_is 'Button|Next >' "setup: Next"
  key "$W" Tab
  focus_is 'Edit|' "setup: round to the destination"
  key "$W" shift+Tab shift+Tab shift+Tab
  focus_is 'Button|Standard installation' "setup: Shift+Tab"
  key "$W" Up
  sleep 1
  listing=$(probe)
  has 'Button|Portable installation|1|1|1' "setup: Up chooses portable"
  focus_is 'Button|Portable installation' "setup: the focus goes with the arrow"
  key "$W" Down
  sleep 1
  listing=$(probe)
  has 'Button|Standard installation|1|1|1' "setup: Down chooses standard"
  has 'Edit|C:\Program Files\Mivo\|1|1|' "setup: the default destination again"
  shot k3-setup
  key "$W" Return
fi
if wait_page PageIntegration; then
  focus_is 'Button|Create a desktop shortcut' "integration: the first box"
  reads '|Integration|' "integration: the page's caption"
  names_shown "integration"
  reads '|Create a desktop shortcut|focused,focusable|' "integration: desktop"
  for box in 'Create a Start menu shortcut' 'Register Mivo with Windows' \
    'Associate Mivo with audio files' 'Add "Play with Mivo" to the Explorer context menu'; do
    reads "|$box|focusable|" "integration: $box"
  done
  key "$W" space
  key "$W" alt+m
  sleep 1
  listing=$(probe)
  has 'Button|Create a desktop shortcut|1|1|0' "integration: Space unticks"
  has 'Button|Create a Start menu shortcut|1|1|0' "integration: Alt+M unticks"
  focus_is 'Button|Create a Start menu shortcut' "integration: Alt+M"
  key "$W" m
  sleep 1
  listing=$(probe)
  has 'Button|Create a Start menu shortcut|1|1|1' "integration: M alone ticks again"
  key "$W" Tab Tab Tab Tab
  focus_is 'Button|< Back' "integration: Tab through the five boxes"
  key "$W" shift+Tab
  focus_is 'Button|Add "Play with Mivo" to the Explorer context menu' "integration: the last box"
  if [ "$contrast" = 1 ]; then
    # Page, header (no picture), footer, the unticked box's field.
    read -r back head foot <<<"$(colours 620,400 300,20 330,470)"
    [ "$back $head $foot" = "$hc_window $hc_window $hc_highlight" ] ||
      fail "high contrast: page, header and footer of a page are $back $head $foot"
  fi
  shot k4-integration
  key "$W" Return
fi
if wait_page PageReadyToInstall; then
  focus_is 'RichEdit50W|' "ready: the summary first"
  key "$W" Return
  sleep 1
  wait_page PageReadyToInstall
  key "$W" Tab
  focus_is 'Button|< Back' "ready: Tab leaves the summary"
  key "$W" shift+Tab
  focus_is 'RichEdit50W|' "ready: Shift+Tab"
  shot k5-ready
  listen
  key "$W" ctrl+Return
fi
if wait_page PageFinish; then
  focus_is 'Button|Start Mivo now' "finish: the first box"
  # (Wine raises no focus event when the focus comes from nowhere, as it
  # does here: Next lost it when it was disabled for the run.)
  heard "installation" 'name|TSetupPage|Installing' 'name|TSetupPage|Mivo has been installed' \
    'alert|Static|Mivo has been installed'
  reads '|Mivo has been installed|' "finish: the result as the page's caption"
  key "$W" space Tab space Tab
  focus_is 'Static|Visit the Mivo home page' "finish: the link"
  key "$W" Tab
  focus_is 'Button|Finish' "finish: Finish"
  listing=$(probe)
  has 'Button|Start Mivo now|1|1|0' "finish: Space unticks"
  has 'Button|Show the release notes|1|1|0' "finish: Space unticks"
  key "$W" Escape
  sleep 2
  [ -z "$(probe box)" ] || fail "finish: Escape asks a question after the run"
  wait_page PageFinish
  shot k6-finish
  key "$W" Return
fi
finish 0 "installation by keys"
[ -f "$(host "$dest")Mivo.exe" ] || fail "installation by keys: Mivo.exe not installed"
[ -z "$(desktop_links)" ] || fail "installation by keys: the declined desktop shortcut was made"

# 3. The uninstallation by keys.
uninstaller="$(host "$dest")Uninstall.exe"
if [ -f "$uninstaller" ]; then
  start_program "$uninstaller"
  choose_language
  if wait_page PageUninstallParams; then
    focus_is 'Button|Remove the backups of earlier versions' "uninstall: the first box"
    reads '|Uninstall Mivo|' "uninstall: the page's caption"
    reads '|Remove the backups of earlier versions|focused,focusable|' "uninstall: backups"
    reads '|Remove the settings and libraries of every user|focusable|' "uninstall: settings"
    reads '|Uninstall|focusable|' "uninstall: the Uninstall button"
    names_shown "uninstall"
    key "$W" Tab
    focus_is 'Button|Remove the settings and libraries of every user' "uninstall: Tab"
    key "$W" Tab
    focus_is 'Button|Uninstall' "uninstall: Tab to Uninstall"
    key "$W" alt+e
    sleep 1
    listing=$(probe)
    has 'Button|Remove the backups of earlier versions|1|1|1' "uninstall: Alt+E ticks"
    shot k7-uninstall-options
    listen
    key "$W" alt+u
  fi
  if wait_page PageUninstallFinish; then
    focus_is 'Button|Finish' "uninstall finish"
    heard "uninstallation" 'name|TSetupPage|Uninstalling' 'name|TSetupPage|Mivo has been removed' \
      'alert|Static|Mivo has been removed'
    names_shown "uninstall finish"
    shot k8-uninstall-finish
    key "$W" Return
  fi
  finish 0 "uninstallation by keys"
  [ -f "$(host "$dest")Mivo.exe" ] && fail "uninstallation by keys: Mivo.exe is still there"
else
  fail "no Uninstall.exe in the installation folder"
fi

# 4. Escape, then OK with the keyboard: the wizard ends before the run.
start
choose_language
if wait_page PageWelcome; then
  key "$W" Escape
  [ -n "$(question)" ] || fail "quit: no question on Escape"
  box_keys shift+Tab Return
fi
finish 2 "quit with Escape"
[ -f "$(host "$dest")Mivo.exe" ] && fail "quit with Escape: something was installed"

scenario_end keyboard
