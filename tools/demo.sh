#!/usr/bin/env bash
# Runs TolvarineCli against the simulated device library in a fresh folder
# and shows every command at work.
set -eu
build=$(cd "${1:-build}" && pwd)
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/Tolvarine.so" "$demo/"
cd "$demo"
printf 'readtimeout=1500\n' > setting.ini
printf 'simulated firmware image\n' > firmware.bin
run() {
  printf '\n$ TolvarineCli %s\n' "$*"
  "$build/TolvarineCli" "$@"
}
run -i
run --execute RRDDUR2000
run --execute RDVER
run --Gpic
run --export config.xml
run --import config.xml
run --firmware firmware.bin
printf '\nThe picture and the configuration are in %s:\n' "$demo"
ls -l "$demo/test.bmp" "$demo/config.xml"
