#!/usr/bin/env bash
# Checks the Debian packages that `make package` (tools/build_deb.sh) made:
#   tools/check_package.sh [DEB_DIR]    (default build-deb/)
# - a second build of the same tree, without the tests, gives the same bytes
#   for every binary package;
# - lintian -I --pedantic on the .changes prints no error, no warning and no
#   hardening tag (skipped when lintian is not installed);
# - each package holds its own files, and the tool's never the simulated
#   library;
# - both binaries are hardened and need no C++ runtime; the man page is
#   clean and names the installed simulator; the completion works as
#   installed;
# - the packaged tool runs against the packaged simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
debs=$(cd "${1:-$root/build-deb}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*"
  exit 1
}
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
project=$(sed -n 's/^project(TolvarineCli VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$version" = "$project" ] || fail "debian/changelog is at $version, CMakeLists.txt at $project"
# Files newer than the changelog's date get that date in the packages; from
# a date still to come, they would keep their own.
[ "$(dpkg-parsechangelog -l "$root/debian/changelog" -S Timestamp)" -le "$(date +%s)" ] ||
  fail "debian/changelog is dated in the future: the packages cannot be reproducible"
arch=$(dpkg --print-architecture)
tool=$debs/tolvarinecli_${version}_$arch.deb
sim=$debs/tolvarinecli-simulator_${version}_$arch.deb
changes=$debs/tolvarinecli_${version}_$arch.changes
for f in "$tool" "$sim" "$changes" "$debs/tolvarinecli-dbgsym_${version}_$arch.deb" \
  "$debs/tolvarinecli-simulator-dbgsym_${version}_$arch.deb" "$debs/tolvarinecli_$version.dsc"; do
  [ -e "$f" ] || fail "not built: $f (run make package)"
done

DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" bash "$root/tools/build_deb.sh" "$work/again" >/dev/null
[ "$(cd "$debs" && ls -- *.deb)" = "$(cd "$work/again" && ls -- *.deb)" ] ||
  fail "a second build made other packages"
for deb in "$debs"/*.deb; do
  cmp "$deb" "$work/again/${deb##*/}" || fail "two builds of ${deb##*/} differ"
done
echo "reproducible: $(cd "$debs" && echo ./*.deb)"

if command -v lintian >/dev/null 2>&1; then
  report=$(lintian -I --pedantic --tag-display-limit 0 "$changes" 2>&1 |
    grep -vE '^N: |running with root privileges' || true)
  printf 'lintian: %s\n' "${report:-clean}"
  if grep -qE '^(E|W): |hardening' <<<"$report"; then
    fail "lintian reports errors, warnings or hardening tags"
  fi
else
  echo "lintian is not installed: its check is skipped"
fi

# The files of each package, as paths without the leading dot.
contents() { dpkg-deb -c "$1" | awk '{ print substr($6, 2) }'; }
has() {
  grep -qxF "$2" <<<"$(contents "$1")" || fail "missing from ${1##*/}: $2"
}
for f in /usr/bin/TolvarineCli /usr/share/man/man1/TolvarineCli.1.gz \
  /usr/share/bash-completion/completions/TolvarineCli /usr/share/doc/tolvarinecli/setting.ini \
  /usr/share/doc/tolvarinecli/README.md.gz /usr/share/doc/tolvarinecli/copyright \
  /usr/share/doc/tolvarinecli/changelog.gz; do
  has "$tool" "$f"
done
for f in /usr/lib/TolvarineCli/simulator/Tolvarine.so /usr/share/TolvarineCli/scenarios/failures.sim \
  /usr/share/doc/tolvarinecli-simulator/README.simulator.md.gz \
  /usr/share/doc/tolvarinecli-simulator/copyright /usr/share/doc/tolvarinecli-simulator/changelog.gz; do
  has "$sim" "$f"
done
! contents "$tool" | grep -E 'Tolvarine\.so|scenarios|simulator' || fail "the tool's package holds the above"
grep -q '^-rw-r--r-- root/root .*/Tolvarine\.so$' <<<"$(dpkg-deb -c "$sim")" ||
  fail "Tolvarine.so is not a root-owned 644 file: it is loaded, never run"

dpkg-deb -x "$tool" "$work/root"
dpkg-deb -x "$sim" "$work/root"
library=$work/root/usr/lib/TolvarineCli/simulator/Tolvarine.so
bash "$root/tools/check_hardening.sh" "$work/root/usr/bin/TolvarineCli"
bash "$root/tools/check_hardening.sh" "$library"
sh "$root/tools/check_runtime.sh" "$work/root/usr/bin/TolvarineCli"
! readelf -d "$library" | grep -E 'NEEDED.*lib(stdc\+\+|gcc_s)' || fail "the simulator needs the above"

zcat "$work/root/usr/share/man/man1/TolvarineCli.1.gz" >"$work/TolvarineCli.1"
sh "$root/tools/check_man_page.sh" "$work/TolvarineCli.1"
for path in /usr/lib/TolvarineCli/simulator/Tolvarine.so '/usr/share/doc/tolvarinecli\-simulator'; do
  grep -qF "$path" "$work/TolvarineCli.1" || fail "the packaged man page does not name $path"
done
status=0
bash "$root/completion/completion_test.sh" \
  "$work/root/usr/share/bash-completion/completions/TolvarineCli" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || fail "the packaged completion fails"

mkdir "$work/run"
cd "$work/run"
cp "$library" .
out=$("$work/root/usr/bin/TolvarineCli" --help)
[ "$(head -n 1 <<<"$out")" = $'USAGE:\r' ] || fail "unexpected usage: $out"
[ "$(wc -l <<<"$out")" -eq 27 ] || fail "expected 27 lines of usage, got: $out"
listing=$(TOLVARINE_SIM="$work/root/usr/share/TolvarineCli/scenarios/two-devices.sim" \
  "$work/root/usr/bin/TolvarineCli" -i)
grep -q '^Product name: TV-310 Reader' <<<"$listing" || fail "no device listed: $listing"
echo "packages ok: ${tool##*/} ${sim##*/}"
