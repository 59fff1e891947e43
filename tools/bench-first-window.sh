#!/usr/bin/env bash
# Time to the first window under a warm Wine: the demo installer
# (MivoSetup.exe) and the same installer with a product package of about
# 40 MB (MivoSetupLarge.exe) against the peer, a trivial window program
# built the same way, all started in turn by one timing program inside one
# running Wine, ROUNDS rounds (default 11) after one round to warm up.
# An installer's first window is its language dialog; the timer answers it
# at once, and the installer's figure is the time to its first painted
# wizard page. Prints, per program, the median and the range in ms, and the
# installers' medians as ratios to the peer's (goal: the wizard page within
# 500 ms). Then it times "ipk verify" of both product packages under the
# same Wine, which decodes them as the installer does before its first window.
# The machine's load shows in every figure; the ratios are what compare.
#
# usage: tools/bench-first-window.sh [MINGW_BUILD_DIR] [ROUNDS]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/mingw}
rounds=${2:-11}
[ "$rounds" -ge 1 ] || { echo "ROUNDS must be at least 1" >&2; exit 2; }

cmake --preset mingw -B "$build" -DMIVO_BENCH=ON >"$build/configure-bench.log" 2>&1 ||
  { cat "$build/configure-bench.log"; exit 1; }
cmake --build "$build" -j 2 --target demo_setup bench_large_setup bench_first_window_peer \
  bench_first_window_timer ipk >/dev/null

wine_run=$root/tools/wine-run.sh prefix=
source "$root/tests/wine/scenario-lib.sh"
run_timeout=3600
scenario_start bench-first-window
prefix=$work/prefix
export WINEPREFIX=$prefix

run cmd /c ver >/dev/null 2>&1
# Xvfb has no window manager, and Wine waits two seconds for one whenever a
# window it handed to the manager is hidden or destroyed (the language
# dialog, here). Windows knows no such wait: Wine keeps its windows to itself.
run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
bench=$prefix/drive_c/bench
mkdir -p "$bench"
cp "$build/bench/bench_first_window_peer.exe" "$bench/Peer.exe"
cp "$build/bench/bench_first_window_timer.exe" "$bench/Timer.exe"
cp "$build/demo/MivoSetup.exe" "$bench/MivoSetup.exe"
cp "$build/bench/MivoSetupLarge.exe" "$bench/MivoSetupLarge.exe"
cp "$build/tools/ipk/ipk.exe" "$bench/ipk.exe"
cp "$build/demo/product.ipk" "$bench/demo.ipk"
cp "$build/bench/large-product.ipk" "$bench/large.ipk"
names=(peer demo large)
commands=('C:\bench\Peer.exe' 'C:\bench\MivoSetup.exe' 'C:\bench\MivoSetupLarge.exe')
echo "product packages: demo $(stat -c %s "$build/demo/product.ipk") bytes," \
  "large $(stat -c %s "$build/bench/large-product.ipk") bytes"

# One timing program starts them all, so the Wine server stays up between
# the starts and every start is a warm one; round 0 only warms up.
results=$work/results
run 'C:\bench\Timer.exe' $((rounds + 1)) "${commands[@]}" | tr -d '\r' | awk '$1 > 0' >"$results"

# column 3: first window; column 4: first wizard page (the window, for the peer)
stats() {  # index column -> "median min max"
  awk -v i="$1" '$2 == i { print $'"$2"' }' "$results" | sort -n |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              printf "%.0f %.0f %.0f\n", m, v[1], v[NR] }'
}
read -r peer_median peer_min peer_max < <(stats 0 4)
printf '%d rounds, in turn; median (range) in ms\n' "$rounds"
printf '  %-28s %5s (%s-%s)\n' "peer: window painted" "$peer_median" "$peer_min" "$peer_max"
for i in 1 2; do
  read -r dialog_median dialog_min dialog_max < <(stats "$i" 3)
  read -r page_median page_min page_max < <(stats "$i" 4)
  printf '  %-28s %5s (%s-%s)\n' "${names[$i]}: language dialog" "$dialog_median" "$dialog_min" "$dialog_max"
  printf '  %-28s %5s (%s-%s)   ratio to the peer %s, %+d ms\n' "${names[$i]}: first wizard page" \
    "$page_median" "$page_min" "$page_max" \
    "$(awk -v a="$page_median" -v b="$peer_median" 'BEGIN { printf "%.2f", a / b }')" \
    $((page_median - peer_median))
done

# What the large package costs before any window: the installer decodes and
# checks both packages before its first window. "ipk verify" does the same
# decoding under the same Wine; its processor time (user and system, which
# the machine's load does not stretch) is the median of three runs.
wineserver -p 60 >/dev/null 2>&1 || true
verify_cpu() {  # package -> median processor seconds of ipk verify
  local TIMEFORMAT='%U %S'
  for _ in 1 2 3; do
    { time run 'C:\bench\ipk.exe' verify "C:\\bench\\$1" >/dev/null 2>&1; } 2>&1 |
      awk '{ printf "%.2f\n", $1 + $2 }'
  done | sort -n | sed -n 2p
}
printf '  %-28s %5s s of processor time (demo package: %s s)\n' "ipk verify, large package" \
  "$(verify_cpu large.ipk)" "$(verify_cpu demo.ipk)"
