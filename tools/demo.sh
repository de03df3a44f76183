#!/usr/bin/env bash
# Runs TolvarineCli against the simulated device library in a fresh folder.
set -eu
build=$(cd "${1:-build}" && pwd)
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/Tolvarine.so" "$demo/"
cd "$demo"
run() {
  printf '\n$ TolvarineCli %s\n' "$*"
  "$build/TolvarineCli" "$@"
}
run -i
run --execute RRDDUR2000
run --execute RDVER
