#!/usr/bin/env bash
# Runs the README's debugger session as printed: its Tools/debug.sh command in
# gdb's batch mode with the "(gdb)" commands shown, and checks that every
# line the README shows comes out, in order ("..." stands for anything), and
# that the script's exit status is the core's pass. Exit 77 when gdb, QEMU or
# the firmware build is absent.
set -uo pipefail
cd "$(dirname "$0")/../.."
for tool in gdb qemu-system-i386; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
[[ -f build/firmware/QelVersion.fd ]] || { echo "no build/firmware/QelVersion.fd: build the firmware preset first"; exit 77; }
session=$(awk '/^    \$ bash Tools\/debug.sh /, /^$/' README.md | sed 's/^    //')
[[ -n $session ]] || { echo "check-debugger: README.md has no '\$ bash Tools/debug.sh' session"; exit 1; }
command=$(head -n 1 <<<"$session" | sed 's/^\$ //')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -n 's/^(gdb) //p' <<<"$session" >"$work/commands.gdb"
out=$(eval "$command --no-build --batch $work/commands.gdb" 2>&1)
code=$?
echo "$out"
status=0
((code == 0)) || { echo "check-debugger: '$command' ended with $code, not 0 (the core's pass)"; status=1; }
# Each shown line, "..." widened to anything, must follow the one before.
rest=$out
while IFS= read -r shown; do
  pattern=$(sed -e 's/[][\.*^$()+?{}|/]/\\&/g' -e 's/\\\.\\\.\\\./.*/g' <<<"$shown")
  found=$(grep -n -m 1 -E "^$pattern\$" <<<"$rest" | cut -d: -f1)
  if [[ -z $found ]]; then
    echo "check-debugger: the README shows a line the session did not print (after the lines before it): $shown"
    status=1
    break
  fi
  rest=$(tail -n +"$((found + 1))" <<<"$rest")
done < <(tail -n +2 <<<"$session" | grep -v '^(gdb) ')
((status == 0)) && echo "check-debugger: PASS"
exit $status
