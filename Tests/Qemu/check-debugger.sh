#!/usr/bin/env bash
# Drives Tools/debug.sh in gdb's batch mode: a scenario chosen by its switch
# (InstallPpi fails), the stop at PublishVersionString in flash with the call
# chain ModuleEntry -> RunModuleEntryPoints -> PublishVersionString and source
# lines, then finish and the status returned. Exit 77 when gdb, QEMU or the
# firmware build is absent.
set -uo pipefail
cd "$(dirname "$0")/../.."
for tool in gdb qemu-system-i386; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
[[ -f build/firmware/QelVersion.fd ]] || { echo "no build/firmware/QelVersion.fd: build the firmware preset first"; exit 77; }
out=$(bash Tools/debug.sh --no-build --set install-status=0x80000009 --set expect-status=0x80000009 \
        --batch Tests/Qemu/debugger-session.gdb 2>&1)
echo "$out"
status=0
expect() {
  grep -Eq "$1" <<<"$out" || { echo "check-debugger: missing: $2"; status=1; }
}
expect '^Breakpoint 1 at 0x[0-9a-f]+: file .*Library/BaseDebugLibSerialPort/DebugLib\.cpp, line [0-9]+' \
       "a breakpoint on ReportAssertion"
expect '^Breakpoint 2, PublishVersionString \(.*\) at .*QelVersionPei/QelVersionPei\.cpp:[0-9]+$' \
       "the stop at PublishVersionString with its source line"
expect '^#0  PublishVersionString \(.*QelVersionPei\.cpp:[0-9]+$' "frame 0: PublishVersionString"
expect '^#1  0xfffc[0-9a-f]{4} in RunModuleEntryPoints \(.*AutoGen\.cpp:[0-9]+$' "frame 1: RunModuleEntryPoints in flash"
expect '^#2  0xfffc[0-9a-f]{4} in ModuleEntry \(.*Library/PeimEntryPoint/PeimEntryPoint\.cpp:[0-9]+$' \
       "frame 2: ModuleEntry in flash"
expect '^Value returned is \$1 = 2147483657$' "finish returning the failed installation's status 0x80000009"
expect '^result: pass$' "the core's verdict after the session"
((status == 0)) && echo "check-debugger: PASS"
exit $status
