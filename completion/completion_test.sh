#!/usr/bin/env bash
# Completion as a user gets it: an interactive bash in tmux, with
# bash-completion, whose own loader (__load_completion) finds the script as
# it would find the installed one. Each case types a command line, presses
# Tab and reads the line back (or the list of choices shown).
#   completion/completion_test.sh [SCRIPT]   (default: the one beside it;
#                                            a package's copy, for instance)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# Without them (a fresh machine; .ci/run installs both) the test is skipped.
for tool in tmux /usr/share/bash-completion/bash_completion; do
  command -v "$tool" >/dev/null 2>&1 || [ -e "$tool" ] || {
    echo "skipped: $tool is not installed"
    exit 77
  }
done
work=$(mktemp -d)
server=tolvarine-completion-$$
cleanup() {
  tmux -L "$server" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/completions" "$work/bin" "$work/files/sub"
script=$(realpath "${1:-$here/TolvarineCli.bash}")
ln -s "$script" "$work/completions/TolvarineCli"
printf '#!/bin/sh\n' >"$work/bin/TolvarineCli"
chmod +x "$work/bin/TolvarineCli"
(cd "$work/files" && touch fw.bin 'my fw.bin' FW2.BIN firmware.img cfg.xml notes.txt)
cat >"$work/rc" <<RC
PS1='$ '
export BASH_COMPLETION_USER_DIR='$work'
PATH='$work/bin':\$PATH
source /usr/share/bash-completion/bash_completion
bind 'set show-all-if-ambiguous on'
bind 'set bell-style none'
cd '$work/files'
RC
tmux -L "$server" new-session -d -x 160 -y 40 "bash --noprofile --rcfile '$work/rc' -i"
sleep 0.5

failures=0
# expect TYPED SEEN: after TYPED and Tab, the screen shows SEEN on a line.
expect() {
  local typed=$1 seen=$2 screen=""
  tmux -L "$server" send-keys -l "$typed"
  tmux -L "$server" send-keys Tab
  for _ in $(seq 20); do
    sleep 0.1
    # Lines as shown, and without the blanks that pad a list of choices.
    screen=$(tmux -L "$server" capture-pane -p -N)
    screen+=$'\n'$(awk '{ sub(/ +$/, ""); print }' <<<"$screen")
    grep -qxF -- "$seen" <<<"$screen" && break
  done
  if ! grep -qxF -- "$seen" <<<"$screen"; then
    echo "FAIL '$typed<Tab>': no line '$seen' in:"
    sed '/^$/d' <<<"$screen" | tail -n 5
    failures=$((failures + 1))
  fi
  tmux -L "$server" send-keys C-u C-l
  sleep 0.1
}

expect 'TolvarineCli --fi' '$ TolvarineCli --firmware '
expect 'TolvarineCli --firmware su' '$ TolvarineCli --firmware sub/'
expect 'TolvarineCli --firmware my' '$ TolvarineCli --firmware my\ fw.bin '
expect 'TolvarineCli --firmware FW' '$ TolvarineCli --firmware FW2.BIN '
expect 'TolvarineCli --firmware firmware.' '$ TolvarineCli --firmware firmware.img '
expect 'TolvarineCli --export n' '$ TolvarineCli --export notes.txt '
expect 'TolvarineCli --import --c' '$ TolvarineCli --import --custom '
expect 'TolvarineCli --import --custom --len 2l c' '$ TolvarineCli --import --custom --len 2l cfg.xml '
expect 'TolvarineCli --import --custom --prefix 7b3e --len 2l --surfix 007d c' '$ TolvarineCli --import --custom --prefix 7b3e --len 2l --surfix 007d cfg.xml '
expect 'TolvarineCli -i --j' '$ TolvarineCli -i --json '
expect 'TolvarineCli --ve' '$ TolvarineCli --version '
expect 'TolvarineCli --execute --custom --p' '$ TolvarineCli --execute --custom --prefix '
expect 'TolvarineCli --execute --custom --len 2' '2b  2l'
expect 'TolvarineCli --export out.xml -' '-sn  -vp'
expect 'TolvarineCli --e' '--execute  --export'

if [ "$failures" -ne 0 ]; then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases passed"
