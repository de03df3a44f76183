#!/usr/bin/env bash
# Builds the Debian source package and its binary packages (the tool, the
# simulated device library, and the -dbgsym of each) with dpkg-buildpackage,
# from a copy of the work tree, into one folder:
#   tools/build_deb.sh [OUT_DIR]      (default build-deb/, emptied first)
# The copy holds what git would commit (no build folder) and is removed
# afterwards, so nothing is written outside OUT_DIR. dpkg-buildpackage's
# output goes to OUT_DIR/build.log; DEB_BUILD_OPTIONS passes through
# (nocheck skips building and running the tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-deb}
source=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Source)
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
tree=$out/$source-$version
mkdir "$tree"

cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked and new files as they are now, less those deleted.
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null --no-recursion -T - -cf - | tar -xf - -C "$tree"
else
  tar --exclude=./build --exclude='./build-*' -cf - . | tar -xf - -C "$tree"
fi

if ! (cd "$tree" && dpkg-buildpackage -us -uc) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log"
  echo "dpkg-buildpackage failed: $out/build.log"
  exit 1
fi
rm -rf "$tree"
ls -1 "$out"/*.changes "$out"/*.dsc "$out"/*.deb
