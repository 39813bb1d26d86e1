# The Bochs machine a flash image boots on, shared by the scenario runner and
# Tools/debug.sh --bochs so that both boot the same PC. Sourced.
#
#   qel_bochs_machine DIR FLASH MEGS SETTINGS UARTS PORTLOG
#       writes DIR/bochsrc with DIR/cmos.img and DIR/vga.rom: MEGS MiB, the
#       flash image FLASH as the ROM at 0xFFFC0000, port 0xE9 on Bochs's
#       standard output, COM1/COM2 to DIR/com1 and DIR/com2 when UARTS is yes
#       (none fitted otherwise), Bochs's log in DIR/bochs.log with every
#       unmapped port write in it when PORTLOG is yes. SETTINGS is the
#       scenario's line of key=value words for the upper CMOS bank.
qel_bochs_machine() {
  local dir=$1 flash=$2 megs=$3 line=$4 uarts=$5 portlog=$6
  ((${#line} <= 127)) || { echo "the settings take ${#line} characters; the upper CMOS bank holds 127" >&2; return 1; }
  # CMOS: conventional, extended (KiB above 1 MiB, at most 63 MiB) and above
  # 16 MiB (64 KiB units) memory, as a BIOS would find them; RTC status A/B/D
  # as after power-on; the settings line from 0x80, ended by a 0 byte.
  python3 - "$dir/cmos.img" "$megs" "$line" <<'EOF' || return 1
import sys
path, megs, line = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
cmos = bytearray(256)
extended = min(max(megs - 1, 0) * 1024, 0xFFFF)
above16 = max(megs - 16, 0) * 16
cmos[0x0A], cmos[0x0B], cmos[0x0D] = 0x26, 0x02, 0x80
cmos[0x15], cmos[0x16] = 0x80, 0x02
cmos[0x17] = cmos[0x30] = extended & 0xFF
cmos[0x18] = cmos[0x31] = extended >> 8
cmos[0x34], cmos[0x35] = above16 & 0xFF, above16 >> 8
cmos[0x80:0x80 + len(line)] = line
open(path, "wb").write(cmos)
EOF
  # Bochs will not start without a VGA ROM: ours is an empty option ROM (32
  # KiB, a far return at its entry, bytes summing to 0).
  python3 - "$dir/vga.rom" <<'EOF' || return 1
import sys
rom = bytearray(32768)
rom[0:4] = b"\x55\xAA\x40\xCB"
rom[-1] = -sum(rom) & 0xFF
open(sys.argv[1], "wb").write(rom)
EOF
  local serials=("com1: enabled=0" "com2: enabled=0")
  [[ $uarts == yes ]] && serials=("com1: enabled=1, mode=file, dev=\"$dir/com1\"" "com2: enabled=1, mode=file, dev=\"$dir/com2\"")
  local logging="debug: action=ignore"
  [[ $portlog == yes ]] && logging="debug: action=ignore, unmapped=report"
  {
    echo "megs: $megs"
    # A triple fault ends the run as a panic, rather than booting the core again.
    echo "cpu: reset_on_triple_fault=0"
    echo "romimage: file=\"$flash\", address=0xfffc0000"
    echo "vgaromimage: file=\"$dir/vga.rom\""
    echo "vga: extension=none"
    echo "display_library: term"
    echo "port_e9_hack: enabled=1"
    echo "cmosimage: file=\"$dir/cmos.img\", rtc_init=time0"
    printf '%s\n' "${serials[@]}"
    echo "log: \"$dir/bochs.log\""
    echo "$logging"
    echo "boot: floppy"
  } >"$dir/bochsrc"
}
