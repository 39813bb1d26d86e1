#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench, and boots the
# module on the simulated board. Arguments go to the board runner.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/setup.sh
bash Tools/build.sh firmware host >/dev/null
exec build/host/Tools/qel-board "$@"
