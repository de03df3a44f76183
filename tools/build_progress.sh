#!/usr/bin/env bash
# Builds (make build) with every line of the build in build/build.log, and
# shows only its progress, on one line ("[42/97]" as ninja counts, or make's
# "[ 42%]") when standard output is a terminal. The log is shown when the
# build fails, and the build's exit status is kept.
#   tools/build_progress.sh [make's variables...]
set -uo pipefail
log=build/build.log
mkdir -p build
if [ -t 1 ]; then
  make --no-print-directory build "$@" 2>&1 | tee "$log" |
    awk 'match($0, /^\[ *[0-9]+(\/[0-9]+|%)\]/) {
           printf "\r  building %s", substr($0, RSTART, RLENGTH); fflush(); shown = 1 }
         END { if (shown) printf "\r  built%30s\n", "" }'
else
  make --no-print-directory build "$@" >"$log" 2>&1
fi
status=$?
[ "$status" -eq 0 ] || cat "$log"
exit "$status"
