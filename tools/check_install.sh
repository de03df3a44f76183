#!/usr/bin/env bash
# Installs the packages that `make package` made on this machine, runs their
# autopkgtest against them, then purges them and checks that no file of
# theirs is left. Needs root and a machine without them (CI's):
#   tools/check_install.sh [DEB_DIR]    (default build-deb/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
debs=$(cd "${1:-$root/build-deb}" && pwd)
fail() {
  echo "$*"
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run as root: this installs and purges packages"
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
packages=(tolvarinecli tolvarinecli-simulator)
for p in "${packages[@]}"; do
  ! dpkg -s "$p" >/dev/null 2>&1 || fail "$p is installed already: purge it first"
done
purge() { dpkg --purge "${packages[@]}" >/dev/null; }
trap purge EXIT

cd "$debs"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "./tolvarinecli_${version}_$arch.deb" "./tolvarinecli-simulator_${version}_$arch.deb"
files=$(for p in "${packages[@]}"; do dpkg-deb -c "./${p}_${version}_$arch.deb"; done |
  awk '!/^d/ { print substr($6, 2) }')
while read -r f; do [ -e "$f" ] || fail "installed, yet missing: $f"; done <<<"$files"
[ "$(command -v TolvarineCli)" = /usr/bin/TolvarineCli ] || fail "TolvarineCli is not on PATH"

autopkgtest "./tolvarinecli_${version}_$arch.changes" -- null

purge
trap - EXIT
while read -r f; do [ ! -e "$f" ] || fail "left after purging: $f"; done <<<"$files"
left=$(ls -d /usr/lib/TolvarineCli /usr/share/TolvarineCli /usr/share/doc/tolvarinecli* 2>/dev/null || true)
[ -z "$left" ] || fail "left after purging: $left"
echo "installed, tested and purged: ${packages[*]}"
