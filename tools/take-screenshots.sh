#!/usr/bin/env bash
# Pictures of the wizard, taken from the real program under Wine: the
# walk-through of tests/ui_win32/wine/wizard_scenarios.sh (every page of an
# interactive installation, the destination page's states, the add-ons page
# in Russian, the uninstallation) in the light and the dark theme at 96 DPI,
# and the keyboard walk of tests/ui_win32/wine/keyboard_scenarios.sh (every
# page of an installation and of the uninstallation with the focus shown) in
# both themes at 120 and 192 DPI, and in high contrast at 96 DPI, each into
# DIR/<theme>-<dpi>/ (DIR/contrast-96/). Then the README's pictures in
# docs/images/ are made again from the 96-DPI ones.
#
# usage: tools/take-screenshots.sh [DIR]      (default: build/screenshots)
# Environment: MIVO_BUILD_DIR (default build/mingw).
# Exit code 1 when a walk-through reported a failure (its pictures are kept).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${MIVO_BUILD_DIR:-$root/build/mingw}
case "$build" in /*) ;; *) build=$root/$build ;; esac
dir=${1:-$root/build/screenshots}
case "$dir" in /*) ;; *) dir=$PWD/$dir ;; esac

"$root/tools/setup.sh"
"$root/tools/build-mingw-deps.sh"
mkdir -p "$build"
cmake --preset mingw -B "$build" >"$build/configure-screenshots.log" 2>&1 ||
  { cat "$build/configure-screenshots.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target demo_setup ui_probe_wizard ui_probe_access \
  demo_mivo_player

# One prefix made once, copied for every walk.
template=$root/build/screenshots-prefix
rm -rf "$template" "$template.lock"
"$root/tools/wine-run.sh" --prefix "$template" cmd /c ver >/dev/null 2>&1 || true
WINEPREFIX=$template timeout 60 wineserver -k 2>/dev/null || true
if [ -f "$template.xvfb" ] && read -r _ xpid <"$template.xvfb"; then
  kill "$xpid" 2>/dev/null || true
  rm -f "$template.xvfb"
fi

status=0
# walk SCRIPT THEME DPI NAME LAST [ENVIRONMENT...]: one walk in a copy of the
# prefix; LAST is the script's last argument.
walk() {
  local script=$1 theme=$2 dpi=$3 name=$4 last=$5
  shift 5
  local prefix=$root/build/screenshots-prefix-$name
  rm -rf "$prefix" "$prefix.lock" "$dir/$name"
  cp -a "$template" "$prefix"
  echo "take-screenshots: $name into $dir/$name"
  env SHOTS="$dir/$name" WIZARD_THEME="$theme" WIZARD_DPI="$dpi" "$@" \
    bash "$root/tests/ui_win32/wine/$script" "$build/demo/MivoSetup.exe" \
    "$build/tests/ui_probe_wizard.exe" "$root/tools/wine-run.sh" "$prefix" "$last" || status=1
  rm -rf "$prefix" "$prefix.lock"
}
for theme in light dark; do
  walk wizard_scenarios.sh "$theme" 96 "$theme-96" "$build/demo/companions/Mivo.exe"
  for dpi in 120 192; do
    walk keyboard_scenarios.sh "$theme" "$dpi" "$theme-$dpi" "$build/tests/ui_probe_access.exe"
  done
done
walk keyboard_scenarios.sh light 96 contrast-96 "$build/tests/ui_probe_access.exe" WIZARD_CONTRAST=1
rm -rf "$template" "$template.lock"

# The README's pictures: two pages in each theme, without metadata.
mkdir -p "$root/docs/images"
for picture in light/2a-setup light/12-addons dark/1-welcome dark/2b-integration; do
  theme=${picture%/*} page=${picture#*/}
  source=$dir/$theme-96/$page.png
  if [ -f "$source" ]; then
    convert "$source" -strip "$root/docs/images/wizard-$theme-${page#*-}.png"
  else
    echo "take-screenshots: no picture $source" >&2
    status=1
  fi
done
exit "$status"
