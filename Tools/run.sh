#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench, and boots the
# module on the simulated board. Arguments go to the board runner.
set -euo pipefail
cd "$(dirname "$0")/.."
bash Tools/setup.sh
# The build shows its progress on stderr, so the output is the report alone.
bash Tools/build.sh firmware host >&2
exec build/host/Tools/qel-board "$@"
