#!/usr/bin/env bash
# Makes the release drop from the sources: builds what it holds (firmware
# preset), installs it into OUT/QelVersionPei-<version> with cmake --install
# and archives that folder as OUT/QelVersionPei-<version>.tar.gz. The same
# sources give the same bytes from any checkout path.
#
#   bash Tools/drop.sh [OUT]      OUT defaults to build/drop
#
# Every archive entry carries the time SOURCE_DATE_EPOCH gives, else that of
# the checkout's last commit, else 0.
set -euo pipefail
cd "$(dirname "$0")/.."
source Tools/common.sh
case ${1:-} in
  -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
  -*) echo "drop.sh: unknown option '$1'; usage: bash Tools/drop.sh [OUT]" >&2; exit 2 ;;
esac
(($# <= 1)) || { echo "drop.sh: one folder at most; usage: bash Tools/drop.sh [OUT]" >&2; exit 2; }
out=${1:-build/drop}

cmake --preset firmware >/dev/null
qel_build_targets build/firmware QelDropFiles >&2
mkdir -p "$out"
out=$(cd "$out" && pwd)
installed=$(cmake --install build/firmware --prefix "$out")
drop=$(sed -n 's/^-- Drop: \(.*\) (manifest.json, SHA256SUMS)$/\1/p' <<<"$installed")
[[ -d $drop ]] || { echo "drop.sh: cmake --install named no drop folder:"; echo "$installed"; exit 1; } >&2

mtime=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
python3 cmake/qel_drop.py archive "$drop" -o "$drop.tar.gz" --mtime "$mtime"
(cd "$drop" && sha256sum --quiet -c SHA256SUMS)
echo "drop.sh: $drop/ ($(find "$drop" -type f | wc -l) files, checksums verified)"
echo "drop.sh: $drop.tar.gz ($(stat -c %s "$drop.tar.gz") bytes, sha256 $(sha256sum "$drop.tar.gz" | cut -d' ' -f1))"
