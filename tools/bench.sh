#!/usr/bin/env bash
# Runs the speed benchmark of a build folder: sorting and writing a large
# customer table, and replicating the standard tables against plain cp.
# Usage: tools/bench.sh [build-folder] [--rows N] [--devices N]
set -euo pipefail
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/lumbra_bench"
if [ ! -x "$bench" ]; then
  echo "bench.sh: $bench not found; build with -DLUMBRA_BENCH=ON first" >&2
  exit 1
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
if grep -q '^LUMBRA_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  echo "bench.sh: warning: $build is a sanitizer build; times mean little" >&2
fi
case "$type" in
  Release|RelWithDebInfo) ;;
  *) echo "bench.sh: warning: $build is a '${type:-unknown}' build, not an optimised one" >&2 ;;
esac
exec "$bench" "$@"
