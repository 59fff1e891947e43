#!/usr/bin/env bash
# Walks the demo installer's wizard under Wine on the prefix's virtual
# display, driven with the keyboard through xdotool and checked with a probe
# that lists the wizard's controls:
#   1. an interactive installation page by page (Welcome, License with Next
#      off until the box is ticked and no Back, Setup with the default
#      destination and the standard mode, Integration with every box
#      ticked and the desktop shortcut declined with Space,
#      ReadyToInstall with Install,
#      Install, Finish with Finish, no Back and the Close command disabled:
#      Alt+F4 there neither closes nor asks),
#      ending with the files and the Start menu shortcut installed, no
#      desktop shortcut, and exit code 0;
#   2. closing before the run asks the question: Cancel keeps the page, OK
#      ends with code 2 and installs nothing;
#   3. an /AUTO run with the window closes itself (code 0);
#   4. an /AUTO run that fails stays on the finish page with the errors
#      (code 4 after Finish);
#   5. Uninstall.exe of the first installation shows its own wizard: the
#      options page (no Back, Next reads Uninstall, both boxes clear, the
#      first one ticked with Space), then the uninstall finish page
#      with Finish (code 0);
#   6. closing during the run, held in its first step by a player that does
#      not close (the demo's Mivo.exe /REFUSECLOSE): the question appears
#      over the progress page; Cancel lets the run go on, and once the
#      player has gone the run ends well (code 0, files installed); OK stops
#      it: code 5, the destination untouched, nothing started.
#   7. the destination page: a typed folder holding an updatable copy (update
#      and backup ticked, the mode fixed, the update warning, no Integration
#      page), the update unticked (the other-copy warning, Integration
#      again), a program-files folder typed while portable (standard again),
#      an empty path (no Next), the Windows folder (the reason, no Next),
#      and the folder chooser with and without a
#      last folder named like the product;
#   8. in Russian the add-ons page follows the destination page.
# With SHOTS=DIR set, a PNG picture of every page of the walk is saved there.
# WIZARD_THEME=dark|light sets the user's app mode and WIZARD_DPI the
# prefix's screen DPI (LogPixels) before the walk; on the Welcome page of the
# first walk the app mode is switched to the other one and back while the
# wizard is open, and the page's colours are read from pictures.
#
# usage: wizard_scenarios.sh INSTALLER PROBE WINE_RUN PREFIX [PLAYER]
#   PLAYER: the demo's Mivo.exe; without it scenario 6 is left out
set -uo pipefail

installer=$1 probe=$2 wine_run=$3 prefix=$4 player=${5:-}
export WINEPREFIX=$prefix
shots=${SHOTS:-}
held=
source "$(dirname "$0")/../../wine/scenario-lib.sh"
run_timeout=120
scenario_cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$held" ] && kill "$held" 2>/dev/null
}
scenario_start wizard

source "$(dirname "$0")/wizard-lib.sh"

run cmd /c ver >/dev/null 2>&1  # creates the prefix before anything is timed
DISPLAY=$("$wine_run" --prefix "$prefix" --print-display) || exit 1
export DISPLAY
theme=${WIZARD_THEME:-light}
light_value=1
[ "$theme" = dark ] && light_value=0
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' \
  /v AppsUseLightTheme /t REG_DWORD /d "$light_value" /f >/dev/null 2>&1
run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${WIZARD_DPI:-96}" /f \
  >/dev/null 2>&1
timeout 20 wineserver -w 2>/dev/null

# Page background, footer and side image of the Welcome page in a picture.
welcome_colours() { colours 620,400 330,470 20,200; }
# Background and accent (the footer) of each theme.
declare -A page_colour=([light]=FFFFFF [dark]=262626) footer_colour=([light]=DE8C33 [dark]=AC671C)
other_theme=dark
[ "$theme" = dark ] && other_theme=light
dest='C:\Program Files\Mivo\'
# A prefix kept from an earlier run starts without the installation.
# The shortcuts to the player anywhere in the prefix.
mivo_links() {
  find "$prefix/drive_c" -path "$prefix/drive_c/windows" -prune -o -iname '*.lnk' -print 2>/dev/null |
    grep -i mivo
}
rm -rf "$(host "$dest")" "$(host 'C:\Auto\')" "$(host 'C:\Blocked')" "$(host 'C:\Held\')"
# An installation recorded there would become the default destination.
run reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo' /f >/dev/null 2>&1
mivo_links | while read -r link; do rm -f "$link"; done

