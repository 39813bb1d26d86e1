#!/usr/bin/env python3
"""Finishes the release drop that `cmake --install` laid out: the manifest,
the checksums and one archive, each the same bytes from any checkout.

  qel_drop.py manifest DROP --file-guid GUID --ppi-guid GUID --module-version TEXT
                            --volume-base ADDRESS --volume-size BYTES
  qel_drop.py sums DROP          SHA256SUMS of every other file, as sha256sum -c reads it
  qel_drop.py archive DROP -o DROP.tar.gz [--mtime SECONDS]
  qel_drop.py authenticode IMAGE the image's Authenticode SHA-256 (as pesign -h prints it)

Standard library only, like qel_pack.py.
"""

import argparse
import gzip
import hashlib
import io
import json
import os
import struct
import sys
import tarfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qel_pack  # noqa: E402

SUMS = "SHA256SUMS"
MANIFEST = "manifest.json"
SIGNATURE = b"TORVA!V9\0"

# Where the optional header keeps the fields Authenticode leaves out of its
# hash: the checksum, and the certificate table's directory entry.
PE_CHECKSUM = 64
PE_SIZE_OF_HEADERS = 60
PE_CERTIFICATE_DIRECTORY = 4


class DropError(Exception):
    pass


def authenticode_sha256(image):
    """The Authenticode digest of a PE32, which measured and verified boot
    compute: the headers without the checksum and the certificate entry, the
    sections in file order, then what follows them but the certificates."""
    pe, optional = qel_pack.pe_offsets(image)
    count = struct.unpack_from("<H", image, pe + qel_pack.PE_SECTION_COUNT)[0]
    optional_size = struct.unpack_from("<H", image, pe + qel_pack.PE_OPTIONAL_HEADER_SIZE)[0]
    headers_size = struct.unpack_from("<I", image, optional + PE_SIZE_OF_HEADERS)[0]
    directories = struct.unpack_from("<I", image, optional + qel_pack.PE_DIRECTORY_COUNT)[0]
    digest = hashlib.sha256()
    checksum = optional + PE_CHECKSUM
    digest.update(image[:checksum])
    certificates = (0, 0)
    if directories > PE_CERTIFICATE_DIRECTORY:
        entry = optional + qel_pack.PE_DIRECTORIES + 8 * PE_CERTIFICATE_DIRECTORY
        certificates = struct.unpack_from("<II", image, entry)
        digest.update(image[checksum + 4:entry])
        digest.update(image[entry + 8:headers_size])
    else:
        digest.update(image[checksum + 4:headers_size])
    table = optional + optional_size
    sections = []
    for index in range(count):
        raw_size, raw = struct.unpack_from("<II", image, table + qel_pack.PE_SECTION_HEADER_SIZE * index + 16)
        if raw_size:
            sections.append((raw, raw_size))
    hashed = headers_size
    for raw, raw_size in sorted(sections):
        digest.update(image[raw:raw + raw_size])
        hashed += raw_size
    end = len(image) - certificates[1]
    if hashed < end:
        digest.update(image[hashed:end])
    return digest.hexdigest()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def drop_files(drop):
    """Every file of the drop, as paths relative to it with '/', sorted."""
    found = []
    for folder, _, names in os.walk(drop):
        for name in names:
            found.append(os.path.relpath(os.path.join(folder, name), drop).replace(os.sep, "/"))
    return sorted(found)


def version_record(image):
    """The signature and version texts that the image publishes, read from
    its bytes: the version follows the signature's terminator."""
    at = image.find(SIGNATURE)
    if at < 0:
        raise DropError("the image holds no %r" % SIGNATURE[:-1].decode())
    end = image.index(b"\0", at + len(SIGNATURE))
    return SIGNATURE[:-1].decode(), image[at + len(SIGNATURE):end].decode("ascii")


def image_digest(image):
    """The digest a measured or verified boot takes of the image: Authenticode
    for a PE32; a TE image has no checksum or certificate fields to leave
    out (and cannot be signed), so its digest is that of all its bytes."""
    if image[:2] == b"MZ":
        return {"form": "PE32", "authenticode-sha256": authenticode_sha256(image)}
    stripped, _, _, _ = qel_pack.te_fields(image)
    return {"form": "TE", "stripped-bytes": stripped, "image-sha256": sha256(image)}


def describe_image(drop, path):
    image = qel_pack.read(os.path.join(drop, path))
    entry = {"file": path, "bytes": len(image), "sha256": sha256(image)}
    entry.update(image_digest(image))
    return entry


def volume_image(volume):
    """The first PE32 or TE image in the volume's files, as it lies there."""
    for _, _, body in qel_pack.volume_images(volume, qel_pack.volume_offsets(volume)):
        return body
    raise DropError("the volume holds no PE32 or TE image")


def file_depex(ffs):
    """The dependency expression of the firmware file, as text."""
    data = ffs[qel_pack.FILE_HEADER_SIZE:qel_pack.file_size(ffs)]
    for _, kind, body, size in qel_pack.iterate_sections(data):
        if kind == qel_pack.SECTION_PEI_DEPEX:
            return qel_pack.depex_text(data[body:body + size])
    raise DropError("the firmware file has no dependency section")


