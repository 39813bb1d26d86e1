# The machine each flash image of the firmware build is made for: what QEMU
# adds to its PC for the image's module, and for a clean end. Sourced by
# Tests/Qemu/run-scenario.sh and Tools/debug.sh, so that a scenario and a
# debugging session of one image boot the same machine.
#
#   qel_flash_machine FLASH    sets PciSerial and HaltExit (yes or no) for the
#                              image FLASH (its file name without .fd)
#   qel_machine_devices FILE   the QEMU switches for them, in the array
#                              machine_devices; the PCI UART writes to FILE
qel_flash_machine() {
  PciSerial=no
  HaltExit=no
  case $1 in
    QelVersion-PciSerial) PciSerial=yes ;;  # its UART is a pci-serial behind a pci-bridge
    QelVersion-DebugHalt) HaltExit=yes ;;   # it never returns; its halt routine writes to 0xE8
  esac
}

qel_machine_devices() {
  machine_devices=()
  if [[ $PciSerial == yes ]]; then
    machine_devices+=(-device pci-bridge,chassis_nr=1,id=br1,addr=2
                      -chardev "file,id=pciuart,path=$1" -device pci-serial,bus=br1,addr=0,chardev=pciuart)
  fi
  # With an exit device at 0xE8 the halt routine's write of 0x4C6F6F70
  # ("Loop") ends QEMU with status (0x70 << 1 | 1) = 225. One port wide, so
  # that the report channel at 0xE9 stays the debug console's.
  if [[ $HaltExit == yes ]]; then
    machine_devices+=(-device isa-debug-exit,iobase=0xe8,iosize=0x01)
  fi
}
