#!/usr/bin/env bash
# Builds the .deb twice (the bytes must match), checks it with lintian when
# lintian is installed (no error, no warning, no hardening tag), checks the
# hardening of the packaged binaries, and runs the packaged tool against the
# packaged simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
deb=$(bash "$root/tools/package.sh" "$build" "$work/one")
again=$(bash "$root/tools/package.sh" "$build" "$work/two")
cmp "$deb" "$again" || { echo "two builds of the package differ"; exit 1; }
dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Installed-Size|Depends):'

if command -v lintian >/dev/null 2>&1; then
  # Run as a user may: lintian refuses nothing to root, but says so.
  report=$(lintian -I --pedantic --tag-display-limit 0 "$deb" 2>&1 | grep -v '^N: ' || true)
  bad=$(printf '%s\n' "$report" | grep -E '^(E|W): |hardening' || true)
  printf '%s\n' "$report" | sed '/^$/d'
  [ -z "$bad" ] || { echo "lintian reports errors, warnings or hardening tags"; exit 1; }
else
  echo "lintian is not installed: its check is skipped"
fi

dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/TolvarineCli usr/share/man/man1/TolvarineCli.1.gz \
         usr/share/bash-completion/completions/TolvarineCli usr/share/doc/tolvarinecli/setting.ini \
         usr/share/doc/tolvarinecli/copyright usr/share/doc/tolvarinecli/changelog.gz \
         usr/share/doc/tolvarinecli/README.simulator.md usr/lib/TolvarineCli/simulator/Tolvarine.so \
         usr/share/TolvarineCli/scenarios/two-devices.sim; do
  [ -e "$work/root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done
for binary in usr/bin/TolvarineCli usr/lib/TolvarineCli/simulator/Tolvarine.so; do
  bash "$root/tools/check_hardening.sh" "$work/root/$binary"
done
zcat "$work/root/usr/share/man/man1/TolvarineCli.1.gz" | grep -q '/usr/lib/TolvarineCli/simulator' ||
  { echo "the packaged man page does not name the installed simulator"; exit 1; }

mkdir "$work/run"
cd "$work/run"
cp "$work/root/usr/lib/TolvarineCli/simulator/Tolvarine.so" .
out=$("$work/root/usr/bin/TolvarineCli" --help)
first=$(printf '%s\n' "$out" | head -n 1)
lines=$(printf '%s\n' "$out" | wc -l)
[ "$first" = $'USAGE:\r' ] || { echo "unexpected first line: $first"; exit 1; }
[ "$lines" -eq 27 ] || { echo "expected 27 lines, got $lines"; exit 1; }
listing=$(TOLVARINE_SIM="$work/root/usr/share/TolvarineCli/scenarios/two-devices.sim" \
  "$work/root/usr/bin/TolvarineCli" -i)
printf '%s\n' "$listing" | grep -q '^Product name: TV-310 Reader' || { echo "no device listed: $listing"; exit 1; }
echo "package ok: $(basename "$deb")"
