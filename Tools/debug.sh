#!/usr/bin/env bash
# Boots a flash image under QEMU with its gdb stub waiting and debugs it with
# gdb: the PEI core's symbols, the module's at the flash address where it runs,
# and a breakpoint on ReportAssertion. COM1, COM2 and the core's report go to
# build/debug/ and are shown when gdb ends; the exit status is the core's
# verdict (0 pass, 1 fail, 3 when the session ended before the core gave one).
#
#   bash Tools/debug.sh [--variant NAME] [--set KEY=VALUE]... [--batch FILE] [--no-build] [--bochs]
#
#   --variant NAME   the flash image of build NAME (DebugHalt, PciSerial; the
#                    shipped settings by default) on the machine it is made
#                    for (Harness/Qemu/flash-machines.sh), with its symbols
#   --set KEY=VALUE  a scenario setting, as the fw_cfg item opt/qel/KEY
#                    (level, baud, uart, fail-alloc, allocation-status,
#                    install-status, pci, expect-status, expect-traps,
#                    expect-uarts; see Harness/Qemu/Scenario.h)
#   --batch FILE     run gdb's commands from FILE, then end
#   --no-build       use the firmware build as it is
#   --bochs          Bochs's own debugger instead of QEMU and gdb, the
#                    module's symbols loaded and stopped at PublishVersionString
#                    (settings go to the upper CMOS bank; --batch FILE then
#                    holds Bochs debugger commands)
set -euo pipefail
cd "$(dirname "$0")/.."
source Harness/Qemu/flash-machines.sh
variant="" batch="" build=1 bochs=0
fw_cfg=() settings=()
while (($#)); do
  case $1 in
    --variant)
      [[ -n ${2:-} ]] || { echo "debug.sh: --variant needs a build's name (DebugHalt, PciSerial, Release)" >&2; exit 2; }
      variant=$2; shift 2 ;;
    --set)
      [[ ${2:-} == *=* ]] || { echo "debug.sh: --set takes KEY=VALUE" >&2; exit 2; }
      value=${2#*=}
      fw_cfg+=(-fw_cfg "name=opt/qel/${2%%=*},string=${value//,/,,}"); settings+=("$2"); shift 2 ;;
    --batch)
      [[ -f ${2:-} ]] || { echo "debug.sh: --batch needs a file of gdb commands" >&2; exit 2; }
      batch=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --bochs) bochs=1; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "debug.sh: unknown argument $1 (--help lists them)" >&2; exit 2 ;;
  esac
done
suffix=""
[[ -z $variant || $variant == Default ]] || suffix=-$variant
if ((build)); then
  bash Tools/setup.sh
  bash Tools/build.sh firmware >/dev/null
