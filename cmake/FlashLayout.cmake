# Where everything lies in the 256 KiB flash at the top of the 4 GiB space
# (QEMU's -bios maps the file there; its size must be whole 64 KiB):
#   FFFC0000  the module's volume, 64 KiB: the PE32 is rebased into it
#   FFFD0000  erased, 128 KiB: room for more volumes (tests put damaged ones here)
#   FFFF0000  the boot volume, 64 KiB: a pad file, then the volume top file
#             whose raw section holds the core from QEL_CORE_ADDRESS to 4 GiB
#             (reset vector at FFFFFFF0, SEC, PEI core)
set(QEL_FLASH_BASE 0xFFFC0000)
set(QEL_FLASH_SIZE 0x40000)
set(QEL_MODULE_VOLUME_BASE 0xFFFC0000)
set(QEL_MODULE_VOLUME_SIZE 0x10000)
set(QEL_SPARE_BASE 0xFFFD0000)
set(QEL_BOOT_VOLUME_BASE 0xFFFF0000)
set(QEL_BOOT_VOLUME_SIZE 0x10000)
# 28 bytes past a file boundary: the volume top file's header and its raw
# section's header come first.
set(QEL_CORE_ADDRESS 0xFFFF1004)
