#!/usr/bin/env python3
"""Runs each sample command the README shows ("    $ COMMAND" and the lines
after it, up to a blank line) and checks that it prints what the README
shows, line by line: "..." inside a line stands for anything, a line of
"..." alone for any number of lines. The debugger session is
Tests/Qemu/check-debugger.sh's. Exit 77 when the builds the samples need are
absent.

  check-readme-samples.py README HOST_BUILD_DIR FIRMWARE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SKIPPED = ("bash Tools/debug.sh",)


def samples(readme):
    """(line number, command, shown lines) of each sample."""
    lines = readme.read_text().splitlines()
    found = []
    for index, line in enumerate(lines):
        if line.startswith("    $ "):
            command = line[6:]
            shown = []
            for after in lines[index + 1:]:
                if not after.startswith("    ") or after.startswith("    $ "):
                    break
                shown.append(after[4:].rstrip())
            found.append((index + 1, command, shown))
    return found


def pattern(shown):
    parts = shown.split("...")
    return re.compile("^" + ".*".join(re.escape(part) for part in parts) + "$")


def matches(shown, printed):
    """Whether printed (all lines) is what shown describes."""
    def match(s, p):
        if s == len(shown):
            return p == len(printed)
        if shown[s] == "...":
            return any(match(s + 1, q) for q in range(p, len(printed) + 1))
        return p < len(printed) and pattern(shown[s]).match(printed[p]) is not None and match(s + 1, p + 1)
    return match(0, 0)


def main(arguments):
    readme, host, firmware = Path(arguments[0]), Path(arguments[1]), Path(arguments[2])
    root = readme.resolve().parent
    if not (host / "Tools" / "qel-board").exists() or not (firmware / "QelVersionPei.efi").exists():
        print("the host build or the firmware build is absent: build both presets first")
        return 77
    status = 0
    checked = 0
    # The samples run in order in a scratch folder that looks like the
    # checkout (a later sample may read a file an earlier one wrote), with
    # build/host and build/firmware the builds under test.
    scratch = Path(tempfile.mkdtemp(prefix="readme-samples-"))
    for entry in root.iterdir():
        if entry.name not in ("build", ".git"):
            (scratch / entry.name).symlink_to(entry)
    (scratch / "build").mkdir()
    (scratch / "build" / "host").symlink_to(host.resolve())
    (scratch / "build" / "firmware").symlink_to(firmware.resolve())
    for number, command, shown in samples(readme):
        if command.startswith(SKIPPED):
            continue
        result = subprocess.run(["bash", "-c", command], cwd=scratch, capture_output=True, text=True, timeout=120)
        # Trailing blanks do not survive in a README; they are not compared.
        # The runner names its image relative to where it runs: from the
        # scratch folder that is a path outside it, which the README calls
        # build/firmware/.
        text = (result.stdout + result.stderr).replace(os.path.relpath(firmware.resolve(), scratch) + "/",
                                                       "build/firmware/")
        printed = [line.rstrip() for line in text.splitlines()]
        checked += 1
        if matches(shown, printed):
            print("README.md:%d: prints what the README shows: %s" % (number, command))
            continue
        status = 1
        print("README.md:%d: the sample differs from what the command prints: %s" % (number, command))
        print("-- shown:")
        print("\n".join(shown))
        print("-- printed:")
        print("\n".join(printed))
    shutil.rmtree(scratch)
    if checked == 0:
        print("README.md has no sample commands to check")
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
