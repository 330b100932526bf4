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
if [ "$arch" = win32 ]; then loader=/usr/lib/wine/wine; else loader=/usr/lib/wine/wine64; fi
if [ ! -x "$loader" ]; then
  echo "wine-test.sh: $loader is missing: the $arch tests cannot run on this machine" >&2
  exit 1
fi

prefix=$build/wine-prefix
template=$prefix.template
export WINEARCH=$arch WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$template/system.reg" ]; then
  echo "Making the Wine prefix template $template"
  rm -rf "$template"
  WINEPREFIX=$template "$loader" wineboot -i >/dev/null 2>&1
  WINEPREFIX=$template /usr/lib/wine/wineserver -w
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
