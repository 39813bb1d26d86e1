#!/usr/bin/env bash
# Boots one QEMU scenario file's flash image on Bochs, a PC model this project
# did not write, and checks the same transcripts as Tests/Qemu/run-scenario.sh:
# the core's report on port 0xE9 and both COM transcripts byte for byte.
#
#   run-bochs-scenario.sh SCENARIO FLASH_DIR [WORK_DIR]
#
# Bochs has no fw_cfg: the scenario's Settings words go, as one line of text,
# into the upper CMOS bank (0x80..0xFF) of the CMOS image Bochs loads, where
# the core reads them when fw_cfg is absent (Harness/Qemu/Scenario.cpp). The
# lower bank holds only what a PC's CMOS says about memory; the core writes
# the module's own bytes (0x6F, 0x7A..0x7D) from the settings as under QEMU.
# Bochs has no exit device either: the core writes "Shutdown" to Bochs's
# shutdown port 0x8900 after its verdict, and the halting build's write of
# "Loop" to 0xE8 is seen in Bochs's log, after which the script ends Bochs.
#
# The expected files are Tests/Qemu/Expected/<name>, file by file replaced by
# Tests/Bochs/Expected/<name> where the two machines differ (each such file
# says why in Tests/Bochs/Expected/README.md). Exit 0 on a match, 1 on any
# difference, 77 when Bochs, the flash image, or a device the scenario needs
# is missing.
set -uo pipefail

scenario_file=$1
flash_dir=$2
name=$(basename "$scenario_file" .scenario)
here=$(cd "$(dirname "$0")" && pwd)
qemu_expected="$(cd "$(dirname "$scenario_file")/.." && pwd)/Expected/$name"
bochs_expected="$here/Expected/$name"

Flash=QelVersion
Settings=""
Outcome=pass
SuperIo=absent
PciSerial=""
PciTrace=no
Uarts=both
Qemu=""
Timeout=60
# shellcheck source=/dev/null
source "$scenario_file"
source "$here/../../Harness/Qemu/flash-machines.sh"
source "$here/bochs-machine.sh"
Given=$PciSerial
qel_flash_machine "$Flash"
[[ -n $Given ]] && PciSerial=$Given

skip() { echo "bochs-scenario $name: skipped: $*"; exit 77; }
fail() {
  echo "bochs-scenario $name: FAIL ($*)"
  echo "-- report (port 0xE9):"
  cat "$work/report" 2>/dev/null
  exit 1
}

bochs=${BOCHS:-bochs}  # another name only to check the message when it is missing
command -v "$bochs" >/dev/null || skip "Bochs is not installed: run bash Tools/setup.sh"
command -v script >/dev/null || skip "script (bsdutils) is not installed: run bash Tools/setup.sh"
flash="$flash_dir/$Flash.fd"
[[ -f $flash ]] || skip "no $flash: build the firmware preset first"
# Devices Bochs does not model as QEMU's scenarios need them.
[[ $PciSerial == yes ]] && skip "needs QEMU's pci-bridge with a pci-serial behind it"
[[ $PciTrace == yes ]] && skip "needs QEMU's trace of PCI configuration accesses"
megs=64
case $Qemu in
  "") ;;
  "-m "[0-9]*) megs=${Qemu#-m } ;;
  *) skip "needs the QEMU switches '$Qemu'" ;;
esac

if [[ $# -ge 3 ]]; then
  work=$3
else
  work=$(mktemp -d "$flash_dir/bochs-$name.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
rm -f "$work"/{com1,com2,report,terminal,bochs.log,bochs.err,cmos.img,vga.rom,bochsrc,commands}

line=""
for setting in $Settings; do
  [[ $setting == *=* ]] || fail "setting '$setting' is not key=value"
  line+="${line:+ }$setting"
done
((${#line} <= 127)) || fail "the settings take ${#line} characters; the upper CMOS bank holds 127"

serials=yes
case $Uarts in
  both) ;;
  none) serials=no ;;
  *) fail "unknown Uarts=$Uarts" ;;
esac
# Only the halting build needs Bochs's record of unmapped port writes.
portlog=no
[[ $Outcome == halt ]] && portlog=yes
qel_bochs_machine "$work" "$flash" "$megs" "$line" "$serials" "$portlog" || fail "cannot write the Bochs machine's files"
# Past the built-in debugger's first prompt; a second prompt (a panic) quits.
printf 'continue\nquit\n' >"$work/commands"

# Bochs's term display wants a terminal: script gives it one, while port
# 0xE9 (Bochs's standard output) goes to the report file.
start=$(date +%s%N)
script -qec "$bochs -q -f '$work/bochsrc' -rc '$work/commands' >'$work/terminal' 2>'$work/bochs.err' </dev/null" \
  /dev/null >/dev/null 2>&1 &
runner=$!
ended=""
deadline=$((SECONDS + Timeout))
while kill -0 "$runner" 2>/dev/null; do
  if [[ $Outcome == halt ]] && grep -q 'write to 00e8 = 4c6f6f70' "$work/bochs.log" 2>/dev/null; then
    ended=halt
    kill "$runner" 2>/dev/null
    break
  fi
  if ((SECONDS >= deadline)); then
    kill "$runner" 2>/dev/null
    wait "$runner" 2>/dev/null
    fail "no end within ${Timeout}s: the run hangs"
  fi
  sleep 0.05
done
wait "$runner" 2>/dev/null
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))

# The report: what the core wrote, without Bochs's banner before it and the
# debugger's last-instruction line after it.
sed -n '/^QelPeiCore: /,$p' "$work/terminal" | grep -v '^(0)' | tr -d '\r' >"$work/report"
cores=$(grep -c '^QelPeiCore: ' "$work/report")
((cores == 1)) || fail "the core started $cores times: a reset (triple fault) or no start"
if [[ -z $ended ]]; then
  grep -q 'Shutdown port: shutdown requested' "$work/bochs.err" "$work/bochs.log" 2>/dev/null ||
    fail "Bochs ended without the core's shutdown: $(grep -m1 -E '>>PANIC<<|exiting' "$work/bochs.log" "$work/bochs.err")"
  case $(tail -n 1 "$work/report") in
    "result: pass") ended=pass ;;
    "result: fail") ended=fail ;;
    *) fail "the report ends without a verdict" ;;
  esac
fi
[[ $ended == "$Outcome" ]] || fail "the core reported $ended, the scenario expects $Outcome"

expected() {
  if [[ -f $bochs_expected/$1 ]]; then echo "$bochs_expected/$1"; else echo "$qemu_expected/$1"; fi
}
source "$(dirname "$0")/../Qemu/compare-run.sh"
compare_report "$work/report" "$(expected report)"
compare "COM1 transcript" "$work/com1" "$(expected com1)"
compare "COM2 transcript" "$work/com2" "$(expected com2)"

grep '^figure ' "$work/report"
echo "figure bochs-boot-milliseconds: $elapsed_ms"
((differs == 0)) || fail "the run differs from its expected files"
echo "bochs-scenario $name: PASS ($ended, ${elapsed_ms} ms)"
