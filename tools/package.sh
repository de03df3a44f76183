#!/usr/bin/env bash
# Builds the Debian package of the tool, its documentation and the simulated
# device library from the build folder:
#   tools/package.sh [BUILD_DIR] [OUT_DIR]
# Reproducible: every timestamp is SOURCE_DATE_EPOCH (by default the last
# commit's), owners are root, modes are fixed, and two builds of one commit
# give the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$build}" && cd "${2:-$build}" && pwd)
name=tolvarinecli
version=$(sed -n 's/^project(TolvarineCli VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
arch=$(dpkg --print-architecture)
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH
umask 022
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
doc=$stage/usr/share/doc/$name
for binary in "$stage/usr/bin/TolvarineCli" "$stage/usr/lib/TolvarineCli/simulator/Tolvarine.so"; do
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$binary"
done
gzip -9n "$stage/usr/share/man/man1/TolvarineCli.1"
cp "$root/packaging/copyright" "$doc/copyright"
gzip -9nc "$root/packaging/changelog" > "$doc/changelog.gz"

# Fixed modes: folders and programs 755, everything else (the simulated
# library too: it is loaded, never run) 644.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage/usr/bin/TolvarineCli"

mkdir "$work/shlibs" "$work/shlibs/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" > "$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O -e"$stage/usr/bin/TolvarineCli" \
  -e"$stage/usr/lib/TolvarineCli/simulator/Tolvarine.so" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
# As dpkg counts it: KiB per file, rounded up, and one per folder.
size=$(find "$stage/usr" \( -type f -printf '%s\n' \) -o \( -type d -printf '1024\n' \) |
  awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')

mkdir -m 755 "$stage/DEBIAN"
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  "$root/packaging/control.in" > "$stage/DEBIAN/control"
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum > DEBIAN/md5sums)
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

deb=$out/${name}_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz -b "$stage" "$deb" >/dev/null
echo "$deb"
