#!/bin/sh
# The man page: groff and mandoc print no warning, and rendered for an
# 80-column terminal no line is wider.
set -eu
page=$1
status=0
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff: $warnings"; status=1; }
if command -v mandoc >/dev/null 2>&1; then
  lint=$(mandoc -Tlint "$page" 2>&1) || true
  [ -z "$lint" ] || { echo "mandoc: $lint"; status=1; }
else
  echo "mandoc is not installed: its lint is skipped"
fi
wide=$(MANWIDTH=80 COLUMNS=80 groff -man -Tascii -rLL=80n "$page" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g; s/.\x08//g' |
  awk '{ n = length($0) } n > 80 { print n ": " $0 }')
[ -z "$wide" ] || { echo "lines over 80 columns:"; echo "$wide"; status=1; }
exit "$status"
