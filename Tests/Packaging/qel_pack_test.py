"""Tests of the packaging tool on small hand-made PE32 images: checksums as a
PEI Foundation checks them, the rebase, alignment in flash and the layouts
that the tool must refuse."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "cmake"))
import qel_pack  # noqa: E402

MODULE = "1702C20B-1B5F-4879-A5AD-1DDA5CA661B5"
OTHER = "17632CBE-6C80-49B6-8207-12B53D9B2570"


def tiny_pe32(alignment=32, relocations=((3, 0x100), (3, 0x104), (0, 0)), base=0, size=0x200):
    """A PE32 whose headers say what the tool reads: one section, and a
    relocation directory at 0x180 with the given (type, offset) entries.
    Offsets 0x100 and 0x104 hold pointers into the image."""
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HH", image, 0x44, 0x14C, 1)
    struct.pack_into("<HH", image, 0x54, 0xE0, 0x2102)
    optional = 0x58
    struct.pack_into("<H", image, optional, 0x10B)
    struct.pack_into("<I", image, optional + 16, 0x20)
    struct.pack_into("<III", image, optional + 28, base, alignment, alignment)
    struct.pack_into("<II", image, optional + 56, size, 0x80)
    struct.pack_into("<H", image, optional + 68, 0x0B)
    struct.pack_into("<I", image, optional + 92, 16)
    entries = b"".join(struct.pack("<H", (kind << 12) | offset) for kind, offset in relocations or ())
    if relocations is not None:
        struct.pack_into("<II", image, optional + 96 + 8 * 5, 0x180, 8 + len(entries))
    struct.pack_into("<II", image, 0x180, 0, 8 + len(entries))
    image[0x188:0x188 + len(entries)] = entries
    struct.pack_into("<II", image, 0x100, base + 0x20, base + 0x1F0)
    return bytes(image)


def file_at(volume, offset):
    size = qel_pack.file_size(volume[offset:offset + 24])
    return volume[offset:offset + size]


class Checksums(unittest.TestCase):
    def test_file_header_and_data_sum_to_zero_as_stored(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(), "Tiny", "1.0")
        header = bytearray(ffs[:24])
        self.assertEqual(ffs[23], qel_pack.FILE_STATE_VALID)
        header[17] = header[23] = 0  # state and data checksum count as zero
        self.assertEqual(sum(header) & 0xFF, 0)
        self.assertEqual((sum(ffs[24:]) + ffs[17]) & 0xFF, 0)
        self.assertTrue(ffs[19] & qel_pack.FFS_ATTRIB_CHECKSUM)

    def test_volume_header_words_sum_to_zero(self):
        volume, _ = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1")])
        length = struct.unpack_from("<H", volume, 48)[0]
        self.assertEqual(sum(struct.unpack("<%dH" % (length // 2), volume[:length])) & 0xFFFF, 0)
        self.assertEqual(volume[40:44], b"_FVH")
        self.assertEqual(volume[16:32], qel_pack.guid_bytes(qel_pack.FFS2_GUID))
        self.assertEqual(struct.unpack_from("<IIII", volume, 56), (16, 0x1000, 0, 0))

    def test_rebased_file_keeps_its_data_checksum(self):
        volume, _ = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1")])
        peim = file_at(volume, 0x68)
        self.assertEqual(peim[:16], qel_pack.guid_bytes(MODULE))
        self.assertEqual((sum(peim[24:]) + peim[17]) & 0xFF, 0)


class Sections(unittest.TestCase):
    def test_peim_holds_depex_pe32_name_and_version(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(), "QelVersionPei", "1.0", build_number=7)
        found = {kind: ffs[24 + body:24 + body + size] for _, kind, body, size in qel_pack.iterate_sections(ffs[24:])}
        self.assertEqual(found[qel_pack.SECTION_PEI_DEPEX], bytes([0x06, 0x08]))
        self.assertEqual(found[qel_pack.SECTION_PE32], tiny_pe32())
        self.assertEqual(found[qel_pack.SECTION_USER_INTERFACE], "QelVersionPei\0".encode("utf-16-le"))
        self.assertEqual(found[qel_pack.SECTION_VERSION], b"\x07\x00" + "1.0\0".encode("utf-16-le"))

    def test_depex_encodes_push_and_refuses_bad_text(self):
        self.assertEqual(qel_pack.depex("PUSH %s NOT END" % OTHER),
                         b"\x02" + qel_pack.guid_bytes(OTHER) + b"\x05\x08")
        for bad in ("TRUE", "PUSH", "TRUE MAYBE END", ""):
            with self.assertRaises(qel_pack.PackError, msg=bad):
                qel_pack.depex(bad)

    def test_pe32_body_keeps_the_image_alignment_in_flash(self):
        for alignment in (32, 64, 512, 4096):
            ffs = qel_pack.peim_file(MODULE, tiny_pe32(alignment=alignment, size=max(0x200, alignment)), "T", "1")
            self.assertGreaterEqual(qel_pack.data_alignment_of(ffs), alignment)
            volume, images = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [ffs])
            address, _ = images[0]
            self.assertEqual(address % alignment, 0, alignment)


class Rebase(unittest.TestCase):
    def test_highlow_fixups_move_by_the_delta_and_nothing_else_changes(self):
        image = tiny_pe32()
        moved = qel_pack.rebase(image, 0xFFFC00A0)
        self.assertEqual(struct.unpack_from("<II", moved, 0x100), (0xFFFC00C0, 0xFFFC0290))
        self.assertEqual(struct.unpack_from("<I", moved, 0x58 + 28)[0], 0xFFFC00A0)
        changed = [index for index in range(len(image)) if image[index] != moved[index]]
        self.assertTrue(all(0x100 <= index < 0x108 or 0x74 <= index < 0x78 for index in changed))

    def test_rebasing_again_is_the_same_as_rebasing_once(self):
        image = tiny_pe32()
        self.assertEqual(qel_pack.rebase(qel_pack.rebase(image, 0x400000), 0xFFFC00A0),
                         qel_pack.rebase(image, 0xFFFC00A0))

    def test_volume_rebases_to_the_body_address(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1")
        volume, images = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [ffs])
        address, image = images[0]
        offset = address - 0xFFFC0000
        self.assertEqual(volume[offset:offset + len(image)], image)
        self.assertEqual(struct.unpack_from("<I", image, 0x58 + 28)[0], address)

    def test_refuses_what_cannot_be_rebased_or_run_in_place(self):
        cases = {
            "no relocation directory": tiny_pe32(relocations=None),
            "a type other than HIGHLOW": tiny_pe32(relocations=((10, 0x100),)),
            "a fix-up outside the image": tiny_pe32(relocations=((3, 0xFFE),), size=0x200),
        }
        for what, image in cases.items():
            with self.assertRaises(qel_pack.PackError, msg=what):
                qel_pack.rebase(image, 0x1000)
        unaligned = bytearray(tiny_pe32())
        struct.pack_into("<I", unaligned, 0x58 + 36, 512)  # file alignment differs from section alignment
        with self.assertRaises(qel_pack.PackError):
            qel_pack.peim_file(MODULE, bytes(unaligned), "T", "1")


class Volumes(unittest.TestCase):
    def test_erase_polarity_one_stores_state_inverted_and_free_space_erased(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1")
        volume, _ = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [ffs, ffs])
        offsets = []
        offset = 72
        while volume[offset:offset + 24] != b"\xff" * 24:
            offsets.append(offset)
            self.assertEqual(offset % 8, 0)
            self.assertEqual(volume[offset + 23], 0xF8)
            offset = qel_pack.align(offset + qel_pack.file_size(volume[offset:offset + 24]), 8)
        self.assertEqual([volume[at + 18] for at in offsets], [0xF0, 0x06, 0xF0, 0x06])  # pads for alignment
        self.assertTrue(all(byte == 0xFF for byte in volume[offset:]))

    def test_full_volume_and_misplaced_core_are_refused(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(size=0x800), "T", "1")
        with self.assertRaises(qel_pack.PackError):
            qel_pack.firmware_volume(0xFFFF0000, 0x1000, [ffs, ffs])
        with self.assertRaises(qel_pack.PackError):
            qel_pack.firmware_volume(0xFFFF0000, 0x10000, vtf=(b"\x90" * 0x20, 0xFFFF1004))

    def test_volume_top_file_ends_at_the_top_with_the_core_in_place(self):
        core = b"\x90" * 0xEFEC + b"\xe9\x00\x00"  # ends 13 bytes short of the top
        volume, _ = qel_pack.firmware_volume(0xFFFF0000, 0x10000, vtf=(core, 0xFFFF1004))
        self.assertEqual(volume[0x1004:0x1004 + len(core)], core)
        self.assertEqual(volume[-13:], b"\xf4" * 13)
        self.assertEqual(volume[0x1004 - 28:0x1004 - 12], qel_pack.guid_bytes(qel_pack.VTF_GUID))
        self.assertEqual(0x1004 - 28 + qel_pack.file_size(volume[0x1004 - 28:0x1004 - 4]), 0x10000)


class Flash(unittest.TestCase):
    def test_volumes_land_at_their_addresses_in_erased_flash(self):
        flash = qel_pack.flash_image(0xFFFC0000, 0x40000, [(0xFFFF0000, b"B" * 16), (0xFFFC0000, b"A" * 16)])
        self.assertEqual(flash[:16], b"A" * 16)
        self.assertEqual(flash[0x30000:0x30010], b"B" * 16)
        self.assertEqual(set(flash[16:0x30000]), {0xFF})

    def test_overlapping_or_outside_volumes_are_refused(self):
        for volumes in ([(0xFFFC0000, b"A" * 32), (0xFFFC0010, b"B" * 32)], [(0xFFFB0000, b"A")],
                        [(0xFFFFFFF0, b"A" * 32)]):
            with self.assertRaises(qel_pack.PackError):
                qel_pack.flash_image(0xFFFC0000, 0x40000, volumes)


class Show(unittest.TestCase):
    def flash(self):
        module, _ = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1.0")])
        core = b"\x90" * 0xEFEC + b"\xe9\x00\x00"  # ends in the last 16 bytes, as a reset vector must
        boot, _ = qel_pack.firmware_volume(0xFFFF0000, 0x10000, vtf=(core, 0xFFFF1004))
        return qel_pack.flash_image(0xFFFC0000, 0x40000, [(0xFFFC0000, module), (0xFFFF0000, boot)]), module

    def test_flash_image_is_shown_at_its_flash_address_with_type_names(self):
        flash, _ = self.flash()
        lines = qel_pack.describe(flash)
        self.assertTrue(lines[0].startswith("volume FFFC0000: 65536 bytes, FFS2 "), lines[0])
        text = "\n".join(lines)
        self.assertIn("%s PEIM (06)" % MODULE, text)
        self.assertIn("section PEI_DEPEX (1B) at FFFC0084, 2 bytes: TRUE END", text)
        self.assertIn('section USER_INTERFACE (15)', text)
        self.assertIn('4 bytes "T"', text)
        self.assertIn('"1.0", build 0', text)
        self.assertIn("(volume top file) SECURITY_CORE (03)", text)
        self.assertIn("volume FFFF0000:", text)
        self.assertTrue(qel_pack.describe(flash, 0)[0].startswith("volume 00000000:"))

    def test_lone_volume_is_placed_by_its_rebased_pe32(self):
        _, module = self.flash()
        self.assertTrue(qel_pack.describe(module)[0].startswith("volume FFFC0000:"))
        unrebased = qel_pack.volume_header(0x10000, 0x1000, 12) + b"\xff" * (0x10000 - 56)
        self.assertTrue(qel_pack.describe(unrebased)[0].startswith("volume 00000000:"))

    def test_firmware_file_and_pe32_are_listed(self):
        ffs = qel_pack.peim_file(MODULE, tiny_pe32(), "T", "1.0")
        lines = qel_pack.describe(ffs)
        self.assertEqual(lines[0], "firmware file:")
        self.assertIn("section PE32 (10) at 00000038, 512 bytes, image base 00000000", "\n".join(lines))
        self.assertEqual(qel_pack.describe(tiny_pe32(base=0x10000))[0],
                         "PE32 image: 512 bytes (512 in memory), image base 00010000, entry point 00010020")

    def test_damage_is_named_and_what_is_not_a_firmware_image_is_refused(self):
        flash, _ = self.flash()
        damaged = bytearray(flash)
        damaged[0x80:0x83] = b"\xff\xff\x00"  # the dependency section claims more than its file
        self.assertIn("    damaged: a section at 0x0 of the file data runs past its end", qel_pack.describe(damaged))
        for junk in (b"", b"\x00" * 100, bytes(range(256)) * 4):
            with self.assertRaises(qel_pack.PackError):
                qel_pack.describe(junk)

    def test_unreadable_file_gives_one_line_and_status_1(self):
        import contextlib
        import io
        import tempfile
        with tempfile.NamedTemporaryFile(suffix=".bin") as junk:
            junk.write(b"not firmware")
            junk.flush()
            errors = io.StringIO()
            with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(io.StringIO()) as out:
                self.assertEqual(qel_pack.main(["show", junk.name]), 1)
            self.assertEqual(out.getvalue(), "")
            self.assertEqual(errors.getvalue().count("\n"), 1)
            self.assertIn("holds no firmware volume, firmware file or PE32 image", errors.getvalue())


def te_source(base=0):
    """tiny_pe32 with one section at 0x180 (the relocation block) and a
    pointer at 0x1F0 that the block fixes up; its headers end at 0x160."""
    image = bytearray(tiny_pe32(relocations=((3, 0x1F0), (0, 0)), base=base))
    struct.pack_into("<H", image, 0x46, 1)  # one section
    struct.pack_into("<8sIIII", image, 0x138, b".text", 0x80, 0x180, 0x80, 0x180)
    struct.pack_into("<I", image, 0x1F0, base + 0x1C0)
    return bytes(image)


class TerseExecutable(unittest.TestCase):
    def test_headers_before_the_section_table_give_way_to_the_te_header(self):
        te = qel_pack.te_image(te_source())
        self.assertEqual(te[:2], b"VZ")
        signature, machine, count, subsystem, stripped, entry = struct.unpack_from("<2sHBBHI", te)
        self.assertEqual((machine, count, subsystem, stripped, entry), (0x14C, 1, 0x0B, 0x138, 0x20))
        self.assertEqual(struct.unpack_from("<II", te, 24), (0x180, 12))  # the relocation directory
        self.assertEqual(te[40:], te_source()[0x138:])
        self.assertEqual(qel_pack.describe(te)[0],
                         "TE image: 240 bytes, 312 header bytes stripped, image base 00000000, entry point 00000020")

    def test_rebase_puts_the_image_base_before_the_header_by_the_bytes_stripped(self):
        te = qel_pack.te_image(te_source())
        header = 0xFFFC0100
        rebased = qel_pack.te_rebase(te, header)
        base = header + 40 - 0x138
        self.assertEqual(struct.unpack_from("<Q", rebased, 16)[0], base)
        self.assertEqual(struct.unpack_from("<I", rebased, 0x1F0 - 0x138 + 40)[0], base + 0x1C0)
        # The same bytes as the PE32 rebased to that base, past the headers.
        self.assertEqual(rebased[40:], qel_pack.rebase(te_source(), base)[0x138:])

    def test_in_a_volume_the_image_base_keeps_the_sections_alignment(self):
        te = qel_pack.te_image(te_source())
        self.assertEqual((qel_pack.te_alignment(te), qel_pack.te_skew(te)), (128, (0x138 - 40) % 128))
        ffs = qel_pack.peim_file(MODULE, te, "T", "1")
        volume, images = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [ffs])
        (base, rebased), = images
        self.assertEqual(base % 128, 0)
        self.assertIn(rebased, volume)
        at = volume.index(rebased)
        self.assertEqual(0xFFFC0000 + at + 40 - 0x138, base)
        self.assertIn("section TE (12) at %08X, 240 bytes, image base %08X, 312 header bytes stripped"
                      % (0xFFFC0000 + at, base), "\n".join(qel_pack.describe(volume)))
        as_linked, none = qel_pack.firmware_volume(0xFFFC0000, 0x10000, [ffs], as_linked=True)
        self.assertEqual(none, [])
        self.assertIn(te, as_linked)

    def test_what_is_not_a_te_image_is_refused(self):
        with self.assertRaises(qel_pack.PackError):
            qel_pack.te_fields(b"MZ" + bytes(60))
        stripped_too_little = bytearray(qel_pack.te_image(te_source()))
        struct.pack_into("<H", stripped_too_little, 6, 8)
        with self.assertRaises(qel_pack.PackError):
            qel_pack.te_fields(bytes(stripped_too_little))


if __name__ == "__main__":
    unittest.main()
