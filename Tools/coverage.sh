#!/usr/bin/env bash
# Coverage of record: builds the host test bench with the module's units
# instrumented (preset host-coverage), runs its tests (image mode included,
# against the firmware build's images; the QEMU scenarios run no host code of
# the module and are left out), and reports per module unit the lines and
# branches executed. A line or branch that no test reaches must be listed,
# with its reason, in Tools/coverage-exceptions.txt; the script fails when
# one is not, or when a listed one no longer needs to be.
#
#   bash Tools/coverage.sh
#
# The report is build/host-coverage/coverage.json; its totals line is
# build/host-coverage/coverage-summary.txt, which Tools/figures.sh prints.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
bash Tools/setup.sh
bash Tools/build.sh firmware host-coverage
out=build/host-coverage
find "$out" -name '*.gcda' -delete
echo "== tests with the module's units instrumented"
if ! ctest --preset host-coverage -j "$(qel_jobs)" -LE qemu >"$out/ctest.log" 2>&1; then
  cat "$out/ctest.log"
  exit 1
fi
grep -E '^[0-9]+% tests passed' "$out/ctest.log"
echo "== coverage of the module's units (gcov, merged over the variants)"
python3 Tools/coverage.py "$out" Tools/coverage-exceptions.txt --summary "$out/coverage-summary.txt"
