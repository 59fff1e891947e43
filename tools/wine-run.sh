#!/usr/bin/env bash
# Runs a Windows program under Wine in a throwaway prefix inside the build tree.
#
# usage: tools/wine-run.sh [--prefix DIR] [--display] PROGRAM [ARGS...]
#   --prefix DIR  the Wine prefix (default: $MIVO_WINEPREFIX, else build/wineprefix);
#                 created on first use, once: wineboot, then Windows version 10
#   --display     run under a virtual X server (xvfb-run), for programs with windows
# The program's exit code is this script's exit code.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${MIVO_WINEPREFIX:-$root/build/wineprefix}
display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --display) display=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] [--display] PROGRAM [ARGS...]" >&2; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

wine_bin=$(command -v wine64 || command -v wine || true)
if [ -z "$wine_bin" ] && [ -x /usr/lib/wine/wine64 ]; then wine_bin=/usr/lib/wine/wine64; fi
[ -n "$wine_bin" ] || { echo "wine is not installed" >&2; exit 127; }

mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/.mivo-ready" ]; then
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.mivo-ready" ]; then
    echo "wine-run: creating the Wine prefix $prefix" >&2
    rm -rf "$prefix"
    "$wine_bin" wineboot --init >/dev/null 2>&1 || true
    wineserver -w
    "$wine_bin" reg add 'HKEY_CURRENT_USER\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
    wineserver -w
    [ -f "$prefix/system.reg" ] || { echo "wine-run: wineboot did not create $prefix" >&2; exit 1; }
    touch "$prefix/.mivo-ready"
  fi
  flock -u 9
fi

if [ "$display" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$wine_bin" "$@"
fi
exec "$wine_bin" "$@"
