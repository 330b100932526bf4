#!/usr/bin/env bash
# A whole pass on the Aurora benchmark installation (aurora_bench
# --installation: 100,000 customers and stock items, 200,000 invoice lines,
# one device's 10,000 lines to post, nine device folders), by the Linux
# program and by the Windows program under Wine, each on a fresh copy written
# to the disk before it is timed. Prints each pass's wall and CPU time (the
# Wine server's own not counted) and the time its log gives the pass itself.
#   tools/pass-bench.sh [RUNS] [aurora_bench size options...]
# Needs build/ (make build) and build-win64/ (make windows).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
[ $# -gt 0 ] && shift
linux=build/lumbra win=build-win64/lumbra.exe bench=build/aurora_bench
for f in "$linux" "$win" "$bench"; do
  [ -e "$f" ] || { echo "pass-bench.sh: $f is missing (make build windows)" >&2; exit 1; }
done
scratch=$(mktemp -d /tmp/lumbra-pass-bench-XXXXXX)
prefix=$PWD/build-win64/wine-prefix
. tools/wine-env.sh
wine_env win64 "$prefix"
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

"$bench" --installation "$scratch/base" "$@"
# Wine's server stays up between the passes, as during the tests: a pass then
# pays Wine's start-up of one process, not of the whole prefix.
tools/wine-run.sh --prefix "$prefix" -- "$win" --version >/dev/null
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -p
"$loader" wineboot </dev/null >/dev/null 2>&1

# Two passes on a fresh copy: the first posts the device's lines, exports
# and serves the device folders; the second, with nothing handed in, only
# exports and serves them.
passes() {  # NAME COMMAND...
  local name=$1 copy=$scratch/$1
  shift
  rm -rf "$copy"
  cp -a "$scratch/base" "$copy"
  sync
  for what in "posting+export" "export"; do
    local times
    times=$( { TIMEFORMAT='%R %U %S'; time "$@" --dir "$copy" >/dev/null 2>&1; } 2>&1 )
    awk -v n="$name" -v w="$what" -v t="$times" -v l="$(sed -n 's/.*pass ended after \([0-9.]*\) s.*/\1/p' "$copy/Lumbra.log" | tail -1)" \
      'BEGIN { split(t, x, " "); printf "%-6s %-15s wall %6.2f s, CPU %5.2f s, pass in the log %6.2f s\n", n, w, x[1], x[2] + x[3], l }'
  done
}
for ((i = 1; i <= runs; i++)); do
  passes linux "$linux"
  passes wine tools/wine-run.sh --prefix "$prefix" -- "$win"
done