# 1. The interactive walk.
start
choose_language
if wait_page PageWelcome; then
  has 'Mivo Setup|' "welcome: caption"
  hasnt 'Mivo Setup|0' "welcome: the Close command is disabled"
  hasnt 'Button|< Back|' "welcome"
  has 'Button|Next >|1|1|' "welcome"
  shot 1-welcome
  # The live switch of the app mode: background and footer change at once,
  # the side image stays as the page was created.
  read -r back foot side < <(welcome_colours)
  [ "$back $foot" = "${page_colour[$theme]} ${footer_colour[$theme]}" ] ||
    fail "$theme theme: page and footer are $back $foot"
  probe theme "$other_theme" >/dev/null
  sleep 1
  read -r back2 foot2 side2 < <(welcome_colours)
  [ "$back2 $foot2" = "${page_colour[$other_theme]} ${footer_colour[$other_theme]}" ] ||
    fail "switched to $other_theme: page and footer are $back2 $foot2"
  [ "$side2" = "$side" ] || fail "switched to $other_theme: the side image changed ($side, $side2)"
  shot 1-welcome-switched
  probe theme "$theme" >/dev/null
  sleep 1
  read -r back3 foot3 _ < <(welcome_colours)
  [ "$back3 $foot3" = "${page_colour[$theme]} ${footer_colour[$theme]}" ] ||
    fail "switched back to $theme: page and footer are $back3 $foot3"
  key 'Mivo Setup' Return
fi
if wait_page PageLicense; then
  has 'Button|Next >|1|0|' "license before the tick"
  hasnt 'Button|< Back|' "license"
  has 'RichEdit50W|' "license viewer"
  shot 2-license
  probe click "$(sed -n 's/^Button|\(.*\)|1|1|0$/\1/p' <<<"$listing" | head -n 1)" >/dev/null
  sleep 1
  listing=$(probe)
  has '|1|1|1' "license: the box is ticked"
  has 'Button|Next >|1|1|' "license after the tick"
  key 'Mivo Setup' Return
fi
if wait_page PageSetup; then
  has 'Edit|C:\Program Files\Mivo\|1|1|' "setup: the default destination"
  has 'Button|Browse...|1|1|' "setup: browse"
  has 'Button|Standard installation|1|1|1' "setup: standard"
  has 'Button|Portable installation|1|1|0' "setup: portable"
  hasnt 'Button|Update the installed copy|' "setup: nothing to update"
  has 'Button|< Back|1|1|' "setup"
  has 'Button|Next >|1|1|' "setup"
  shot 2a-setup
  key 'Mivo Setup' Return
fi
if wait_page PageIntegration; then
  has 'Button|< Back|1|1|' "integration"
  has 'Button|Next >|1|1|' "integration"
  has 'Button|Create a desktop shortcut|1|1|1' "integration: desktop"
  has 'Button|Associate Mivo with audio files|1|1|1' "integration: files"
  # The desktop shortcut declined with the keyboard (the focus starts on
  # the first box).
  key 'Mivo Setup' space
  sleep 1
  listing=$(probe)
  has 'Button|Create a desktop shortcut|1|1|0' "integration: Space"
  has 'Button|Create a Start menu shortcut|1|1|1' "integration: start menu"
  shot 2b-integration
  key 'Mivo Setup' Return
fi
if wait_page PageReadyToInstall; then
  has 'Button|Install|1|1|' "ready to install"
  has 'Button|< Back|1|1|' "ready to install"
  shot 3-ready
  # The focus is in the summary, where Ctrl+Enter presses Install.
  key 'Mivo Setup' ctrl+Return
fi
if wait_page PageFinish; then
  has 'Button|Finish|1|1|' "finish"
  echo "finish page: $(head -n 1 <<<"$listing")"
  hasnt 'Button|< Back|' "finish"
  hasnt 'Mivo Setup|1' "finish: the Close command is enabled"
  shot 5-finish
  # The Close command is disabled after the run: Alt+F4 neither closes nor
  # asks; the wizard is left through Finish.
  key 'Mivo Setup' alt+F4
  sleep 2
  [ -z "$(probe box)" ] || fail "finish: Alt+F4 asks a question"
  listing=$(probe)
  grep -q '^TSetupPage|PageFinish|' <<<"$listing" || fail "finish: Alt+F4 closed the wizard"
  # Nothing is started afterwards: untick every offered program.
  while read -r text; do
    [ -n "$text" ] && probe click "$text" >/dev/null
  done < <(sed -n 's/^Button|\(.*\)|1|1|1$/\1/p' <<<"$listing")
  sleep 1
  key 'Mivo Setup' Return
