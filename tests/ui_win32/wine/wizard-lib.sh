# Shared part of the wizard scenario scripts (wizard_scenarios.sh,
# keyboard_scenarios.sh), sourced after tests/wine/scenario-lib.sh once the
# script has set installer, probe (ui_probe_wizard.exe) and shots (a folder
# for pictures, or empty).
#   probe ARGS...           the probe in the prefix, its output without CR
#   wait_page PAGE          waits up to 60 s for the page to be the active
#                           one; the probe's listing in $listing
#   has TEXT WHAT, hasnt TEXT WHAT
#                           a line of the listing holds TEXT (looked for
#                           again for up to 10 s), or none does
#   shot NAME, screen_shot NAME
#                           a PNG of the wizard's client area, or of the
#                           whole display (a question box over the wizard)
#   pixel BMP X Y           the colour (RRGGBB) of a pixel of a picture the
#                           probe saved, at x and y given at 96 DPI
#   colours X,Y...          the colours of those pixels of the wizard now
#   key TITLE KEY...        keys sent one after the other to the window
#                           whose name matches TITLE
#   start ARGS..., start_program PROGRAM ARGS...
#                           the installer (or another program) in the
#                           background; its process id in $pid
#   finish CODE WHAT        waits up to 60 s for $pid to end with CODE
#   choose_language [KEY]   the language dialog answered with Return
#                           (after KEY, when given)
pid=

probe() { run "$probe" "$@" 2>/dev/null | tr -d '\r'; }

listing=
wait_page() {
  local page=$1
  for _ in $(seq 1 120); do
    listing=$(probe)
    grep -q "^TSetupPage|$page|" <<<"$listing" && return 0
    sleep 0.5
  done
  fail "page $page did not appear; last listing:"$'\n'"$listing"
  return 1
}
# A window's controls are shown and filled while the probe may be listing
# them, so an expected control is looked for again for up to 10 s.
has() {
  for _ in $(seq 1 20); do
    grep -qF -- "$1" <<<"$listing" && return 0
    sleep 0.5
    listing=$(probe)
  done
  fail "$2: no '$1' in"$'\n'"$listing"
}
hasnt() { grep -qF -- "$1" <<<"$listing" && fail "$2: '$1' shown"; }
shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  local bmp=$work/$1.bmp
  probe "$(winepath -w "$bmp" 2>/dev/null | tr -d '\r')" >/dev/null
  if [ -f "$bmp" ] && /usr/bin/convert "$bmp" "$shots/$1.png" 2>/dev/null; then
    echo "screenshot: $shots/$1.png"
  else
    echo "no picture of $1 (the window moved on first)" >&2
  fi
}
screen_shot() {
  [ -n "$shots" ] || return 0
  mkdir -p "$shots"
  if /usr/bin/import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null; then
    echo "screenshot: $shots/$1.png"
  else
    echo "no picture of $1" >&2
  fi
}
# The colour (RRGGBB) of a pixel of a picture the probe saved (24-bit BMP,
# rows bottom-up), at x and y given at 96 DPI.
pixel() {
  local file=$1 w h stride x y
  read -r w h < <(od -An -tu4 -j18 -N8 "$file")
  x=$(($2 * w / 640)) y=$(($3 * h / 480))
  stride=$(((w * 3 + 3) / 4 * 4))
  od -An -tx1 -j $((54 + (h - 1 - y) * stride + x * 3)) -N3 "$file" | awk '{print toupper($3 $2 $1)}'
}
colours() {
  local bmp=$work/colours.bmp point out=
  rm -f "$bmp"
  probe "$(winepath -w "$bmp" 2>/dev/null | tr -d '\r')" >/dev/null
  [ -f "$bmp" ] || return 1
  for point in "$@"; do out+="$(pixel "$bmp" "${point%,*}" "${point#*,}") "; done
  echo "${out% }"
}
key() {
  local window k
  window=$(xdotool search --name "$1" | head -n 1)
  shift
  for k in "$@"; do
    xdotool key --window "$window" "$k" 2>/dev/null
    [ $# -gt 1 ] && sleep 0.3
  done
  return 0
}
start_program() {
  "$wine_run" --prefix "$prefix" "$@" >/dev/null 2>&1 &
  pid=$!
}
start() { start_program "$installer" "$@"; }
finish() {
  local expected=$1 what=$2
  for _ in $(seq 1 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$what: the program did not end"
    kill "$pid"
  else
    wait "$pid"
    local code=$?
    [ "$code" = "$expected" ] || fail "$what: exit code $code, expected $expected"
  fi
  pid=
  timeout 60 wineserver -w 2>/dev/null
}
choose_language() {
  for _ in $(seq 1 120); do
    xdotool search --name '^Select Language$' >/dev/null 2>&1 && break
    sleep 0.5
  done
  sleep 0.5
  [ -n "${1:-}" ] && key '^Select Language$' "$1"
  key '^Select Language$' Return
}
