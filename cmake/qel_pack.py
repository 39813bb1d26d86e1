#!/usr/bin/env python3
"""Packs PE32 and TE images the way a PEI Foundation finds them in flash.

  qel_pack.py te   PE32 -o IMAGE.te      the PE32 with its headers stripped to a TE header
  qel_pack.py ffs  --name GUID (--pe32 IMAGE | --te IMAGE) --ui TEXT --version TEXT [--depex EXPR] -o FILE.ffs
  qel_pack.py fv   --base ADDRESS --size BYTES [--ffs FILE.ffs]... [--vtf CORE.bin --vtf-address ADDRESS]
                   [--as-linked] [--rebased-pe32 OUT] [--rebase-address OUT] -o VOLUME.fv
  qel_pack.py fd   --base ADDRESS --size BYTES --fv ADDRESS=VOLUME.fv... -o FLASH.fd
  qel_pack.py show IMAGE [--base ADDRESS] lists the volumes, files and sections of a flash image,
                                         volume or firmware file, or a PE32's or TE's sections
  qel_pack.py debug-offset --base ADDRESS IMAGE DEBUG_IMAGE
                                         checks that DEBUG_IMAGE (the same objects linked with
                                         DWARF) holds IMAGE's code, and prints where a debugger
                                         loads it when IMAGE runs at ADDRESS

A firmware file (.ffs) carries its image as linked (base 0) and its state bits
as set bits; a volume (.fv) rebases every image to the flash address where it
lies (a PE32's section body; for a TE, its header less the stripped bytes),
so the module runs in place, and writes the state bits with the volume's
erase polarity. Standard library only: the build runs it with the system's
python3.
"""

import argparse
import struct
import sys
import uuid

# Firmware volumes (the FFS2 file system) and files.
FFS2_GUID = "8C8CE578-8A3D-4F1C-9935-896185C32DD3"
VTF_GUID = "1BA0062E-C779-4582-8566-336AE8F78F09"
PAD_NAME = b"\xff" * 16
VOLUME_SIGNATURE = b"_FVH"
VOLUME_HEADER_SIZE = 56
VOLUME_REVISION = 2
FILE_HEADER_SIZE = 24
FILE_ALIGNMENT = 8

# Where the fields lie in a volume header (EFI_FIRMWARE_VOLUME_HEADER): a
# 16-byte zero vector, the file system GUID, the length, the signature, the
# attributes, the header's length and checksum, then the block map.
VOLUME_FILE_SYSTEM = 16
VOLUME_LENGTH = 32
VOLUME_SIGNATURE_AT = 40
VOLUME_ATTRIBUTES = 44
VOLUME_HEADER_LENGTH = 48
VOLUME_CHECKSUM = 50
VOLUME_BLOCK_MAP = 56

# Where the fields lie in a file header (EFI_FFS_FILE_HEADER): the name
# GUID, the two checksums, type, attributes, a 24-bit size and the state.
FILE_NAME = 0
FILE_HEADER_CHECKSUM = 16
FILE_DATA_CHECKSUM = 17
FILE_TYPE = 18
FILE_ATTRIBUTES = 19
FILE_SIZE = 20
FILE_STATE = 23

# Volume attributes: readable, memory-mapped, sticky-write, erase polarity 1;
# bits 16..20 hold log2 of the volume's base alignment.
FVB2_READ_ENABLED_CAP = 0x00000002
FVB2_READ_STATUS = 0x00000004
FVB2_STICKY_WRITE = 0x00000200
FVB2_MEMORY_MAPPED = 0x00000400
FVB2_ERASE_POLARITY = 0x00000800
FVB2_ALIGNMENT_SHIFT = 16

FILE_TYPES = {"raw": 0x01, "security-core": 0x03, "peim": 0x06, "pad": 0xF0}
FFS_ATTRIB_DATA_ALIGNMENT_SHIFT = 3
FFS_ATTRIB_CHECKSUM = 0x40
FFS_FIXED_CHECKSUM = 0xAA
# State bits as set bits; an erase-polarity-1 volume stores them inverted.
FILE_HEADER_CONSTRUCTION = 0x01
FILE_HEADER_VALID = 0x02
FILE_DATA_VALID = 0x04
FILE_STATE_VALID = FILE_HEADER_CONSTRUCTION | FILE_HEADER_VALID | FILE_DATA_VALID
# The data alignments a file can declare, by their 3-bit code.
DATA_ALIGNMENTS = [1, 16, 128, 512, 1024, 4096, 32768, 65536]

SECTION_PE32 = 0x10
SECTION_TE = 0x12
SECTION_VERSION = 0x14
SECTION_USER_INTERFACE = 0x15
SECTION_RAW = 0x19
SECTION_PEI_DEPEX = 0x1B
SECTION_HEADER_SIZE = 4
SECTION_ALIGNMENT = 4

DEPEX_OPCODES = {"PUSH": 0x02, "AND": 0x03, "OR": 0x04, "NOT": 0x05, "TRUE": 0x06, "FALSE": 0x07, "END": 0x08}

