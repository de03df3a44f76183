#!/usr/bin/env bash
# Runs the examples of README.md (its "console" blocks: a "$ " line is a
# command, "> " lines continue it, the lines after it are its output)
# against the simulated device library, in a fresh folder holding the
# library, the sample scenarios, firmware.bin and a setting.ini:
#   tools/demo.sh BUILD_DIR           shows each command and what it prints
#   tools/demo.sh BUILD_DIR --check   compares the output with README.md,
#                                     byte for byte but for the \r of listings
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
check=false
[ "${2:-}" = --check ] && check=true
if $check; then
  demo=$(mktemp -d)
  trap 'rm -rf "$demo"' EXIT
else
  demo=$build/demo
  rm -rf "$demo"
  mkdir -p "$demo"
fi
cp "$build/Tolvarine.so" "$root"/sim/scenarios/*.sim "$demo/"
# The simulated devices' state (which are open, flaky counts) and the
# device locks of -sn: the demo's own, so that it never meets another run.
export TOLVARINE_SIM_STATE=$demo/.simstate TOLVARINE_LOCK_DIR=$demo
printf 'readtimeout=1500\n' >"$demo/setting.ini"
printf 'simulated firmware image\n' >"$demo/firmware.bin"

failures=0
# Runs one example; in check mode compares its output with the expected one.
run() {
  local command=$1 expected=$2 actual
  if [[ $command == *'| jq '* ]] && ! command -v jq >/dev/null; then
    echo "skipped, jq is not installed: ${command%%$'\n'*}"
    return
  fi
  actual=$(cd "$demo" && PATH="$build:$PATH" bash -c "$command" 2>&1 | tr -d '\r'; echo x)
  actual=${actual%x}
  if ! $check; then
    printf '\n$ %s\n%s' "${command//$'\n'/$'\n'> }" "$actual"
  elif [ "$actual" != "$expected" ]; then
    echo "README example differs: $command"
    diff <(printf '%s' "$expected") <(printf '%s' "$actual") || true
    failures=$((failures + 1))
  fi
}

inside=false
command=""
expected=""
count=0
while IFS= read -r line; do
  if ! $inside; then
    [ "$line" = '```console' ] && inside=true
    continue
  fi
  # "> " continues the command, as a shell's second prompt does.
  if [ -n "$command" ] && [ -z "$expected" ] && [[ $line == '> '* ]]; then
    command+=$'\n'${line#'> '}
    continue
  fi
  if [ "$line" = '```' ] || [[ $line == '$ '* ]]; then
    if [ -n "$command" ]; then
      run "$command" "$expected"
      count=$((count + 1))
    fi
    command=""
    expected=""
    if [ "$line" = '```' ]; then
      inside=false
    else
      command=${line#'$ '}
    fi
    continue
  fi
  expected+="$line"$'\n'
done <"$root/README.md"

if $check; then
  [ "$failures" -eq 0 ] || { echo "$failures of $count README examples differ"; exit 1; }
  echo "all $count README examples reproduce"
else
  printf '\nThe files the examples wrote are in %s.\n' "$demo"
fi
