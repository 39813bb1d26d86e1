#!/usr/bin/env bash
# The release drop as an integrator receives it. Made by its one command
# (Tools/drop.sh) from this checkout and from a copy of it at another path,
# both archives and every file in them are the same bytes; its SHA256SUMS
# verify; the manifest's Authenticode digests are the ones pesign -h
# computes (for each PE32 and for the image each volume runs); its sizes,
# image bases, GUIDs and version record are those of the files.
#
#   check-drop.sh FILE_GUID PPI_GUID
#
# Exit 0 when all holds, 1 otherwise, 77 when pesign is not installed.
set -uo pipefail
cd "$(dirname "$0")/../.."
file_guid=$1
ppi_guid=$2
command -v pesign >/dev/null || { echo "check-drop: pesign is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "check-drop: $*"; status=1; }

# Both drops carry one time, whatever their checkouts' history.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
bash Tools/drop.sh "$work/one" || { echo "check-drop: Tools/drop.sh failed in this checkout"; exit 1; }

# The second checkout: the files git would check out, with what is changed
# here, at a path of another length and name.
copy="$work/another/path/to/QelVersionPei-checkout"
mkdir -p "$copy"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' path; do
    [[ -e $path ]] && printf '%s\0' "$path"
  done | tar --null -T - -cf - | tar -xf - -C "$copy"
else
  tar --exclude=./build -cf - . | tar -xf - -C "$copy"
fi
(cd "$copy" && bash Tools/drop.sh "$work/two") >"$work/two.log" 2>&1 ||
  { cat "$work/two.log"; echo "check-drop: Tools/drop.sh failed in the second checkout"; exit 1; }

one=$(ls -d "$work"/one/QelVersionPei-*/ | head -n 1)
one=${one%/}
name=$(basename "$one")
two="$work/two/$name"
cmp -s "$one.tar.gz" "$two.tar.gz" || fail "$name.tar.gz differs between the two checkouts"
if ! diff -r "$one" "$two" >"$work/diff"; then
  fail "the files differ between the two checkouts:"; sed 's/^/  /' "$work/diff"
fi

(cd "$one" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
listed=$(tar -tzf "$one.tar.gz" | grep -v '/$' | sed "s|^$name/||" | sort)
present=$(cd "$one" && find . -type f | sed 's|^\./||' | sort)
[[ $listed == "$present" ]] || fail "the archive does not hold exactly the drop's files"

python3 - "$one" "$file_guid" "$ppi_guid" "$work" <<'PYTHON' || status=1
import json, os, subprocess, sys
sys.path.insert(0, "cmake")
import qel_drop, qel_pack
drop, file_guid, ppi_guid, work = sys.argv[1:]
manifest = json.load(open(os.path.join(drop, "manifest.json")))
problems = []

def pesign(data, name):
    path = os.path.join(work, name)
    qel_pack.write(path, data)
    said = subprocess.run(["pesign", "-h", "-i", path], capture_output=True, text=True).stdout.split()
    return said[1] if len(said) == 2 and said[0] == "hash:" else "pesign said %r" % said

def check_image(entry, data, where):
    if "authenticode-sha256" in entry:
        theirs = pesign(data, "image.efi")
        if entry["authenticode-sha256"] != theirs:
            problems.append("%s: Authenticode %s, pesign -h %s" % (where, entry["authenticode-sha256"], theirs))
    elif entry.get("form") != "TE" or entry.get("image-sha256") != qel_drop.sha256(data):
        problems.append("%s: neither a PE32 with its Authenticode digest nor a TE with its own" % where)

expected = {"file-guid": file_guid, "ppi-guid": ppi_guid,
            "version-record": {"signature": "TORVA!V9", "version": "OlvendPI-QX4 1.0.0.P"}}
for key, value in expected.items():
    if manifest.get(key) != value:
        problems.append("manifest %s is %r, not %r" % (key, manifest.get(key), value))
seen = set()
for build, content in manifest["builds"].items():
    forms = {entry["form"] for entry in content["images"]}
    if forms != {"PE32", "TE"}:
        problems.append("%s: images in %s, not PE32 and TE" % (build, sorted(forms)))
    for entry in content["images"] + content["debug-images"] + content["packages"]:
        data = qel_pack.read(os.path.join(drop, entry["file"]))
        seen.add(entry["file"])
        if entry["bytes"] != len(data) or entry["sha256"] != qel_drop.sha256(data):
            problems.append("%s: size or sha256 differs from the file" % entry["file"])
        if "form" in entry:
            check_image(entry, data, entry["file"])
        if "image-base" in entry:
            rebase = qel_pack.read(os.path.join(drop, entry["file"][:-3] + ".rebase")).decode().strip()
            if entry["image-base"] != rebase:
                problems.append("%s: image base %s, its .rebase says %s" % (entry["file"], entry["image-base"], rebase))
            check_image(entry["image"], qel_drop.volume_image(data), entry["file"] + " (its image)")
for entry in manifest["flash-images"]:
    seen.add(entry["file"])
binaries = {path for path in qel_drop.drop_files(drop) if path.endswith((".efi", ".te", ".ffs", ".fv", ".fd"))}
if binaries != seen:
    problems.append("the manifest leaves out %s" % sorted(binaries - seen))
for problem in problems:
    print("check-drop: " + problem)
sys.exit(1 if problems else 0)
PYTHON

for needed in INTEGRATION.md Include/Ppi/VersionString.h Include/Base.h Qemu/QelVersion-Release.fd; do
  [[ -s $one/$needed ]] || fail "the drop has no $needed"
done
((status == 0)) && echo "check-drop: PASS ($name.tar.gz the same from two checkout paths; checksums and digests agree)"
exit $status
