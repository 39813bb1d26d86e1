#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench, and boots the
# shipped image (QelVersionPei.efi itself, on the CPU emulator) on the
# simulated board. --host boots the host build of the module instead.
# Other arguments go to the board runner (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/setup.sh
# The build shows its progress on stderr, so the output is the report alone.
bash Tools/build.sh firmware host >&2
# The packaged module: what an integrator takes, and the flash image QEMU boots.
for artifact in QelVersionPei.ffs QelVersionPei.fv QelVersion.fd; do
  printf 'run.sh: build/firmware/%-18s %7d bytes\n' "$artifact" "$(stat -c %s "build/firmware/$artifact")" >&2
done
echo "run.sh: QelVersionPei.fv runs its PE32 in place at $(cat build/firmware/QelVersionPei.rebase)" >&2
arguments=()
mode=(--image-mode)
for argument in "$@"; do
  case $argument in
    --host) mode=() ;;
    --image | --image=* | --image-mode | --help | -h) mode=(); arguments+=("$argument") ;;
    *) arguments+=("$argument") ;;
  esac
done
exec build/host/Tools/qel-board "${mode[@]}" "${arguments[@]}"
