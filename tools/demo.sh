#!/usr/bin/env bash
# Runs one pass on a copy of each bundled sample installation (examples/*/)
# and shows what it wrote. A sample with an executable "prepare" script gets
# it run on its copy first, with the build folder as second argument, so it
# can generate back-end data the program itself writes (DBF tables, a
# database file).
# Usage: tools/demo.sh path/to/lumbra [sample...]
set -euo pipefail
lumbra=$(realpath "${1:-build/lumbra}")
[ $# -gt 0 ] && shift
build=$(dirname "$lumbra")
root=$(cd "$(dirname "$0")/.." && pwd)
samples=("$@")
if [ ${#samples[@]} -eq 0 ]; then
  for d in "$root"/examples/*/; do samples+=("$(basename "$d")"); done
fi

show_sample() {
  local name=$1 scratch="$root/scratch/$1"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  cp -r "$root/examples/$name/." "$scratch/"
  find "$scratch" -name .keep -delete
  if [ -x "$scratch/prepare" ]; then
    "$scratch/prepare" "$scratch" "$build"
    rm -f "$scratch/prepare"
  fi

  echo "==== Sample installation '$name': one pass in $scratch"
  "$lumbra" --dir "$scratch"
  echo
  echo "== Run log"
  tr -d '\r' < "$scratch/Lumbra.log" | iconv -f CP1252 -t UTF-8
  for folder in "$scratch"/1 "$scratch"/[2-9] "$scratch"/[1-9][0-9]; do
    [ -d "$folder" ] || continue
    echo
    echo "== Folder $(basename "$folder")"
    ls -1 "$folder"
  done
  echo
  echo "== Device tables in folder 1, decoded"
  for table in "$scratch"/1/*.dat; do
    [ -f "$table" ] || continue
    echo "-- $(basename "$table")"
    "$lumbra" decode "$table" | iconv -f CP1252 -t UTF-8 | sed 's/^/   /'
  done
  echo
}

for s in "${samples[@]}"; do show_sample "$s"; done