# PE/COFF fields the rebase reads and writes: the PE header's offset in the
# MZ header, then offsets in the COFF header, the optional header and a
# section header.
PE_HEADER_OFFSET = 0x3C
PE_SIGNATURE = b"PE\0\0"
PE_SECTION_COUNT = 6
PE_OPTIONAL_HEADER_SIZE = 20
PE_OPTIONAL_HEADER = 24
PE32_MAGIC = 0x10B
PE_ENTRY_POINT = 16
PE_IMAGE_BASE = 28
PE_SECTION_ALIGNMENT = 32
PE_FILE_ALIGNMENT = 36
PE_SIZE_OF_IMAGE = 56
PE_DIRECTORY_COUNT = 92
PE_DIRECTORIES = 96
PE_RELOCATION_DIRECTORY = 5
PE_SECTION_HEADER_SIZE = 40
PE_SECTION_VIRTUAL_SIZE = 8
PE_SECTION_RVA = 12
PE_SECTION_RAW_OFFSET = 20
PE_BASE_OF_CODE = 20
PE_SUBSYSTEM = 68
PE_DEBUG_DIRECTORY = 6

# The TE header (EFI_TE_IMAGE_HEADER): "VZ", machine, section count,
# subsystem, StrippedSize, entry point, BaseOfCode, a 64-bit ImageBase and the
# relocation and debug directories; the section table follows it.
TE_SIGNATURE = b"VZ"
TE_HEADER_SIZE = 40
TE_STRIPPED_SIZE = 6
TE_IMAGE_BASE = 16
TE_DIRECTORIES = 24
REL_ABSOLUTE = 0
REL_HIGHLOW = 3

FOUR_GIB = 1 << 32
RESET_VECTOR_BYTES = 16
HLT = b"\xf4"


class PackError(Exception):
    pass


def guid_bytes(text):
    return uuid.UUID(text).bytes_le


def guid_text(data):
    return str(uuid.UUID(bytes_le=bytes(data))).upper()


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def checksum8(data):
    return (-sum(data)) & 0xFF


