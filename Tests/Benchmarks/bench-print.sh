#!/usr/bin/env bash
# Figures for the format engine:
#  1. instructions per call for a fixed workload of firmware-style messages:
#     the engine, the engine it replaced and the C library's snprintf on
#     equivalent formats, in the i686 host build (gcc -O2). A QEMU TCG plugin
#     (built here from the source below; Debian ships no plugin header, so it
#     declares the few functions it uses) counts every instruction qemu-i386
#     executes. Runs of N and 2N calls cancel start-up and exit, and the same
#     difference for an empty formatter that takes the same arguments is
#     subtracted, so a figure is the formatting alone.
#  2. bytes of code and constants reachable from the bounded entry points
#     (AsciiFormat, AsciiFormatList, FormatToBuffer): the engine's units and
#     the BaseLib helpers they call, compiled with clang -Os for
#     i686-unknown-elf with the firmware's flags and linked by ld.lld with
#     --gc-sections; the status texts are counted apart.
#  3. stack per call level from -fstack-usage of the same units, as compiled
#     and once more with outgoing arguments kept in the frame instead of
#     pushed (so that a frame holds them too): the deepest path from AsciiFormat, once without and
#     once with the engine's call of itself (%g, %t, %r), each level with its
#     return address.
# Usage: bench-print.sh [host build folder] [firmware build folder]
# PARTS=counts or PARTS=sizes prints only one of the parts (default both);
# ITERATIONS sets N (default 20).
set -euo pipefail
cd "$(dirname "$0")/../.."
source Tools/common.sh
host=${1:-build/host}
firmware=${2:-build/firmware}
iterations=${ITERATIONS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The best small embedded formatter's count per workload, measured the same
# way when the targets were set (it is not built here).
peers=(337 1398 1289 1160 1134 1397 797 3342 1696 2264 2633)

parts=${PARTS:-counts,sizes}
if [[ $parts == *counts* ]]; then
cmake --build "$host" --target PrintBenchmark -j "$(qel_jobs)" >/dev/null
program=$(find "$host" -name PrintBenchmark -type f -perm -u+x | head -n 1)
qemu-i386 "$program" check

cat >"$work/count.c" <<'EOF'
#include <stdint.h>
#include <stdio.h>
#include <string.h>
typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
struct qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
__attribute__((visibility("default"))) int qemu_plugin_version = 1;
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t, void (*)(qemu_plugin_id_t, struct qemu_plugin_tb*));
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb*);
struct qemu_plugin_insn* qemu_plugin_tb_get_insn(const struct qemu_plugin_tb*, size_t);
void qemu_plugin_register_vcpu_insn_exec_inline(struct qemu_plugin_insn*, enum qemu_plugin_op, void*, uint64_t);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t, void (*)(qemu_plugin_id_t, void*), void*);
static uint64_t Executed;
static char Output[4096] = "/dev/stderr";
static void Translated(qemu_plugin_id_t Id, struct qemu_plugin_tb* Block) {
  (void)Id;
  for (size_t Index = 0, Count = qemu_plugin_tb_n_insns(Block); Index < Count; ++Index) {
    qemu_plugin_register_vcpu_insn_exec_inline(qemu_plugin_tb_get_insn(Block, Index), QEMU_PLUGIN_INLINE_ADD_U64,
                                               &Executed, 1);
  }
}
static void Exited(qemu_plugin_id_t Id, void* Data) {
  (void)Id;
  (void)Data;
  FILE* File = fopen(Output, "w");
  if (File != NULL) {
    fprintf(File, "%llu\n", (unsigned long long)Executed);
    fclose(File);
  }
}
__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t Id, const struct qemu_info_t* Info,
                                                               int Count, char** Arguments) {
  (void)Info;
  for (int Index = 0; Index < Count; ++Index) {
    if (strncmp(Arguments[Index], "out=", 4) == 0) {
      snprintf(Output, sizeof(Output), "%s", Arguments[Index] + 4);
    }
  }
  qemu_plugin_register_vcpu_tb_trans_cb(Id, Translated);
  qemu_plugin_register_atexit_cb(Id, Exited, NULL);
  return 0;
}
EOF
gcc -shared -fPIC -O2 -o "$work/count.so" "$work/count.c"

