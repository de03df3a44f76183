#!/usr/bin/env bash
# Runs the micro-benchmarks and the whole-process comparisons, and prints
# each figure beside its target.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/trace_bench" --benchmark_repetitions=1 | tee "$out"

# Times in milliseconds by benchmark name; the pause means in microseconds.
ms() { awk -v n="$1" '$1 == n { t = $2; u = $3; f = (u == "ns") ? 1e-6 : (u == "us") ? 1e-3 : (u == "s") ? 1e3 : 1; printf "%.3f", t * f }' "$out"; }
mean() { awk -v n="$1" '$1 == n { for (i = 1; i <= NF; ++i) if ($i ~ /^mean_us=/) { sub("mean_us=", "", $i); print $i } }' "$out"; }
floor=$(ms BM_EncoderFloor/10485760/min_time:0.000)
[ -n "$floor" ] || floor=$(ms BM_EncoderFloor/10485760)
trace=$(ms BM_PrintDataDevNull/10485760)
printfbase=$(ms BM_PrintfPerByteDevNull/10485760)
pause=$(mean BM_PauseReadLoop/iterations:2000)
slack=$(mean BM_PauseDefaultSlack/iterations:2000)
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
