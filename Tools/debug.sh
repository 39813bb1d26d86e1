#!/usr/bin/env bash
# Boots a flash image under QEMU with its gdb stub waiting and debugs it with
# gdb: the PEI core's symbols, the module's at the flash address where it runs,
# and a breakpoint on ReportAssertion. COM1, COM2 and the core's report go to
# build/debug/ and are shown when gdb ends.
#
#   bash Tools/debug.sh [--variant NAME] [--set KEY=VALUE]... [--batch FILE] [--no-build]
#
#   --variant NAME   QelVersion-NAME.fd with QelVersionPei-NAME's symbols
#                    (DebugHalt, PciSerial); the shipped settings by default
#   --set KEY=VALUE  a scenario setting, as the fw_cfg item opt/qel/KEY
#                    (level, baud, uart, fail-alloc, allocation-status,
#                    install-status, expect-status, pci; see Harness/Qemu/Scenario.h)
#   --batch FILE     run gdb's commands from FILE and end (for tests)
#   --no-build       use the firmware build as it is
set -euo pipefail
cd "$(dirname "$0")/.."
variant="" batch="" build=1
fw_cfg=()
while (($#)); do
  case $1 in
    --variant) variant=-$2; shift 2 ;;
    --set)
      [[ ${2:-} == *=* ]] || { echo "debug.sh: --set takes KEY=VALUE" >&2; exit 2; }
      value=${2#*=}
      fw_cfg+=(-fw_cfg "name=opt/qel/${2%%=*},string=${value//,/,,}"); shift 2 ;;
    --batch) batch=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "debug.sh: unknown argument $1 (--help lists them)" >&2; exit 2 ;;
  esac
done
if ((build)); then
  bash Tools/setup.sh
  bash Tools/build.sh firmware >/dev/null
fi
fw=build/firmware
flash=$fw/QelVersion$variant.fd
image=$fw/QelVersionPei$variant.efi
for file in "$flash" "$image" "${image%.efi}.debug.efi" "${image%.efi}.rebase" "$fw/Harness/Qemu/QelPeiCore.elf"; do
  [[ -f $file ]] || { echo "debug.sh: no $file (build the firmware preset)" >&2; exit 1; }
done
# The debug twin's code sits a few bytes later than the shipped image's, so
# its symbols load below the rebase address; the packing tool checks the code
# is the same and says where.
symbols=$(python3 cmake/qel_pack.py debug-offset --base "$(cat "${image%.efi}.rebase")" "$image" "${image%.efi}.debug.efi")

out=build/debug
mkdir -p "$out"
rm -f "$out"/{com1.txt,com2.txt,report.txt}
qemu=(qemu-system-i386 -machine pc -m 64 -accel tcg -display none -no-reboot -nodefaults
      -serial "file:$out/com1.txt" -serial "file:$out/com2.txt" -debugcon "file:$out/report.txt"
      -device isa-debug-exit,iobase=0xf4,iosize=4 "${fw_cfg[@]}" -bios "$flash" -S -gdb stdio)
[[ $variant == -DebugHalt ]] && qemu+=(-device isa-debug-exit,iobase=0xe8,iosize=1)
cat >"$out/session.gdb" <<GDB
set pagination off
set confirm off
file $fw/Harness/Qemu/QelPeiCore.elf
add-symbol-file ${image%.efi}.debug.efi -o $symbols
target remote | exec ${qemu[*]@Q}
break ReportAssertion
GDB
echo "debug.sh: $flash, module symbols at $symbols; COM1, COM2 and the report go to $out/"
status=0
if [[ -n $batch ]]; then
  gdb -nx -batch -x "$out/session.gdb" -x "$batch" </dev/null || status=$?
else
  echo "debug.sh: the processor waits at the reset vector; 'continue' boots, 'break PublishVersionString' stops in the module"
  gdb -nx -q -x "$out/session.gdb" || status=$?
fi
echo "-- COM1 ($out/com1.txt):"
cat "$out/com1.txt" 2>/dev/null || true
echo "-- the core's report ($out/report.txt):"
cat "$out/report.txt" 2>/dev/null || true
exit $status
