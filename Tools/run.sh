#!/usr/bin/env bash
# Boots one build of the module on the simulated board, building only what
# that boot needs: by default the shipped image (QelVersionPei.efi itself, on
# the CPU emulator); --variant NAME another build's image; --host the host
# build of the module instead of an image. Other arguments go to the board
# runner. The whole test bench is built by Tools/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh

usage() {
  cat <<'TEXT'
usage: bash Tools/run.sh [--host] [--variant NAME] [board runner switches]
Sets up this machine, builds the variant's image and its board runner, and
boots the image on the simulated board (image mode); --host boots the host
build of the module instead. NAME is a build's name or alias (default:
Default, the shipped image). The switches are the board runner's:
TEXT
}

host=0
image=0
help=0
variant=Default
arguments=()
while (($#)); do
  case $1 in
    --host) host=1 ;;
    --image | --image-mode) image=1; arguments+=("$1") ;;
    --image=*) image=1; arguments+=("$1") ;;
    --help | -h) help=1 ;;
    --variant)
      (($# > 1)) || { echo "run.sh: --variant needs a name (bash Tools/run.sh --help lists them)" >&2; exit 2; }
      variant=$2; shift ;;
    --variant=*) variant=${1#--variant=} ;;
    *) arguments+=("$1") ;;
  esac
  shift
done
if ((host && image)); then
  echo "run.sh: --host boots the host build and --image/--image-mode an image: give one of them" >&2
  exit 2
fi
launcher=build/host/Tools/qel-board
if ((help)); then
  usage
  if [[ -x $launcher ]] && "$launcher" --help 2>/dev/null; then
    exit 0
  fi
  echo "(the board runner is not built yet: bash Tools/run.sh builds it, then --help lists its switches)"
  exit 0
fi

bash Tools/setup.sh
echo "== configuring" >&2
cmake --preset host >/dev/null
builds=build/host/Tools/runner-builds.tsv
read -r name alias image_file < <(awk -F'\t' -v v="$variant" '$1 == v || $2 == v' "$builds") || true
if [[ -z ${name:-} ]]; then
  echo "run.sh: unknown variant '$variant'; known: $(awk -F'\t' '{ printf "%s%s (%s)", (NR > 1 ? ", " : ""), $1, $2 }' "$builds")" >&2
  exit 2
fi
# The build's files: QelVersionPei.* for the shipped settings, else
# QelVersionPei-<Name>.*; a flash image QelVersion[-<Name>].fd where QEMU boots it.
suffix=""
[[ $name == Default ]] || suffix="-$name"
target_suffix=${suffix#-}
if ((!host)); then
  cmake --preset firmware >/dev/null
  targets=("QelVersionPei${target_suffix}ImagePackage")
  firmware_targets=$(cmake --build build/firmware --target help)
  if grep -qx "\.\.\. QelFlash${target_suffix}" <<<"$firmware_targets"; then
    targets+=("QelFlash${target_suffix}")
  fi
  qel_build_targets build/firmware "${targets[@]}" >&2
fi
qel_build_targets build/host "qel-board-$name" >&2
if ((!host)); then
  # The packaged module: what an integrator takes, and the flash image QEMU boots.
  for artifact in "QelVersionPei$suffix.ffs" "QelVersionPei$suffix.fv" "QelVersion$suffix.fd"; do
    [[ -f build/firmware/$artifact ]] || continue
    printf 'run.sh: build/firmware/%-28s %7d bytes\n' "$artifact" "$(stat -c %s "build/firmware/$artifact")" >&2
  done
  echo "run.sh: QelVersionPei$suffix.fv runs its PE32 in place at $(cat "build/firmware/QelVersionPei$suffix.rebase")" >&2
  ((image)) || arguments=(--image-mode "${arguments[@]}")
fi
exec "$launcher" --variant "$name" "${arguments[@]}"