fi
finish 0 "interactive installation"
[ -f "$(host "$dest")Mivo.exe" ] || fail "interactive installation: Mivo.exe not installed"
links=$(mivo_links)
grep -qi 'start menu' <<<"$links" || fail "interactive installation: no Start menu shortcut in"$'\n'"$links"
grep -qi 'desktop' <<<"$links" && fail "interactive installation: the declined desktop shortcut was made"

# 2. Closing before the run: Cancel stays, OK ends with 2.
start
choose_language
if wait_page PageWelcome; then
  key 'Mivo Setup' Return
  wait_page PageLicense
  key 'Mivo Setup' alt+F4
  sleep 2
  text=$(probe box)
  [ -n "$text" ] || fail "no question on close"
  probe answer 2 >/dev/null
  sleep 1
  wait_page PageLicense && has 'Button|Next >|1|0|' "after Cancel"
  key 'Mivo Setup' alt+F4
  sleep 2
  probe answer 1 >/dev/null
fi
finish 2 "closed before the run"

# 3. An automatic run with the window closes itself (its progress page is
# pictured when the probe catches it).
start '/AUTO=C:\Auto\'
if [ -n "$shots" ]; then
  for _ in $(seq 1 40); do
    listing=$(probe)
    if grep -q '^TSetupPage|PageInstall|' <<<"$listing"; then
      shot 4-install
      break
    fi
    sleep 0.1
  done
fi
finish 0 "automatic run with the window"
[ -f "$(host 'C:\Auto\')Mivo.exe" ] || fail "automatic run: Mivo.exe not installed"

# 4. An automatic run that fails stays on the finish page.
mkdir -p "$(host 'C:\')"
echo blocked >"$(host 'C:\Blocked')"
start '/AUTO=C:\Blocked\'
if wait_page PageFinish; then
  has 'Edit|' "failed run: the error list"
  has 'Button|Finish|1|1|' "failed run"
  shot 6-failed
  # The focus is in the error list, where Ctrl+Enter presses Finish.
  key 'Mivo Setup' ctrl+Return
fi
finish 4 "failed automatic run"

# 5. The uninstaller's wizard (its copy in the temporary folder shows it).
uninstaller="$(host "$dest")Uninstall.exe"
if [ -f "$uninstaller" ]; then
  start_program "$uninstaller"
  choose_language
  if wait_page PageUninstallParams; then
    has 'Button|Uninstall|1|1|' "uninstall options"
    hasnt 'Button|< Back|' "uninstall options"
    has 'Button|Remove the backups of earlier versions|1|1|0' "uninstall options: backups"
    has 'Button|Remove the settings and libraries of every user|1|1|0' "uninstall options"
    # The first box ticked with the keyboard (it has the focus).
    key 'Mivo Setup' space
    sleep 1
    listing=$(probe)
    has 'Button|Remove the backups of earlier versions|1|1|1' "uninstall options: Space"
    has 'Button|Remove the settings and libraries of every user|1|1|0' "uninstall options"
    shot 7-uninstall-options
    key 'Mivo Setup' Return
  fi
  if wait_page PageUninstallFinish; then
    has 'Button|Finish|1|1|' "uninstall finish"
    hasnt 'Button|< Back|' "uninstall finish"
    shot 8-uninstall-finish
    key 'Mivo Setup' Return
  fi
  finish 0 "uninstallation"
else
  fail "no Uninstall.exe in the installation folder"
fi

