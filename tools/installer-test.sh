#!/usr/bin/env bash
# Tests the Windows installer under Wine (`make test-windows`):
#   installer-test.sh SETUP.exe BUILD_DIR
# In a private prefix (a copy of BUILD_DIR/wine-prefix.template when there is
# one): a silent installation with the defaults, which must leave the 32-bit
# lumbra.exe, folder 1 and the uninstaller; one of the 64-bit program with
# Lumbra.ini written and the scheduled task, whose program then runs a pass;
# and the uninstaller, which must remove the task and the program and leave
# the device folders, tables, settings and log alone. Prints "N passed, N
# failed".
set -uo pipefail
setup=$(realpath "$1")
build=$(cd "$2" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
. "$tools/wine-env.sh"
prefix=$build/installer-prefix
work=$build/installer-test
wine_env win64 "$prefix" || exit 1
rm -rf "$work"
mkdir -p "$work"
wine_new_prefix "$build/wine-prefix.template"
/usr/lib/wine/wineserver -w
trap '/usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$prefix"' EXIT

passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"
  else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
# Runs a Windows program and waits until every process it started has ended
# (an uninstaller goes on in a copy of itself).
run() {
  "$loader" "$@" </dev/null >/dev/null 2>&1
  local rc=$?
  /usr/lib/wine/wineserver -w
  return $rc
}
# The machine of a Windows program's PE header: 14c (i386) or 8664 (x86-64).
machine() {
  local at
  at=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$at" ] && od -An -t x2 -j $((at + 4)) -N 2 "$1" | tr -d ' '
}
# Wine keeps each scheduled task as a file of its system folder.
task_exists() { find "$prefix/drive_c/windows/system32" -maxdepth 2 -ipath '*/tasks/lumbra pass' | grep -q .; }
no_task() { ! task_exists; }

# The defaults: the 32-bit program, no Lumbra.ini.
a=$work/Default
check "silent installation exits 0" run "$setup" /S /NOTASK "/D=$(winpath "$a")"
check "lumbra.exe installed" test -f "$a/lumbra.exe"
check "the 32-bit program by default" test "$(machine "$a/lumbra.exe")" = 014c
check "folder 1 made" test -d "$a/1"
check "uninstaller written" test -f "$a/uninstall-lumbra.exe"
check "no Lumbra.ini unless a back-end is chosen" test ! -e "$a/Lumbra.ini"

# The 64-bit program with its settings, and the scheduled task.
b=$work/Lumbra64
check "silent installation of the 64-bit program exits 0" \
  run "$setup" /S /64 "/BACKEND=MS Access®" "/DATAPATH=shop.db" "/D=$(winpath "$b")"
check "the 64-bit program when chosen" test "$(machine "$b/lumbra.exe")" = 8664
check "Lumbra.ini in Windows-1252 with CR LF" \
  cmp -s "$b/Lumbra.ini" <(printf 'appname=MS Access\xae\r\npath=shop.db\r\n')
check "scheduled task created" task_exists
mkdir -p "$b/2"
printf 'older\r\n' >"$b/2/Customers.dat"
run "$b/lumbra.exe" --no-dialogs
check "the installed program runs a pass (log written)" test -s "$b/Lumbra.log"
check "uninstalling exits 0" run "$b/uninstall-lumbra.exe" /S
check "program removed" test ! -e "$b/lumbra.exe"
check "uninstaller removed" test ! -e "$b/uninstall-lumbra.exe"
check "device folders and tables kept" test -d "$b/1" -a -f "$b/2/Customers.dat"
check "settings and log kept" test -f "$b/Lumbra.ini" -a -f "$b/Lumbra.log"
check "scheduled task removed" no_task
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
