#!/usr/bin/env python3
"""The module's coverage from a gcovr JSON report: lines and branches executed
per unit, and every line or branch that no test reached and that the
exceptions file does not explain.

    coverage.py REPORT.json EXCEPTIONS [--summary FILE]

Exit 0 when everything missed is listed, 1 when something is not, 2 when a
listed exception names a line that is covered or that holds no code (a stale
entry), so the list cannot outlive the code it excuses.
"""
import json
import sys


def load_exceptions(path):
    """{(file, line): reason} from lines 'path:line reason'; # starts a comment."""
    listed = {}
    with open(path, encoding="utf-8") as lines:
        for number, text in enumerate(lines, 1):
            text = text.strip()
            if not text or text.startswith("#"):
                continue
            place, _, reason = text.partition(" ")
            file, _, line = place.rpartition(":")
            if not file or not line.isdigit() or not reason.strip():
                sys.exit(f"{path}:{number}: expected 'path:line reason', got: {text}")
            listed[(file, int(line))] = reason.strip()
    return listed


def unit_figures(entry):
    """Lines (executed, total), branches (taken, total) and the places missed."""
    lines = [each for each in entry["lines"] if not each.get("gcovr/noncode", False)]
    executed = sum(1 for each in lines if each["count"] > 0)
    branches = [(each["line_number"], branch) for each in lines for branch in each.get("branches", [])]
    taken = sum(1 for _, branch in branches if branch["count"] > 0)
    missed = {}
    for each in lines:
        untaken = sum(1 for branch in each.get("branches", []) if branch["count"] == 0)
        if each["count"] == 0:
            missed[each["line_number"]] = "line never executed"
        elif untaken:
            missed[each["line_number"]] = f"{untaken} of {len(each['branches'])} branches never taken"
    return (executed, len(lines)), (taken, len(branches)), missed


def percent(part, whole):
    return f"{100.0 * part / whole:5.1f}%" if whole else "    -"


def main(arguments):
    if len(arguments) not in (2, 4) or (len(arguments) == 4 and arguments[2] != "--summary"):
        sys.exit(__doc__)
    report = json.load(open(arguments[0], encoding="utf-8"))
    listed = load_exceptions(arguments[1])
    used = set()
    unexplained = []
    totals = [0, 0, 0, 0]
    print(f"  {'unit':<52} {'lines':>13} {'':>6} {'branches':>13} {'':>6}")
    for entry in sorted(report["files"], key=lambda each: each["file"]):
        (executed, lines), (taken, branches), missed = unit_figures(entry)
        if lines == 0:
            continue
        totals = [totals[0] + executed, totals[1] + lines, totals[2] + taken, totals[3] + branches]
        print(f"  {entry['file']:<52} {executed:>6}/{lines:<6} {percent(executed, lines)} "
              f"{taken:>6}/{branches:<6} {percent(taken, branches)}")
        for line, what in sorted(missed.items()):
            if (entry["file"], line) in listed:
                used.add((entry["file"], line))
            else:
                unexplained.append(f"{entry['file']}:{line}: {what}")
    summary = (f"module lines {totals[0]}/{totals[1]} ({percent(totals[0], totals[1]).strip()}), "
               f"branches {totals[2]}/{totals[3]} ({percent(totals[2], totals[3]).strip()}), "
               f"{len(used)} listed exceptions")
    print(f"  {summary}")
    if len(arguments) == 4:
        with open(arguments[3], "w", encoding="utf-8") as out:
            out.write(summary + "\n")
    stale = sorted(set(listed) - used)
    for file, line in stale:
        print(f"stale exception {file}:{line}: that line is covered or holds no code")
    for each in unexplained:
        print(f"not covered and not listed in {arguments[1]}: {each}")
    if unexplained:
        return 1
    return 2 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
