#!/usr/bin/env bash
# Figures for the format engine:
#  1. instructions per call for a fixed workload of firmware-style messages,
#     the engine against the C library's snprintf on equivalent formats, in
#     the i686 host build (-O2). valgrind cannot run i386 programs on every
#     kernel, so qemu-i386 counts them: with -singlestep every translation
#     block is one instruction and "-d exec,nochain" logs each one executed.
#     Two runs of N and 2N iterations cancel start-up and exit.
#  2. code and constant data of the engine as linked in the firmware build
#     (status texts apart), from an lld-link map of a probe DLL that keeps
#     only what the print front ends reach. EXTRA_FLAGS (for example -Os)
#     recompiles the engine's units with the firmware flags plus those.
# Usage: bench-print.sh [host build folder] [firmware build folder]
# PARTS=counts or PARTS=sizes prints only one of the two (default both).
set -euo pipefail
cd "$(dirname "$0")/../.."
host=${1:-build/host}
firmware=${2:-build/firmware}
iterations=${ITERATIONS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$host" --target PrintBenchmark -j 2 >/dev/null
program=$(find "$host" -name PrintBenchmark -type f -perm -u+x | head -n 1)
qemu-i386 "$program" check

count() {  # side, message, iterations -> executed instructions
  qemu-i386 -singlestep -d exec,nochain -D "$work/exec.log" "$program" "$1" "$2" "$3"
  grep -c '^Trace' "$work/exec.log"
}
per_call() {  # side, message
  local low high
  low=$(count "$1" "$2" "$iterations")
  high=$(count "$1" "$2" $((iterations * 2)))
  echo $(((high - low) / iterations))
}

parts=${PARTS:-counts,sizes}
if [[ $parts == *counts* ]]; then
echo "== instructions per call (qemu-i386 -singlestep, i686 host build, $iterations vs $((iterations * 2)) iterations)"
printf '%-24s %10s %10s %8s\n' message engine snprintf ratio
index=0
total_engine=0
total_libc=0
while read -r name; do
  engine=$(per_call engine "$index")
  libc=$(per_call libc "$index")
  total_engine=$((total_engine + engine))
  total_libc=$((total_libc + libc))
  printf '%-24s %10d %10d %8s\n' "$name" "$engine" "$libc" "$(awk -v a="$engine" -v b="$libc" 'BEGIN{printf "%.2f", a/b}')"
  index=$((index + 1))
done < <(qemu-i386 "$program" names)
printf '%-24s %10d %10d %8s\n' "whole workload" "$total_engine" "$total_libc" \
  "$(awk -v a="$total_engine" -v b="$total_libc" 'BEGIN{printf "%.2f", a/b}')"

fi
[[ $parts == *sizes* ]] || exit 0

objects=$firmware/CMakeFiles/QelDefaultObjects.dir
if [[ ! -d $objects ]]; then
  echo "== no firmware build in $firmware: sizes skipped"
  exit 0
fi
cmake --build "$firmware" -j 2 >/dev/null
mapfile -t units < <(find "$objects" -name '*.obj' | sort)
label="as built"
if [[ -n ${EXTRA_FLAGS:-} ]]; then
  label="recompiled with $EXTRA_FLAGS"
  flags=$(sed -n 's/^CXX_FLAGS = //p' "$objects/flags.make")
  includes=$(sed -n 's/^CXX_INCLUDES = //p' "$objects/flags.make")
  for unit in PrintLibInternal PrintConversions StatusTexts; do
    # shellcheck disable=SC2086
    clang++ $flags $includes $EXTRA_FLAGS -c "Library/BasePrintLib/$unit.cpp" -o "$work/$unit.cpp.obj"
  done
  mapfile -t units < <(printf '%s\n' "${units[@]}" | grep -v '/BasePrintLib/'; ls "$work"/*.obj)
fi
lld-link /nologo /machine:x86 /dll /noentry /nodefaultlib /opt:ref /opt:icf /merge:.rdata=.text /safeseh:no \
  /debug:none /align:32 /filealign:32 /driver /subsystem:efi_boot_service_driver \
  '/include:?AsciiFormat@@YAIPADIPBDZZ' '/include:?AsciiFormatList@@YAIPADIPBD0@Z' \
  '/include:?FormatToBuffer@@YAIPAXIIPBXZZ' "/map:$work/probe.map" "/out:$work/probe.dll" "${units[@]}"
echo "== bytes in the firmware build ($label; lld-link map of what the print front ends reach)"
# Each symbol's size is the distance to the next one (the last runs to the end
# of the merged section); code ends where .rdata starts. Identical-code folding
# may credit a shared body to one object only.
section_end=$(llvm-readobj --sections "$work/probe.dll" | awk '/VirtualSize:/ { print strtonum_safe($2); exit }
  function strtonum_safe(text,   value, i) {
    value = 0; text = toupper(substr(text, 3))
    for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1
    return value
  }')
awk -v data_end="$section_end" '
  function hex(text,   value, i) {
    value = 0; text = toupper(text)
    for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1
    return value
  }
  / \.rdata +CODE/ { data_start = hex(substr($1, 6)) }
  /^ 0001:/ && NF >= 4 && $NF ~ /\.obj$/ { n++; address[n] = hex(substr($1, 6)); object[n] = $NF }
  END {
    for (i = 2; i <= n; i++) { a = address[i]; o = object[i]; j = i - 1
      while (j > 0 && address[j] > a) { address[j + 1] = address[j]; object[j + 1] = object[j]; j-- }
      address[j + 1] = a; object[j + 1] = o }
    for (i = 1; i <= n; i++) {
      next_address = (i < n) ? address[i + 1] : data_end
      if (address[i] < data_start && next_address > data_start) next_address = data_start
      size = next_address - address[i]
      kind = (address[i] < data_start) ? "code" : "data"
      group = object[i]
      if (group ~ /PrintLibInternal|PrintConversions/) group = "engine"
      else if (group ~ /StatusTexts/) group = "status texts"
      else if (group ~ /String|Unaligned|DivU64x32Remainder/) group = "BaseLib helpers it calls"
      else group = "other (reporter, seam)"
      bytes[group, kind] += size
    }
    printf "%-26s %8s %8s\n", "part", "code", "data"
    split("engine|status texts|BaseLib helpers it calls|other (reporter, seam)", groups, "|")
    for (g = 1; g <= 4; g++) printf "%-26s %8d %8d\n", groups[g], bytes[groups[g], "code"], bytes[groups[g], "data"]
  }' "$work/probe.map"
if grep -Eq '__aulldiv|__aullrem|__alldiv|__allrem|_memcpy|_memset' "$work/probe.map"; then
  echo "compiler helpers reached: $(grep -Eo '__a[a-z]+|_mem(cpy|set)' "$work/probe.map" | sort -u | tr '\n' ' ')"
else
  echo "compiler helpers reached: none"
fi
