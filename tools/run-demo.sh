#!/usr/bin/env bash
# The main job: builds the demo installer MivoSetup.exe (the Windows product
# with the demo's packages) and installs the demo product with it under Wine,
# silently, into a fresh Wine prefix; then reports what was installed.
#
# usage: tools/run-demo.sh [INSTALLER ARGUMENTS...]   (default: /AUTO /SILENT)
#        tools/run-demo.sh --screenshots [DIR]        (default: build/screenshots)
# With --screenshots the installer runs with its wizard on the prefix's
# virtual display, is walked through its pages (and through a failed run) by
# tests/ui_win32/wine/wizard_scenarios.sh, and a PNG picture of every page
# is saved in DIR; the script prints where each one is.
# Environment: MIVO_BUILD_DIR (default build/mingw), MIVO_DEMO_PREFIX (default
# build/demo-prefix; deleted and created anew on every run).
# The exit code is the installer's.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${MIVO_BUILD_DIR:-$root/build/mingw}
prefix=${MIVO_DEMO_PREFIX:-$root/build/demo-prefix}
case "$build" in /*) ;; *) build=$root/$build ;; esac
case "$prefix" in /*) ;; *) prefix=$root/$prefix ;; esac
shots=
if [ "${1:-}" = --screenshots ]; then
  shots=${2:-$root/build/screenshots}
  case "$shots" in /*) ;; *) shots=$PWD/$shots ;; esac
  set --
fi
arguments=("$@")
[ ${#arguments[@]} -gt 0 ] || arguments=(/AUTO /SILENT)

"$root/tools/setup.sh"
"$root/tools/build-mingw-deps.sh"
mkdir -p "$build"
cmake --preset mingw -B "$build" >"$build/configure-demo.log" 2>&1 ||
  { cat "$build/configure-demo.log"; exit 1; }
echo "run-demo: building the demo installer in $build"
cmake --build "$build" -j "$(nproc)" --target demo_setup

if [ -n "$shots" ]; then
  cmake --build "$build" -j "$(nproc)" --target ui_probe_wizard
  rm -rf "$prefix" "$prefix.lock"
  echo "run-demo: walking through the wizard; pictures go to $shots"
  SHOTS=$shots exec bash "$root/tests/ui_win32/wine/wizard_scenarios.sh" \
    "$build/demo/MivoSetup.exe" "$build/tests/ui_probe_wizard.exe" \
    "$root/tools/wine-run.sh" "$prefix" "$build/demo/companions/Mivo.exe"
fi

installer=$build/demo/MivoSetup.exe
ipk=$(sed -n 's/^MIVO_DEMO_IPK:INTERNAL=//p' "$build/CMakeCache.txt")
[ -x "$ipk" ] || ipk=$build/host-tools/tools/ipk/ipk

echo "run-demo: a fresh Wine prefix in $prefix"
rm -rf "$prefix" "$prefix.lock"
export WINEPREFIX=$prefix
wine_run() { "$root/tools/wine-run.sh" --prefix "$prefix" "$@"; }
wine_run cmd /c ver >/dev/null 2>&1 || true
# The demo's own programs (the registration program, the add-on installer)
# log the command lines they get here, outside the installation.
export MIVO_COMPANION_LOG_DIR='C:\CompanionLogs'
logs=$prefix/drive_c/CompanionLogs
mkdir -p "$logs"

echo "run-demo: MivoSetup.exe ${arguments[*]}"
set +e
timeout 600 "$root/tools/wine-run.sh" --prefix "$prefix" "$installer" "${arguments[@]}"
code=$?
set -e
timeout 60 wineserver -w 2>/dev/null || true

# The prefix's Wine server and virtual display end with the script.
stop_prefix() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  local n pid
  if [ -f "$prefix.xvfb" ] && read -r n pid <"$prefix.xvfb"; then
    kill "$pid" 2>/dev/null || true
    rm -f "$prefix.xvfb"
  fi
}
trap stop_prefix EXIT

# The installation folder: the one given with /AUTO=, else where the
# registry entry points, else the default.
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mivo'
registry=$(wine_run reg query "$key" 2>/dev/null | tr -d '\r' || true)
dest=
for a in "${arguments[@]}"; do
  case "${a^^}" in /AUTO=?*) dest=${a#*=}; dest=${dest//\"/} ;; esac
done
[ -n "$dest" ] || dest=$(sed -n 's/^    InstallPath    REG_SZ    //p' <<<"$registry")
[ -n "$dest" ] || dest='C:\Program Files\Mivo\'
dest_host=$(wine_run winepath -u "$dest" 2>/dev/null | tr -d '\r' || true)
[ -d "$dest_host" ] || dest_host=$prefix/drive_c/Program\ Files/Mivo

echo
echo "== Mivo demo installation under Wine =="
echo "installer:  $installer"
echo "arguments:  ${arguments[*]}"
case "$code" in
  0) meaning="success" ;;
  1) meaning="set-up could not start" ;;
  2) meaning="cancelled before the run" ;;
  4) meaning="the run failed" ;;
  5) meaning="cancelled during the run" ;;
  124) meaning="timed out (an error box may have been waiting for an answer)" ;;
  *) meaning="unexpected" ;;
esac
echo "exit code:  $code ($meaning)"

echo
echo "-- installed tree: $dest"
if [ -d "$dest_host" ]; then
  (cd "$dest_host" && find . -type f -printf '%P\t%s\n' | sort |
    awk -F '\t' '{ gsub("/", "\\", $1); printf "   %-28s %9d bytes\n", $1, $2 }')
else
  echo "   (not there)"
fi

echo
echo "-- Uninstall.ini (in Uninstall.dat)"
if [ -f "$dest_host/Uninstall.dat" ] && [ -x "$ipk" ]; then
  "$ipk" cat "$dest_host/Uninstall.dat" Uninstall.ini | iconv -f UTF-16LE -t UTF-8 |
    sed '1s/^\xEF\xBB\xBF//; s/\r$//; s/^/   /'
else
  echo "   (no Uninstall.dat)"
fi

echo
echo "-- Mivo.ini"
if [ -f "$dest_host/Mivo.ini" ]; then
  if [ "$(head -c 2 "$dest_host/Mivo.ini" | od -An -tx1 | tr -d ' ')" = fffe ]; then
    iconv -f UTF-16LE -t UTF-8 "$dest_host/Mivo.ini"
  else
    cat "$dest_host/Mivo.ini"
  fi | sed '1s/^\xEF\xBB\xBF//; s/\r$//; /^$/d; s/^/   /'
else
  echo "   (none)"
fi

echo
echo "-- programs the installer started (their logs in C:\CompanionLogs\)"
if compgen -G "$logs/*.log" >/dev/null; then
  for log in "$logs"/*.log; do sed 's/\r$//; s/^/   /' "$log"; done
else
  echo "   (none)"
fi

echo
echo "-- shortcuts"
found=0
while IFS= read -r link; do
  echo "   C:\\${link//\//\\}"
  found=1
done < <(cd "$prefix/drive_c" && find users/Public/Desktop \
  'ProgramData/Microsoft/Windows/Start Menu/Programs' -iname '*.lnk' 2>/dev/null | sort)
[ "$found" = 1 ] || echo "   (none)"

echo
echo "-- registry: $key"
if grep -q '^    ' <<<"$registry"; then
  awk -F '    ' '/^    / { printf "   %-16s %-10s %s\n", $2, $3, $4 }' <<<"$registry"
else
  echo "   (no entry)"
fi
exit "$code"
