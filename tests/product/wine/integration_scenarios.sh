#!/usr/bin/env bash
# Installs the demo product under Wine, silently, and checks what makes it a
# usable product: the player's configuration "Mivo.ini", the registration
# program's run and its registry keys, and the shortcuts (read back through
# the shell's link object by a probe program).
#   1. the default folder: Mivo.ini new (UTF-16LE), Rivadavi.exe run once
#      with the automatic run's switches, its keys, three shortcuts;
#   2. portable, both shortcut kinds chosen in the configuration, twice: no
#      registration, the links point to the portable copy, and the second run
#      leaves them untouched;
#   3. portable without shortcut choices: no shortcuts;
#   4. an update of an installed 5.40: no shortcuts, no registration, the
#      configuration written anew after the old one went into the backup;
#   5. existing configurations in UTF-8 with mark and in ANSI (installed
#      without a backup, so they stay for the configuration step) keep their
#      encoding and their other sections.
# The stand-ins log to MIVO_COMPANION_LOG_DIR, outside the installations.
#
# usage: integration_scenarios.sh INSTALLER LINK_PROBE WINE_RUN PREFIX
set -uo pipefail

installer=$1 probe=$2 wine_run=$3 prefix=$4
export WINEPREFIX=$prefix
export MIVO_COMPANION_LOG_DIR='C:\CompanionLogs'
source "$(dirname "$0")/../../wine/scenario-lib.sh"
scenario_cleanup() { timeout 60 wineserver -w 2>/dev/null; }
scenario_start integration

# install NAME ARGUMENTS: through a batch file, so that the arguments arrive
# as written; expects exit code 0.
install() {
  run_batch install "\"$(winpath "$installer")\" $2"
  [ "$code" = 0 ] || fail "$1: the installer exited with $code"
}

# The registration program's command lines so far.
rivadavi_log() { tr -d '\r' <"$(host 'C:\CompanionLogs\Rivadavi.log')" 2>/dev/null; }
# Where each link points: "<target>" per argument, "<none>" when missing.
links() { run "$probe" "$@" 2>/dev/null | tr -d '\r' | sed 's/^[^|]*|//'; }
demo_links=(desktop:Mivo.lnk 'programs:Mivo\Mivo.lnk' 'programs:Mivo\Uninstall Mivo.lnk')
link_files() {
  local desktop programs
  desktop=$(find "$prefix/drive_c/users/Public" -maxdepth 1 -iname Desktop | head -1)
  programs="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
  printf '%s\n' "$desktop/Mivo.lnk" "$programs/Mivo/Mivo.lnk" "$programs/Mivo/Uninstall Mivo.lnk"
}
remove_links() { link_files | while read -r f; do rm -f "$f"; done; }