fi
fw=build/firmware
flash=$fw/QelVersion$suffix.fd
image=$fw/QelVersionPei$suffix.efi
if [[ ! -f $flash && -n $suffix ]]; then
  # The builds whose module image lies beside their flash image (not the TE
  # or consumer twins of a flash image).
  known=$(cd "$fw" 2>/dev/null && for each in QelVersion-*.fd; do
            each=${each#QelVersion-}; each=${each%.fd}
            if [[ -f QelVersionPei-$each.efi ]]; then printf '%s ' "$each"; fi
          done)
  echo "debug.sh: build $variant has no flash image; the builds with one: Default ${known}" >&2
  exit 2
fi
for file in "$flash" "$image" "${image%.efi}.debug.efi" "${image%.efi}.rebase" "$fw/Harness/Qemu/QelPeiCore.elf"; do
  [[ -f $file ]] || { echo "debug.sh: no $file (build the firmware preset)" >&2; exit 1; }
done
# The debug twin's code sits a few bytes later than the shipped image's, so
# its symbols load below the rebase address; the packing tool checks the code
# is the same and says where.
symbols=$(python3 cmake/qel_pack.py debug-offset --base "$(cat "${image%.efi}.rebase")" "$image" "${image%.efi}.debug.efi")

out=build/debug
mkdir -p "$out"
rm -f "$out"/{com1.txt,com2.txt,report.txt,pcicom.txt}
qel_flash_machine "QelVersion$suffix"
if ((bochs)); then
  command -v bochs >/dev/null || { echo "debug.sh: Bochs is not installed: run bash Tools/setup.sh" >&2; exit 1; }
  [[ $PciSerial == no ]] || { echo "debug.sh: Bochs has no pci-serial behind a pci-bridge for build $variant" >&2; exit 2; }
  source Tests/Bochs/bochs-machine.sh
  qel_bochs_machine "$out" "$flash" 64 "${settings[*]}" yes no
  python3 Tests/Bochs/module-symbols.py "${image%.efi}.map" "$(cat "${image%.efi}.rebase")" "$out/module.sym"
  publish=$(awk '$2 == "PublishVersionString" { print $1 }' "$out/module.sym")
  [[ -n $publish ]] || { echo "debug.sh: no PublishVersionString in ${image%.efi}.map" >&2; exit 1; }
  {
    echo "ldsym global \"$out/module.sym\""
    echo "lb 0x$publish"
    echo "continue"
    [[ -z $batch ]] || cat "$batch"
  } >"$out/bochs.rc"
  echo "debug.sh: $flash on Bochs, module symbols from $out/module.sym; stops at PublishVersionString (0x$publish)"
  [[ -n $batch ]] || echo "debug.sh: Bochs's debugger: 'u /8' disassembles, 'r' shows registers, 'c' runs on, 'q' quits"
  input=/dev/stdin
  [[ -z $batch ]] || input=/dev/null
  # Port 0xE9 is Bochs's standard output: the report shares the terminal.
  script -qec "bochs -q -f '$out/bochsrc' -rc '$out/bochs.rc'" /dev/null <"$input" | tr -d '\r' | tee "$out/terminal.txt" || true
  sed -n '/^QelPeiCore: /,/^result: /p' "$out/terminal.txt" | grep -v -e '^(0)' -e '^<bochs' -e '^Next at' >"$out/report.txt"
  mv -f "$out/com1" "$out/com1.txt" 2>/dev/null || true
  mv -f "$out/com2" "$out/com2.txt" 2>/dev/null || true
else
qel_machine_devices "$out/pcicom.txt"
qemu=(qemu-system-i386 -machine pc -m 64 -accel tcg -display none -no-reboot -nodefaults
      -serial "file:$out/com1.txt" -serial "file:$out/com2.txt" -debugcon "file:$out/report.txt"
      -device isa-debug-exit,iobase=0xf4,iosize=4 "${machine_devices[@]}" "${fw_cfg[@]}" -bios "$flash" -S -gdb stdio)
cat >"$out/session.gdb" <<GDB
set pagination off
set confirm off
file $fw/Harness/Qemu/QelPeiCore.elf
add-symbol-file ${image%.efi}.debug.efi -o $symbols
target remote | exec ${qemu[*]@Q}
break ReportAssertion
GDB
echo "debug.sh: $flash, module symbols at $symbols; COM1, COM2 and the report go to $out/"
# gdb's own status says nothing of the run: a last continue that runs to
# QEMU's exit ends a batch with "Remote connection closed".
if [[ -n $batch ]]; then
  gdb -nx -batch -x "$out/session.gdb" -x "$batch" </dev/null || true
else
  echo "debug.sh: the processor waits at the reset vector; 'continue' boots, 'break PublishVersionString' stops in the module"
  gdb -nx -q -x "$out/session.gdb" || true
fi
fi
echo "-- COM1 ($out/com1.txt):"
cat "$out/com1.txt" 2>/dev/null || true
if [[ $PciSerial == yes ]]; then
  echo "-- the PCI UART ($out/pcicom.txt):"
  cat "$out/pcicom.txt" 2>/dev/null || true
fi
echo "-- the core's report ($out/report.txt):"
cat "$out/report.txt" 2>/dev/null || true
case $(grep -o '^result: [a-z]*' "$out/report.txt" 2>/dev/null | tail -n 1) in
  "result: pass") exit 0 ;;
  "result: fail") exit 1 ;;
  *)
    echo "debug.sh: the core gave no verdict: the session ended before the run did"
    exit 3 ;;
esac
