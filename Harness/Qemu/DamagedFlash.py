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
HEADER = qel_pack.FILE_HEADER_SIZE


def pe32_of(ffs):
    for _, kind, body, size in qel_pack.iterate_sections(ffs[HEADER:]):
        if kind == qel_pack.SECTION_PE32:
            return ffs[HEADER + body:HEADER + body + size]
    raise SystemExit("no PE32 in the module's file")


def second_peim(image, expression="TRUE END", pe32=True, te=False):
    parts = [(qel_pack.SECTION_PEI_DEPEX, qel_pack.depex(expression), 1)]
    if te:
        te_image = qel_pack.te_image(image)
        parts.append((qel_pack.SECTION_TE, te_image, qel_pack.te_alignment(te_image), qel_pack.te_skew(te_image)))
    elif pe32:
        parts.append((qel_pack.SECTION_PE32, image, qel_pack.pe_section_alignment(image)))
    parts.append((qel_pack.SECTION_USER_INTERFACE, qel_pack.ucs2("Damaged"), 1))
    data, alignment = qel_pack.sections_with_alignment(parts)
    return qel_pack.ffs_file(qel_pack.guid_bytes(SECOND), qel_pack.FILE_TYPES["peim"], data, alignment)


def peim_offset(volume):
    """The second PEIM's header offset: the first file that is no pad file."""
    header_length = struct.unpack_from("<H", volume, qel_pack.VOLUME_HEADER_LENGTH)[0]
    offset = qel_pack.align(header_length, qel_pack.FILE_ALIGNMENT)
    while volume[offset + qel_pack.FILE_TYPE] == qel_pack.FILE_TYPES["pad"]:
        offset = qel_pack.align(offset + qel_pack.file_size(volume[offset:offset + HEADER]), qel_pack.FILE_ALIGNMENT)
    return offset


def fix_header_checksum(volume, offset):
    volume[offset + qel_pack.FILE_HEADER_CHECKSUM] = qel_pack.header_checksum(volume[offset:offset + HEADER])


def fix_data_checksum(volume, offset):
    size = qel_pack.file_size(volume[offset:offset + HEADER])
    volume[offset + qel_pack.FILE_DATA_CHECKSUM] = qel_pack.checksum8(volume[offset + HEADER:offset + size])


def section_body(volume, offset, kind):
    """The offset in volume of the body of the first section of that kind in
    the file at offset."""
    size = qel_pack.file_size(volume[offset:offset + HEADER])
    for _, found, body, _ in qel_pack.iterate_sections(bytes(volume[offset + HEADER:offset + size])):
        if found == kind:
            return offset + HEADER + body
    raise SystemExit("no section of type %#x in the file" % kind)


def fix_volume_checksum(volume):
    struct.pack_into("<H", volume, qel_pack.VOLUME_CHECKSUM, qel_pack.volume_checksum(volume))


def damaged_volumes(image, base):
    def volume_with(ffs):
        return bytearray(qel_pack.firmware_volume(base, VOLUME_SIZE, [ffs])[0])

    good = second_peim(image)
    cases = {}

    volume = volume_with(good)
    volume[qel_pack.VOLUME_CHECKSUM] ^= 0x01
    cases["volume-checksum"] = volume

    volume = volume_with(good)
    volume[peim_offset(volume) + qel_pack.FILE_ATTRIBUTES] ^= 0x04  # an attribute bit, the checksum left as it was
    cases["file-header-checksum"] = volume

    volume = volume_with(good)
    volume[peim_offset(volume) + HEADER + 2] ^= 0x01  # a byte of the dependency section
    cases["file-data-checksum"] = volume

    volume = volume_with(good)
    offset = peim_offset(volume)
    qel_pack.set_file_size(volume, offset, 16)
    fix_header_checksum(volume, offset)
    cases["file-size-too-small"] = volume

    # The volume ends 4 KiB in, inside the PEIM: a volume cut short.
    volume = volume_with(good)
    struct.pack_into("<Q", volume, qel_pack.VOLUME_LENGTH, 0x1000)
    struct.pack_into("<I", volume, qel_pack.VOLUME_BLOCK_MAP, 1)  # one block
    fix_volume_checksum(volume)
    cases["file-truncated"] = volume[:0x1000]

    # The file's size is 64 bytes short of its sections; both checksums agree,
    # and the cut-off bytes are erased, so the walk goes on into free space.
    volume = volume_with(good)
    offset = peim_offset(volume)
    full = qel_pack.file_size(volume[offset:offset + HEADER])
    size = full - 64
    qel_pack.set_file_size(volume, offset, size)
    fix_header_checksum(volume, offset)
    volume[offset + qel_pack.FILE_DATA_CHECKSUM] = qel_pack.checksum8(volume[offset + HEADER:offset + size])
    volume[offset + size:offset + full] = b"\xff" * (full - size)
    cases["file-section-overrun"] = volume

    cases["peim-without-pe32"] = volume_with(second_peim(image, pe32=False))
    cases["depex-malformed"] = volume_with(second_peim(image, "AND END"))
    cases["depex-false"] = volume_with(second_peim(image, "PUSH %s END" % NEVER_INSTALLED))

    # A TE image whose header lost its signature, the file's checksums made
    # good again: only the core's own reading of the TE header can tell.
    volume = volume_with(second_peim(image, te=True))
    offset = peim_offset(volume)
    volume[section_body(volume, offset, qel_pack.SECTION_TE) + 1] ^= 0x01  # "VZ" becomes "V["
    fix_data_checksum(volume, offset)
    cases["te-header-signature"] = volume
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
