#!/usr/bin/env bash
# Configures and builds the named presets (default: firmware and host).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
((${#presets[@]})) || presets=(firmware host)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