# check_config NAME DEST USERMODE [INTEGRATION]: UTF-16LE with mark, the
# section "Integration" given (none by default), then "System" with its four
# keys in order.
guid='[{][0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}[}]'
check_config() {
  local name=$1 file
  file=$(host "$2")Mivo.ini
  [ "$(head -c 2 "$file" 2>/dev/null | od -An -tx1 | tr -d ' ')" = fffe ] ||
    fail "$name: Mivo.ini is not UTF-16LE with byte-order mark"
  local text pattern
  text=$(tail -c +3 "$file" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r')
  pattern="^${4:-}\[System\]"$'\n'"ID=$guid"$'\n'"DefaultLang=English\.lng"$'\n'"UserMode=$3"
  pattern+=$'\n'"Version=5500\$"
  [[ $text =~ $pattern ]] || fail "$name: Mivo.ini:"$'\n'"$text"
}
# utf16 TEXT: the text as UTF-16LE with byte-order mark.
utf16() { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }

rm -rf "$prefix" "$prefix.lock"
run reg query 'HKLM\Software' >/dev/null 2>&1
mkdir -p "$(host 'C:\CompanionLogs')"

# 1. The default folder.
default='C:\Program Files\Mivo\'
install default '/AUTO /SILENT'
check_config default "$default" 1 ''
want="\"${default}Rivadavi.exe\" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"
[ "$(rivadavi_log)" = "$want" ] || fail "default: registration runs:"$'\n'"$(rivadavi_log)"
for key in 'HKLM\Software\Classes\Applications\Mivo.exe' 'HKLM\Software\RegisteredApplications' \
  'HKLM\Software\Classes\Mivo.AudioFile' 'HKLM\Software\Classes\Directory\shell\Mivo.Play' \
  'HKLM\Software\Classes\.mp3\OpenWithProgids'; do
  run reg query "$key" >/dev/null 2>&1 || fail "default: no registry key $key"
done
got=$(links "${demo_links[@]}")
want=$(printf '%s\n' "${default}Mivo.exe" "${default}Mivo.exe" "${default}Uninstall.exe")
[ "${got,,}" = "${want,,}" ] || fail "default: shortcuts:"$'\n'"$got"

# 2. Portable with both shortcut kinds chosen, twice.
portable='C:\Portable\'
mkdir -p "$(host "$portable")"
utf16 $'[Integration]\r\nShortcutDesktop=1\r\nShortcutStartMenu=1\r\n' >"$(host "$portable")/Mivo.ini"
runs_before=$(rivadavi_log | wc -l)
install portable "/AUTO=\"$portable\" /PORTABLE /SILENT"
check_config portable "$portable" 0 '\[Integration\]
ShortcutDesktop=1
ShortcutStartMenu=1

'
got=$(links "${demo_links[@]}")
want=$(printf '%s\n' "${portable}Mivo.exe" "${portable}Mivo.exe" "${portable}Uninstall.exe")
[ "${got,,}" = "${want,,}" ] || fail "portable: shortcuts:"$'\n'"$got"
link_files | while read -r f; do touch -d '2001-01-01' "$f"; done
install 'portable again' "/AUTO=\"$portable\" /PORTABLE /SILENT"
link_files | while read -r f; do
  [ "$(date -r "$f" +%Y 2>/dev/null)" = 2001 ] || fail "portable again: $f was written anew"
done
[ "$(rivadavi_log | wc -l)" = "$runs_before" ] || fail "portable: the registration program ran"

# 3. Portable without shortcut choices: none.
remove_links
install 'portable, no choices' '/AUTO="C:\Portable2\" /PORTABLE /SILENT'
[ "$(links "${demo_links[@]}" | sort -u)" = '<none>' ] || fail "portable, no choices: shortcuts made"
[ "$(rivadavi_log | wc -l)" = "$runs_before" ] || fail "portable, no choices: registration ran"

# 4. An update of an installed 5.40: no shortcuts, no registration.
old='C:\Old Mivo\'
mkdir -p "$(host "$old")"
printf '[System]\r\nVersion=5400\r\nUserMode=1\r\n[Player]\r\nVolume=42\r\n' >"$(host "$old")/Mivo.ini"
install update "/AUTO=\"$old\" /SILENT"
[ "$(links "${demo_links[@]}" | sort -u)" = '<none>' ] || fail "update: shortcuts made"
[ "$(rivadavi_log | wc -l)" = "$runs_before" ] || fail "update: the registration program ran"
# The old configuration went into the backup archive; the new one is
# written from it, in its encoding (here plain text), its other sections
# and integration choices carried over.
tr -d '\0\r' <"$(host "$old")/Mivo.ini" 2>/dev/null | grep -q 'Version=5500' ||
  fail "update: the configuration was not written"
tr -d '\0\r' <"$(host "$old")/Mivo.ini" 2>/dev/null | grep -q 'Volume=42' ||
  fail "update: the player's own settings are gone"
ls "$(host "$old")/!Backup/"*.zip >/dev/null 2>&1 || fail "update: no backup archive"

# 5. Configurations in other encodings keep it and their other sections.
# Without a backup the preparation leaves the old configuration in place for
# the configuration step to update (with one, it is archived and deleted).
for encoding in utf8 ansi; do
  dest="C:\\Config $encoding\\"
  dir=$(host "$dest")
  mkdir -p "$dir"
  if [ "$encoding" = utf8 ]; then
    mark=$'\xef\xbb\xbf' player=$'[Player]\r\nSkin=D\xc3\xa4mmerung\r\n'
  else
    mark='' player=$'[Player]\r\nSkin=D\xe4mmerung\r\n'
  fi
  printf '%s[System]\r\nVersion=5600\r\nLastSkin=x\r\n\r\n%s' "$mark" "$player" >"$dir/Mivo.ini"
  install "$encoding" "/AUTO=\"$dest\" /SILENT /NOBACKUP"
  printf '%s%s\r\n[System]\r\n' "$mark" "$player" >"$work/expected"
  head -c "$(stat -c %s "$work/expected")" "$dir/Mivo.ini" | cmp -s - "$work/expected" ||
    fail "$encoding: the start of Mivo.ini changed:"$'\n'"$(od -c "$dir/Mivo.ini" | head)"
  grep -qa 'LastSkin' "$dir/Mivo.ini" && fail "$encoding: the old System keys stayed"
  tail -c 16 "$dir/Mivo.ini" | cmp -s - <(printf 'Version=5500\r\n\r\n') ||
    fail "$encoding: System is not last"
done

scenario_end integration
