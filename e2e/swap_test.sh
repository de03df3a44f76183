#!/bin/bash
# Swaps ./Tolvarine.so between a trusted library and a planted one that
# another user owns, as fast as a shell can, while TolvarineCli starts again
# and again. What the tool checks must be what it loads: every run prints
# the usage (trusted) or the refusal (planted), both show up, and the
# planted library never runs.   swap_test.sh TOOL TRUSTED PLANTED
set -u
if [ "$(id -u)" -ne 0 ]; then
  echo "swap_test: only root can give the planted library to another user; skipped"
  exit 77
fi
tool=$(readlink -f "$1")
dir=$(mktemp -d)
swapper=
trap 'if [ -n "$swapper" ]; then kill "$swapper"; wait "$swapper"; fi; rm -rf "$dir"' EXIT
chmod 0755 "$dir"
# The trusted library lies many folders down: a loader that checks the
# path and then opens it again spends long between the two, and loads the
# planted library in about one run of fifty.
deep=$(printf 't/%.0s' $(seq 60))
install -D -m 0755 -o 0 -g 0 "$2" "$dir/${deep}trusted.so" || exit 1
install -m 0755 -o 65534 -g 0 "$3" "$dir/planted.so" || exit 1
cd "$dir" && ln -s "${deep}trusted.so" Tolvarine.so || exit 1

# Each swap renames a prepared link over ./Tolvarine.so: the name always
# leads to one library or the other, never to nothing.
while :; do
  ln -sfn "${deep}trusted.so" .to-trusted && mv -T .to-trusted Tolvarine.so
  ln -sfn planted.so .to-planted && mv -T .to-planted Tolvarine.so
done &
swapper=$!

export TOLVARINE_PLANTED_MARK="$dir/planted-ran"
refusal="Refusing to load ./Tolvarine.so: $dir/planted.so is owned by user nobody (65534)"
usage=0 refused=0 other=0
for run in $(seq 300); do
  "$tool" --help >out 2>err
  status=$?
  if grep -q '^USAGE:' out && [ ! -s err ]; then
    usage=$((usage + 1))
  elif [ "$(cat err)" = "$refusal" ] && [ ! -s out ]; then
    refused=$((refused + 1))
  elif [ $((other += 1)) -le 5 ]; then
    echo "swap_test: run $run ended with status $status: $(cat err)"
  fi
done
echo "swap_test: $usage runs loaded the trusted library, $refused refused the planted one"
if [ -e "$TOLVARINE_PLANTED_MARK" ]; then
  echo "swap_test: the planted library ran $(wc -l <"$TOLVARINE_PLANTED_MARK") times"
  exit 1
fi
[ "$other" -eq 0 ] && [ "$usage" -gt 0 ] && [ "$refused" -gt 0 ]
