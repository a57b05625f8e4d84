"""Adds to a wheel that auditwheel repaired the copyright and licence text of
every library it bundled into qov.libs/: the copyright file of the Debian
package that installed the library, as .dist-info/licenses/qov.libs/<source
package>.txt, listed as License-File in METADATA, with its hash and size in
RECORD.

    python3 scripts/wheel-licenses.py wheelhouse/qov-0.1.0-cp312-....whl

Each file begins with the bundled libraries it covers, one `Library:` line
each with the package and version it came from; a blank line, then Debian's
text. Running it again on the same wheel replaces what it added before.
"""
from __future__ import annotations

import base64
import csv
import hashlib
import io
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path
from typing import NoReturn

LIBS = "qov.libs/"
LICENSES = "licenses/" + LIBS  # inside the .dist-info folder
# auditwheel names a bundled copy of libfoo.so.1.2 libfoo-<8 hex digits of the
# original's sha256>.so.1.2; the name before the first dot gets the digits.
BUNDLED_NAME = re.compile(r"(?P<base>[^/.]+)-(?P<digest>[0-9a-f]{8})\.(?P<rest>.+)")


def fail(message: str) -> NoReturn:
    sys.exit(f"error: {message}")


def system_libraries() -> dict[str, set[Path]]:
    """The files of the dynamic linker's cache, by their real names."""
    listing = subprocess.run(["ldconfig", "-p"], check=True, capture_output=True, text=True).stdout
    found: dict[str, set[Path]] = {}
    for line in listing.splitlines():
        if " => " in line:
            path = Path(line.rsplit(" => ", 1)[1]).resolve()
            found.setdefault(path.name, set()).add(path)
    return found


def original_of(bundled: str, libraries: dict[str, set[Path]]) -> Path:
    """The system file that auditwheel copied into qov.libs/ as `bundled`."""
    match = BUNDLED_NAME.fullmatch(bundled)
    if match is None:
        fail(f"{LIBS}{bundled} is not named as auditwheel names a bundled library")
    for path in libraries.get(f"{match['base']}.{match['rest']}", ()):
        if hashlib.sha256(path.read_bytes()).hexdigest().startswith(match["digest"]):
            return path
    fail(f"no library in the dynamic linker's cache is the original of {LIBS}{bundled}")


def debian_package(path: Path) -> str:
    """The package (with its architecture) that installed `path`. With /lib a
    link to /usr/lib, dpkg may know the file by either name."""
    names = [str(path)] + ([str(path)[len("/usr"):]] if str(path).startswith("/usr/") else [])
    for name in names:
        done = subprocess.run(["dpkg", "-S", name], capture_output=True, text=True)
        if done.returncode == 0:
            package = done.stdout.splitlines()[0].rsplit(": ", 1)[0]
            if "," in package:
                fail(f"{path} belongs to several packages: {package}")
            return package
    fail(f"no Debian package installed {path}")


def package_field(package: str, field: str) -> str:
    return subprocess.run(["dpkg-query", "-W", f"-f=${{{field}}}", package], check=True, capture_output=True,
                          text=True).stdout


def licence_files(bundled: list[str]) -> dict[str, bytes]:
    """The licence files of the packages that provided the bundled libraries,
    by their names under the .dist-info folder's licenses/. Packages built
    from one source usually share their copyright text: one file holds it,
    named after the source package."""
    libraries = system_libraries()
    by_text: dict[bytes, list[tuple[str, str]]] = {}  # the text: (library, its package) pairs
    sources: dict[bytes, str] = {}
    for name in sorted(bundled):
        package = debian_package(original_of(name, libraries))
        plain = package.split(":")[0]
        copyright_file = Path("/usr/share/doc", plain, "copyright")
        if not copyright_file.is_file():
            fail(f"{copyright_file} is missing: the licence of {LIBS}{name} cannot be shipped")
        text = copyright_file.read_bytes()
        described = f"Debian's {plain} {package_field(package, 'Version')}"
        by_text.setdefault(text, []).append((name, described))
        sources.setdefault(text, package_field(package, "source:Package"))
    files = {}
    for text, pairs in by_text.items():
        # Two texts of one source (never seen so far) are told apart by package.
        shared = list(sources.values()).count(sources[text]) > 1
        stem = pairs[0][1].split()[1] if shared else sources[text]
        header = "".join(f"Library: {LIBS}{name}, from {described}\n" for name, described in pairs)
        files[f"{LICENSES}{stem}.txt"] = header.encode() + b"\n" + text
    return dict(sorted(files.items()))


def with_licence_fields(metadata: bytes, names: list[str]) -> bytes:
    """METADATA with one License-File field per added file, after the wheel's
    own, in place of those a previous run added."""
    head, blank, body = metadata.decode("utf-8").partition("\n\n")
    fields = [line for line in head.split("\n") if not line.startswith(f"License-File: {LIBS}")]
    own = [i for i, line in enumerate(fields) if line.startswith("License-File:")]
    at = own[-1] + 1 if own else len(fields)
    fields[at:at] = [f"License-File: {name[len('licenses/'):]}" for name in names]
    return ("\n".join(fields) + blank + body).encode("utf-8")


def record_row(name: str, data: bytes) -> list[str]:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return [name, f"sha256={digest}", str(len(data))]


def add_licences(wheel: Path) -> list[str]:
    with zipfile.ZipFile(wheel) as given:
        entries = [(info, given.read(info)) for info in given.infolist()]
    names = [info.filename for info, _ in entries]
    dist_info = next(name.split("/")[0] for name in names if name.split("/")[0].endswith(".dist-info"))
    bundled = [name[len(LIBS):] for name in names if name.startswith(LIBS) and name != LIBS]
    added = {f"{dist_info}/{name}": data for name, data in licence_files(bundled).items()}

    metadata_name, record_name = f"{dist_info}/METADATA", f"{dist_info}/RECORD"
    stale = f"{dist_info}/{LICENSES}"
    kept = [(info, data) for info, data in entries if not info.filename.startswith(stale)]
    contents = {info.filename: data for info, data in kept}
    contents[metadata_name] = with_licence_fields(contents[metadata_name], [n[len(dist_info) + 1:] for n in added])

    record = [row for row in csv.reader(io.StringIO(contents[record_name].decode("utf-8")))
              if row and not row[0].startswith(stale) and row[0] not in (metadata_name, record_name)]
    record += [record_row(metadata_name, contents[metadata_name])]
    record += [record_row(name, data) for name, data in added.items()]
    record += [[record_name, "", ""]]
    text = io.StringIO()
    csv.writer(text, lineterminator="\n").writerows(record)

    template = next(info for info, _ in kept if info.filename == metadata_name)
    temporary = wheel.with_name(wheel.name + ".part")
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as out:
        for info, _ in kept:
            if info.filename != record_name:
                out.writestr(info, contents[info.filename])
        for name, data in added.items():
            entry = zipfile.ZipInfo(name, date_time=template.date_time)
            entry.external_attr = 0o644 << 16
            out.writestr(entry, data, zipfile.ZIP_DEFLATED)
        record_info = next(info for info, _ in kept if info.filename == record_name)
        out.writestr(record_info, text.getvalue().encode("utf-8"))
    os.replace(temporary, wheel)
    return sorted(added)


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    added = add_licences(Path(sys.argv[1]))
    print(f"{len(added)} licence files of bundled libraries added to {Path(sys.argv[1]).name}")


if __name__ == "__main__":
    main()
