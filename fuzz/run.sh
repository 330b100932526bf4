#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while each:
#   fuzz/run.sh BUILD [SECONDS] [TARGET...]
# Each target starts from its seed corpus, fuzz/corpus/<target>/, which it
# only reads; what it learns goes to BUILD/fuzz-corpus/<target>/ and is kept
# there for the next run. An input that crashes a target is saved as
# BUILD/fuzz-crashes/<target>-crash-<hash> and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/run.sh BUILD [SECONDS] [TARGET...]}
seconds=${2:-5}
shift $(( $# < 2 ? $# : 2 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzz.cc; do
    name=$(basename "$source" .cc)
    targets+=("${name%_fuzz}")
  done
fi
mkdir -p "$build/fuzz-crashes"
# Targets that read files work in a scratch folder of their own under
# TMPDIR; in memory they run many times faster than on a disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
failed=0
for target in "${targets[@]}"; do
  program="$build/fuzz/${target}_fuzz"
  learned="$build/fuzz-corpus/$target"
  mkdir -p "$learned"
  log="$build/fuzz-crashes/$target.log"
  # -timeout: one input may take at most 10 s; -rss_limit_mb: 2 GiB.
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$build/fuzz-crashes/$target-" -print_final_stats=1 \
       "$learned" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cover=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz $target: ${runs:-?} inputs in ${seconds} s, $cover, no failure"
  else
    echo "fuzz $target: FAILED, see $log"
    grep -E 'ERROR|SUMMARY|lumbra fuzz|Test unit written' "$log" | head -5
    failed=1
  fi
done
exit $failed
