#!/usr/bin/env bash
# Uninstallation speed under Wine: the same tree (default 3,000 small files
# in 30 folders, from a fixed seed) is installed twice in one Wine prefix and
# removed silently, once by our uninstaller (Uninstall.exe /AUTO /SILENT from
# the installation folder: relaunch from a private temporary folder included)
# and once by an NSIS 3 uninstaller that deletes the same files and folders
# (Uninstall.exe /S _?=<folder>, which runs in place and is waited for;
# a 64-bit NSIS stub, since the machine runs 64-bit Wine only). Both
# are timed by the wall clock, each the best of RUNS, and the ratio ours/NSIS
# is printed (goal: at most 1).
#
# Needs the mingw build of the demo installer (MivoSetup.exe), the host's
# ipk and makensis (Debian package "nsis"; installed when missing).
#
# usage: tools/bench-uninstall.sh [MINGW_BUILD_DIR] [FILES] [FOLDERS] [RUNS]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/mingw}
files=${2:-3000}
folders=${3:-30}
runs=${4:-3}
installer=$build/demo/MivoSetup.exe
ipk=$build/host-tools/tools/ipk/ipk
[ -x "$ipk" ] || ipk=$root/build/native/tools/ipk/ipk
[ -f "$installer" ] || { echo "build $installer first (demo_setup in the mingw preset)" >&2; exit 1; }
[ -x "$ipk" ] || { echo "no host ipk found" >&2; exit 1; }
if ! command -v makensis >/dev/null; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y -q --no-install-recommends nsis >/dev/null
fi

wine_run=$root/tools/wine-run.sh prefix=
source "$root/tests/wine/scenario-lib.sh"
run_timeout=3600
scenario_start bench-uninstall
prefix=$work/prefix
export WINEPREFIX=$prefix

# The tree: file i in folder i mod FOLDERS, 16 to 4,111 bytes.
tree=$work/tree
RANDOM=42
for ((d = 0; d < folders; d++)); do mkdir -p "$tree/Folder$d"; done
for ((i = 0; i < files; i++)); do
  head -c $((16 + RANDOM % 4096)) /dev/zero >"$tree/Folder$((i % folders))/file$i.dat"
done
mapfile -t relative < <(cd "$tree" && find . -type f | sed 's|^\./||' | sort)

# Our record: every file, then the data package and the uninstaller.
{
  printf '[Uninstall]\r\n'
  i=0
  for f in "${relative[@]}" Uninstall.dat Uninstall.exe; do
    printf '%s=%s\r\n' "$i" "${f//\//\\}"
    [ "$i" = 0 ] && printf 'Count=%s\r\n' $((${#relative[@]} + 2))
    i=$((i + 1))
  done
} >"$work/Uninstall.ini"

# The NSIS uninstaller of the same tree.
{
  echo 'Target amd64-unicode'
  echo 'SilentInstall silent'
  echo 'SilentUnInstall silent'
  echo 'RequestExecutionLevel admin'
  echo "OutFile \"$work/nsis-setup.exe\""
  echo 'InstallDir "C:\BenchNsis"'
  echo 'Section'
  echo '  SetOutPath $INSTDIR'
  echo '  WriteUninstaller "$INSTDIR\Uninstall.exe"'
  echo 'SectionEnd'
  echo 'Section "Uninstall"'
  for f in "${relative[@]}"; do echo "  Delete \"\$INSTDIR\\${f//\//\\}\""; done
  echo '  Delete "$INSTDIR\Uninstall.exe"'
  for ((d = 0; d < folders; d++)); do echo "  RMDir \"\$INSTDIR\\Folder$d\""; done
  echo '  RMDir "$INSTDIR"'
  echo 'SectionEnd'
} >"$work/bench.nsi"
makensis -V1 "$work/bench.nsi" >/dev/null

run reg query 'HKLM\Software' >/dev/null 2>&1  # creates the prefix
run "$work/nsis-setup.exe" /S || { echo "the NSIS installer failed" >&2; exit 1; }
nsis_uninstaller=$work/nsis-uninstall.exe
cp "$(host 'C:\BenchNsis')/Uninstall.exe" "$nsis_uninstaller"

# ours: a portable installation of the tree
prepare_ours() {
  local dir
  dir=$(host 'C:\BenchMivo')
  rm -rf "$dir" && mkdir -p "$dir" && cp -r "$tree/." "$dir/"
  cp "$installer" "$dir/Uninstall.exe"
  "$ipk" create "$dir/Uninstall.dat" "$work/Uninstall.ini" >/dev/null
}
prepare_nsis() {
  local dir
  dir=$(host 'C:\BenchNsis')
  rm -rf "$dir" && mkdir -p "$dir" && cp -r "$tree/." "$dir/"
  cp "$nsis_uninstaller" "$dir/Uninstall.exe"
}
# best_of NAME PREPARE COMMAND...: the best wall-clock seconds of RUNS.
best_of() {
  local name=$1 prepare=$2 best= t0 t1 s
  shift 2
  for ((r = 0; r < runs; r++)); do
    "$prepare"
    t0=$(date +%s.%N)
    run "$@" >/dev/null 2>&1 || { echo "$name: exit code $?" >&2; exit 1; }
    t1=$(date +%s.%N)
    s=$(awk "BEGIN { print $t1 - $t0 }")
    if [ -z "$best" ] || awk "BEGIN { exit !($s < $best) }"; then best=$s; fi
  done
  echo "$best"
}

ours=$(best_of ours prepare_ours "$(host 'C:\BenchMivo')/Uninstall.exe" /AUTO /SILENT)
left=$(find "$(host 'C:\BenchMivo')" -type f 2>/dev/null | wc -l)
nsis=$(best_of nsis prepare_nsis "$(host 'C:\BenchNsis')/Uninstall.exe" /S '_?=C:\BenchNsis')
nsis_left=$(find "$(host 'C:\BenchNsis')" -type f 2>/dev/null | wc -l)
printf 'tree: %d files in %d folders\n' "${#relative[@]}" "$folders"
printf 'ours: %.2f s (%d files left), NSIS: %.2f s (%d files left; in place, no relaunch)\n' \
  "$ours" "$left" "$nsis" "$nsis_left"
printf 'ratio ours/NSIS: %.2f (goal: at most 1)\n' "$(awk "BEGIN { print $ours / $nsis }")"
