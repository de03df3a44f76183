#!/usr/bin/env bash
# A binary built with the distribution's hardening: full RELRO (GNU_RELRO
# and BIND_NOW), position independent, fortified libc calls present.
set -euo pipefail
binary=$1
fail() {
  echo "$binary: $1"
  exit 1
}
headers=$(readelf -lW "$binary")
dynamic=$(readelf -dW "$binary")
type=$(readelf -hW "$binary")
fortified=$(readelf --dyn-syms -W "$binary" | grep -oE '\b__[a-z_]+_chk\b' | sort -u | tr '\n' ' ')
grep -q GNU_RELRO <<<"$headers" || fail "no GNU_RELRO segment (link with -z relro)"
grep -qE 'BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || fail "not BIND_NOW (link with -z now)"
grep -qE 'Type: +DYN' <<<"$type" || fail "not position independent"
[ -n "$fortified" ] || fail "no fortified call (_FORTIFY_SOURCE)"
echo "$binary: GNU_RELRO, BIND_NOW, PIE, fortified: $fortified"
