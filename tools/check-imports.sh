#!/usr/bin/env bash
# Checks that a Windows program imports only the DLLs named: everything else
# would be looked up beside the program first, and a copy planted there (the
# Downloads folder an installer is started from) would be loaded, elevated,
# before the program's first instruction runs. The DLLs named are ones that
# Windows always takes from the system folder (its known DLLs) or the C
# runtime of the system.
#
# usage: check-imports.sh OBJDUMP PROGRAM DLL...
set -uo pipefail
objdump=$1 program=$2
shift 2
imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
[ -n "$imports" ] || { echo "FAIL: no import table read from $program" >&2; exit 1; }
bad=0
while IFS= read -r dll; do
  allowed=0
  for a in "$@"; do
    [ "${dll,,}" = "${a,,}" ] && allowed=1 && break
  done
  if [ "$allowed" = 1 ]; then
    echo "imports $dll"
  else
    echo "FAIL: $program imports $dll, which Windows may load from beside the program" >&2
    bad=1
  fi
done <<<"$imports"
exit "$bad"
