#!/usr/bin/env python3
"""Flash images with one damaged thing each, for the PEI core to skip: the
module's good volume and the boot volume as built, and in the spare block a
volume holding a second PEIM (the module's PE32 under another name) damaged
in one way. The core must name what it skips and dispatch the module.

  DamagedFlash.py MODULE.ffs BOOT.fv FLASH_BASE FLASH_SIZE MODULE_BASE SPARE_BASE BOOT_BASE OUT_DIR
"""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
import qel_pack  # noqa: E402

SECOND = "0E5A2C46-7D1B-4F38-9C6A-5B21D0F3A8E7"
NEVER_INSTALLED = "9D3B1E57-2A64-4C80-B1F9-06E4C8A27D35"
VOLUME_SIZE = 0x10000
FIRST_FILE = 0x48  # after the header and its two-entry block map
VOLUME_CHECKSUM = 50


def pe32_of(ffs):
    for _, kind, body, size in qel_pack.iterate_sections(ffs[24:]):
        if kind == qel_pack.SECTION_PE32:
            return ffs[24 + body:24 + body + size]
    raise SystemExit("no PE32 in the module's file")


def second_peim(image, expression="TRUE END", pe32=True):
    parts = [(qel_pack.SECTION_PEI_DEPEX, qel_pack.depex(expression), 1)]
    if pe32:
        parts.append((qel_pack.SECTION_PE32, image, qel_pack.pe_section_alignment(image)))
    parts.append((qel_pack.SECTION_USER_INTERFACE, qel_pack.ucs2("Damaged"), 1))
    data, alignment = qel_pack.sections_with_alignment(parts)
    return qel_pack.ffs_file(qel_pack.guid_bytes(SECOND), qel_pack.FILE_TYPES["peim"], data, alignment)


def peim_offset(volume):
    """The second PEIM's header offset: the first file that is no pad file."""
    offset = FIRST_FILE
    while volume[offset + 18] == qel_pack.FILE_TYPES["pad"]:
        offset = qel_pack.align(offset + qel_pack.file_size(volume[offset:offset + 24]), 8)
    return offset


def fix_header_checksum(volume, offset):
    header = bytearray(volume[offset:offset + 24])
    header[16] = header[17] = header[23] = 0
    volume[offset + 16] = qel_pack.checksum8(header)


def fix_volume_checksum(volume):
    length = struct.unpack_from("<H", volume, 48)[0]
    struct.pack_into("<H", volume, VOLUME_CHECKSUM, 0)
    struct.pack_into("<H", volume, VOLUME_CHECKSUM, qel_pack.checksum16(bytes(volume[:length])))


def damaged_volumes(image, base):
    def volume_with(ffs):
        return bytearray(qel_pack.firmware_volume(base, VOLUME_SIZE, [ffs])[0])

    good = second_peim(image)
    cases = {}

    volume = volume_with(good)
    volume[VOLUME_CHECKSUM] ^= 0x01
    cases["volume-checksum"] = volume

    volume = volume_with(good)
    volume[peim_offset(volume) + 19] ^= 0x04  # an attribute bit, the checksum left as it was
    cases["file-header-checksum"] = volume

    volume = volume_with(good)
    volume[peim_offset(volume) + 24 + 2] ^= 0x01  # a byte of the dependency section
    cases["file-data-checksum"] = volume

    volume = volume_with(good)
    offset = peim_offset(volume)
    volume[offset + 20:offset + 23] = (16).to_bytes(3, "little")
    fix_header_checksum(volume, offset)
    cases["file-size-too-small"] = volume

    # The volume ends 4 KiB in, inside the PEIM: a volume cut short.
    volume = volume_with(good)
    struct.pack_into("<Q", volume, 32, 0x1000)
    struct.pack_into("<I", volume, 56, 1)
    fix_volume_checksum(volume)
    cases["file-truncated"] = volume[:0x1000]

    # The file's size is 64 bytes short of its sections; both checksums agree,
    # and the cut-off bytes are erased, so the walk goes on into free space.
    volume = volume_with(good)
    offset = peim_offset(volume)
    full = qel_pack.file_size(volume[offset:offset + 24])
    size = full - 64
    volume[offset + 20:offset + 23] = size.to_bytes(3, "little")
    fix_header_checksum(volume, offset)
    volume[offset + 17] = qel_pack.checksum8(volume[offset + 24:offset + size])
    volume[offset + size:offset + full] = b"\xff" * (full - size)
    cases["file-section-overrun"] = volume

    cases["peim-without-pe32"] = volume_with(second_peim(image, pe32=False))
    cases["depex-malformed"] = volume_with(second_peim(image, "AND END"))
    cases["depex-false"] = volume_with(second_peim(image, "PUSH %s END" % NEVER_INSTALLED))
    return cases


def main(arguments):
    module_ffs, boot_fv, flash_base, flash_size, module_base, spare_base, boot_base, out_dir = arguments
    number = qel_pack.parse_number
    module_ffs = qel_pack.read(module_ffs)
    module_volume, _ = qel_pack.firmware_volume(number(module_base), VOLUME_SIZE, [module_ffs])
    boot = qel_pack.read(boot_fv)
    os.makedirs(out_dir, exist_ok=True)
    for name, volume in damaged_volumes(pe32_of(module_ffs), number(spare_base)).items():
        flash = qel_pack.flash_image(number(flash_base), number(flash_size), [
            (number(module_base), module_volume), (number(spare_base), bytes(volume)), (number(boot_base), boot)])
        qel_pack.write(os.path.join(out_dir, name + ".fd"), flash)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
