"""Tests of the drop tool: the Authenticode digest leaves out exactly the
fields it must, and the archive is the same bytes for the same files."""

import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "cmake"))
import qel_drop  # noqa: E402
from qel_pack_test import te_source  # noqa: E402

OPTIONAL = 0x58  # where the test images keep their optional header


def signed_layout():
    """A PE32 whose headers end at 0x180, where its one section starts."""
    image = bytearray(te_source())
    struct.pack_into("<I", image, OPTIONAL + 60, 0x180)
    return image


class Authenticode(unittest.TestCase):
    def test_checksum_and_certificate_entry_are_not_hashed_everything_else_is(self):
        image = bytes(signed_layout())
        digest = qel_drop.authenticode_sha256(image)
        for field in (OPTIONAL + 64, OPTIONAL + 96 + 8 * 4):
            changed = bytearray(image)
            changed[field] ^= 0xFF
            self.assertEqual(qel_drop.authenticode_sha256(bytes(changed)), digest, "field at %#x" % field)
        for byte in (0x20, OPTIONAL + 16, 0x1F0):
            changed = bytearray(image)
            changed[byte] ^= 0xFF
            self.assertNotEqual(qel_drop.authenticode_sha256(bytes(changed)), digest, "byte at %#x" % byte)

    def test_certificates_at_the_end_are_left_out(self):
        image = signed_layout()
        struct.pack_into("<II", image, OPTIONAL + 96 + 8 * 4, len(image), 16)
        signed = bytes(image) + b"\x5A" * 16
        self.assertEqual(qel_drop.authenticode_sha256(signed), qel_drop.authenticode_sha256(bytes(image)))


class Archive(unittest.TestCase):
    def make_drop(self, root):
        drop = os.path.join(root, "QelVersionPei-9.9")
        os.makedirs(os.path.join(drop, "Include", "Ppi"))
        for path, data in (("b.txt", b"second"), ("a.txt", b"first"), ("Include/Ppi/X.h", b"// x")):
            with open(os.path.join(drop, path), "wb") as stream:
                stream.write(data)
        return drop

    def test_same_files_give_the_same_archive_whatever_their_times_and_order(self):
        archives = []
        for touch in (1000, 2000000000):
            with tempfile.TemporaryDirectory() as root:
                drop = self.make_drop(root)
                for folder, _, names in os.walk(drop):
                    for name in names:
                        os.utime(os.path.join(folder, name), (touch, touch))
                output = os.path.join(root, "drop.tar.gz")
                qel_drop.archive(drop, output, 1700000000)
                with open(output, "rb") as stream:
                    archives.append(stream.read())
        self.assertEqual(archives[0], archives[1])

    def test_sums_list_every_other_file_in_order(self):
        with tempfile.TemporaryDirectory() as root:
            drop = self.make_drop(root)
            qel_drop.write_sums(drop)
            with open(os.path.join(drop, qel_drop.SUMS)) as stream:
                names = [line.split("  ", 1)[1].strip() for line in stream]
        self.assertEqual(names, ["Include/Ppi/X.h", "a.txt", "b.txt"])


if __name__ == "__main__":
    unittest.main()
