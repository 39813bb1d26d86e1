#!/usr/bin/env python3
"""The module's coverage from gcov's own data: lines and branches executed per
unit, and every line or branch that no test reached and that the exceptions
file does not explain.

    coverage.py BUILD EXCEPTIONS [--summary FILE]

Reads every instrumented object under BUILD (gcov --json-format on each .gcda,
or on the .gcno of an object no test ran), merges the variants, writes the
merged report to BUILD/coverage.json and prints the table.

Exit 0 when everything missed is listed, 1 when something is not, 2 when a
listed exception names a line that is covered or that holds no code (a stale
entry), so the list cannot outlive the code it excuses.

Why not gcovr: on host a board stall is a C++ exception, so every call in a
frame with a destructor has a throw edge. gcov marks an edge "(throw)" in its
text output only in an object where the line ran, so gcovr cannot drop it in
the variants where the line did not run, and its merge brings the untaken
edge back. gcov's JSON carries the flag from the control-flow graph in every
object, run or not.
"""
import json
import os
import re
import subprocess
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Module code: its folders, and the entry lists generated into the build.
MODULE_FOLDERS = ("Include/", "Library/", "Override/", "QelVersionPei/")

# A line with no code of its own: braces, else, do, try, semicolons. Branches
# gcc books on such a line are its own bookkeeping (cleanups, loop back edges),
# not a decision in the source.
NO_CODE = re.compile(r"^[\s{};]*(?:(?:else|do|try)[\s{};]*)*$")


def without_comments(text):
    return re.sub(r"/\*.*?\*/", "", re.sub(r"//.*$", "", text))


def data_files(build):
    """Per object folder, the objects' data files: the .gcda where a test ran
    the object, else its .gcno, so an object that never ran counts as zero."""
    folders = defaultdict(list)
    for folder, _, names in os.walk(build):
        for name in names:
            if name.endswith(".gcno"):
                base = name[:-len(".gcno")]
                chosen = base + ".gcda" if base + ".gcda" in names else name
                folders[folder].append(chosen)
    return folders


def gcov_documents(build):
    for folder, names in sorted(data_files(build).items()):
        run = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities",
                              "--object-directory", folder] + sorted(names),
                             cwd=build, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"gcov failed in {folder}:\n{run.stderr}")
        for text in run.stdout.splitlines():
            if text.strip():
                yield json.loads(text)


def module_path(file, document, build):
    """The file's path from the repository root, or None for code not the
    module's (the C++ library's headers, the test bench)."""
    path = os.path.normpath(os.path.join(document["current_working_directory"], file))
    relative = os.path.relpath(path, ROOT).replace(os.sep, "/")
    if relative.startswith("../"):
        return None
    autogen = os.path.relpath(os.path.join(build, "AutoGen"), ROOT).replace(os.sep, "/") + "/"
    if relative.startswith(MODULE_FOLDERS) or relative.startswith(autogen):
        return relative
    return None


def merge(build):
    """{file: {line: [count, {index: [count, throw]}]}} summed over every object."""
    files = defaultdict(lambda: defaultdict(lambda: [0, defaultdict(lambda: [0, False])]))
    for document in gcov_documents(build):
        for each in document["files"]:
            path = module_path(each["file"], document, build)
            if path is None:
                continue
            for line in each["lines"]:
                merged = files[path][line["line_number"]]
                merged[0] += line["count"]
                for index, branch in enumerate(line["branches"]):
                    merged[1][index][0] += branch["count"]
                    merged[1][index][1] |= branch["throw"]
    return files


def report(files):
    """The merged figures in the shape of gcovr's JSON report: throw edges and
    the branches of lines without code dropped, a line without code that never
    ran left out."""
    out = []
    for path in sorted(files):
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as source:
            texts = source.read().splitlines()
        lines = []
        for number, (count, branches) in sorted(files[path].items()):
            text = without_comments(texts[number - 1]) if number <= len(texts) else ""
            no_code = NO_CODE.match(text) is not None
            if no_code and count == 0:
                continue
            kept = [] if no_code else [{"count": branch[0]} for _, branch in sorted(branches.items())
                                       if not branch[1]]
            lines.append({"line_number": number, "count": count, "branches": kept})
        out.append({"file": path, "lines": lines})
    return {"files": out}


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
    lines = entry["lines"]
    executed = sum(1 for each in lines if each["count"] > 0)
    branches = [(each["line_number"], branch) for each in lines for branch in each["branches"]]
    taken = sum(1 for _, branch in branches if branch["count"] > 0)
    missed = {}
    for each in lines:
        untaken = sum(1 for branch in each["branches"] if branch["count"] == 0)
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
    build = os.path.abspath(arguments[0])
    merged = report(merge(build))
    with open(os.path.join(build, "coverage.json"), "w", encoding="utf-8") as out:
        json.dump(merged, out, indent=1)
    listed = load_exceptions(arguments[1])
    used = set()
    unexplained = []
    totals = [0, 0, 0, 0]
    print(f"  {'unit':<52} {'lines':>13} {'':>6} {'branches':>13} {'':>6}")
    for entry in merged["files"]:
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
