#!/usr/bin/env bash
# Runs the micro-benchmarks and the whole-process comparisons, and prints
# each figure beside its target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/trace_bench" --benchmark_repetitions=1 --benchmark_out="$out" --benchmark_out_format=json

# A figure of one benchmark from the library's JSON report: its real time in
# milliseconds ("ms"), or one of its counters by name.
figure() {
  python3 - "$out" "$1" "$2" <<'PY'
import json, sys
report, name, field = sys.argv[1:]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
for b in json.load(open(report))["benchmarks"]:
    if b["name"] == name:
        print("%.3f" % (b["real_time"] * scale[b["time_unit"]] if field == "ms" else b[field]))
        break
else:
    sys.exit("no benchmark " + name)
PY
}
floor=$(figure BM_EncoderFloor/10485760 ms)
trace=$(figure BM_PrintDataDevNull/10485760 ms)
printfbase=$(figure BM_PrintfPerByteDevNull/10485760 ms)
pause=$(figure BM_PauseReadLoop/iterations:2000 mean_us)
slack=$(figure BM_PauseDefaultSlack/iterations:2000 mean_us)
echo
printf '%-52s %10s %10s  %s\n' figure value target verdict
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "met" : "MISSED" }'; }
r=$(awk -v a="$trace" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')
printf '%-52s %10s %10s  %s\n' "printData 10 MiB to /dev/null / encoder floor" "$r" "<= 1.3" "$(verdict "$r" 1.3)"
printf '%-52s %10s %10s\n' "  (printData ${trace} ms, floor ${floor} ms, printf per byte ${printfbase} ms)" "" ""
r=$(awk -v a="$pause" 'BEGIN { printf "%.2f", a / 50 }')
printf '%-52s %10s %10s  %s\n' "mean pause between reads / 50 us" "$r" "<= 1.8" "$(verdict "$r" 1.8)"
printf '%-52s %10s %10s\n' "  (read loop ${pause} us; default timer slack ${slack} us)" "" ""
echo
bash "$root/bench/compare" "$build" "${ROUNDS:-15}"
