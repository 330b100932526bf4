#!/usr/bin/env bash
# Runs one pass on a copy of the bundled sample installation and shows what it
# wrote. Usage: tools/demo.sh path/to/lumbra
set -euo pipefail
lumbra=$(realpath "${1:-build/lumbra}")
root=$(cd "$(dirname "$0")/.." && pwd)
scratch="$root/scratch/demo"
rm -rf "$scratch"
mkdir -p "$scratch"
cp -r "$root/examples/demo/." "$scratch/"
find "$scratch" -name .keep -delete

echo "== One pass in $scratch"
"$lumbra" --dir "$scratch"
echo
echo "== Run log"
cat "$scratch/Lumbra.log" | tr -d '\r'
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
  "$lumbra" decode "$table" | sed 's/^/   /'
done
