#!/usr/bin/env python3
"""Runs the board runner with --vcd and reads the dump back with sigrok-cli's
UART decoder, at the rate and line format the runner reports for each UART.

The decoded bytes must be the transcript the runner printed (and, with
--expect, a file's bytes). --wrong-baud turns the check round: a decoder
at another rate must not find the transcript. --gap-after N --gap-us US
asks for one pause on each line, after byte N, of US microseconds.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys

SKIP = 77
UARTS = ("COM1", "COM2")
PARITIES = {"N": "none", "O": "odd", "E": "even", "M": "one", "S": "zero"}


def fail(message):
    print("waveforms: " + message)
    sys.exit(1)


def terminal_view(data, indent):
    """The runner's TerminalView: a line per CR LF, other controls escaped."""
    view = indent
    index = 0
    while index < len(data):
        byte = data[index]
        if byte == 0x0D and index + 1 < len(data) and data[index + 1] == 0x0A:
            view += "\n"
            if index + 2 < len(data):
                view += indent
            index += 2
            continue
        if byte < 0x20 or byte >= 0x7F:
            view += {0x0D: "\\r", 0x0A: "\\n"}.get(byte, "\\x%02X" % byte)
        else:
            view += chr(byte)
        index += 1
    return view if view.endswith("\n") else view + "\n"


def read_report(report):
    """Each UART's line settings, byte count and terminal view."""
    uarts = {}
    for name in UARTS:
        found = re.search(r"^  %s 0x[0-9A-F]+ +(\d+) baud (\d)([NOEMS])(1\.5|1|2),.* (\d+) bytes? sent" % name, report,
                          re.M)
        if not found:
            fail("the report has no line for %s:\n%s" % (name, report))
        rate, data_bits, parity, stop_bits, sent = found.groups()
        uarts[name] = {"baud": int(rate), "data_bits": data_bits, "parity": PARITIES[parity],
                       "stop_bits": stop_bits if "." in stop_bits else stop_bits + ".0", "sent": int(sent)}
    com1 = re.search(r"^COM1 \((\d+) bytes?\):\n(.*?)^COM2 \((\d+) bytes?\):(.*)\Z", report, re.M | re.S)
    if not com1:
        fail("the report has no transcripts:\n" + report)
    uarts["COM1"]["view"] = com1.group(2)
    uarts["COM1"]["count"] = int(com1.group(1))
    uarts["COM2"]["count"] = int(com1.group(3))
    rest = com1.group(4)
    uarts["COM2"]["view"] = com1.group(2) if rest.startswith(" the same bytes as COM1") else rest[1:]
    return uarts


def decode(vcd, wire, settings, baud, starts=False):
    decoder = "uart:rx=%s:baudrate=%d:data_bits=%s:parity=%s:stop_bits=%s" % (
        wire, baud, settings["data_bits"], settings["parity"], settings["stop_bits"])
    command = ["sigrok-cli", "-I", "vcd", "-i", str(vcd), "-P", decoder]
    if starts:
        command += ["-A", "uart=rx-start", "--protocol-decoder-samplenum"]
    else:
        command += ["-B", "uart=rx"]
    done = subprocess.run(command, capture_output=True, timeout=600)
    if done.returncode != 0:
        fail("sigrok-cli failed: %s" % done.stderr.decode(errors="replace"))
    return done.stdout


def start_bits(vcd, wire, settings):
    """The sample number (1 ns each) where each start bit begins."""
    lines = decode(vcd, wire, settings, settings["baud"], starts=True).decode().splitlines()
    return [int(line.split("-", 1)[0]) for line in lines if line.endswith("Start bit")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--vcd", required=True)
    parser.add_argument("--status", type=int, required=True, help="the runner's expected exit status")
    parser.add_argument("--expect", help="a file whose bytes both UARTs must have sent")
    parser.add_argument("--wrong-baud", action="store_true")
    parser.add_argument("--gap-after", type=int)
    parser.add_argument("--gap-us", type=int)
    parser.add_argument("--needs", help="an image the run takes (skipped without it, as the other image-mode tests)")
    parser.add_argument("arguments", nargs="*")
    options = parser.parse_args()
    if shutil.which("sigrok-cli") is None:
        print("SKIP: sigrok-cli is not installed (Tools/setup.sh installs it)")
        sys.exit(SKIP)
    if options.needs and not pathlib.Path(options.needs).is_file():
        print("SKIP: no image %s: build the firmware preset first" % options.needs)
        sys.exit(SKIP)

    vcd = pathlib.Path(options.vcd)
    vcd.unlink(missing_ok=True)
    run = subprocess.run([options.runner, *options.arguments, "--vcd", str(vcd)], capture_output=True, text=True,
                         timeout=600)
    if run.returncode != options.status:
        fail("the runner exited %d, not %d:\n%s%s" % (run.returncode, options.status, run.stdout, run.stderr))
    if "  Waveforms      %s, " % vcd not in run.stdout:
        fail("the report does not name the dump:\n" + run.stdout)
    uarts = read_report(run.stdout)
    expected = pathlib.Path(options.expect).read_bytes() if options.expect else None

    for name, settings in uarts.items():
        wire = name.lower() + "_tx"
        if options.wrong_baud:
            # Twice the rate reads each bit as two: no transcript survives that.
            baud = settings["baud"] * 2
            got = decode(vcd, wire, settings, baud)
            if got and terminal_view(got, "  | ") == settings["view"]:
                fail("%s decoded at %d baud still gives the transcript: the check cannot fail" % (name, baud))
            print("waveforms: %s at %d baud instead of %d: %d bytes that are not the transcript" %
                  (name, baud, settings["baud"], len(got)))
            continue
        got = decode(vcd, wire, settings, settings["baud"])
        if len(got) != settings["count"] or len(got) != settings["sent"]:
            fail("%s: %d bytes decoded, the runner reports %d (%d sent)" % (name, len(got), settings["count"],
                                                                            settings["sent"]))
        if terminal_view(got, "  | ") != settings["view"]:
            fail("%s decoded:\n%s\nthe runner's transcript:\n%s" % (name, terminal_view(got, "  | "),
                                                                    settings["view"]))
        if expected is not None and got != expected:
            fail("%s decoded %r, expected %r" % (name, got, expected))
        print("waveforms: %s decoded at %d baud %s%s%s: the transcript's %d bytes" %
              (name, settings["baud"], settings["data_bits"], settings["parity"][0].upper(),
               settings["stop_bits"].rstrip("0").rstrip("."), len(got)))

        if options.gap_after is not None:
            starts = start_bits(vcd, wire, settings)
            frame = round(1e9 * 10 / settings["baud"])
            pauses = [(index, later - earlier - frame) for index, (earlier, later) in
                      enumerate(zip(starts, starts[1:]), start=1) if later - earlier > frame * 3 // 2]
            if len(pauses) != 1 or pauses[0][0] != options.gap_after:
                fail("%s: pauses (after byte, ns) %r, expected one after byte %d" % (name, pauses, options.gap_after))
            wanted = options.gap_us * 1000
            # The driver sees CTS again at its next poll of MSR, a few accesses
            # later; either UART's CTS lets a byte go to both, so the second
            # line may resume an access or two before its own peer is ready.
            if not wanted - 2000 <= pauses[0][1] <= wanted + 20000:
                fail("%s: the line paused %d ns after byte %d, the peer %d ns" % (name, pauses[0][1],
                                                                                 options.gap_after, wanted))
            print("waveforms: %s paused %d ns after byte %d (the peer: %d ns)" % (name, pauses[0][1],
                                                                                options.gap_after, wanted))


if __name__ == "__main__":
    main()
