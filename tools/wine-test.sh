#!/usr/bin/env bash
# Runs the tests of a Windows build under Wine (`make test-windows`):
#   wine-test.sh BUILD_DIR [CTEST_ARG...]
# The tests run in a fresh private prefix, BUILD_DIR/wine-prefix, cloned from
# a template made once per build folder (wineboot takes 10 s or more, a copy
# about one); one wineserver serves the whole run, as starting Wine afresh
# for every test program would cost a second or more each, and it is
# stopped at the end. Exit status: ctest's.
set -euo pipefail
build=$(cd "$1" && pwd)
shift
arch=$(sed -n 's/^LUMBRA_WINE_ARCH:INTERNAL=//p' "$build/CMakeCache.txt")
if [ -z "$arch" ]; then
  echo "wine-test.sh: $build is not a Windows build configured for Wine" >&2
  exit 2
fi
prefix=$build/wine-prefix
template=$prefix.template
. "$(dirname "$0")/wine-env.sh"
wine_env "$arch" "$template" || exit 1

if [ ! -f "$template/system.reg" ]; then
  echo "Making the Wine prefix template $template"
  rm -rf "$template"
  "$loader" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
rm -rf "$prefix"
cp -a "$template" "$prefix"

export WINEPREFIX=$prefix
/usr/lib/wine/wineserver -p
# The prefix's service processes start with the first program; started here,
# they hold no output of a test open.
"$loader" wineboot </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
cd "$build"
ctest --output-on-failure "$@"
