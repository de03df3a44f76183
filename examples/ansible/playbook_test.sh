#!/usr/bin/env bash
# Runs flash.yml on this host (-i localhost, -c local) against the
# simulated library and its flaky line of eight devices; checks the summary.
#   playbook_test.sh TOOL SIMULATOR SCENARIOS_DIR
# Exit status 77: ansible-playbook or jq is not installed (skipped).
set -euo pipefail
tool=$1 library=$2 scenarios=$3
for needed in ansible-playbook jq; do
  command -v "$needed" >/dev/null || { echo "$needed is not installed: skipped"; exit 77; }
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$library" "$work/Tolvarine.so"
printf 'simulated firmware image\n' >"$work/firmware.bin"
printf 'readtimeout=1500\n' >"$work/setting.ini"
export TOLVARINE_SIM=$scenarios/flaky-line.sim TOLVARINE_SIM_STATE=$work/.simstate
# Ansible's own files in the scratch folder too: a package build's HOME may
# not be writable.
export TOLVARINE_LOCK_DIR=$work HOME=$work ANSIBLE_LOCAL_TEMP=$work/.ansible \
  ANSIBLE_REMOTE_TEMP=$work/.ansible-remote ANSIBLE_NOCOLOR=1
ansible-playbook -i localhost, -c local "$here/flash.yml" \
  -e "line_dir=$work tolvarine=$tool summary_dir=$work/summaries retry_delay=0" \
  >"$work/play.log" 2>&1 ||
  { cat "$work/play.log"; exit 1; }
summary=$work/summaries/localhost.json
got=$(jq -r '.[] | "\(.serial) \(.result.outcome) \(.attempts)"' "$summary")
expected='TV2024A0301 done 1
TV2024A0302 done 1
TV2024A0303 done 2
TV2024A0304 done 1
TV2024A0305 done 1
TV2024A0306 done 3
TV2024A0307 done 1
TV2024A0308 done 1'
if [ "$got" != "$expected" ]; then
  echo "summary differs:"
  diff <(echo "$expected") <(echo "$got") || true
  cat "$work/play.log"
  exit 1
fi
echo "the play flashed eight devices, retrying two"
