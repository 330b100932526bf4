#!/usr/bin/env bash
# Checks that the source folders include one another in one direction only:
# a file may include headers of its own folder and of the folders below it
# in this order, never of a folder above it.
#   platform  <  text  <  backends/context  <  tables  <  intake
#             <  backends/<name>, report  <  run  <  src (the entry point)
# Prints every include that runs upwards and exits 1 when there is one.
set -u
cd "$(dirname "$0")/.."
rank() {
  case "$1" in
    platform*) echo 0 ;;
    text*) echo 1 ;;
    backends/context*) echo 2 ;;
    tables*) echo 3 ;;
    intake*) echo 4 ;;
    backends/*) echo 5 ;;
    report*) echo 5 ;;
    run*) echo 6 ;;
    *) echo 7 ;;
  esac
}
bad=0
while IFS= read -r file; do
  from=${file#src/}
  from_dir=$(dirname "$from")
  from_rank=$(rank "$from_dir")
  while IFS= read -r inc; do
    to_dir=$(dirname "$inc")
    [ "$to_dir" = "$from_dir" ] && continue
    to_rank=$(rank "$to_dir")
    if [ "$to_rank" -gt "$from_rank" ]; then
      echo "$file includes $inc (a higher layer)"
      bad=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cc' | sort)
exit $bad
