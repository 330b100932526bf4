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
  wine_new_prefix ""
fi
rm -rf "$prefix"
cp -a "$template" "$prefix"

# Wine's odbc32 hands every ODBC call to the host's unixODBC, which reads
# its driver list from the host's environment: the tests' driver MYOB_ODBC
# (the SQLite3 driver under the MYOB driver's name) is registered here, as
# the Linux tests do for themselves.
drivers=$build/odbc-drivers
mkdir -p "$drivers"
: >"$drivers/odbc.ini"
awk '
  { sub(/^CommLog=1/, "CommLog=0"); print }
  /^\[/ { copy = ($0 == "[SQLite3]") }
  copy && !/^\[/ { body = body $0 "\n" }
  END { if (body != "") printf "\n[MYOB_ODBC]\n%s", body }
' "${ODBCSYSINI:-/etc}/odbcinst.ini" >"$drivers/odbcinst.ini"
export ODBCSYSINI=$drivers

export WINEPREFIX=$prefix
/usr/lib/wine/wineserver -p
# The prefix's service processes start with the first program; started here,
# they hold no output of a test open.
"$loader" wineboot </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
cd "$build"
ctest --output-on-failure "$@"
