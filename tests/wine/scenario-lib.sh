# Shared part of the Wine scenario scripts (tests/*/wine/*_scenarios.sh),
# sourced by each of them after it has set:
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
#   stop_prefix             ends the prefix's Wine server and virtual display
#   scenario_end WHAT       the summary line; exit code 1 after failures
# On exit the script's own `scenario_cleanup` runs (when it defines one),
# then the prefix is stopped and $work removed.

failures=0
run_env=()
run_timeout=180

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

stop_prefix() {
  [ -n "$prefix" ] || return 0
  WINEPREFIX=$prefix timeout 20 wineserver -k >/dev/null 2>&1
  local n xpid
  if [ -f "$prefix.xvfb" ] && read -r n xpid <"$prefix.xvfb"; then
    kill "$xpid" 2>/dev/null
    rm -f "$prefix.xvfb"
  fi
}

scenario_exit() {
  declare -F scenario_cleanup >/dev/null && scenario_cleanup
  stop_prefix
  [ -n "${work:-}" ] && rm -rf "$work"
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
