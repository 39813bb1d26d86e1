#!/usr/bin/env bash
# Runs the README's qemu-system-i386 command lines as a person would paste
# them, from the repository root: the default image must pass (67) with the
# failed allocation reported on the terminal, the halting image must end
# through its exit device at 0xE8 (225) instead of spinning until killed.
set -uo pipefail
cd "$(dirname "$0")/../.."
command -v qemu-system-i386 >/dev/null || { echo "qemu-system-i386 is not installed"; exit 77; }
[[ -f build/firmware/QelVersion.fd ]] || { echo "no build/firmware/QelVersion.fd: build the firmware preset first"; exit 77; }
mapfile -t commands < <(awk '
  /^    qemu-system-i386/ { command = ""; taking = 1 }
  taking { line = substr($0, 5); continued = sub(/ *\\$/, "", line); command = command line " "
           if (!continued) { print command; taking = 0 } }' README.md)
((${#commands[@]} == 2)) || { echo "expected two qemu-system-i386 command lines in README.md, found ${#commands[@]}"; exit 1; }
status=0
run() {
  local command=$1 expected=$2 shown=$3
  local out code
  out=$(timeout 60 bash -c "$command" </dev/null 2>&1)
  code=$?
  if [[ $code != "$expected" ]]; then
    echo "README command ended with $code, not $expected: $command"; echo "$out"; status=1
  elif ! grep -qF "$shown" <<<"$out"; then
    echo "README command's terminal lacks '$shown': $command"; echo "$out"; status=1
  else
    echo "README command ended with $expected as documented: ${command:0:60}..."
  fi
}
run "${commands[0]}" 67 "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)"
run "${commands[1]}" 225 "ASSERT QelVersionPei/QelVersionPei.cpp(97): !EFI_ERROR (Status)"
exit $status
