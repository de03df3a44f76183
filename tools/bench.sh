#!/usr/bin/env bash
# Runs the micro-benchmarks and the whole-process comparisons, and prints
# each figure beside its target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Medians of five repetitions: the machine is shared and noisy.
"$build/bench/trace_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json

# A figure of one benchmark from the library's JSON report, the median of
# its repetitions: its real time in milliseconds ("ms"), or a counter.
figure() {
  python3 - "$out" "$1" "$2" <<'PY'
import json, sys
report, name, field = sys.argv[1:]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
for b in json.load(open(report))["benchmarks"]:
    if b["name"] == name + "_median":
        print("%.3f" % (b["real_time"] * scale[b["time_unit"]] if field == "ms" else b[field]))
        break
else:
    sys.exit("no benchmark " + name)
PY
}
encode=$(figure BM_Encode/10485760 ms)
table=$(figure BM_EncodeTable/10485760 ms)
memset=$(figure BM_MemsetFloor/10485760 ms)
trace=$(figure BM_PrintDataDevNull/10485760 ms)
printfbase=$(figure BM_PrintfPerByteDevNull/10485760 ms)
pause=$(figure BM_PauseReadLoop/iterations:2000 mean_us)
echo
missed=0
row() {
  local verdict
  verdict=$(awk -v v="$2" -v t="$3" 'BEGIN { print (v <= t) ? "met" : "MISSED" }')
  [ "$verdict" = met ] || missed=1
  printf '%-52s %10s %10s  %s\n' "$1" "$2" "<= $3" "$verdict"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-52s %10s %10s  %s\n' figure value target verdict
row "encoder, 10 MiB / memset of its 30 MiB of text" "$(ratio "$encode" "$memset")" 2.5
printf '  (encoder %s ms, table encoder %s ms, memset %s ms)\n' "$encode" "$table" "$memset"
# The whole trace, from a 10 MiB answer in memory; the whole-process rows
# below hold it to the floor.
printf '  (printData of 10 MiB to /dev/null %s ms, printf per byte %s ms)\n' "$trace" "$printfbase"
row "mean pause between reads / 50 us" "$(ratio "$pause" 50)" 1.1
printf '  (%s us)\n' "$pause"
echo
status=0
bash "$root/bench/compare" "$build" "${ROUNDS:-15}" || status=$?
if [ "$missed" -ne 0 ] || [ "$status" -ne 0 ]; then
  echo "some targets were MISSED"
  exit 1
fi
echo "every target met"
