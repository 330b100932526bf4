#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix: the test emulator of
# the Windows builds (CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh --prefix DIR [--arch win64|win32] -- PROGRAM.exe [ARG...]
#
# - The prefix is always DIR, never the user's ~/.wine; a missing prefix is
#   made first (a copy of DIR.template when there is one, else wineboot).
# - No display: Wine runs headless, and no box can ever wait for a click.
# - Arguments that are Unix paths ("/tmp/x", "--opt=/tmp/x") become Windows
#   paths on drive Z: ("Z:\tmp\x"), which maps the Unix root, so the
#   program's path rules see absolute Windows paths.
# The exit status is the program's.
set -euo pipefail

prefix="" arch=win64
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ -z "$prefix" ] || [ $# -eq 0 ]; then
  echo "usage: wine-run.sh --prefix DIR [--arch win64|win32] -- PROGRAM [ARG...]" >&2
  exit 2
fi
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
. "$(dirname "$0")/wine-env.sh"
wine_env "$arch" "$prefix" || exit 127

# The prefix is made once, under a lock: ctest may start several programs at
# the same moment.
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock -w 300 9
  if [ ! -f "$prefix/system.reg" ]; then
    wine_new_prefix "$prefix.template"
  fi
  exec 9>&-
fi

# Starting Wine in a prefix starts its service processes too, and they live
# as long as its server: started with this program's output, they would hold
# it open and a caller waiting for its end (ctest) would wait for theirs.
# So they are started first, without it, unless the server runs already.
server=$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))
if ! compgen -G "${TMPDIR:-/tmp}/*wine*/$server/socket" >/dev/null; then
  "$loader" wineboot </dev/null >/dev/null 2>&1 || true
fi

program=$1
shift
args=()
for a in "$@"; do
  case "$a" in
    /*) a="Z:${a//\//\\}" ;;
    --*=/*) v=${a#*=}; a="${a%%=*}=Z:${v//\//\\}" ;;
  esac
  args+=("$a")
done
exec "$loader" "$program" "${args[@]}"
