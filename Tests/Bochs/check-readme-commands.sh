#!/usr/bin/env bash
# Runs the README's Bochs lines as a person would paste them, from the
# repository root: the default image must reach "result: pass" on the
# terminal and Bochs must end by itself at the core's shutdown.
set -uo pipefail
cd "$(dirname "$0")/../.."
command -v bochs >/dev/null || { echo "Bochs is not installed: run bash Tools/setup.sh"; exit 77; }
[[ -f build/firmware/QelVersion.fd ]] || { echo "no build/firmware/QelVersion.fd: build the firmware preset first"; exit 77; }
lines=$(awk '/^## Booting the flash image under Bochs/ { taking = 1; next }
             taking && /^## / { exit }
             taking && /^    / { print substr($0, 5) }' README.md)
[[ -n $lines ]] || { echo "no Bochs command lines in README.md"; exit 1; }
made=(build/vga.rom build/bochsrc build/bochs.rc build/com1 build/com2)
trap 'rm -f "${made[@]}"' EXIT
out=$(timeout 60 bash -c "$lines" </dev/null 2>&1)
code=$?
((code != 124)) || { echo "the README's Bochs lines did not end within 60 s"; echo "$out"; exit 1; }
if ! tr -d '\r' <<<"$out" | grep -qx 'result: pass'; then
  echo "the README's Bochs lines did not reach 'result: pass':"; echo "$out"; exit 1
fi
echo "the README's Bochs lines booted the image to 'result: pass' and ended"
