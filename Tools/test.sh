#!/usr/bin/env bash
# Sets up this machine, builds the image and the test bench from the sources,
# and runs every test; ctest's summary closes the output.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
bash Tools/setup.sh
bash Tools/build.sh firmware host-sanitize host
echo "== tests with address and undefined sanitizers"
log=build/host-sanitize/ctest.log
if ! ctest --preset host-sanitize -j "$(qel_jobs)" --output-on-failure >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
grep -E '^[0-9]+% tests passed' "$log"
echo "== tests"
ctest --preset host -j "$(qel_jobs)"
