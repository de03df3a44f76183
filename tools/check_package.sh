#!/usr/bin/env bash
# Builds the .deb, unpacks it into a temporary root and runs the packaged
# tool there against the packaged simulator.
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Maintainer|Depends):'
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/TolvarineCli usr/share/man/man1/TolvarineCli.1 \
         usr/share/bash-completion/completions/TolvarineCli usr/share/doc/TolvarineCli/setting.ini \
         usr/lib/TolvarineCli/simulator/Tolvarine.so usr/lib/TolvarineCli/simulator/scenarios/two-devices.sim; do
  [ -e "$work/root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done
mkdir "$work/run"
cd "$work/run"
cp "$work/root/usr/lib/TolvarineCli/simulator/Tolvarine.so" .
out=$("$work/root/usr/bin/TolvarineCli" --help)
first=$(printf '%s\n' "$out" | head -n 1)
lines=$(printf '%s\n' "$out" | wc -l)
[ "$first" = $'USAGE:\r' ] || { echo "unexpected first line: $first"; exit 1; }
[ "$lines" -eq 27 ] || { echo "expected 27 lines, got $lines"; exit 1; }
listing=$("$work/root/usr/bin/TolvarineCli" -i)
printf '%s\n' "$listing" | grep -q '^Product name: TV-200 Scanner' || { echo "no device listed: $listing"; exit 1; }
echo "package ok: $(basename "$deb")"
