#!/usr/bin/env bash
# Sources the completion and checks what it offers for a table of command
# lines (the word being completed is the last one, possibly empty).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/TolvarineCli.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch fw.bin notes.txt cfg.xml
mkdir sub

failures=0
expect() {
  local line=$1 want=$2
  read -r -a COMP_WORDS <<< "$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
  _TolvarineCli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  want=$(printf '%s\n' $want | sort | tr '\n' ' ')
  if [ "$got" != "$want" ]; then
    echo "FAIL '$line': got '$got', want '$want'"
    failures=$((failures + 1))
  fi
}

expect "TolvarineCli " "--help -i --Gpic --firmware --export --import --execute"
expect "TolvarineCli --e" "--export --execute"
expect "TolvarineCli --execute " "--custom"
expect "TolvarineCli --import " "--custom cfg.xml sub"
expect "TolvarineCli --export " "cfg.xml sub"
expect "TolvarineCli --firmware " "fw.bin sub"
expect "TolvarineCli --firmware f" "fw.bin"
expect "TolvarineCli --Gpic " ""
expect "TolvarineCli --execute --custom " "--prefix --len --surfix"
expect "TolvarineCli --execute --custom --len " "1 2l 2b"
expect "TolvarineCli --execute --custom --len 2" "2l 2b"
expect "TolvarineCli --execute --custom --prefix " ""
expect "TolvarineCli --execute --custom --prefix 7b3e " "--prefix --len --surfix"
expect "TolvarineCli --import --custom --len 2l " "--prefix --len --surfix cfg.xml sub"
expect "TolvarineCli --export out.xml " "-vp"
expect "TolvarineCli --execute RRDDUR2000 " "-vp"
expect "TolvarineCli --export out.xml -vp " ""
expect "TolvarineCli -i " ""

if [ "$failures" -ne 0 ]; then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases passed"
