#!/usr/bin/env python3
"""Bytes of code and constant data per object in an lld-link map.

Each public or static symbol runs to the next one; the last runs to the end
of its section, whose size comes from the image beside the map (the map's own
section table leaves out the grouped .rdata$ pieces). Code ends where .rdata
begins (the image merges .rdata into .text). Identical-code folding may
credit a shared body to one object only.

    map-sizes.py MAP            one line per object: name, code bytes, data bytes
    map-sizes.py MAP OBJECT...  the sum over the named objects (code + data)

The image is MAP with .efi or .dll for .map. An ld.lld map of an ELF link
(its first line names VMA and LMA) needs no image: each input section has
its size there; .text sections count as code and .rodata as data, and
merged constants show as the object "<internal>".
"""
import os
import re
import struct
import sys

SECTION = re.compile(r"^ (\d{4}):([0-9a-fA-F]{8}) ([0-9a-fA-F]{8})H (\S+)")
PUBLIC = re.compile(r"^ (\d{4}):([0-9a-fA-F]{8}) +\S+ +[0-9a-fA-F]+ +(?:f +)?(\S+\.obj)$")


def read(path):
    sections, symbols = {}, []
    with open(path, encoding="latin-1") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if match := SECTION.match(line):
                number, start, length, name = match.groups()
                sections[name] = (number, int(start, 16), int(length, 16))
            elif match := PUBLIC.match(line):
                number, address, obj = match.groups()
                symbols.append((number, int(address, 16), obj))
    return sections, sorted(symbols)


def section_sizes(image):
    """VirtualSize of each section of a PE image, by 1-based section number."""
    with open(image, "rb") as file:
        data = file.read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, header + 6)[0], struct.unpack_from("<H", data, header + 20)[0]
    table = header + 24 + optional_size
    return {f"{index + 1:04d}": struct.unpack_from("<I", data, table + 40 * index + 8)[0] for index in range(count)}


ELF_INPUT = re.compile(r"^\s*[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)\s+\d+\s+(\S+):\((\.[a-z]+)")


def elf_sizes(path):
    result = {}
    with open(path, encoding="latin-1") as lines:
        for line in lines:
            if match := ELF_INPUT.match(line):
                size, obj, kind = int(match.group(1), 16), match.group(2), match.group(3)
                if kind in (".text", ".rodata"):
                    result.setdefault(obj, [0, 0])[0 if kind == ".text" else 1] += size
    return result


def sizes(path):
    with open(path, encoding="latin-1") as lines:
        if "VMA" in lines.readline():
            return elf_sizes(path)
    sections, symbols = read(path)
    data_start = sections.get(".rdata", (None, float("inf"), 0))[1]
    stem = os.path.splitext(path)[0]
    image = next((stem + suffix for suffix in (".efi", ".dll") if os.path.exists(stem + suffix)), None)
    if image is None:
        sys.exit(f"map-sizes: no image beside {path} ({stem}.efi or .dll)")
    ends = section_sizes(image)
    result = {}
    for index, (number, address, obj) in enumerate(symbols):
        following = symbols[index + 1] if index + 1 < len(symbols) else None
        end = following[1] if following and following[0] == number else ends.get(number, address)
        code = data = 0
        if address < data_start:
            code = min(end, data_start) - address
            data = max(0, end - data_start)
        else:
            data = end - address
        kept = result.setdefault(obj, [0, 0])
        kept[0] += code
        kept[1] += data
    return result


def main(arguments):
    if not arguments or arguments[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if arguments else 2
    result = sizes(arguments[0])
    if len(arguments) == 1:
        for obj, (code, data) in sorted(result.items()):
            print(f"{obj}\t{code}\t{data}")
    else:
        wanted = set(arguments[1:])
        print(sum(code + data for obj, (code, data) in result.items() if obj in wanted))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
