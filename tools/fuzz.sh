#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for FUZZ_SECONDS, starting
# from its checked-in seed corpus; prints executions and findings per target.
# Exits non-zero when any target found something.
set -eu
seconds=${FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTOLVARINE_FUZZ=ON -DTOLVARINE_SANITIZE=ON -DBUILD_TESTING=OFF -DTOLVARINE_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
printf '%-16s %12s %9s\n' target executions findings
for seeds in "$root"/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" "$seeds" \
    >"$work/$target/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/log" | tail -n 1)
  findings=$(find "$work/$target/artifacts" -type f | wc -l)
  printf '%-16s %12s %9s\n' "$target" "${runs:-?}" "$findings"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    failed=1
    grep -E 'property violated|ERROR|runtime error' "$work/$target/log" | head -n 5 || true
    for f in "$work/$target/artifacts"/*; do
      [ -f "$f" ] && cp "$f" "$root/fuzz-finding-$target-$(basename "$f")" && echo "  kept $root/fuzz-finding-$target-$(basename "$f")"
    done
  fi
done
exit "$failed"
