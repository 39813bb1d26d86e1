#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench, and boots the
# module on the simulated board. Arguments go to the board runner.
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
exec build/host/Tools/qel-board "$@"
