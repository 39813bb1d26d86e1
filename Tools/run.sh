#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench, and boots the
# shipped image (QelVersionPei.efi itself, on the CPU emulator) on the
# simulated board. --host boots the host build of the module instead.
# Other arguments go to the board runner (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/setup.sh
bash Tools/build.sh firmware host >/dev/null
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