# 6. Closing during the run. The demo player, started with /REFUSECLOSE,
# keeps the run in its first step (closing the running player) until the
# player's process is ended.
held_run() {
  local what=$1
  shift
  rm -rf "$(host 'C:\Held\')" "$(host 'C:\CompanionLogs\')"
  mkdir -p "$(host 'C:\Held\')" "$(host 'C:\CompanionLogs\')"
  cp "$player" "$(host 'C:\Held\')Mivo.exe"
  MIVO_COMPANION_LOG_DIR='C:\CompanionLogs' "$wine_run" --prefix "$prefix" \
    'C:\Held\Mivo.exe' /REFUSECLOSE /HIDDEN >/dev/null 2>&1 &
  held=$!
  for _ in $(seq 1 60); do
    [ -s "$(host 'C:\CompanionLogs\')Mivo.log" ] && break
    sleep 0.5
  done
  sleep 1
  MIVO_COMPANION_LOG_DIR='C:\CompanionLogs' start '/AUTO=C:\Held\' "$@"
  wait_page PageInstall || return 1
  has 'Closing running copies of Mivo' "$what: the run waits for the player"
  key 'Mivo Setup' alt+F4
  local text=
  for _ in $(seq 1 20); do
    text=$(probe box)
    [ -n "$text" ] && break
    sleep 0.5
  done
  [ "$text" = 'Setup is not complete. Do you really want to quit?' ] ||
    fail "$what: the question during the run reads '$text'"
}
release_player() {
  [ -n "$held" ] || return 0
  kill "$held" 2>/dev/null
  wait "$held" 2>/dev/null
  held=
}
uninstall_entry() {
  run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo' 2>/dev/null |
    tr -d '\r'
}
if [ -n "$player" ]; then
  # OK: the run stops in its first step; nothing is written or started.
  entry=$(uninstall_entry)
  rm -f "$(host 'C:\close.log')"
  if held_run "close during the run, OK" '/LOG=C:\close.log'; then
    screen_shot 9-close-during-run
    probe answer 1 >/dev/null
  fi
  # The player goes once the installer has ended (the Wine server waits for
  # every program of the prefix).
  for _ in $(seq 1 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  release_player
  finish 5 "close during the run, OK"
  grep -q 'The installation did not complete\.' "$(host 'C:\close.log')" ||
    fail "close during the run, OK: the run's errors lack the stop"
  left=$(cd "$(host 'C:\Held\')" && ls -A)
  [ "$left" = Mivo.exe ] ||
    fail "close during the run, OK: the destination holds more than the player:"$'\n'"$left"
  logs=$(cd "$(host 'C:\CompanionLogs\')" && ls -A)
  [ "$logs" = Mivo.log ] || fail "close during the run, OK: programs were started:"$'\n'"$logs"
  [ "$(grep -c . "$(host 'C:\CompanionLogs\')Mivo.log")" = 1 ] ||
    fail "close during the run, OK: the player was started again"
  [ "$(uninstall_entry)" = "$entry" ] || fail "close during the run, OK: the uninstall entry changed"

  # Cancel: the run goes on; once the player has gone it ends well.
  if held_run "close during the run, Cancel"; then
    probe answer 2 >/dev/null
    sleep 2
    listing=$(probe)
    grep -q '^TSetupPage|PageInstall|' <<<"$listing" ||
      fail "close during the run, Cancel: the progress page is gone:"$'\n'"$listing"
    [ -z "$(probe box)" ] || fail "close during the run, Cancel: the question is still open"
    has 'Closing running copies of Mivo' "close during the run, Cancel: the run goes on"
    release_player
  fi
  finish 0 "close during the run, Cancel"
  release_player
  [ -f "$(host 'C:\Held\')Uninstall.dat" ] ||
    fail "close during the run, Cancel: the installation was not completed"
fi

# Brings a new interactive installation to the destination page (language
# chosen with the given key, the license accepted).
to_setup_page() {
  start
  choose_language "${1:-}"
  wait_page PageWelcome || return 1
  key 'Mivo' Return
  wait_page PageLicense || return 1
  probe click "$(sed -n 's/^Button|\(.*\)|1|1|0$/\1/p' <<<"$listing" | head -n 1)" >/dev/null
  sleep 1
  key 'Mivo' Return
  wait_page PageSetup
}
# Replaces the destination's text as typing does (character by character).
type_path() {
  probe type "$1" >/dev/null
  sleep 1
  listing=$(probe)
}
# Closes the wizard before the run (code 2).
close_wizard() {
  key "${2:-Mivo Setup}" alt+F4
  sleep 2
  probe answer 1 >/dev/null
  finish 2 "$1"
}

# 7. The destination page with an updatable copy, the mode, an empty path
# and the folder chooser.
old='C:\Old\Mivo\'
mkdir -p "$(host "$old")"
printf '[System]\r\nVersion=5000\r\nUserMode=1\r\n' >"$(host "$old")Mivo.ini"
if to_setup_page; then
  type_path 'C:\Old\Mivo'
  has 'Edit|C:\Old\Mivo|1|1|' "update: the typed text stays"
  has 'Button|Update the installed copy|1|1|1' "update: the box is ticked"
  has 'Button|Back up the installed copy before updating|1|1|1' "update: backup"
  has 'Button|Standard installation|1|0|1' "update: the mode is the installed copy's"
  has 'Button|Portable installation|1|0|0' "update: the mode is fixed"
  has 'Static|The installed copy will be updated.' "update: W1"
  shot 10-setup-update
  probe click 'Next >' >/dev/null
  wait_page PageReadyToInstall && probe click '< Back' >/dev/null
  if wait_page PageSetup; then
    probe click 'Update the installed copy' >/dev/null
    sleep 1
    listing=$(probe)
    has 'Button|Update the installed copy|1|1|0' "no update"
    hasnt 'Button|Back up the installed copy' "no update: no backup box"
    has 'Button|Portable installation|1|1|0' "no update: the mode can be chosen"
    has 'Static|Another copy of Mivo is installed' "no update: W3"
    hasnt 'Static|The installed copy will be updated.' "no update: W1"
    shot 11-setup-another-copy
    probe click 'Next >' >/dev/null
    wait_page PageIntegration && probe click '< Back' >/dev/null
  fi
  if wait_page PageSetup; then
    type_path 'C:\Portable'
    probe click 'Portable installation' >/dev/null
    sleep 1
    listing=$(probe)
    has 'Button|Portable installation|1|1|1' "portable"
    type_path 'C:\Program Files\Players'
    has 'Button|Standard installation|1|1|1' "program files: standard again"
    has 'Button|Portable installation|1|1|0' "program files: not portable"
    type_path ''
    has 'Button|Next >|1|0|' "empty path: no Next"
    # A place that is never a program's folder: the reason, and no Next.
    type_path 'C:\Windows'
    has 'Static|The folder "C:\Windows\" cannot be used: it is the Windows folder' "refused: W4"
    has 'Button|Next >|1|0|' "refused: no Next"
    shot 11a-setup-refused
    type_path 'C:\Music'
    has 'Edit|C:\Music|1|1|' "typed path"
    has 'Button|Next >|1|1|' "typed path: Next"
    # The folder chooser starts at the nearest existing folder and OK takes
    # it: C:\Old\Mivo is named like the product and is taken as it is,
    # C:\Old gets the product's folder.
    for typed in 'C:\Old\Mivo\Sub' 'C:\Old\Other'; do
      type_path "$typed"
      probe click 'Browse...' >/dev/null
      sleep 2
      chooser=$(probe dialog)
      grep -q '^Select the destination folder' <<<"$chooser" || fail "chooser: caption in"$'\n'"$chooser"
      grep -q '^Button|OK' <<<"$chooser" || fail "chooser: OK in"$'\n'"$chooser"
      grep -q '^Button|New folder' <<<"$chooser" || fail "chooser: New folder in"$'\n'"$chooser"
      probe answer 1 >/dev/null
      sleep 1
      listing=$(probe)
      has 'Edit|C:\Old\Mivo\|1|1|' "chooser from $typed"
    done
    # A refused place taken through the chooser is refused as well: the
    # product's folder inside the Windows folder (which the chooser names as
    # the file system does: Wine's is "windows").
    type_path 'C:\Windows'
    probe click 'Browse...' >/dev/null
    sleep 2
    probe answer 1 >/dev/null
    sleep 1
    listing=$(probe)
    has 'Edit|C:\windows\Mivo\|1|1|' "chooser from C:\Windows"
    has 'Static|The folder "C:\windows\Mivo\" cannot be used: it is the Windows folder' "chooser: refused"
    has 'Button|Next >|1|0|' "chooser: refused, no Next"
    shot 11b-setup-refused-chooser
  fi
  close_wizard "destination page"
fi

# 8. The add-ons page is offered in Russian (the last language of the list),
# whose caption is not "Mivo Setup".
if to_setup_page End; then
  key 'Mivo' Return
  if wait_page PageAddons; then
    [ "$(grep -c '^Button|.*|1|1|1$' <<<"$listing")" = 3 ] || fail "add-ons: three ticked boxes in"$'\n'"$listing"
    # The text with links reads as a person reads it (its window's text,
    # the name screen readers take), without the markup.
    has 'Static|Устанавливая их, вы принимаете условия использования и политику конфиденциальности.|' \
      "add-ons: the text with links"
    hasnt 'href=' "add-ons: the links' markup"
    shot 12-addons
    key 'Mivo' Return
    wait_page PageIntegration
  fi
  close_wizard "add-ons page" 'Mivo'
fi

scenario_end wizard