count() {  # side, message, iterations -> executed instructions
  qemu-i386 -plugin "$work/count.so,out=$work/count.txt" "$program" "$1" "$2" "$3"
  cat "$work/count.txt"
}
calls() {  # side, message -> instructions of N calls
  local low high
  low=$(count "$1" "$2" "$iterations")
  high=$(count "$1" "$2" $((iterations * 2)))
  echo $((high - low))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== instructions per call, net of an empty formatter (qemu-i386 with a counting plugin, i686 host build)"
printf '%-24s %8s %8s %8s %7s %8s %7s\n' message engine before snprintf /snprintf "peer" /peer
index=0
engine_wins=0
within_peer=0
while read -r name; do
  empty=$(calls empty "$index")
  engine=$((($(calls engine "$index") - empty) / iterations))
  before=$((($(calls before "$index") - empty) / iterations))
  libc=$((($(calls libc "$index") - empty) / iterations))
  peer=${peers[$index]}
  ((engine <= libc)) && engine_wins=$((engine_wins + 1))
  ((engine * 2 <= peer * 3)) && within_peer=$((within_peer + 1))
  printf '%-24s %8d %8d %8d %7s %8d %7s\n' "$name" "$engine" "$before" "$libc" "$(ratio "$engine" "$libc")" \
    "$peer" "$(ratio "$engine" "$peer")"
  index=$((index + 1))
done < <(qemu-i386 "$program" names)
echo "engine at most snprintf on $engine_wins of $index messages; within 1.5x of the peer on $within_peer of $index"
fi
[[ $parts == *sizes* ]] || exit 0

echo "== bytes reachable from the bounded entry points (clang -Os, i686-unknown-elf, ld.lld --gc-sections)"
flags=(--target=i686-unknown-elf -std=c++20 -Os -ffreestanding -fno-builtin -nostdlib -fno-exceptions -fno-rtti
  -fno-threadsafe-statics -fno-stack-protector -mno-stack-arg-probe -mno-sse -mno-mmx -mno-80387
  -fno-unwind-tables -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections
  -IInclude -IVariants/Default -IPlatform/X86/Include)
units=(Library/BasePrintLib/PrintLibInternal Library/BasePrintLib/StatusTexts
  Library/BaseLib/String Library/BaseLib/Unaligned Library/BaseLib/DivU64x32Remainder Library/BaseLib/CompilerSupport)
mkdir -p "$work/stack" "$work/asbuilt"
for unit in "${units[@]}"; do
  clang++ "${flags[@]}" -fstack-usage -c "$unit.cpp" -o "$work/asbuilt/$(basename "$unit").o"
  cp "$work/asbuilt/$(basename "$unit").o" "$work/"
  clang++ "${flags[@]}" -fstack-usage -mllvm -no-x86-call-frame-opt -c "$unit.cpp" -o "$work/stack/$(basename "$unit").o"
done
entries=$(llvm-nm "$work/PrintLibInternal.o" | awk '$2 == "T" && ($3 ~ /^_Z11AsciiFormatPc/ || $3 ~ /^_Z15AsciiFormatList/ || $3 ~ /^_Z14FormatToBuffer/) { print $3 }')
undefined=()
for entry in $entries; do undefined+=(-u "$entry"); done
ld.lld -m elf_i386 --gc-sections --print-gc-sections --entry=0 "${undefined[@]}" --unresolved-symbols=ignore-all \
  -Map="$work/probe.map" -o "$work/probe.elf" "$work"/*.o >"$work/removed.txt" 2>&1
# Kept input sections by object; constant strings are merged into one
# section, so each object's strings are taken from its own string sections.
strings_of() {  # object -> bytes of its merged-string sections that the link kept
  local removed
  removed=$(grep -F "$(basename "$1"):(.rodata.str" "$work/removed.txt" | sed 's/.*:(\(.*\))$/\1/' | tr '\n' ' ')
  llvm-readobj --sections "$1" | awk -v removed=" $removed" '
    /Name: \.rodata\.str/ { s = (index(removed, " " $2 " ") == 0) }
    s && /Size:/ { total += $2; s = 0 } END { print total + 0 }'
}
python3 Tools/map-sizes.py "$work/probe.map" | awk -F'\t' -v status_strings="$(strings_of "$work/StatusTexts.o")" \
    -v engine_strings="$(strings_of "$work/PrintLibInternal.o")" '
  $1 == "<internal>" { merged += $2 + $3; next }
  # The status lookup is engine code; only the names and their table are apart.
  $1 ~ /StatusTexts/ { engine += $2; status += $3; next }
  $1 ~ /PrintLibInternal/ { engine += $2 + $3; next }
  { helpers += $2 + $3 }
  END {
    helper_strings = merged - status_strings - engine_strings
    printf "  engine units (code, tables, their strings) %6d\n", engine + engine_strings
    printf "  BaseLib helpers it calls (with strings)    %6d\n", helpers + helper_strings
    printf "  reachable, status texts apart               %6d\n", engine + engine_strings + helpers + helper_strings
    printf "  status texts (table and names)              %6d\n", status + status_strings
  }'
if grep -Eq '\b(memcpy|memset|__udivdi3|__umoddi3|__divdi3)\b' <(llvm-nm "$work/probe.elf"); then
  echo "  helpers reached: $(llvm-nm "$work/probe.elf" | grep -Eo '\b(memcpy|memset|__udivdi3|__umoddi3|__divdi3)\b' | sort -u | tr '\n' ' ')"
fi

stack_figures() {  # folder of objects and .su files
  {
    cat "$1"/*.su | awk -F'\t' '{ n = split($1, part, ":"); print "frame", part[n], $2 }'
    llvm-objdump -dr --no-show-raw-insn "$1"/*.o | awk '
      /^[0-9a-f]+ <.*>:$/ { current = substr($2, 2, length($2) - 3) }
      /R_386_(PC32|PLT32)/ { target = $NF; sub(/-0x4$/, "", target); sub(/^\.text\./, "", target); print "edge", current, target }'
  } | awk -v entry="$(grep -m1 '^_Z11AsciiFormatPc' <<<"$entries")" '
    $1 == "frame" { if ($3 + 0 > frame[$2]) frame[$2] = $3 + 0 }
    $1 == "edge" && $2 != $3 { if (!(($2, $3) in seen)) { seen[$2, $3] = 1; callees[$2] = callees[$2] " " $3 } }
    function deepest(name, limit,   list, n, i, best, cost) {
      if (visits[name] >= limit) return 0
      visits[name]++
      n = split(callees[name], list, " ")
      best = 0
      for (i = 1; i <= n; i++) { cost = deepest(list[i], limit); if (cost > best) best = cost }
      visits[name]--
      return frame[name] + 4 + best
    }
    END {
      plain = deepest(entry, 1); nested = deepest(entry, 2)
      printf "  AsciiFormat, plain call %4d bytes; nested (%%g %%t %%r) %4d bytes", plain, nested
      if (nested > plain) printf "; one level of the engine %4d bytes", nested - plain
      else printf " (the engine does not call itself)"
      printf "\n"
      for (name in frame) if (frame[name] > 0 && name !~ /^(mem|_Z1[0-9]?(Wide|Ascii)Length|_Z7StrSize|_Z12AsciiStrSize|_Z15LoadUnaligned|_Z18DivU64)/) printf "    %4d %s\n", frame[name], name
    }' | sort -k2
}
echo "== stack (-fstack-usage of the same objects; return addresses included)"
echo " frames as compiled (arguments pushed at each call, not in the frame):"
stack_figures "$work/asbuilt"
echo " frames with outgoing arguments held in the frame:"
stack_figures "$work/stack"
ls -l "$firmware/QelVersionPei.efi" 2>/dev/null | awk '{ printf "== firmware image %s: %d bytes\n", $NF, $5 }' || true
