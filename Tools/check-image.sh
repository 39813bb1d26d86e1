#!/usr/bin/env bash
# Checks a built QelVersionPei.efi: a relocatable PE32 boot-service driver for
# i386 that runs in place (no writable section), imports nothing and carries
# no initialisers that would never run.
set -euo pipefail
image=$1
headers=$(llvm-readobj --file-headers "$image")
sections=$(llvm-readobj --sections "$image")
fail() { echo "check-image: $image: $*" >&2; exit 1; }

grep -q 'Format: COFF-i386' <<<"$headers" || fail "not a PE32 image for i386"
grep -q 'Magic: 0x10B' <<<"$headers" || fail "not a PE32 (0x10B) optional header"
grep -Eq 'Subsystem: IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER \(0xB\)' <<<"$headers" || fail "subsystem is not 0x0B"
grep -Eq 'ImportTableRVA: 0x0$' <<<"$headers" || fail "the image has an import table"
grep -Eq 'BaseRelocationTableRVA: 0x[1-9A-F]' <<<"$headers" || fail "the image has no base relocations"
grep -q 'Name: .reloc' <<<"$sections" || fail "no .reloc section"
if grep -q 'Name: .CRT' <<<"$sections"; then fail "a .CRT section means initialisers that never run"; fi
if grep -q 'IMAGE_SCN_MEM_WRITE' <<<"$sections"; then
  fail "a section is writable: $(grep -B30 IMAGE_SCN_MEM_WRITE <<<"$sections" | grep 'Name:' | tail -1)"
fi
echo "check-image: $image: PE32 i386, subsystem 0x0B, relocatable, no imports, no writable section"
