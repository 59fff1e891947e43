#!/usr/bin/env bash
# Runs a Windows program under Wine in a throwaway prefix inside the build tree.
#
# usage: tools/wine-run.sh [--prefix DIR] [--display] PROGRAM [ARGS...]
#        tools/wine-run.sh [--prefix DIR] --print-display
#        tools/wine-run.sh [--prefix DIR] --stop
#        tools/wine-run.sh --stop-all
#   --prefix DIR      the Wine prefix (default: $MIVO_WINEPREFIX, else build/wineprefix);
#                     created on first use, once: wineboot, then Windows version 10
#   --display         accepted for clarity; every program of a prefix gets its display
#   --print-display   prints the prefix's X display (for xdotool and the like)
#   --stop            ends the prefix's Wine server and virtual display
#   --stop-all        ends the Wine servers and virtual displays of every prefix under build/
# The program's exit code is this script's exit code.
#
# Every program of one prefix runs on the same X display: Wine binds a
# prefix's desktop to the display of the first program that needs one, so
# programs with and without windows must not be mixed across displays. The
# display is a private Xvfb started for the prefix (MIVO_WINE_DISPLAY names
# another one, e.g. a developer's own screen; MIVO_WINE_DISPLAY=none runs
# the prefix without any display, like a machine nobody is logged on to).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${MIVO_WINEPREFIX:-$root/build/wineprefix}
print_display=0
# Ends the Wine server and the virtual display of one prefix.
stop_prefix() {
  local p=$1 pid=
  WINEPREFIX=$p timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -f "$p.xvfb" ] || return 0
  read -r _ pid <"$p.xvfb" || true
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  rm -f "$p.xvfb"
}
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --display) shift ;;
    --print-display) print_display=1; shift ;;
    --stop) stop_prefix "$prefix"; exit 0 ;;
    --stop-all)
      for f in $(find "$root/build" -maxdepth 4 -name '*.xvfb' 2>/dev/null); do
        stop_prefix "${f%.xvfb}"
      done
      exit 0 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || [ "$print_display" = 1 ] ||
  { echo "usage: $0 [--prefix DIR] [--display] PROGRAM [ARGS...]" >&2; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko download prompts: the tests need neither. No
# winemenubuilder either: shortcuts made in a prefix stay in the prefix
# instead of becoming menu entries and desktop files of the host's user.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}

wine_bin=$(command -v wine64 || command -v wine || true)
if [ -z "$wine_bin" ] && [ -x /usr/lib/wine/wine64 ]; then wine_bin=/usr/lib/wine/wine64; fi
[ -n "$wine_bin" ] || { echo "wine is not installed" >&2; exit 127; }

mkdir -p "$(dirname "$prefix")"

# The prefix's display: "NUMBER PID" in PREFIX.xvfb while its Xvfb runs.
ensure_display() {
  if [ "${MIVO_WINE_DISPLAY:-}" = none ]; then
    unset DISPLAY
    return
  fi
  if [ -n "${MIVO_WINE_DISPLAY:-}" ]; then
    export DISPLAY=$MIVO_WINE_DISPLAY
    return
  fi
  local state=$prefix.xvfb n pid
  exec 8>"$prefix.xlock"
  flock 8
  if [ -f "$state" ]; then
    read -r n pid <"$state" || true
    if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=:$n
      flock -u 8
      return
    fi
  fi
  # Display numbers are chosen under one lock for all prefixes of a user
  # (one per user: another user's lock file could not be opened), and a
  # display counts as ours only when its X lock file names our Xvfb.
  exec 7>"/tmp/mivo-wine-xvfb-$(id -u).lock"
  flock 7
  for n in $(seq 99 499); do
    [ -e "/tmp/.X$n-lock" ] && continue
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 1 100); do
      [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ] &&
       [ "$(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
      echo "$n $pid" >"$state"
      export DISPLAY=:$n
      flock -u 7
      flock -u 8
      return
    fi
    kill "$pid" 2>/dev/null || true
  done
  flock -u 7
  flock -u 8
  echo "wine-run: could not start a virtual display" >&2
  exit 1
}
ensure_display

if [ "$print_display" = 1 ]; then
  echo "${DISPLAY:-}"
  exit 0
fi

# Wine refuses a prefix that another user owns (the tests may run as an
# ordinary user one time and as root the next): a throwaway prefix of
# another user is made anew.
if [ -d "$prefix" ] && [ "$(stat -c %u "$prefix")" != "$(id -u)" ]; then
  exec 9>"$prefix.lock"
  flock 9
  if [ -d "$prefix" ] && [ "$(stat -c %u "$prefix")" != "$(id -u)" ]; then
    echo "wine-run: $prefix belongs to another user; creating it anew" >&2
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
  fi
  flock -u 9
fi

# Debian's Wine names its server's private folder in PREFIX/wineserver. A
# prefix handed to another user (chown, as test-all.sh does) still names the
# folder of the user before, which Wine cannot enter: that name is dropped,
# and Wine makes a folder of ours.
if [ -f "$prefix/wineserver" ]; then
  server_dir=$(cat "$prefix/wineserver" 2>/dev/null || true)
  for tmp in "${TMPDIR:-/tmp}" /tmp; do
    if [ -n "$server_dir" ] && [ -e "$tmp/$server_dir" ] && [ ! -O "$tmp/$server_dir" ]; then
      rm -f "$prefix/wineserver"
      break
    fi
  done
fi

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

exec "$wine_bin" "$@"