def checksum16(data):
    words = struct.unpack("<%dH" % (len(data) // 2), data)
    return (-sum(words)) & 0xFFFF


def size24(size):
    if size >= 0xFFFFFF:
        raise PackError("%d bytes do not fit a 24-bit size field" % size)
    return struct.pack("<I", size)[:3]


def parse_number(text):
    """0x-prefixed hexadecimal or decimal, as the board runner takes them."""
    try:
        return int(text, 16) if text.lower().startswith("0x") else int(text, 10)
    except ValueError:
        raise PackError("not a number: %r" % text) from None


# ---------------------------------------------------------------- sections

def section(kind, body):
    return size24(SECTION_HEADER_SIZE + len(body)) + bytes([kind]) + body


def depex(expression):
    """Encodes a PEI dependency expression: 'TRUE END', 'PUSH GUID NOT END', ..."""
    words = expression.split()
    code = bytearray()
    index = 0
    while index < len(words):
        word = words[index].upper()
        if word not in DEPEX_OPCODES:
            raise PackError("unknown dependency opcode %r" % words[index])
        code.append(DEPEX_OPCODES[word])
        if word == "PUSH":
            index += 1
            if index == len(words):
                raise PackError("PUSH without a GUID")
            code += guid_bytes(words[index])
        index += 1
    if not code or code[-1] != DEPEX_OPCODES["END"]:
        raise PackError("a dependency expression ends with END")
    return bytes(code)


def ucs2(text):
    return (text + "\0").encode("utf-16-le")


def sections_with_alignment(parts):
    """Lays out (kind, body, body_alignment[, skew]) parts at 4-byte steps. A
    body that must be aligned gets a raw padding section before it, so that its
    offset in the file data is a multiple of its alignment (plus skew, for a TE
    header that must lie that far past an aligned address). Returns the bytes
    and the largest alignment asked for."""
    data = bytearray()
    largest = 1
    for kind, body, alignment, *skew in parts:
        data += b"\0" * (align(len(data), SECTION_ALIGNMENT) - len(data))
        if alignment > 1:
            largest = max(largest, alignment)
            gap = (sum(skew) - (len(data) + SECTION_HEADER_SIZE)) % alignment
            if gap:
                if gap < SECTION_HEADER_SIZE:
                    gap += alignment
                data += section(SECTION_RAW, b"\0" * (gap - SECTION_HEADER_SIZE))
        data += section(kind, body)
    return bytes(data), largest


# ---------------------------------------------------------------- files

def alignment_code(alignment):
    for code, value in enumerate(DATA_ALIGNMENTS):
        if value >= alignment:
            return code
    raise PackError("no file data alignment of %d bytes" % alignment)


def ffs_file(name, kind, data, data_alignment=1, state=FILE_STATE_VALID, checksum=True):
    """A file with its header checksum and, when asked, its data checksum.
    The state byte is given as set bits; a volume applies its polarity."""
    attributes = alignment_code(data_alignment) << FFS_ATTRIB_DATA_ALIGNMENT_SHIFT
    if checksum:
        attributes |= FFS_ATTRIB_CHECKSUM
    size = FILE_HEADER_SIZE + len(data)
    header = bytearray(name + bytes([0, 0, kind, attributes]) + size24(size) + b"\0")
    header[FILE_HEADER_CHECKSUM] = header_checksum(header)
    header[FILE_DATA_CHECKSUM] = checksum8(data) if checksum else FFS_FIXED_CHECKSUM
    header[FILE_STATE] = state
    return bytes(header) + data


def header_checksum(header):
    """The header checksum of a file header: the state and both checksums
    count as zero."""
    counted = bytearray(header[:FILE_HEADER_SIZE])
    counted[FILE_HEADER_CHECKSUM] = counted[FILE_DATA_CHECKSUM] = counted[FILE_STATE] = 0
    return checksum8(counted)


def data_alignment_of(file_bytes):
    return DATA_ALIGNMENTS[(file_bytes[FILE_ATTRIBUTES] >> FFS_ATTRIB_DATA_ALIGNMENT_SHIFT) & 7]


def file_size(file_bytes):
    return int.from_bytes(file_bytes[FILE_SIZE:FILE_SIZE + 3], "little")


def set_file_size(file_bytes, offset, size):
    """Writes size into the header of the file at offset."""
    file_bytes[offset + FILE_SIZE:offset + FILE_SIZE + 3] = size24(size)


def iterate_sections(data, start=0):
    """(offset of the section header, type, body offset, body size) in data."""
    offset = start
    while offset + SECTION_HEADER_SIZE <= len(data):
        size = int.from_bytes(data[offset:offset + 3], "little")
        if size < SECTION_HEADER_SIZE or offset + size > len(data):
            raise PackError("a section at %#x of the file data runs past its end" % offset)
        yield offset, data[offset + 3], offset + SECTION_HEADER_SIZE, size - SECTION_HEADER_SIZE
        offset = align(offset + size, SECTION_ALIGNMENT)


def peim_file(name, image, ui, version, build_number=0, expression="TRUE END"):
    """A PEIM: dependency section, PE32 or TE (its body placed so that the
    image's sections are aligned as they were linked), user-interface and
    version sections."""
    if image[:2] == TE_SIGNATURE:
        image_section = (SECTION_TE, image, te_alignment(image), te_skew(image))
    else:
        image_section = (SECTION_PE32, image, pe_section_alignment(image))
    data, largest = sections_with_alignment([
        (SECTION_PEI_DEPEX, depex(expression), 1),
        image_section,
        (SECTION_USER_INTERFACE, ucs2(ui), 1),
        (SECTION_VERSION, struct.pack("<H", build_number) + ucs2(version), 1),
    ])
    return ffs_file(guid_bytes(name), FILE_TYPES["peim"], data, largest)


# ---------------------------------------------------------------- PE32

def pe_offsets(image):
    if image[:2] != b"MZ":
        raise PackError("the PE32 has no MZ header")
    pe = struct.unpack_from("<I", image, PE_HEADER_OFFSET)[0]
    optional = pe + PE_OPTIONAL_HEADER
    if image[pe:pe + 4] != PE_SIGNATURE or struct.unpack_from("<H", image, optional)[0] != PE32_MAGIC:
        raise PackError("not a PE32 image")
    return pe, optional


def pe_section_alignment(image):
    _, optional = pe_offsets(image)
    section_alignment, file_alignment = struct.unpack_from("<II", image, optional + PE_SECTION_ALIGNMENT)
    if section_alignment != file_alignment:
        raise PackError("section alignment %d differs from file alignment %d: the image cannot run in place"
                        % (section_alignment, file_alignment))
    if struct.unpack_from("<I", image, optional + PE_SIZE_OF_IMAGE)[0] > len(image):
        raise PackError("the image is larger in memory than in its file: it cannot run in place")
    return section_alignment


def relocate(image, directory, size, position, delta):
    """Adds delta to every HIGHLOW target of the relocation directory at
    offset directory (size bytes) of image; position maps an RVA to its
    offset in image's bytes."""
    offset = directory
    while offset + 8 <= directory + size:
        page, block = struct.unpack_from("<II", image, offset)
        if block < 8 or offset + block > directory + size:
            raise PackError("a base relocation block overruns its directory")
        for entry in range(offset + 8, offset + block - 1, 2):
            fixup = struct.unpack_from("<H", image, entry)[0]
            kind, target = fixup >> 12, position(page + (fixup & 0xFFF))
            if kind == REL_ABSOLUTE:
                continue
            if kind != REL_HIGHLOW:
                raise PackError("base relocation type %d is not HIGHLOW" % kind)
            if not 0 <= target <= len(image) - 4:
                raise PackError("a base relocation points outside the image")
            value = struct.unpack_from("<I", image, target)[0]
            struct.pack_into("<I", image, target, (value + delta) % FOUR_GIB)
        offset += block


def rebase(image, new_base):
    """Applies the base relocations for new_base and records it as ImageBase."""
    image = bytearray(image)
    _, optional = pe_offsets(image)
    old_base = struct.unpack_from("<I", image, optional + PE_IMAGE_BASE)[0]
    count = struct.unpack_from("<I", image, optional + PE_DIRECTORY_COUNT)[0]
    if count <= PE_RELOCATION_DIRECTORY:
        raise PackError("the image has no base relocation directory")
    rva, size = struct.unpack_from("<II", image, optional + PE_DIRECTORIES + 8 * PE_RELOCATION_DIRECTORY)
    if size == 0 or rva + size > len(image):
        raise PackError("the image has no base relocations inside it, so it cannot be rebased")
    relocate(image, rva, size, lambda at: at, (new_base - old_base) % FOUR_GIB)
    struct.pack_into("<I", image, optional + PE_IMAGE_BASE, new_base)
    return bytes(image)


# ---------------------------------------------------------------- TE

def te_image(image):
    """The PE32 as a TE image: everything before the section table (MZ
    header, stub, PE signature, COFF and optional headers) gives way to the
    40-byte TE header, which keeps what a PEI loader needs. Section headers
    and data stay as they were, so every RVA lies StrippedSize - 40 bytes
    before where the PE32 had it."""
    pe, optional = pe_offsets(image)
    machine, count = struct.unpack_from("<HH", image, pe + 4)
    optional_size = struct.unpack_from("<H", image, pe + PE_OPTIONAL_HEADER_SIZE)[0]
    stripped = optional + optional_size
    entry, = struct.unpack_from("<I", image, optional + PE_ENTRY_POINT)
    base_of_code, = struct.unpack_from("<I", image, optional + PE_BASE_OF_CODE)
    image_base, = struct.unpack_from("<I", image, optional + PE_IMAGE_BASE)
    subsystem, = struct.unpack_from("<H", image, optional + PE_SUBSYSTEM)
    directory_count, = struct.unpack_from("<I", image, optional + PE_DIRECTORY_COUNT)
    directories = []
    for index in (PE_RELOCATION_DIRECTORY, PE_DEBUG_DIRECTORY):
        directories += (struct.unpack_from("<II", image, optional + PE_DIRECTORIES + 8 * index)
                        if index < directory_count else (0, 0))
    if count > 0xFF or stripped > 0xFFFF:
        raise PackError("%d sections or %d bytes of headers do not fit a TE header" % (count, stripped))
    for index in range(count):
        raw, = struct.unpack_from("<I", image, stripped + PE_SECTION_HEADER_SIZE * index + PE_SECTION_RAW_OFFSET)
        if raw and raw < stripped + PE_SECTION_HEADER_SIZE * count:
            raise PackError("a section's data lies among the headers that TE strips")
    header = struct.pack("<2sHBBHIIQ4I", TE_SIGNATURE, machine, count, subsystem, stripped, entry, base_of_code,
                         image_base, *directories)
    return header + bytes(image[stripped:])


def te_fields(te):
    """(stripped size, image base, section count, relocation directory) of a TE image."""
    if len(te) < TE_HEADER_SIZE or te[:2] != TE_SIGNATURE:
        raise PackError("not a TE image (no VZ signature)")
    count, stripped = te[4], struct.unpack_from("<H", te, TE_STRIPPED_SIZE)[0]
    image_base, = struct.unpack_from("<Q", te, TE_IMAGE_BASE)
    relocations = struct.unpack_from("<II", te, TE_DIRECTORIES)
    if stripped < TE_HEADER_SIZE:
        raise PackError("the TE header says it stripped fewer bytes than itself")
    return stripped, image_base, count, relocations


def te_alignment(te):
    """The alignment the TE image's sections keep in memory: the largest power
    of two, up to a page, that divides every section's RVA."""
    _, _, count, _ = te_fields(te)
    alignment = 4096
    for index in range(count):
        rva, = struct.unpack_from("<I", te, TE_HEADER_SIZE + PE_SECTION_HEADER_SIZE * index + PE_SECTION_RVA)
        while rva % alignment:
            alignment //= 2
    return alignment


def te_skew(te):
    """How far past an aligned address the TE header must lie, so that its
    image base (the header's address less the bytes stripped beyond it) and
    with it every section is aligned."""
    stripped = te_fields(te)[0]
    return (stripped - TE_HEADER_SIZE) % te_alignment(te)


def te_rebase(te, header_address):
    """The TE image as it runs with its header at header_address: relocated,
    and its image base adjusted for the stripped headers."""
    stripped, old_base, _, (rva, size) = te_fields(te)
    new_base = (header_address + TE_HEADER_SIZE - stripped) % FOUR_GIB
    te = bytearray(te)
    position = lambda at: at - stripped + TE_HEADER_SIZE  # noqa: E731
    if size == 0 or position(rva) < TE_HEADER_SIZE or position(rva) + size > len(te):
        raise PackError("the TE image has no base relocations inside it, so it cannot be rebased")
    relocate(te, position(rva), size, position, (new_base - old_base) % FOUR_GIB)
    struct.pack_into("<Q", te, TE_IMAGE_BASE, new_base)
    return bytes(te)


def text_section(image):
    """(RVA, bytes in memory) of the image's .text section."""
    pe, optional = pe_offsets(image)
    count = struct.unpack_from("<H", image, pe + PE_SECTION_COUNT)[0]
    optional_size = struct.unpack_from("<H", image, pe + PE_OPTIONAL_HEADER_SIZE)[0]
    for index in range(count):
        header = optional + optional_size + PE_SECTION_HEADER_SIZE * index
        if image[header:header + 8].rstrip(b"\0") == b".text":
            size, rva, raw_size, raw = struct.unpack_from("<IIII", image, header + PE_SECTION_VIRTUAL_SIZE)
            return rva, image[raw:raw + min(size, raw_size)]
    raise PackError("the image has no .text section")


def debug_offset(image, debug_image, base):
    """The debug twin has a larger header (its DWARF sections are listed
    there), so its .text starts later; the code must be the same once both
    are rebased so that their .text sections coincide. Returns the address at
    which to load the twin's symbols."""
    shipped_rva, _ = text_section(image)
    debug_rva, _ = text_section(debug_image)
    delta = debug_rva - shipped_rva
    _, shipped = text_section(rebase(image, base))
    _, debug = text_section(rebase(debug_image, (base - delta) % FOUR_GIB))
    if debug[:len(shipped)] != shipped:
        raise PackError("the debug image's code differs from the image's")
    entries = [struct.unpack_from("<I", each, pe_offsets(each)[1] + PE_ENTRY_POINT)[0] for each in (image, debug_image)]
    if entries[1] - entries[0] != delta:
        raise PackError("the debug image's entry point differs from the image's")
    return (base - delta) % FOUR_GIB


# ---------------------------------------------------------------- volumes

def volume_header(size, block_size, alignment_log2, erase_polarity=1):
    attributes = (FVB2_READ_ENABLED_CAP | FVB2_READ_STATUS | FVB2_STICKY_WRITE | FVB2_MEMORY_MAPPED
                  | (FVB2_ERASE_POLARITY if erase_polarity else 0) | (alignment_log2 << FVB2_ALIGNMENT_SHIFT))
    block_map = struct.pack("<IIII", size // block_size, block_size, 0, 0)
    header_length = VOLUME_HEADER_SIZE + len(block_map)
    header = bytearray(b"\0" * 16 + guid_bytes(FFS2_GUID) + struct.pack("<Q", size) + VOLUME_SIGNATURE
                       + struct.pack("<IHHHBB", attributes, header_length, 0, 0, 0, VOLUME_REVISION) + block_map)
    struct.pack_into("<H", header, VOLUME_CHECKSUM, volume_checksum(header))
    return bytes(header)


def volume_checksum(volume):
    """The checksum of the header at the start of volume, its own field
    counted as zero."""
    length = struct.unpack_from("<H", volume, VOLUME_HEADER_LENGTH)[0]
    header = bytearray(volume[:length])
    struct.pack_into("<H", header, VOLUME_CHECKSUM, 0)
    return checksum16(bytes(header))


def pad_file(size, erase):
    """A pad file as stored in a volume whose erased byte is erase."""
    pad = ffs_file(PAD_NAME, FILE_TYPES["pad"], bytes([erase]) * (size - FILE_HEADER_SIZE), checksum=False)
    return with_state(pad, erase == 0xFF)


def with_state(file_bytes, erase_polarity):
    state = file_bytes[FILE_STATE]
    stored = (~state & 0xFF) if erase_polarity else state
    return file_bytes[:FILE_STATE] + bytes([stored]) + file_bytes[FILE_STATE + 1:]


def rebased_file(file_bytes, address):
    """The file as it will lie at address: each PE32 rebased to its body's
    address and each TE to its header's, the data checksum made again.
    Returns it and [(image base, rebased image)]."""
    data = bytearray(file_bytes[FILE_HEADER_SIZE:])
    images = []
    for _, kind, body, length in iterate_sections(bytes(data)):
        where = address + FILE_HEADER_SIZE + body
        if kind == SECTION_PE32:
            if where % pe_section_alignment(bytes(data[body:body + length])):
                raise PackError("the PE32 at %#x breaks the image's section alignment" % where)
            image = rebase(bytes(data[body:body + length]), where)
            data[body:body + length] = image
            images.append((where, image))
        elif kind == SECTION_TE:
            image = te_rebase(bytes(data[body:body + length]), where)
            image_base = te_fields(image)[1]
            if image_base % te_alignment(image):
                raise PackError("the TE image at %#x breaks its sections' alignment" % where)
            data[body:body + length] = image
            images.append((image_base, image))
    header = bytearray(file_bytes[:FILE_HEADER_SIZE])
    if header[FILE_ATTRIBUTES] & FFS_ATTRIB_CHECKSUM:
        header[FILE_DATA_CHECKSUM] = checksum8(data)
    return bytes(header) + bytes(data), images


def place(volume, offset, alignment, size, erase, limit):
    """The offset where a file with that data alignment can start at or after
    offset, with a pad file filling the gap when there is one."""
    start = offset
    while (start + FILE_HEADER_SIZE) % alignment:
        start += FILE_ALIGNMENT
    if start != offset:
        while start - offset < FILE_HEADER_SIZE:
            start += alignment
        volume += pad_file(start - offset, erase)
    if start + size > limit:
        raise PackError("the volume is full: a %d-byte file does not fit at %#x" % (size, start))
    return start


def firmware_volume(base, size, files=(), vtf=None, block_size=0x1000, erase_polarity=1, as_linked=False):
    """A volume at base holding files (bytes of .ffs files, rebased here unless
    as_linked, which leaves the loading core to relocate them), and
    optionally a volume top file: (core bytes, address of the core), a raw
    section whose body must end at the end of the volume.
    Returns the volume and [(image base, rebased image)]."""
    if size % block_size or base % block_size:
        raise PackError("a volume's base and size are whole %d-byte blocks" % block_size)
    erase = 0xFF if erase_polarity else 0x00
    alignment_log2 = min((base & -base).bit_length() - 1 if base else 16, 16)
    volume = bytearray(volume_header(size, block_size, alignment_log2, erase_polarity))
    images = []
    for each in files:
        offset = align(len(volume), FILE_ALIGNMENT)
        volume += bytes([erase]) * (offset - len(volume))
        alignment = data_alignment_of(each)
        if alignment > 1 << alignment_log2:
            raise PackError("a file asks for %d-byte alignment, the volume only guarantees %d"
                            % (alignment, 1 << alignment_log2))
        offset = place(volume, offset, alignment, len(each), erase, size)
        placed, rebased = (each, []) if as_linked else rebased_file(each, base + offset)
        volume += with_state(placed, erase_polarity)
        images += rebased
    if vtf is not None:
        core, core_address = vtf
        # The reset vector lies in the last 16 bytes; what follows its jump is
        # padded with hlt.
        room = base + size - core_address - len(core)
        if not 0 <= room < RESET_VECTOR_BYTES:
            raise PackError("the core at %#x (%d bytes) does not end in the last %d bytes of the volume at %#x"
                            % (core_address, len(core), RESET_VECTOR_BYTES, base + size))
        core += HLT * room
        start = core_address - base - SECTION_HEADER_SIZE - FILE_HEADER_SIZE
        if start % FILE_ALIGNMENT or start < align(len(volume), FILE_ALIGNMENT):
            raise PackError("the core's address %#x leaves its file unaligned or over other files" % core_address)
        gap = start - len(volume)
        if gap:
            if gap < FILE_HEADER_SIZE:
                raise PackError("no room for a pad file before the volume top file")
            volume += pad_file(gap, erase)
        top = ffs_file(guid_bytes(VTF_GUID), FILE_TYPES["security-core"], section(SECTION_RAW, core))
        volume += with_state(top, erase_polarity)
    volume += bytes([erase]) * (size - len(volume))
    return bytes(volume), images


def flash_image(base, size, volumes, erase=0xFF):
    """Places (address, volume bytes) pairs into an erased flash image."""
    flash = bytearray([erase]) * size
    for address, volume in sorted(volumes):
        offset = address - base
        if offset < 0 or offset + len(volume) > size:
            raise PackError("a volume at %#x does not lie inside the flash" % address)
        if any(byte != erase for byte in flash[offset:offset + len(volume)]):
            raise PackError("the volume at %#x overlaps another" % address)
        flash[offset:offset + len(volume)] = volume
    return bytes(flash)


# ---------------------------------------------------------------- reading back

# The names of file and section types as firmware engineers read them.
FILE_TYPE_NAMES = {0x01: "RAW", 0x02: "FREEFORM", 0x03: "SECURITY_CORE", 0x04: "PEI_CORE", 0x05: "DXE_CORE",
                   0x06: "PEIM", 0x07: "DRIVER", 0x08: "COMBINED_PEIM_DRIVER", 0x09: "APPLICATION", 0x0A: "MM",
                   0x0B: "FIRMWARE_VOLUME_IMAGE", 0x0C: "COMBINED_MM_DXE", 0x0D: "MM_CORE", 0x0E: "MM_STANDALONE",
                   0x0F: "MM_CORE_STANDALONE", 0xF0: "FFS_PAD"}
SECTION_TYPE_NAMES = {0x01: "COMPRESSION", 0x02: "GUID_DEFINED", 0x03: "DISPOSABLE", 0x10: "PE32", 0x11: "PIC",
                      0x12: "TE", 0x13: "DXE_DEPEX", 0x14: "VERSION", 0x15: "USER_INTERFACE",
                      0x16: "COMPATIBILITY16", 0x17: "FIRMWARE_VOLUME_IMAGE", 0x18: "FREEFORM_SUBTYPE_GUID",
                      0x19: "RAW", 0x1B: "PEI_DEPEX", 0x1C: "MM_DEPEX"}


def type_name(names, kind):
    return "%s (%02X)" % (names.get(kind, "unknown type"), kind)


def ucs2_text(body):
    text = bytes(body).decode("utf-16-le", errors="replace")
    return text.split("\0", 1)[0]


def depex_text(body):
    names = {code: name for name, code in DEPEX_OPCODES.items()}
    words, offset = [], 0
    while offset < len(body):
        name = names.get(body[offset], "%02X" % body[offset])
        offset += 1
        if name == "PUSH":
            name += " " + guid_text(body[offset:offset + 16])
            offset += 16
        words.append(name)
        if name == "END":
            break
    return " ".join(words)


def section_detail(kind, body):
    """What a reader wants from a section's body, beside its size."""
    if kind == SECTION_USER_INTERFACE:
        return ' "%s"' % ucs2_text(body)
    if kind == SECTION_VERSION and len(body) >= 2:
        return ' "%s", build %d' % (ucs2_text(body[2:]), struct.unpack_from("<H", body)[0])
    if kind == SECTION_PEI_DEPEX:
        return ": " + depex_text(body)
    if kind == SECTION_PE32 and body[:2] == b"MZ":
        _, optional = pe_offsets(body)
        return ", image base %08X" % struct.unpack_from("<I", body, optional + PE_IMAGE_BASE)[0]
    if kind == SECTION_TE and body[:2] == TE_SIGNATURE:
        stripped, image_base, _, _ = te_fields(body)
        return ", image base %08X, %d header bytes stripped" % (image_base, stripped)
    return ""


def describe_file(image, at, address):
    """Lines for the firmware file at offset at of image, which lies at address."""
    header = image[at:at + FILE_HEADER_SIZE]
    size = file_size(header)
    name = guid_text(header[:16])
    if name == VTF_GUID:
        name += " (volume top file)"
    lines = ["  file %08X: %s %s, %d bytes" % (address, name, type_name(FILE_TYPE_NAMES, header[FILE_TYPE]), size)]
    if header[FILE_TYPE] != FILE_TYPES["pad"]:
        data = image[at + FILE_HEADER_SIZE:at + size]
        try:
            for _, kind, body, body_size in iterate_sections(data):
                lines.append("    section %s at %08X, %d bytes%s"
                             % (type_name(SECTION_TYPE_NAMES, kind), address + FILE_HEADER_SIZE + body, body_size,
                                section_detail(kind, data[body:body + body_size])))
        except PackError as damage:
            lines.append("    damaged: %s" % damage)
    return lines, size


def volume_offsets(image):
    offset = 0
    while offset + VOLUME_HEADER_SIZE <= len(image):
        if image[offset + VOLUME_SIGNATURE_AT:offset + VOLUME_SIGNATURE_AT + 4] == VOLUME_SIGNATURE:
            yield offset
            length = struct.unpack_from("<Q", image, offset + VOLUME_LENGTH)[0]
            offset += max(align(length, 0x1000), 0x1000)
        else:
            offset += 0x1000


def ends_in_volume_top_file(image):
    """Whether image's last volume ends in a volume top file: then it reaches
    the top of the 4 GiB space, where the processor starts."""
    last = None
    for offset in volume_offsets(image):
        last = offset
    if last is None:
        return False
    for address, header in files_of(image, last):
        if guid_text(header[:16]) == VTF_GUID and address + file_size(header) == len(image):
            return True
    return False


def files_of(image, offset):
    """(offset, header) of each file in the volume at offset."""
    length, _, attributes, header_length = struct.unpack_from("<Q4sIH", image, offset + VOLUME_LENGTH)
    erased = bytes([0xFF if attributes & FVB2_ERASE_POLARITY else 0]) * FILE_HEADER_SIZE
    cursor = align(header_length, FILE_ALIGNMENT)
    while cursor + FILE_HEADER_SIZE <= min(length, len(image) - offset):
        header = image[offset + cursor:offset + cursor + FILE_HEADER_SIZE]
        if header == erased:
            break
        yield offset + cursor, header
        cursor = align(cursor + max(file_size(header), FILE_HEADER_SIZE), FILE_ALIGNMENT)


def volume_images(image, offsets):
    """(offset in image, section type, body) of each PE32 and TE section in
    the files of the volumes at offsets, in order."""
    for offset in offsets:
        for at, header in files_of(image, offset):
            if header[FILE_TYPE] == FILE_TYPES["pad"]:
                continue
            data = image[at + FILE_HEADER_SIZE:at + file_size(header)]
            for _, kind, body, size in iterate_sections(data):
                if kind in (SECTION_PE32, SECTION_TE):
                    yield at + FILE_HEADER_SIZE + body, kind, data[body:body + size]


def claimed_address(kind, body):
    """Where the image's first byte runs as its headers say: a PE32's image
    base; a TE's image base plus the bytes stripped beyond its header. None
    when the body is neither."""
    if kind == SECTION_PE32 and body[:2] == b"MZ":
        _, optional = pe_offsets(body)
        return struct.unpack_from("<I", body, optional + PE_IMAGE_BASE)[0]
    if kind == SECTION_TE and body[:2] == TE_SIGNATURE:
        stripped, image_base, _, _ = te_fields(body)
        return image_base + stripped - TE_HEADER_SIZE
    return None


def placed_base(image, offsets):
    """Where a volume lies in flash as its first rebased image says (an image
    in a volume is rebased to where its body lies); 0 when none is rebased."""
    for at, kind, body in volume_images(image, offsets):
        claimed = claimed_address(kind, body)
        if claimed:
            placed = claimed - at
            if placed % 0x1000 == 0 and 0 <= placed <= FOUR_GIB - len(image):
                return placed
    return 0


def is_firmware_file(image):
    header = image[:FILE_HEADER_SIZE]
    if len(header) < FILE_HEADER_SIZE or not FILE_HEADER_SIZE <= file_size(header) <= len(image):
        return False
    summed = bytearray(header)
    summed[FILE_DATA_CHECKSUM] = 0
    summed[FILE_STATE] = 0
    return sum(summed) & 0xFF == 0


def section_lines(image, table, count, base):
    """A line for each of the count section headers at table, placed at base."""
    lines = []
    for index in range(count):
        header = table + index * PE_SECTION_HEADER_SIZE
        name = image[header:header + 8].rstrip(b"\0").decode("ascii", errors="replace")
        size, address = struct.unpack_from("<II", image, header + PE_SECTION_VIRTUAL_SIZE)
        lines.append("  section %-8s at %08X, %d bytes" % (name, (base + address) % FOUR_GIB, size))
    return lines


def describe_pe32(image):
    pe, optional = pe_offsets(image)
    count = struct.unpack_from("<H", image, pe + PE_SECTION_COUNT)[0]
    entry = struct.unpack_from("<I", image, optional + PE_ENTRY_POINT)[0]
    base = struct.unpack_from("<I", image, optional + PE_IMAGE_BASE)[0]
    in_memory = struct.unpack_from("<I", image, optional + PE_SIZE_OF_IMAGE)[0]
    table = optional + struct.unpack_from("<H", image, pe + PE_OPTIONAL_HEADER_SIZE)[0]
    return (["PE32 image: %d bytes (%d in memory), image base %08X, entry point %08X"
             % (len(image), in_memory, base, base + entry)] + section_lines(image, table, count, base))


def describe_te(te):
    stripped, image_base, count, _ = te_fields(te)
    entry, = struct.unpack_from("<I", te, 8)
    return (["TE image: %d bytes, %d header bytes stripped, image base %08X, entry point %08X"
             % (len(te), stripped, image_base, (image_base + entry) % FOUR_GIB)]
            + section_lines(te, TE_HEADER_SIZE, count, image_base))


def describe(image, base=None):
    """Lines naming what image holds: the volumes of a flash image or of a
    volume, with their files and sections; a firmware file; or a PE32. A flash
    image that ends in a volume top file is shown at its flash address unless
    base says otherwise."""
    if image[:2] == b"MZ":
        return describe_pe32(image)
    if image[:2] == TE_SIGNATURE:
        return describe_te(image)
    offsets = list(volume_offsets(image))
    if not offsets:
        if is_firmware_file(image):
            return ["firmware file:"] + describe_file(image, 0, base or 0)[0]
        raise PackError("holds no firmware volume, firmware file or PE32 image")
    if base is None:
        base = (FOUR_GIB - len(image)) if ends_in_volume_top_file(image) else placed_base(image, offsets)
    lines = []
    for offset in offsets:
        length = struct.unpack_from("<Q", image, offset + VOLUME_LENGTH)[0]
        file_system = guid_text(image[offset + VOLUME_FILE_SYSTEM:offset + VOLUME_LENGTH])
        if file_system == FFS2_GUID:
            file_system = "FFS2 (%s)" % file_system
        lines.append("volume %08X: %d bytes, %s" % (base + offset, length, file_system))
        for at, _ in files_of(image, offset):
            lines.extend(describe_file(image, at, base + at)[0])
    return lines


# ---------------------------------------------------------------- command line

def read(path):
    with open(path, "rb") as stream:
        return stream.read()


def write(path, data):
    with open(path, "wb") as stream:
        stream.write(data)


def main(arguments):
    parser = argparse.ArgumentParser(description="Packs PE32 images into firmware files, volumes and flash.")
    commands = parser.add_subparsers(dest="command", required=True)
    ffs = commands.add_parser("ffs", help="a PEIM firmware file")
    ffs.add_argument("--name", required=True, help="the file's GUID")
    kind = ffs.add_mutually_exclusive_group(required=True)
    kind.add_argument("--pe32", help="the PE32 image (a PE32 section)")
    kind.add_argument("--te", help="the TE image (a TE section)")
    ffs.add_argument("--ui", required=True)
    ffs.add_argument("--version", required=True)
    ffs.add_argument("--build-number", type=parse_number, default=0)
    ffs.add_argument("--depex", default="TRUE END")
    ffs.add_argument("-o", "--output", required=True)
    fv = commands.add_parser("fv", help="a firmware volume")
    fv.add_argument("--base", type=parse_number, required=True)
    fv.add_argument("--size", type=parse_number, required=True)
    fv.add_argument("--ffs", action="append", default=[])
    fv.add_argument("--vtf", help="the flat binary that ends at the volume's end (reset vector, SEC and PEI core)")
    fv.add_argument("--vtf-address", type=parse_number)
    fv.add_argument("--as-linked", action="store_true",
                    help="leave the images as linked, for a core that relocates them")
    fv.add_argument("--rebased-pe32", help="where to write the first file's PE32 or TE image as rebased")
    fv.add_argument("--rebase-address", help="where to write that image's base address, as 0x-hexadecimal")
    fv.add_argument("-o", "--output", required=True)
    fd = commands.add_parser("fd", help="a flash image")
    fd.add_argument("--base", type=parse_number, required=True)
    fd.add_argument("--size", type=parse_number, required=True)
    fd.add_argument("--fv", action="append", default=[], help="ADDRESS=VOLUME")
    fd.add_argument("-o", "--output", required=True)
    te = commands.add_parser("te", help="the PE32 as a TE image")
    te.add_argument("pe32")
    te.add_argument("-o", "--output", required=True)
    show = commands.add_parser("show", help="list what an image holds")
    show.add_argument("image")
    show.add_argument("--base", type=parse_number, default=None,
                      help="the address of the image's first byte (default: the flash address of an image that "
                           "ends in a volume top file, else 0)")
    offset = commands.add_parser("debug-offset", help="where a debugger loads the debug twin's symbols")
    offset.add_argument("--base", type=parse_number, required=True, help="where the image runs")
    offset.add_argument("image")
    offset.add_argument("debug_image")
    options = parser.parse_args(arguments)

    try:
        if options.command == "ffs":
            image = read(options.pe32 or options.te)
            if options.te and image[:2] != TE_SIGNATURE:
                raise PackError("%s is not a TE image" % options.te)
            write(options.output, peim_file(options.name, image, options.ui, options.version,
                                            options.build_number, options.depex))
        elif options.command == "te":
            write(options.output, te_image(read(options.pe32)))
        elif options.command == "fv":
            vtf = None
            if options.vtf:
                if options.vtf_address is None:
                    raise PackError("--vtf needs --vtf-address")
                vtf = (read(options.vtf), options.vtf_address)
            volume, images = firmware_volume(options.base, options.size, [read(path) for path in options.ffs], vtf,
                                             as_linked=options.as_linked)
            write(options.output, volume)
            if options.rebased_pe32 or options.rebase_address:
                if not images:
                    raise PackError("the volume holds no rebased PE32 or TE image")
                if options.rebased_pe32:
                    write(options.rebased_pe32, images[0][1])
                if options.rebase_address:
                    write(options.rebase_address, b"0x%08X\n" % images[0][0])
        elif options.command == "fd":
            volumes = []
            for item in options.fv:
                address, _, path = item.partition("=")
                volumes.append((parse_number(address), read(path)))
            write(options.output, flash_image(options.base, options.size, volumes))
        elif options.command == "debug-offset":
            print("0x%08X" % debug_offset(read(options.image), read(options.debug_image), options.base))
        else:
            try:
                print("\n".join(describe(read(options.image), options.base)))
            except PackError as error:
                raise PackError("%s: %s" % (options.image, error)) from None
    except (PackError, OSError) as error:
        print("qel_pack: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
