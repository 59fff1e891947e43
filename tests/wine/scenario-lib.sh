# Shared part of the Wine scenario scripts (tests/*/wine/*_scenarios.sh,
# tests/app/wine_scenarios.sh) and of the Wine benchmarks
# (tools/bench-first-window.sh, tools/bench-uninstall.sh), sourced by each
# of them after it has set:
#   prefix    its Wine prefix (a script may switch between several)
#   wine_run  tools/wine-run.sh
# and then started with `scenario_start NAME`.
#
# It gives:
#   $work                   a private folder (/tmp/mivo-NAME-wine.XXXXXX)
#   $failures, fail TEXT    failed checks, counted and printed
#   run PROGRAM ARGS...     PROGRAM under Wine in the prefix, stopped after
#                           $run_timeout seconds (default 180), with the
#                           variables of the array run_env set
#   run_batch NAME COMMAND  the command line exactly as written (Wine would
#                           quote arguments its own way), through the batch
#                           file $work/NAME.bat; its exit code is returned
#                           and left in $code
#   winpath HOSTPATH        the path as Windows programs see it (Z:)
#   host 'C:\...'           the host path of a path on drive C:
#   use_display             exports DISPLAY: the prefix's own display, where
#                           its windows show (for xdotool)
#   start_shown PROGRAM ARGS...
#                           PROGRAM under Wine in the background; its process
#                           id in $pid and added to the array pids
#   find_window PID TITLE   waits up to 120 s, while PID runs, for a window
#                           whose name matches TITLE (a regular expression);
#                           its id in $window, empty when none came
#   press_return WINDOW TITLE
#                           Return on the window like a user, once more
#                           through the focus when it is still there a second
#                           later
#   wait_end PID            waits up to 60 s for PID to end: false when it
#                           still runs, else its exit code in $code
#   hold [--share=S] FILES...
#                           the file holder program $holder (set by the
#                           script) holds the files open until release; its
#                           process id in $holder_pid
#   release                 lets the holder end and waits for it
#   stop_prefix             ends the prefix's Wine server and virtual display
#   start_server            starts the prefix's Wine server, kept up between runs
#   kill_installer          kills the installer's processes of the prefix at once
#   scenario_end WHAT       the summary line; exit code 1 after failures
# On exit the processes in pids are ended, the script's own
# `scenario_cleanup` runs (when it defines one), then the prefix is stopped
# (unless the script set keep_prefix=1: a prefix other tests use at the same
# time) and $work removed, also in scripts that run with `set -e`.

failures=0
run_env=()
run_timeout=180
pids=()
keep_prefix=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

run() { timeout "$run_timeout" env "${run_env[@]}" "$wine_run" --prefix "$prefix" "$@"; }

run_batch() {
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$2" >"$work/$1.bat"
  run cmd /c "$(winpath "$work/$1.bat")"
  code=$?
  return "$code"
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }
host() { local p=${1#C:\\}; printf '%s/drive_c/%s' "$prefix" "${p//\\//}"; }

use_display() {
  DISPLAY=$("$wine_run" --prefix "$prefix" --print-display) || exit 1
  export DISPLAY
}

start_shown() {
  "$wine_run" --prefix "$prefix" --display "$@" &
  pid=$!
  pids+=("$pid")
}

find_window() {
  window=
  for _ in $(seq 1 120); do
    window=$(xdotool search --name "$2" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$1" 2>/dev/null || break
    sleep 1
  done
  return 0
}

press_return() {
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  xdotool key --window "$1" Return || true
  sleep 1
  if xdotool search --name "$2" >/dev/null 2>&1; then xdotool key Return || true; fi
}

wait_end() {
  for _ in $(seq 1 60); do kill -0 "$1" 2>/dev/null || break; sleep 1; done
  kill -0 "$1" 2>/dev/null && return 1
  code=0
  wait "$1" || code=$?
  return 0
}

hold() {
  local share=()
  case "$1" in --share=*) share=("$1"); shift ;; esac
  rm -f "$(host 'C:\holder-ready')" "$(host 'C:\holder-release')"
  env "${run_env[@]}" "$wine_run" --prefix "$prefix" "$holder" "${share[@]}" \
    'C:\holder-ready' 'C:\holder-release' "$@" >/dev/null 2>&1 &
  holder_pid=$!
  local i
  for i in $(seq 1 600); do
    [ -f "$(host 'C:\holder-ready')" ] && return 0
    kill -0 "$holder_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the file holder did not start"
}

release() {
  touch "$(host 'C:\holder-release')"
  wait "$holder_pid" 2>/dev/null
  holder_pid=
}

stop_prefix() {
  [ -n "$prefix" ] || return 0
  "$wine_run" --prefix "$prefix" --stop
}

# One server for all runs of a prefix: starting Wine anew for each run
# would cost seconds every time (should the script be killed, the server
# ends by itself a minute after the last program). The first program of a
# new server is Wine's start of the system, which also carries out the
# deletions left for the next restart.
start_server() {
  WINEPREFIX=$prefix wineserver -p60 >/dev/null 2>&1
  run cmd /c exit >/dev/null 2>&1
}

# The installer's process of this prefix, killed at once (ending the whole
# prefix takes Wine a while).
kill_installer() {
  local pid
  for pid in $(pgrep -f 'MivoSetup\.exe'); do
    { tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$prefix"; } 2>/dev/null &&
      kill -9 "$pid" 2>/dev/null
  done
}

scenario_exit() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  if declare -F scenario_cleanup >/dev/null; then scenario_cleanup; fi
  [ "$keep_prefix" = 1 ] || stop_prefix
  if [ -n "${work:-}" ]; then rm -rf "$work"; fi
}

scenario_start() {
  work=$(mktemp -d "/tmp/mivo-$1-wine.XXXXXX")
  trap scenario_exit EXIT
}

scenario_end() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures $1 check(s) failed" >&2
    exit 1
  fi
  echo "all $1 scenarios passed"
}
