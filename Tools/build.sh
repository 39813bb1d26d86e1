#!/usr/bin/env bash
# Configures and builds the named presets (default: firmware and host),
# showing each target as it is finished.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
presets=("$@")
((${#presets[@]})) || presets=(firmware host)
qel_build "${presets[@]}"
