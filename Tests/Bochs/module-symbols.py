#!/usr/bin/env python3
"""Writes the module's publics from its linker map, at the flash address the
module runs from, as the "address name" lines Bochs's debugger loads with
ldsym (C++ names without their decoration).

  module-symbols.py MAP REBASE_ADDRESS OUTPUT
"""
import re
import sys

base = int(sys.argv[2], 16)
lines = []
for line in open(sys.argv[1]):
    found = re.match(r"\s*0001:[0-9a-fA-F]+\s+(\S+)\s+([0-9a-fA-F]{8,16})\s", line)
    if found:
        name = found.group(1)
        plain = re.match(r"\?([^@]+)", name)
        lines.append("%08x %s" % (base + int(found.group(2), 16), plain.group(1) if plain else name.lstrip("_")))
with open(sys.argv[3], "w") as output:
    output.write("\n".join(lines) + "\n")
