#!/usr/bin/env bash
# Boots one scenario from a flash image (-bios) under qemu-system-i386 and
# checks everything it left:
# QEMU's exit status (only the core's own codes count), the core's report
# (volumes and files skipped, the PEIM dispatched, status, published record,
# pool, registers, traps, UART and PCI state), both
# COM transcripts byte for byte, and where the scenario asks for them the
# Super I/O index/data streams and the module's PCI configuration accesses.
#
#   run-scenario.sh SCENARIO FLASH_DIR [WORK_DIR]
#
# Without WORK_DIR the run's files go to a folder under FLASH_DIR that is
# removed afterwards. QEL_FORM=TE boots the same flash image with the module
# in TE form (FLASH-TE.fd), against the same expectations. Exit 0 on a match, 1 on any difference, 77 when QEMU or
# the flash image is absent. Lines "figure ..." carry measurements for
# Tools/figures.sh.
set -uo pipefail

scenario_file=$1
flash_dir=$2
name=$(basename "$scenario_file" .scenario)
expected_dir="$(cd "$(dirname "$scenario_file")/.." && pwd)/Expected/$name"

# What a scenario file may set (it is sourced):
Flash=QelVersion      # which flash image in FLASH_DIR (without .fd)
Settings=""           # key=value words, each given to the core as the fw_cfg
                      # item opt/qel/key (see Harness/Qemu/Scenario.h)
Outcome=pass          # pass: the core's pass code; fail: its fail code;
                      # halt: the module's halt routine wrote "Loop" to 0xE8
SuperIo=absent        # absent: nothing at 0x4E/0x4F; active/inactive: debugcon
                      # devices record the streams, the activation reads 1/0
PciSerial=""          # yes: a pci-serial behind a pci-bridge at 00:02.0; no:
                      # none; by default what the flash image's machine has
                      # (Harness/Qemu/flash-machines.sh)
PciTrace=no           # yes: compare the module's PCI configuration accesses
Uarts=both            # both: COM1 and COM2 to files; none: no UART fitted
Qemu=""               # further qemu-system-i386 switches (-cpu pentium, -m 1),
                      # after the harness's own, so they take precedence
Timeout=60            # seconds before a hang is declared
# shellcheck source=/dev/null
source "$scenario_file"
source "$(dirname "$0")/../../Harness/Qemu/flash-machines.sh"
Given=$PciSerial
qel_flash_machine "$Flash"
case ${QEL_FORM:-PE32} in
  PE32) ;;
  TE) Flash=$Flash-TE; name="$name (TE)" ;;
  *) echo "qemu-scenario $name: QEL_FORM is PE32 or TE, not '$QEL_FORM'"; exit 2 ;;
esac
[[ -n $Given ]] && PciSerial=$Given
[[ $Outcome == halt ]] && HaltExit=yes

fail() {
  echo "qemu-scenario $name: FAIL ($*)"
  echo "-- report (port 0xE9):"
  cat "$work/report" 2>/dev/null
  exit 1
}

command -v qemu-system-i386 >/dev/null || { echo "qemu-scenario $name: qemu-system-i386 is not installed"; exit 77; }
flash="$flash_dir/$Flash.fd"
[[ -f $flash ]] || { echo "qemu-scenario $name: no $flash: build the firmware preset first"; exit 77; }

if [[ $# -ge 3 ]]; then
  work=$3
else
  work=$(mktemp -d "$flash_dir/scenario-$name.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
rm -f "$work"/{com1,com2,report,pcicom,superio-index,superio-data,trace.log}
devices=(
  -chardev "file,id=report,path=$work/report" -device isa-debugcon,iobase=0xe9,chardev=report
  -device isa-debug-exit,iobase=0xf4,iosize=0x04
)
case $SuperIo in
  absent) ;;
  active|inactive)
    activation=0x01; [[ $SuperIo == inactive ]] && activation=0x00
    devices+=(-chardev "file,id=sioindex,path=$work/superio-index"
              -device isa-debugcon,iobase=0x4e,chardev=sioindex,readback=0x00
              -chardev "file,id=siodata,path=$work/superio-data"
              -device "isa-debugcon,iobase=0x4f,chardev=siodata,readback=$activation") ;;
  *) fail "unknown SuperIo=$SuperIo" ;;
esac
qel_machine_devices "$work/pcicom"
devices+=("${machine_devices[@]}")
serials=()
case $Uarts in
  both) serials=(-serial "file:$work/com1" -serial "file:$work/com2") ;;
  none) ;;
  *) fail "unknown Uarts=$Uarts" ;;
esac
trace=()
[[ $PciTrace == yes ]] && trace=(-trace 'pci_cfg_*' -D "$work/trace.log")
# QEMU's -fw_cfg takes a comma in a value only doubled.
fw_cfg=()
for setting in $Settings; do
  [[ $setting == *=* ]] || fail "setting '$setting' is not key=value"
  value=${setting#*=}
  fw_cfg+=(-fw_cfg "name=opt/qel/${setting%%=*},string=${value//,/,,}")
done

start=$(date +%s%N)
timeout "$Timeout" qemu-system-i386 -machine pc -m 64 -accel tcg -display none -no-reboot -nodefaults \
  "${serials[@]}" "${devices[@]}" "${trace[@]}" "${fw_cfg[@]}" $Qemu \
  -bios "$flash" >"$work/qemu.out" 2>&1
status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))

case $status in
  67) outcome=pass ;;
  69) outcome=fail ;;
  225) outcome=halt ;;
  124) fail "no end within ${Timeout}s: the run hangs" ;;
  0) fail "QEMU exit status 0: a triple fault or a reset, not the core's verdict" ;;
  *) fail "QEMU exit status $status: $(head -c 300 "$work/qemu.out")" ;;
esac
[[ $outcome == "$Outcome" ]] || fail "the core reported $outcome, the scenario expects $Outcome"

source "$(dirname "$0")/compare-run.sh"
compare_report "$work/report" "$expected_dir/report"
compare "COM1 transcript" "$work/com1" "$expected_dir/com1"
compare "COM2 transcript" "$work/com2" "$expected_dir/com2"
if [[ $SuperIo != absent ]]; then
  compare "Super I/O index stream (0x4E)" "$work/superio-index" "$expected_dir/superio-index"
  compare "Super I/O data stream (0x4F)" "$work/superio-data" "$expected_dir/superio-data"
fi
if [[ $PciSerial == yes ]]; then
  compare "pci-serial transcript" "$work/pcicom" "$expected_dir/pcicom"
fi
if [[ $PciTrace == yes ]]; then
  # The module's own accesses lie between the core's two marker writes.
  sed -n '/@0x48 <- 0x5157a127/,/@0x48 <- 0x51e0d000/p' "$work/trace.log" | sed '1d;$d' \
    | grep -E '^pci_cfg_(read|write) ' >"$work/pci-accesses"
  if ! cmp -s "$work/pci-accesses" "$expected_dir/pci-accesses"; then
    echo "-- the module's PCI configuration accesses differ (- expected, + actual):"
    diff -u "$expected_dir/pci-accesses" "$work/pci-accesses" | tail -n +3
    differs=1
  fi
fi

grep '^figure ' "$work/report"
echo "figure boot-milliseconds: $elapsed_ms"
((differs == 0)) || fail "the run differs from Tests/Qemu/Expected/$name"
echo "qemu-scenario $name: PASS ($outcome, ${elapsed_ms} ms)"