def describe_package(drop, path):
    """A .ffs with its dependency expression, or an .fv also with the image
    as it runs there (its base, its digest) and where a debugger loads the
    debug image's symbols."""
    data = qel_pack.read(os.path.join(drop, path))
    entry = {"file": path, "bytes": len(data), "sha256": sha256(data)}
    if path.endswith(".ffs"):
        entry["dependency"] = file_depex(data)
    stem = os.path.splitext(path)[0]
    if path.endswith(".fv") and os.path.exists(os.path.join(drop, stem + ".rebase")):
        base = qel_pack.parse_number(qel_pack.read(os.path.join(drop, stem + ".rebase")).decode().strip())
        entry["image-base"] = "0x%08X" % base
        entry["image"] = image_digest(volume_image(data))
        linked = stem[:-len("-TE")] if stem.endswith("-TE") else stem
        if os.path.exists(os.path.join(drop, linked + ".debug.efi")):
            entry["debug-symbols-at"] = "0x%08X" % qel_pack.debug_offset(
                qel_pack.read(os.path.join(drop, linked + ".efi")),
                qel_pack.read(os.path.join(drop, linked + ".debug.efi")), base)
    return entry


def manifest(drop, file_guid, ppi_guid, module_version, volume_base, volume_size):
    """What an integrator's tools read: the names, the record, and for every
    build its images (with their digests) and packages (with where the
    volume's image runs)."""
    files = drop_files(drop)
    builds = {}
    record = None
    for path in files:
        folder, _, name = path.partition("/")
        if folder not in ("Default", "Release"):
            continue
        build = builds.setdefault(folder, {"images": [], "debug-images": [], "packages": []})
        if name.endswith(".debug.efi"):
            build["debug-images"].append(describe_image(drop, path))
        elif name.endswith((".efi", ".te")):
            build["images"].append(describe_image(drop, path))
            if name.endswith(".efi"):
                found = version_record(qel_pack.read(os.path.join(drop, path)))
                if record is not None and found != record:
                    raise DropError("%s publishes %r, another image %r" % (path, found, record))
                record = found
        elif name.endswith((".ffs", ".fv")):
            build["packages"].append(describe_package(drop, path))
    if set(builds) != {"Default", "Release"}:
        raise DropError("the drop lacks the Default or the Release build (it has %s)" % sorted(builds))
    builds["Default"]["use"] = "debug flash: checks and messages on"
    builds["Release"]["use"] = "production flash: checks and messages off"
    dependencies = {entry["dependency"] for build in builds.values() for entry in build["packages"]
                    if "dependency" in entry}
    if len(dependencies) != 1:
        raise DropError("the module's files differ in their dependency expressions: %s" % sorted(dependencies))
    flash = [describe_package(drop, path) for path in files if path.endswith(".fd")]
    return {
        "module": "QelVersionPei",
        "module-version": module_version,
        "file-guid": file_guid.upper(),
        "ppi-guid": ppi_guid.upper(),
        "version-record": {"signature": record[0], "version": record[1]},
        "dependency": dependencies.pop(),
        "module-volume": {"base": "0x%08X" % volume_base, "bytes": volume_size},
        "builds": builds,
        "flash-images": flash,
    }


def write_sums(drop):
    lines = []
    for path in drop_files(drop):
        if path != SUMS:
            lines.append("%s  %s\n" % (sha256(qel_pack.read(os.path.join(drop, path))), path))
    qel_pack.write(os.path.join(drop, SUMS), "".join(lines).encode())


def archive(drop, output, mtime):
    """A gzip'd tar of the drop under its own folder name, with every entry's
    owner, mode and time fixed, in sorted order, so that the same files give
    the same archive."""
    top = os.path.basename(os.path.normpath(drop))
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        folders = set()
        for path in drop_files(drop):
            parts = path.split("/")
            for depth in range(len(parts)):
                folder = "/".join([top] + parts[:depth])
                if folder not in folders:
                    folders.add(folder)
                    info = tarfile.TarInfo(folder)
                    info.type, info.mode, info.mtime = tarfile.DIRTYPE, 0o755, mtime
                    tar.addfile(info)
            data = qel_pack.read(os.path.join(drop, path))
            info = tarfile.TarInfo("%s/%s" % (top, path))
            info.size, info.mode, info.mtime = len(data), 0o644, mtime
            tar.addfile(info, io.BytesIO(data))
    with open(output, "wb") as stream:
        with gzip.GzipFile(filename="", mode="wb", fileobj=stream, mtime=mtime, compresslevel=9) as zipped:
            zipped.write(buffer.getvalue())


def main(arguments):
    parser = argparse.ArgumentParser(description="Finishes the release drop: manifest, checksums, archive.")
    commands = parser.add_subparsers(dest="command", required=True)
    made = commands.add_parser("manifest", help="write DROP/manifest.json")
    made.add_argument("drop")
    made.add_argument("--file-guid", required=True)
    made.add_argument("--ppi-guid", required=True)
    made.add_argument("--module-version", required=True)
    made.add_argument("--volume-base", type=qel_pack.parse_number, required=True)
    made.add_argument("--volume-size", type=qel_pack.parse_number, required=True)
    sums = commands.add_parser("sums", help="write DROP/SHA256SUMS")
    sums.add_argument("drop")
    packed = commands.add_parser("archive", help="write the drop as one .tar.gz")
    packed.add_argument("drop")
    packed.add_argument("-o", "--output", required=True)
    packed.add_argument("--mtime", type=int, default=0, help="the time every entry carries (seconds since 1970)")
    digest = commands.add_parser("authenticode", help="print a PE32's Authenticode SHA-256")
    digest.add_argument("image")
    options = parser.parse_args(arguments)
    try:
        if options.command == "manifest":
            content = manifest(options.drop, options.file_guid, options.ppi_guid, options.module_version,
                               options.volume_base, options.volume_size)
            qel_pack.write(os.path.join(options.drop, MANIFEST),
                           (json.dumps(content, indent=2, sort_keys=True) + "\n").encode())
        elif options.command == "sums":
            write_sums(options.drop)
        elif options.command == "archive":
            archive(options.drop, options.output, options.mtime)
        else:
            print(authenticode_sha256(qel_pack.read(options.image)))
    except (DropError, qel_pack.PackError, OSError, ValueError) as error:
        print("qel_drop: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
